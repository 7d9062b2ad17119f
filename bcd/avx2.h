// The AVX2 kernel (x86-64): a 64-entry lookup as four 16-entry shuffles, 32 bytes at a time.
#pragma once

#include "bcd/kernel_parts.h"
#include "bcd/pack_shuffles.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include <algorithm>

namespace reel::bcd::avx2 {

#define REELPRINT_AVX2 gnu::target("avx2,bmi,bmi2,popcnt")

// A shuffle looks up the low four bits in 16 entries, and gives zero where the index is
// negative. Code c minus 16k is negative for the quarters above c's, so XOR-ing the lookups in
// tables that hold each quarter XOR the one before leaves c's own entry.
class Kernel : public SplitBytesOps<Kernel>, public ByteTextOps {
 public:
  using Split = SplitBytes;
  using SplitBytesOps::put_framed;
  using SplitBytesOps::translate;

  [[REELPRINT_AVX2]] explicit Kernel(const DisplayTable& table)
      : ByteTextOps(table),
        quarter0_(quarter(table, 0)),
        quarter1_(quarter(table, 1)),
        quarter2_(quarter(table, 2)),
        quarter3_(quarter(table, 3)),
        minus_16_(_mm256_set1_epi8(-16)),
        low_six_(_mm256_set1_epi8(63)),
        separator_(_mm256_set1_epi8(word_separator)) {
    // Hidden from the compiler, which would otherwise build them anew before every line
    // rather than keep them in registers.
    __asm__("" : "+x"(minus_16_), "+x"(low_six_), "+x"(separator_));
  }

  [[REELPRINT_AVX2]] void translate(const std::uint8_t* src, std::size_t n, char* dst) const {
    if (n > 64) {  // three or four vectors, as cards and full lines take: no loop to count
      put_vector(src, dst, 0);
      put_vector(src, dst, 32);
      put_vector(src, dst, 64);
      if (n > 96) put_vector(src, dst, 96);
      return;
    }
    for (std::size_t k = 0; k < n; k += 32) put_vector(src, dst, k);
  }

  // The frame's start, the line over it, and the frame's end from the line's end on, 32 bytes
  // at a time.
  [[REELPRINT_AVX2]] void put_framed(const std::uint8_t* src, std::size_t n, char* dst,
                                     std::size_t at, const char* frame) const {
    copy_frame(frame, dst, 0);
    translate(src, n, dst + at);
    for (std::size_t k = at + n; k < frame_size; k += 32) copy_frame(frame, dst, k);
  }

  [[REELPRINT_AVX2]] bool has_separator(const std::uint8_t* src, std::size_t n) const {
    const auto bits = static_cast<unsigned>(n);
    return ((separators_in(src) | separators_in(src + 32) << 32) &
            _bzhi_u64(~std::uint64_t{0}, bits)) != 0 ||
           (bits > 64 && ((separators_in(src + 64) | separators_in(src + 96) << 32) &
                          _bzhi_u64(~std::uint64_t{0}, bits - 64)) != 0);
  }

