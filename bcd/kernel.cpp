#include "bcd/kernel.h"

#include <algorithm>

namespace reel::bcd {
namespace {

// The kernels this processor runs, fastest last.
struct KernelsHere {
  std::array<KernelId, 4> ids{KernelId::portable};
  std::size_t count = 1;
};

KernelsHere find_kernels() {
  KernelsHere here;
#if defined(__x86_64__)
  __builtin_cpu_init();
  const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") &&
                    __builtin_cpu_supports("popcnt");
  if (avx2) here.ids[here.count++] = KernelId::avx2;
  if (avx2 && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
      __builtin_cpu_supports("avx512vbmi2"))
    here.ids[here.count++] = KernelId::avx512vbmi;
#elif defined(__aarch64__) && defined(__AARCH64EL__)
  here.ids[here.count++] = KernelId::neon;  // part of every aarch64 processor
#endif
  return here;
}

}  // namespace

std::span<const KernelId> kernels_here() {
  // Found once: the processor does not change while the program runs.
  static const KernelsHere here = find_kernels();
  return {here.ids.data(), here.count};
}

KernelId best_kernel() { return kernels_here().back(); }

std::string_view name_of(KernelId kernel) {
  switch (kernel) {
    case KernelId::avx2:
      return "avx2";
    case KernelId::avx512vbmi:
      return "avx512vbmi";
    case KernelId::neon:
      return "neon";
    case KernelId::portable:
      break;
  }
  return "portable";
}

}  // namespace reel::bcd
