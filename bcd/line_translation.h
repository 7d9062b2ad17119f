// Translating a listing one line at a time. A call per line costs more than the translation
// of a line, so the loop over lines runs inside `with_line_translation`, which sets the vector
// units up once and hands the loop a translator that is compiled into it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "bcd/arrangement.h"

namespace reelprint::bcd {

// The widest line a line translator takes, and how far from a line's start it may read and
// write: the widest line in whole vectors of the widest kind.
inline constexpr std::size_t widest_translated_line = 128;
inline constexpr std::size_t line_reach = 128;

// A line's frame: what the line holds besides its characters, written whole with them
// translated into it. A record's first line has a frame of its own (its prefix, the blanks to
// its tag and the tag's words), and so it costs a few wide stores.
inline constexpr std::size_t frame_size = 128;
// How far from its start writing a frame may reach; what lies past `frame_size` is to be
// written over or dropped.
inline constexpr std::size_t frame_reach = frame_size + 32;
struct LineFrame {
  // The frame, then slack that a copy of its end in whole vectors may read.
  alignas(64) std::array<char, frame_reach> bytes{};
};

// Translates a line a byte at a time, reading and writing no further than the line.
class ScalarLines {
 public:
  ScalarLines(const DisplayTable& table, const LineFrame& frame) : table_(table), frame_(frame) {}
  void operator()(const std::uint8_t* src, std::size_t n, char* dst) const {
    for (std::size_t k = 0; k < n; ++k) dst[k] = table_.bytes[src[k]];
  }
  // Writes the frame at `dst`, with the `n` bytes at `src` translated into it from byte `at` on
  // (`at + n` at most `frame_size`).
  void put_framed(const std::uint8_t* src, std::size_t n, char* dst, std::size_t at) const {
    std::memcpy(dst, frame_.bytes.data(), frame_size);
    (*this)(src, n, dst + at);
  }
  // Returns how many of the `n` bytes at `src` come before the first word separator; `n` if
  // none is one.
  std::size_t until_separator(const std::uint8_t* src, std::size_t n) const {
    std::size_t k = 0;
    while (k < n && (src[k] & 63) != word_separator) ++k;
    return k;
  }

 private:
  const DisplayTable& table_;
  const LineFrame& frame_;
};

#if defined(__x86_64__)

// The four 16-entry tables of the AVX2 lookup and its constants, held in registers.
//
// A shuffle looks up the low four bits in 16 entries, and gives zero where the index is
// negative. Code c minus 16k is negative for the quarters above c's, so XOR-ing the lookups in
// tables that hold each quarter XOR the one before leaves c's own entry.
class Ladder {
 public:
  // Separate members rather than an array, so that the compiler keeps each in a register
  // across a loop instead of reloading it after every store of a character.
  __attribute__((target("avx2"))) explicit Ladder(const DisplayTable& table)
      : quarter0_(load(table, 0)),
        quarter1_(load(table, 1)),
        quarter2_(load(table, 2)),
        quarter3_(load(table, 3)),
        minus_16_(_mm256_set1_epi8(-16)),
        low_six_(_mm256_set1_epi8(63)) {
    // Hidden from the compiler, which would otherwise build them anew before every line
    // rather than keep them in registers.
    __asm__("" : "+x"(minus_16_), "+x"(low_six_));
  }

  // Returns the low six bits of each of 32 bytes: their codes.
  __attribute__((target("avx2"), always_inline)) __m256i low_six(__m256i bytes) const {
    return _mm256_and_si256(bytes, low_six_);
  }

  // Returns the display characters of 32 bytes.
  __attribute__((target("avx2"), always_inline)) __m256i lookup(__m256i bytes) const {
    const __m256i code0 = low_six(bytes);
    const __m256i code1 = _mm256_add_epi8(code0, minus_16_);  // code - 16, and so on
    const __m256i code2 = _mm256_add_epi8(code1, minus_16_);
    const __m256i code3 = _mm256_add_epi8(code2, minus_16_);
    return _mm256_xor_si256(_mm256_xor_si256(_mm256_shuffle_epi8(quarter0_, code0),
                                             _mm256_shuffle_epi8(quarter1_, code1)),
                            _mm256_xor_si256(_mm256_shuffle_epi8(quarter2_, code2),
                                             _mm256_shuffle_epi8(quarter3_, code3)));
  }