  // Sixteen bytes at a time, packed by one shuffle made of two eight-byte ones from a table;
  // the marks made from their bits and packed by the same shuffle.
  [[REELPRINT_AVX2]] Split split(const std::uint8_t* src, std::size_t n,
                                 bool after_separator) const {
    Split split;
    std::uint8_t* const codes = split.codes.data();
    char* const marks = split.marks.data();
    const auto bits = static_cast<unsigned>(n);
    const SplitMask in_range{_bzhi_u64(~std::uint64_t{0}, bits),
                             _bzhi_u64(~std::uint64_t{0}, bits > 64 ? bits - 64 : 0)};
    const SplitMask separators{
        (separators_in(src) | separators_in(src + 32) << 32) & in_range.low,
        (separators_in(src + 64) | separators_in(src + 96) << 32) & in_range.high};
    const SplitMask kept = ~separators & in_range;
    const SplitMask marked = kept & separators.after(after_separator);
    // The second eight bytes' indices point past the first eight (an index of 0x80 for no
    // byte stays one); each mark bit spread over the eight bytes of its byte, then each byte
    // tested for its own bit.
    const __m128i second_eight = _mm_set_epi64x(0x0808'0808'0808'0808, 0);
    const __m128i spread = _mm_set_epi64x(0x0101'0101'0101'0101, 0);
    const __m128i own_bit = _mm_set1_epi64x(static_cast<long long>(0x8040'2010'0804'0201ull));
    const __m128i spaces = _mm_set1_epi8(' ');
    const __m128i space_to_one = _mm_set1_epi8('1' - ' ');
    std::size_t at = 0;
    for (std::size_t k = 0; k < n; k += 16) {
      const std::uint64_t word_kept = ~(k < 64 ? separators.low : separators.high);
      const std::uint64_t word_marked = k < 64 ? marked.low : marked.high;
      const auto keep = static_cast<unsigned>(word_kept >> (k % 64));
      const unsigned keep_first = keep & 0xFF;
      const unsigned keep_second = (keep >> 8) & 0xFF;
      const __m128i shuffle =
          _mm_add_epi8(_mm_set_epi64x(static_cast<long long>(pack_shuffles[keep_second]),
                                      static_cast<long long>(pack_shuffles[keep_first])),
                       second_eight);
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k));
      const __m128i mark_bits = _mm_shuffle_epi8(
          _mm_cvtsi32_si128(static_cast<int>((word_marked >> (k % 64)) & 0xFFFF)), spread);
      const __m128i mark_text = _mm_add_epi8(
          spaces,
          _mm_and_si128(_mm_cmpeq_epi8(_mm_and_si128(mark_bits, own_bit), own_bit), space_to_one));
      const __m128i packed = _mm_shuffle_epi8(bytes, shuffle);
      const __m128i packed_marks = _mm_shuffle_epi8(mark_text, shuffle);
      // Each eight where its bytes go: the second right after those the first kept.
      const auto first_count = static_cast<std::size_t>(__builtin_popcount(keep_first));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(codes + at), packed);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(marks + at), packed_marks);
      // (The high half stored through the form that takes any address.)
      _mm_storeh_pi(reinterpret_cast<__m64*>(codes + at + first_count), _mm_castsi128_ps(packed));
      _mm_storeh_pi(reinterpret_cast<__m64*>(marks + at + first_count),
                    _mm_castsi128_ps(packed_marks));
      // Bytes past `n` count as kept here, but nothing is kept after them.
      at += first_count + static_cast<std::size_t>(__builtin_popcount(keep_second));
    }
    split.separators = separators;
    split.kept = kept.count();
    split.marks_end = marks_end_of(kept, marked);
    return split;
  }

