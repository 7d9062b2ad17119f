// The AVX-512 VBMI kernel (x86-64 with VBMI and VBMI2): one 64-entry permute translates 64
// bytes, and a compress packs the bytes that are not word separators.
#pragma once

#include "bcd/kernel_parts.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace reel::bcd::avx512vbmi {

#define REELPRINT_AVX512 gnu::target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")

class Kernel {
 public:
  [[REELPRINT_AVX512]] explicit Kernel(const DisplayTable& table)
      : codes_(_mm512_load_si512(table.codes.data())),
        iota_(_mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47,
                              46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30,
                              29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13,
                              12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)),
        low_six_(held(_mm512_set1_epi8(63))),
        separator_(held(_mm512_set1_epi8(static_cast<char>(word_separator)))),
        mark_(held(_mm512_set1_epi8(64))),
        spaces_(held(_mm512_set1_epi8(' '))),
        ones_(held(_mm512_set1_epi8('1'))),
        text_low_(text_codes(table, 0)),
        text_high_(text_codes(table, 64)),
        newline_(held(_mm512_set1_epi8('\n'))),
        odd_low_(_mm512_movm_epi8(odd_of_six)),
        odd_high_(_mm512_movm_epi8(~odd_of_six)) {}

  // 64 bytes at a time; the permute reads the low six bits of each. (Its zero-masking form,
  // with every lane kept: g++ 12 warns of the other's undefined lanes.)
  [[REELPRINT_AVX512]] void translate(const std::uint8_t* src, std::size_t n, char* dst) const {
    for (std::size_t k = 0; k < n; k += 64)
      _mm512_storeu_si512(
          dst + k, _mm512_maskz_permutexvar_epi8(~0ull, _mm512_loadu_si512(src + k), codes_));
  }

  // The line's two vectors loaded whole and moved into the frame (see the private overload).
  [[REELPRINT_AVX512]] void put_framed(const std::uint8_t* src, std::size_t n, char* dst,
                                       std::size_t at, const char* frame) const {
    put_framed(_mm512_loadu_si512(src), _mm512_loadu_si512(src + 64), n, dst, at, frame);
  }

  // The packed bytes in two vectors, one for each half of the bytes, each compressed on its own
  // and not joined: the second half's go `kept_low` bytes on from the first's, and a store of it
  // over the first's spare end joins them. Each byte is the code (the permute that translates it
  // reads its low six bits alone) with its mark in bit 6, so that one compress packs both.
  // (Compressed in registers: a compressing store is far slower on some processors.)
  struct Split {
    SplitMask separators;
    unsigned kept_low;              // the bytes of the first half that are not separators
    unsigned kept;                  // the bytes that are not separators
    unsigned marks_end;             // those up to the last marked one
    __m512i codes_low, codes_high;  // the packed codes of each half, each marked in bit 6
  };

  [[REELPRINT_AVX512]] bool has_separator(const std::uint8_t* src, std::size_t n) const {
    const auto bits = static_cast<unsigned>(n);
    const __mmask64 low = _mm512_mask_cmpeq_epi8_mask(
        _bzhi_u64(~0ull, bits), _mm512_and_si512(_mm512_loadu_si512(src), low_six_), separator_);
    const __mmask64 high = _mm512_mask_cmpeq_epi8_mask(
        _bzhi_u64(~0ull, bits > 64 ? bits - 64 : 0),
        _mm512_and_si512(_mm512_loadu_si512(src + 64), low_six_), separator_);
    return (low | high) != 0;
  }

  [[REELPRINT_AVX512]] Split split(const std::uint8_t* src, std::size_t n,
                                   bool after_separator) const {
    const auto bits = static_cast<unsigned>(n);
    const __mmask64 in_low = _bzhi_u64(~0ull, bits);
    const __mmask64 in_high = _bzhi_u64(~0ull, bits > 64 ? bits - 64 : 0);
    const __m512i bytes_low = _mm512_loadu_si512(src);
    const __m512i bytes_high = _mm512_loadu_si512(src + 64);
    const __m512i codes_low = _mm512_and_si512(bytes_low, low_six_);
    const __m512i codes_high = _mm512_and_si512(bytes_high, low_six_);
    // The bytes kept and the separators each by a compare of their own, so that the compress
    // waits on one compare alone.
    const __mmask64 separators_low = _mm512_mask_cmpeq_epi8_mask(in_low, codes_low, separator_);
    const __mmask64 separators_high = _mm512_mask_cmpeq_epi8_mask(in_high, codes_high, separator_);
    const __mmask64 kept_low = _mm512_mask_cmpneq_epi8_mask(in_low, codes_low, separator_);
    const __mmask64 kept_high = _mm512_mask_cmpneq_epi8_mask(in_high, codes_high, separator_);
    const __mmask64 after_low = _kshiftli_mask64(separators_low, 1);
    const __mmask64 marked_low =
        _kand_mask64(kept_low, after_separator ? _kor_mask64(after_low, 1) : after_low);
    const __mmask64 marked_high = _kand_mask64(
        kept_high,
        _kor_mask64(_kshiftli_mask64(separators_high, 1), _kshiftri_mask64(separators_low, 63)));
    // Each code (its low six bits) with 64 added where marked.
    const __m512i packed_low = _mm512_maskz_compress_epi8(
        kept_low, _mm512_mask_add_epi8(codes_low, marked_low, codes_low, mark_));
    const __m512i packed_high = _mm512_maskz_compress_epi8(
        kept_high, _mm512_mask_add_epi8(codes_high, marked_high, codes_high, mark_));
    const auto count_low = static_cast<unsigned>(__builtin_popcountll(kept_low));
    return {{separators_low, separators_high},
            count_low,
            count_low + static_cast<unsigned>(__builtin_popcountll(kept_high)),
            static_cast<unsigned>(marks_end_of({kept_low, kept_high}, {marked_low, marked_high})),
            packed_low,
            packed_high};
  }

  // Each half stored whole, the second over the first's spare end.
  [[REELPRINT_AVX512]] void translate(const Split& split, std::size_t, char* dst) const {
    _mm512_storeu_si512(dst, _mm512_maskz_permutexvar_epi8(~0ull, split.codes_low, codes_));
    _mm512_storeu_si512(dst + split.kept_low,
                        _mm512_maskz_permutexvar_epi8(~0ull, split.codes_high, codes_));
  }

  // The frame stored whole, then the characters of each half over it, as many as the line takes.
  [[REELPRINT_AVX512]] void put_framed(const Split& split, std::size_t n, char* dst, std::size_t at,
                                       const char* frame) const {
    const auto count = static_cast<unsigned>(n);
    const unsigned low = count < split.kept_low ? count : split.kept_low;
    _mm512_storeu_si512(dst, _mm512_loadu_si512(frame));
    _mm512_storeu_si512(dst + 64, _mm512_loadu_si512(frame + 64));
    _mm512_mask_storeu_epi8(dst + at, _bzhi_u64(~0ull, low),
                            _mm512_maskz_permutexvar_epi8(~0ull, split.codes_low, codes_));
    _mm512_mask_storeu_epi8(dst + at + low, _bzhi_u64(~0ull, count - low),
                            _mm512_maskz_permutexvar_epi8(~0ull, split.codes_high, codes_));
  }

  // A '1' under each code marked in bit 6, a space under the others: one two-table permute,
  // whose tables are all spaces and all '1's, and which bit 6 chooses between.
  [[REELPRINT_AVX512]] void put_marks(const Split& split, char* dst) const {
    _mm512_storeu_si512(dst, _mm512_permutex2var_epi8(spaces_, split.codes_low, ones_));
    _mm512_storeu_si512(dst + split.kept_low,
                        _mm512_permutex2var_epi8(spaces_, split.codes_high, ones_));
  }

  // The codes without their marks, which go with the marks.
  [[REELPRINT_AVX512]] void store(const Split& split, std::uint8_t* codes, char* marks) const {
    _mm512_storeu_si512(codes, _mm512_and_si512(split.codes_low, low_six_));
    _mm512_storeu_si512(codes + split.kept_low, _mm512_and_si512(split.codes_high, low_six_));
    put_marks(split, marks);
  }

  // 64 bytes a vector, the last of them masked: one test of the top two bits.
  [[REELPRINT_AVX512]] bool all_codes(const std::uint8_t* src, std::size_t n) const {
    const __m512i top_two = _mm512_set1_epi8(static_cast<char>(0xC0));
    __m512i any = _mm512_setzero_si512();
    std::size_t k = 0;
    for (; n - k > 64; k += 64) any = _mm512_or_si512(any, _mm512_loadu_si512(src + k));
    const __mmask64 last = _bzhi_u64(~0ull, static_cast<unsigned>(n - k));
    return (_mm512_test_epi8_mask(any, top_two) |
            _mm512_mask_test_epi8_mask(last, _mm512_loadu_si512(src + k), top_two)) == 0;
  }

  // One two-table permute looks the 64 bytes up among the 128 ASCII values; a byte from 128
  // up, whose permute reads its low seven bits alone, is told by its own top bit.
  [[REELPRINT_AVX512]] TextScan scan_text(const std::uint8_t* src, std::uint8_t* codes) const {
    const __m512i bytes = _mm512_loadu_si512(src);
    const __m512i looked_up = _mm512_permutex2var_epi8(text_low_, bytes, text_high_);
    _mm512_storeu_si512(codes, looked_up);
    return {_mm512_cmpeq_epi8_mask(bytes, newline_),
            _mm512_movepi8_mask(_mm512_or_si512(bytes, looked_up))};
  }

  [[REELPRINT_AVX512]] void encode_text(const std::uint8_t* src, std::uint8_t* codes) const {
    _mm512_storeu_si512(codes,
                        _mm512_permutex2var_epi8(text_low_, _mm512_loadu_si512(src), text_high_));
  }

  // Bit 7 read by a byte mask; the parity of bits 0-6 looked up among the 128 values by one
  // two-table permute, which reads those seven bits of each byte alone.
  [[REELPRINT_AVX512]] FrameScan scan_frames(const std::uint8_t* src) const {
    const __m512i bytes = _mm512_loadu_si512(src);
    return {_mm512_movepi8_mask(bytes),
            _mm512_movepi8_mask(_mm512_permutex2var_epi8(odd_low_, bytes, odd_high_))};
  }

  // 64 frames a vector, the last of them masked, loaded and stored: nothing past them is
  // touched.
  [[REELPRINT_AVX512]] void put_codes(const std::uint8_t* src, std::size_t n,
                                      std::uint8_t* codes) const {
    std::size_t k = 0;
    for (; n - k > 64; k += 64)
      _mm512_storeu_si512(codes + k, _mm512_and_si512(_mm512_loadu_si512(src + k), low_six_));
    const __mmask64 last = _bzhi_u64(~0ull, static_cast<unsigned>(n - k));
    _mm512_mask_storeu_epi8(codes + k, last,
                            _mm512_and_si512(_mm512_maskz_loadu_epi8(last, src + k), low_six_));
  }

 private:
  // Returns the codes, as text, of the 64 byte values from `from` on.
  [[REELPRINT_AVX512]] static __m512i text_codes(const DisplayTable& table, std::size_t from) {
    return _mm512_load_si512(code_of_byte(table).codes.data() + from);
  }

  // Writes `frame` at `dst` with the `n` bytes that `first` and `second` hold, in order,
  // translated into it from byte `at` on: each half of the frame with the bytes that fall in
  // it moved to their place by a two-table permute, and looked up by a merging one.
  [[REELPRINT_AVX512]] void put_framed(__m512i first, __m512i second, std::size_t n, char* dst,
                                       std::size_t at, const char* frame) const {
    const std::uint64_t end = at + n;
    const __mmask64 low =
        _bzhi_u64(~0ull, static_cast<unsigned>(end)) & ~_bzhi_u64(~0ull, static_cast<unsigned>(at));
    const __mmask64 high = _bzhi_u64(~0ull, static_cast<unsigned>(end > 64 ? end - 64 : 0));
    // Byte j of the frame holds byte j - at of the line: byte j - at of the two vectors for the
    // low half, byte j + 64 - at for the high one.
    const __m512i shift = _mm512_sub_epi8(iota_, _mm512_set1_epi8(static_cast<char>(at)));
    const __m512i bytes_low = _mm512_permutex2var_epi8(first, shift, second);
    const __m512i bytes_high =
        _mm512_permutex2var_epi8(first, _mm512_add_epi8(shift, _mm512_set1_epi8(64)), second);
    _mm512_storeu_si512(
        dst, _mm512_mask_permutexvar_epi8(_mm512_loadu_si512(frame), low, bytes_low, codes_));
    _mm512_storeu_si512(dst + 64, _mm512_mask_permutexvar_epi8(_mm512_loadu_si512(frame + 64), high,
                                                               bytes_high, codes_));
  }

  __m512i codes_;                 // the 64 display characters
  __m512i iota_;                  // 0 to 63, each byte its own place
  __m512i low_six_, separator_;   // 63, and the separator's code, in every byte
  __m512i mark_;                  // bit 6, where a code carries its mark, in every byte
  __m512i spaces_, ones_;         // a word-mark line's two characters, in every byte
  __m512i text_low_, text_high_;  // the codes, as text, of the byte values 0 to 127
  __m512i newline_;               // a newline in every byte
  // Bit k set for each k from 0 to 63 with an odd number of ones; from 64 to 127 the opposite.
  static constexpr std::uint64_t odd_of_six = 0x6996'9669'9669'6996;
  __m512i odd_low_, odd_high_;  // 0xFF for each value of seven bits with an odd number of ones

  // Returns `value`, which the compiler then no longer knows: a constant it knows, it makes
  // anew at each use in a loop (two instructions) rather than keep it in a register.
  [[REELPRINT_AVX512]] static __m512i held(__m512i value) {
    __asm__("" : "+v"(value));
    return value;
  }
};

// Returns `work(kernel)`, compiled for AVX-512 with all that `work` calls inlined into it, so
// that the kernel's tables stay in registers throughout.
template <class Work>
[[REELPRINT_AVX512, gnu::flatten]] auto run(const DisplayTable& table, Work& work) {
  const Kernel kernel(table);
  return work(kernel);
}

#undef REELPRINT_AVX512

}  // namespace reel::bcd::avx512vbmi

#endif
