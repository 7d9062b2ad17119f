// Translating blocks of bytes through a prepared arrangement, with the vector units where the
// processor has them. The 64 codes fit the low six bits of a byte, which is exactly what a
// 64-entry permute indexes and what the bytes above 63 must be reduced to anyway.
#include <immintrin.h>

#include "bcd/arrangement.h"
#include "bcd/line_translation.h"

namespace reelprint::bcd {
namespace {

// For the line translator's frame, which translating a block or finding a separator leaves
// unused.
const LineFrame no_frame;

void translate_scalar(const DisplayTable& table, const std::uint8_t* src, std::size_t n,
                      char* dst) {
  ScalarLines{table, no_frame}(src, n, dst);
}

#if defined(__x86_64__)

__attribute__((target("avx2"))) void translate_avx2(const DisplayTable& table,
                                                    const std::uint8_t* src, std::size_t n,
                                                    char* dst) {
  if (n < 16) return translate_scalar(table, src, n, dst);
  const Ladder ladder(table);
  if (n < 32) {
    // Two vectors, the second ending at the end: the overlap is written twice alike.
    const __m128i head = ladder.lookup16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
    const __m128i tail =
        ladder.lookup16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - 16)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), head);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), tail);
    return;
  }
  const auto* from = reinterpret_cast<const __m256i*>(src);
  auto* to = reinterpret_cast<__m256i*>(dst);
  for (std::size_t k = 32; k < n; k += 32)
    _mm256_storeu_si256(to++, ladder.lookup(_mm256_loadu_si256(from++)));
  // The last vector ends at the end, overlapping the one before: it rewrites the same bytes.
  _mm256_storeu_si256(
      reinterpret_cast<__m256i*>(dst + n - 32),
      ladder.lookup(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + n - 32))));
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void translate_avx512vbmi(
    const DisplayTable& table, const std::uint8_t* src, std::size_t n, char* dst) {
  const __m512i codes = _mm512_load_si512(table.codes.data());
  std::size_t k = 0;
  for (; k + 64 <= n; k += 64) {
    const __m512i bytes = _mm512_loadu_si512(src + k);
    _mm512_storeu_si512(dst + k, _mm512_maskz_permutexvar_epi8(~0ull, bytes, codes));
  }
  if (k < n) {
    const __mmask64 rest = ~0ull >> (64 - (n - k));  // n - k is 1 to 63
    const __m512i bytes = _mm512_maskz_loadu_epi8(rest, src + k);
    _mm512_mask_storeu_epi8(dst + k, rest, _mm512_maskz_permutexvar_epi8(rest, bytes, codes));
  }
}

#endif

}  // namespace

Translation best_translation() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("bmi2"))
    return Translation::avx512vbmi;
  if (__builtin_cpu_supports("avx2")) return Translation::avx2;
#endif
  return Translation::scalar;
}

void translate(const DisplayTable& bcd_to_ascii, const std::uint8_t* src, std::size_t n,
               char* dst) {
  switch (bcd_to_ascii.translation) {
#if defined(__x86_64__)
    case Translation::avx512vbmi:
      return translate_avx512vbmi(bcd_to_ascii, src, n, dst);
    case Translation::avx2:
      return translate_avx2(bcd_to_ascii, src, n, dst);
#endif
    default:
      return translate_scalar(bcd_to_ascii, src, n, dst);
  }
}

std::size_t until_word_separator(const DisplayTable& bcd_to_ascii, const std::uint8_t* src,
                                 std::size_t n) {
  // Only lines that cross the end of the loaded bytes come here: a byte at a time will do.
  return ScalarLines(bcd_to_ascii, no_frame).until_separator(src, n);
}

}  // namespace reelprint::bcd
