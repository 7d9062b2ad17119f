// The AVX-512 VBMI kernel (x86-64 with VBMI and VBMI2): one 64-entry permute translates 64
// bytes, and a compress packs the bytes that are not word separators.
#pragma once

#include "bcd/kernel.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace reelprint::bcd::avx512vbmi {

#define REELPRINT_AVX512 gnu::target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")

class Kernel {
 public:
  [[REELPRINT_AVX512]] Kernel(const DisplayTable& table, const LineFrame& frame)
      : codes_(_mm512_load_si512(table.codes.data())),
        frame_low_(_mm512_load_si512(frame.bytes.data())),
        frame_high_(_mm512_load_si512(frame.bytes.data() + 64)) {}

  // 64 bytes at a time; the permute reads the low six bits of each. (Its zero-masking form,
  // with every lane kept: g++ 12 warns of the other's undefined lanes.)
  [[REELPRINT_AVX512]] void translate(const std::uint8_t* src, std::size_t n, char* dst) const {
    for (std::size_t k = 0; k < n; k += 64)
      _mm512_storeu_si512(
          dst + k, _mm512_maskz_permutexvar_epi8(~0ull, _mm512_loadu_si512(src + k), codes_));
  }

  // Each half of the frame with the bytes that fall in it loaded and looked up in place: two
  // masked loads, two merging permutes and two stores. Reads the `n` bytes alone.
  [[REELPRINT_AVX512]] void put_framed(const std::uint8_t* src, std::size_t n, char* dst,
                                       std::size_t at) const {
    const std::uint64_t end = at + n;
    const __mmask64 low =
        _bzhi_u64(~0ull, static_cast<unsigned>(end)) & ~_bzhi_u64(~0ull, static_cast<unsigned>(at));
    const __mmask64 high = _bzhi_u64(~0ull, static_cast<unsigned>(end > 64 ? end - 64 : 0));
    // Where the frame's byte 0 would be in the source: only the bytes of the line are loaded.
    const auto base = reinterpret_cast<std::uintptr_t>(src) - at;
    const __m512i bytes_low = _mm512_maskz_loadu_epi8(low, reinterpret_cast<const void*>(base));
    const __m512i bytes_high =
        _mm512_maskz_loadu_epi8(high, reinterpret_cast<const void*>(base + 64));
    _mm512_storeu_si512(dst, _mm512_mask_permutexvar_epi8(frame_low_, low, bytes_low, codes_));
    _mm512_storeu_si512(dst + 64,
                        _mm512_mask_permutexvar_epi8(frame_high_, high, bytes_high, codes_));
  }

  // Reads the `n` bytes alone.
  [[REELPRINT_AVX512]] std::uint64_t split_marks(const std::uint8_t* src, std::size_t n,
                                                 bool after_separator, std::uint8_t* codes,
                                                 char* marks) const {
    const __mmask64 in_range = _bzhi_u64(~0ull, static_cast<unsigned>(n));
    const __m512i bytes = _mm512_maskz_loadu_epi8(in_range, src);
    const __mmask64 separators = _mm512_mask_cmpeq_epi8_mask(
        in_range, _mm512_and_si512(bytes, _mm512_set1_epi8(63)),
        _mm512_set1_epi8(static_cast<char>(word_separator)));
    const __mmask64 kept = ~separators & in_range;
    const __mmask64 marked = kept & (separators << 1 | std::uint64_t{after_separator});
    const __m512i mark_bytes =
        _mm512_mask_blend_epi8(marked, _mm512_set1_epi8(' '), _mm512_set1_epi8('1'));
    // Compressed in registers and stored whole: a compressing store is far slower on some
    // processors.
    _mm512_storeu_si512(codes, _mm512_maskz_compress_epi8(kept, bytes));
    _mm512_storeu_si512(marks, _mm512_maskz_compress_epi8(kept, mark_bytes));
    return separators;
  }

 private:
  __m512i codes_;                   // the 64 display characters
  __m512i frame_low_, frame_high_;  // the frame's two halves
};

// Returns `work(kernel)`, compiled for AVX-512 with all that `work` calls inlined into it, so
// that the kernel's tables stay in registers throughout.
template <class Work>
[[REELPRINT_AVX512, gnu::flatten]] auto run(const DisplayTable& table, const LineFrame& frame,
                                            Work& work) {
  const Kernel kernel(table, frame);
  return work(kernel);
}

#undef REELPRINT_AVX512

}  // namespace reelprint::bcd::avx512vbmi

#endif
