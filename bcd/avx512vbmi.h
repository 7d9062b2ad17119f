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
        iota_(_mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47,
                              46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30,
                              29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13,
                              12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)),
        frame_low_(_mm512_load_si512(frame.bytes.data())),
        frame_high_(_mm512_load_si512(frame.bytes.data() + 64)) {}

  // 64 bytes at a time; the permute reads the low six bits of each. (Its zero-masking form,
  // with every lane kept: g++ 12 warns of the other's undefined lanes.)
  [[REELPRINT_AVX512]] void translate(const std::uint8_t* src, std::size_t n, char* dst) const {
    for (std::size_t k = 0; k < n; k += 64)
      _mm512_storeu_si512(
          dst + k, _mm512_maskz_permutexvar_epi8(~0ull, _mm512_loadu_si512(src + k), codes_));
  }

  // The line's two vectors loaded whole, each half of the frame with the bytes that fall in it
  // moved to their place and looked up: two loads, two two-table permutes, two merging
  // permutes and two stores. Whole loads at the line's start find a line that was just split
  // out (see `split_marks`) in the store queue.
  [[REELPRINT_AVX512]] void put_framed(const std::uint8_t* src, std::size_t n, char* dst,
                                       std::size_t at) const {
    const std::uint64_t end = at + n;
    const __mmask64 low =
        _bzhi_u64(~0ull, static_cast<unsigned>(end)) & ~_bzhi_u64(~0ull, static_cast<unsigned>(at));
    const __mmask64 high = _bzhi_u64(~0ull, static_cast<unsigned>(end > 64 ? end - 64 : 0));
    const __m512i first = _mm512_loadu_si512(src);
    const __m512i second = _mm512_loadu_si512(src + 64);
    // Byte j of the frame holds byte j - at of the line: of the two vectors, byte j - at of
    // the low half, byte j + 64 - at of the high one.
    const __m512i shift = _mm512_set1_epi8(static_cast<char>(at));
    const __m512i bytes_low =
        _mm512_permutex2var_epi8(first, _mm512_sub_epi8(iota_, shift), second);
    const __m512i bytes_high = _mm512_permutex2var_epi8(
        first, _mm512_sub_epi8(_mm512_add_epi8(iota_, _mm512_set1_epi8(64)), shift), second);
    _mm512_storeu_si512(dst, _mm512_mask_permutexvar_epi8(frame_low_, low, bytes_low, codes_));
    _mm512_storeu_si512(dst + 64,
                        _mm512_mask_permutexvar_epi8(frame_high_, high, bytes_high, codes_));
  }

  // Both vectors compressed in registers and joined there, then stored whole: a compressing
  // store is far slower on some processors, and whole vectors are what a line read back finds.
  [[REELPRINT_AVX512]] SplitMask split_marks(const std::uint8_t* src, std::size_t n,
                                             bool after_separator, std::uint8_t* codes,
                                             char* marks) const {
    const auto bits = static_cast<unsigned>(n);
    const __mmask64 in_low = _bzhi_u64(~0ull, bits);
    const __mmask64 in_high = _bzhi_u64(~0ull, bits > 64 ? bits - 64 : 0);
    const __m512i bytes_low = _mm512_loadu_si512(src);
    const __m512i bytes_high = _mm512_loadu_si512(src + 64);
    const __m512i low_six = _mm512_set1_epi8(63);
    const __m512i separator = _mm512_set1_epi8(static_cast<char>(word_separator));
    const __mmask64 separators_low =
        _mm512_mask_cmpeq_epi8_mask(in_low, _mm512_and_si512(bytes_low, low_six), separator);
    const __mmask64 separators_high =
        _mm512_mask_cmpeq_epi8_mask(in_high, _mm512_and_si512(bytes_high, low_six), separator);
    const __mmask64 kept_low = ~separators_low & in_low;
    const __mmask64 kept_high = ~separators_high & in_high;
    const __mmask64 marked_low = kept_low & (separators_low << 1 | std::uint64_t{after_separator});
    const __mmask64 marked_high = kept_high & (separators_high << 1 | separators_low >> 63);
    const __m512i spaces = _mm512_set1_epi8(' ');
    const __m512i ones = _mm512_set1_epi8('1');
    const auto kept = static_cast<unsigned>(__builtin_popcountll(kept_low));
    store_joined(codes, kept, _mm512_maskz_compress_epi8(kept_low, bytes_low),
                 _mm512_maskz_compress_epi8(kept_high, bytes_high));
    store_joined(marks, kept,
                 _mm512_maskz_compress_epi8(kept_low, _mm512_mask_blend_epi8(marked_low, spaces, ones)),
                 _mm512_maskz_compress_epi8(kept_high, _mm512_mask_blend_epi8(marked_high, spaces, ones)));
    return {separators_low, separators_high};
  }

 private:
  // Stores the first `count` bytes of `first` and then those of `second` at `dst`, as two whole
  // vectors.
  template <class Byte>
  [[REELPRINT_AVX512, gnu::always_inline]] void store_joined(Byte* dst, unsigned count,
                                                             __m512i first, __m512i second) const {
    // Byte j of the low vector is byte j - count of `second` from `count` on; byte j of the high
    // one is byte j + 64 - count of `second`.
    const __m512i from = _mm512_sub_epi8(iota_, _mm512_set1_epi8(static_cast<char>(count)));
    const __m512i low = _mm512_mask_permutexvar_epi8(
        first, ~_bzhi_u64(~0ull, count), from, second);
    const __m512i high =
        _mm512_maskz_permutexvar_epi8(~0ull, _mm512_add_epi8(from, _mm512_set1_epi8(64)), second);
    _mm512_storeu_si512(dst, low);
    _mm512_storeu_si512(dst + 64, high);
  }

  __m512i codes_;                   // the 64 display characters
  __m512i iota_;                    // 0 to 63, each byte its own place
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