  // 32 bytes a vector, the last of them masked: a byte's top two bits, bit 6 added to itself
  // landing in the top bit, which a byte mask reads.
  [[REELPRINT_AVX2]] bool all_codes(const std::uint8_t* src, std::size_t n) const {
    __m256i any = _mm256_setzero_si256();
    std::size_t k = 0;
    for (; n - k > 32; k += 32)
      any = _mm256_or_si256(any, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k)));
    const std::uint32_t last =
        top_bits(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k))) &
        _bzhi_u32(~0u, static_cast<unsigned>(n - k));
    return (top_bits(any) | last) == 0;
  }

  // Each half: bit 7 read by a byte mask, the parity of bits 0-6 by `odd_in`.
  [[REELPRINT_AVX2]] FrameScan scan_frames(const std::uint8_t* src) const {
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32));
    return {static_cast<std::uint32_t>(_mm256_movemask_epi8(first)) |
                std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(second))} << 32,
            odd_in(first) | std::uint64_t{odd_in(second)} << 32};
  }

  // 32 frames a vector; the last vector ends with the last frame, over codes already written
  // (written again alike), and fewer than 32 frames go by words.
  [[REELPRINT_AVX2]] void put_codes(const std::uint8_t* src, std::size_t n,
                                    std::uint8_t* codes) const {
    if (n < 32) return put_codes_by_words(src, n, codes);
    for (std::size_t k = 0; n - k > 32; k += 32) put_codes_at(src, codes, k);
    put_codes_at(src, codes, n - 32);
  }

 private:
  [[REELPRINT_AVX2, gnu::always_inline]] void put_codes_at(const std::uint8_t* src,
                                                           std::uint8_t* codes,
                                                           std::size_t k) const {
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(codes + k),
        _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k)), low_six_));
  }

  // Returns a bit for each of the 32 bytes of `v`, set where its bits 0-6 hold an odd number of
  // ones: bits 4-6 folded onto bits 0-2 (a shift of 16-bit lanes, whose bits brought in from the
  // next byte the nibble mask drops), and the nibble's parity looked up as bit 7.
  [[REELPRINT_AVX2, gnu::always_inline]] static std::uint32_t odd_in(__m256i v) {
    const __m256i odd_nibble =
        _mm256_setr_epi8(0, -128, -128, 0, -128, 0, 0, -128, -128, 0, 0, -128, 0, -128, -128, 0,  //
                         0, -128, -128, 0, -128, 0, 0, -128, -128, 0, 0, -128, 0, -128, -128, 0);
    const __m256i seven = _mm256_and_si256(v, _mm256_set1_epi8(0x7F));
    const __m256i folded = _mm256_and_si256(_mm256_xor_si256(seven, _mm256_srli_epi16(seven, 4)),
                                            _mm256_set1_epi8(0x0F));
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_shuffle_epi8(odd_nibble, folded)));
  }

  // Returns a bit for each of the 32 bytes of `v`, set where either of its top two bits is.
  [[REELPRINT_AVX2, gnu::always_inline]] static std::uint32_t top_bits(__m256i v) {
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_or_si256(v, _mm256_add_epi8(v, v))));
  }

  [[REELPRINT_AVX2]] static __m256i quarter(const DisplayTable& table, std::size_t k) {
    const auto load = [&](std::size_t q) {
      return _mm_load_si128(reinterpret_cast<const __m128i*>(table.codes.data() + 16 * q));
    };
    const __m128i own = load(k);
    return _mm256_broadcastsi128_si256(k == 0 ? own : _mm_xor_si128(own, load(k - 1)));
  }

  // Returns the display characters of 32 bytes.
  [[REELPRINT_AVX2, gnu::always_inline]] __m256i lookup(__m256i bytes) const {
    const __m256i code0 = _mm256_and_si256(bytes, low_six_);
    const __m256i code1 = _mm256_add_epi8(code0, minus_16_);  // code - 16, and so on
    const __m256i code2 = _mm256_add_epi8(code1, minus_16_);
    const __m256i code3 = _mm256_add_epi8(code2, minus_16_);
    return _mm256_xor_si256(_mm256_xor_si256(_mm256_shuffle_epi8(quarter0_, code0),
                                             _mm256_shuffle_epi8(quarter1_, code1)),
                            _mm256_xor_si256(_mm256_shuffle_epi8(quarter2_, code2),
                                             _mm256_shuffle_epi8(quarter3_, code3)));
  }

  // Translates the 32 bytes at `src + k` to `dst + k`.
  [[REELPRINT_AVX2, gnu::always_inline]] void put_vector(const std::uint8_t* src, char* dst,
                                                         std::size_t k) const {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + k), lookup(bytes));
  }

  // Copies the 32 bytes of `frame` from byte `k` on to `dst + k`.
  [[REELPRINT_AVX2, gnu::always_inline]] static void copy_frame(const char* frame, char* dst,
                                                                std::size_t k) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + k),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(frame + k)));
  }

  // Returns the word separators among the 32 bytes at `src`, bit k for byte k.
  [[REELPRINT_AVX2, gnu::always_inline]] std::uint64_t separators_in(
      const std::uint8_t* src) const {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(bytes, low_six_), separator_)));
  }

  // Separate members rather than an array, so that the compiler keeps each in a register
  // across a loop instead of reloading it after every store of a character.
  __m256i quarter0_, quarter1_, quarter2_, quarter3_;  // the tables
  __m256i minus_16_;                                   // -16 in every byte
  __m256i low_six_;                                    // 63 in every byte
  __m256i separator_;                                  // code 29 in every byte
};

// Returns `work(kernel)`, compiled for AVX2 with all that `work` calls inlined into it, so that
// the kernel's tables stay in registers throughout.
template <class Work>
[[REELPRINT_AVX2, gnu::flatten]] auto run(const DisplayTable& table, Work& work) {
  const Kernel kernel(table);
  return work(kernel);
}

#undef REELPRINT_AVX2

}  // namespace reel::bcd::avx2

#endif