  // The same for 16 bytes, with the low lane of each table.
  __attribute__((target("avx2"), always_inline)) __m128i lookup16(__m128i bytes) const {
    const __m128i minus_16 = _mm256_castsi256_si128(minus_16_);
    const __m128i code0 = _mm_and_si128(bytes, _mm256_castsi256_si128(low_six_));
    const __m128i code1 = _mm_add_epi8(code0, minus_16);
    const __m128i code2 = _mm_add_epi8(code1, minus_16);
    const __m128i code3 = _mm_add_epi8(code2, minus_16);
    return _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(_mm256_castsi256_si128(quarter0_), code0),
                                       _mm_shuffle_epi8(_mm256_castsi256_si128(quarter1_), code1)),
                         _mm_xor_si128(_mm_shuffle_epi8(_mm256_castsi256_si128(quarter2_), code2),
                                       _mm_shuffle_epi8(_mm256_castsi256_si128(quarter3_), code3)));
  }

 private:
  __attribute__((target("avx2"))) static __m256i load(const DisplayTable& table, int quarter) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(table.ladder.data()) + quarter);
  }

  __m256i quarter0_, quarter1_, quarter2_, quarter3_;  // the tables
  __m256i minus_16_;                                   // -16 in every byte
  __m256i low_six_;                                    // 63 in every byte
};

// Translates a line 32 bytes at a time, the last 32 running past its end.
class Avx2Lines {
 public:
  __attribute__((target("avx2"))) Avx2Lines(const DisplayTable& table, const LineFrame& frame)
      : ladder_(table), separator_(_mm256_set1_epi8(word_separator)), frame_(frame.bytes.data()) {}
  // Not always_inline: the loops that call it are plain functions, inlined by `flatten`.
  __attribute__((target("avx2"))) void operator()(const std::uint8_t* src, std::size_t n,
                                                  char* dst) const {
    if (n > 64) {  // three or four vectors, as cards and full lines take: no loop to count
      put_vector(src, dst, 0);
      put_vector(src, dst, 32);
      put_vector(src, dst, 64);
      if (n > 96) put_vector(src, dst, 96);
      return;
    }
    for (std::size_t k = 0; k < n; k += 32) put_vector(src, dst, k);
  }
  // Writes the frame at `dst`, with the `n` bytes at `src` translated into it from byte `at`
  // on (`at` at most 32, `at + n` at most `frame_size`): the frame's start, the line over it,
  // and the frame's end from the line's end on, 32 bytes at a time. Reads up to `line_reach`
  // bytes from `src`, and writes up to `frame_reach` bytes from `dst`.
  __attribute__((target("avx2"))) void put_framed(const std::uint8_t* src, std::size_t n, char* dst,
                                                  std::size_t at) const {
    copy_frame(dst, 0);
    (*this)(src, n, dst + at);
    for (std::size_t k = at + n; k < frame_size; k += 32) copy_frame(dst, k);
  }
  // Returns how many of the `n` bytes at `src` (up to `widest_translated_line` of them) come
  // before the first word separator, `n` if none is one; reads up to `line_reach` bytes.
  __attribute__((target("avx2"))) std::size_t until_separator(const std::uint8_t* src,
                                                              std::size_t n) const {
    for (std::size_t k = 0; k < n; k += 32) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k));
      const auto hits = static_cast<std::uint32_t>(
          _mm256_movemask_epi8(_mm256_cmpeq_epi8(ladder_.low_six(bytes), separator_)));
      if (hits != 0) return std::min(n, k + static_cast<std::size_t>(__builtin_ctz(hits)));
    }
    return n;
  }

 private:
  // Translates the 32 bytes at `src + k` to `dst + k`.
  __attribute__((target("avx2"), always_inline)) void put_vector(const std::uint8_t* src, char* dst,
                                                                 std::size_t k) const {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + k), ladder_.lookup(bytes));
  }

  // Copies the 32 bytes of the frame from byte `k` on to `dst + k`.
  __attribute__((target("avx2"), always_inline)) void copy_frame(char* dst, std::size_t k) const {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + k),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(frame_ + k)));
  }

  Ladder ladder_;
  __m256i separator_;  // code 29 in every byte
  const char* frame_;
};

