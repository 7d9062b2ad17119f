// Runs code written over the kernel interface with the kernel of a given instruction set.
#pragma once

#include "bcd/avx2.h"
#include "bcd/avx512vbmi.h"
#include "bcd/kernel.h"
#include "bcd/neon.h"
#include "bcd/portable.h"

namespace reel::bcd {

// Returns `work(kernel)` with the kernel `id` made from `table`, `work` compiled for that
// kernel's instruction set. `id` must be one of `kernels_here()`.
template <class Work>
auto with_kernel(KernelId id, const DisplayTable& table, Work&& work) {
  switch (id) {
#if defined(__x86_64__)
    case KernelId::avx512vbmi:
      return avx512vbmi::run(table, work);
    case KernelId::avx2:
      return avx2::run(table, work);
#elif defined(__aarch64__) && defined(__AARCH64EL__)
    case KernelId::neon:
      return neon::run(table, work);
#endif
    default:
      return portable::run(table, work);
  }
}

}  // namespace reel::bcd