// Translates a line 64 bytes at a time with one permute each, the last 64 running past its end.
class Avx512VbmiLines {
 public:
  __attribute__((target("avx512f,avx512bw,avx512vbmi")))
  Avx512VbmiLines(const DisplayTable& table, const LineFrame& frame)
      : codes_(_mm512_load_si512(table.codes.data())),
        frame_low_(_mm512_load_si512(frame.bytes.data())),
        frame_high_(_mm512_load_si512(frame.bytes.data() + 64)) {}
  // Writes the frame at `dst`, with the `n` bytes at `src` translated into it from byte `at` on
  // (`at + n` at most `frame_size`): each half of the frame with the bytes that fall in it
  // loaded and looked up in place. Reads the `n` bytes alone, and writes `frame_size` bytes.
  __attribute__((target("avx512f,avx512bw,avx512vbmi,bmi2"))) void put_framed(
      const std::uint8_t* src, std::size_t n, char* dst, std::size_t at) const {
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
  __attribute__((target("avx512f,avx512bw,avx512vbmi"))) void operator()(const std::uint8_t* src,
                                                                         std::size_t n,
                                                                         char* dst) const {
    for (std::size_t k = 0; k < n; k += 64)  // the permute reads the low six bits
      _mm512_storeu_si512(
          dst + k, _mm512_maskz_permutexvar_epi8(~0ull, _mm512_loadu_si512(src + k), codes_));
  }
  // Returns how many of the `n` bytes at `src` come before the first word separator, `n` if
  // none is one; reads up to `line_reach` bytes.
  __attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t until_separator(
      const std::uint8_t* src, std::size_t n) const {
    const __m512i low_six = _mm512_set1_epi8(63);
    const __m512i separator = _mm512_set1_epi8(static_cast<char>(word_separator));
    for (std::size_t k = 0; k < n; k += 64) {
      const __m512i bytes = _mm512_loadu_si512(src + k);
      const __mmask64 hits = _mm512_cmpeq_epi8_mask(_mm512_and_si512(bytes, low_six), separator);
      if (hits != 0) return std::min(n, k + static_cast<std::size_t>(__builtin_ctzll(hits)));
    }
    return n;
  }

 private:
  __m512i codes_;
  __m512i frame_low_, frame_high_;
};

namespace detail {

// `flatten` compiles `work` and all it calls into these, so the translator's vector code is
// inlined into the loop over lines.
template <class Work>
__attribute__((target("avx2"), flatten)) auto run_with_avx2(const DisplayTable& table,
                                                            const LineFrame& frame, Work& work) {
  const Avx2Lines translate(table, frame);
  return work(translate);
}

template <class Work>
__attribute__((target("avx512f,avx512bw,avx512vbmi,bmi2"), flatten)) auto run_with_avx512vbmi(
    const DisplayTable& table, const LineFrame& frame, Work& work) {
  const Avx512VbmiLines translate(table, frame);
  return work(translate);
}

}  // namespace detail

#endif

// Returns `work(translate)`, where `translate(src, n, dst)` translates the `n` bytes at `src`
// (1 to `widest_translated_line` of them) to display characters at `dst`, the fastest way
// here. It may read and write up to `line_reach` bytes from `src` and `dst`; what it writes
// past the `n` characters is to be written over or dropped. `translate.put_framed(src, n, dst,
// at)` writes `frame` at `dst` with the `n` bytes translated into it from byte `at` on (`at` at
// most 32, `at + n` at most `frame_size`); it may read up to `line_reach` bytes from `src`, and
// write up to `frame_reach` from `dst`. `work` takes the translator by const reference.
template <class Work>
auto with_line_translation(const DisplayTable& table, const LineFrame& frame, Work&& work) {
  switch (table.translation) {
#if defined(__x86_64__)
    case Translation::avx512vbmi:
      return detail::run_with_avx512vbmi(table, frame, work);
    case Translation::avx2:
      return detail::run_with_avx2(table, frame, work);
#endif
    default:
      return work(ScalarLines(table, frame));
  }
}

}  // namespace reelprint::bcd
