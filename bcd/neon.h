// The NEON kernel (aarch64): one 64-entry table lookup translates 16 bytes, and an eight-byte
// table shuffle packs the bytes that are not word separators.
#pragma once

#include "bcd/kernel_parts.h"

// Little-endian aarch64 alone (every Debian arm64): a mask is read out of a vector as a
// little-endian word. NEON is part of every aarch64 processor, so nothing is checked at start
// and no target attribute is needed.
#if defined(__aarch64__) && defined(__AARCH64EL__)
#include <arm_neon.h>

#include <bit>

#include "bcd/pack_shuffles.h"

namespace reel::bcd::neon {

class Kernel : public SplitBytesOps<Kernel>, public ByteTextOps {
 public:
  using Split = SplitBytes;
  using SplitBytesOps::put_framed;
  using SplitBytesOps::translate;

  explicit Kernel(const DisplayTable& table)
      : ByteTextOps(table),
        codes_{{load(table, 0), load(table, 16), load(table, 32), load(table, 48)}},
        low_six_(vdupq_n_u8(63)),
        separator_(vdupq_n_u8(word_separator)) {}

  // 32 bytes a step: at most 128 read and written for a line of up to 128.
  void translate(const std::uint8_t* src, std::size_t n, char* dst) const {
    auto* const out = reinterpret_cast<std::uint8_t*>(dst);
    for (std::size_t k = 0; k < n; k += 32) {
      put_vector(src, out, k);
      put_vector(src, out, k + 16);
    }
  }

  // The frame's first 32 bytes, the line over them, and the frame's end from the line's end
  // on, 16 bytes at a time. The line's translation reaches up to 31 bytes past its end, to
  // byte 159 at most: within `frame_reach`.
  void put_framed(const std::uint8_t* src, std::size_t n, char* dst, std::size_t at,
                  const char* frame) const {
    auto* const out = reinterpret_cast<std::uint8_t*>(dst);
    copy_frame(frame, out, 0);
    copy_frame(frame, out, 16);
    translate(src, n, dst + at);
    for (std::size_t k = at + n; k < frame_size; k += 16) copy_frame(frame, out, k);
  }

  // 64 bytes a step (see `separators_in`), the second step only for a line past 64.
  bool has_separator(const std::uint8_t* src, std::size_t n) const {
    const SplitMask in_range = SplitMask::first(n);
    return (separators_in(src) & in_range.low) != 0 ||
           (n > 64 && (separators_in(src + 64) & in_range.high) != 0);
  }

  // Eight bytes at a time, packed by a shuffle from a table, their marks by the same shuffle.
  Split split(const std::uint8_t* src, std::size_t n, bool after_separator) const {
    Split split;
    const SplitMask in_range = SplitMask::first(n);
    const SplitMask separators = SplitMask{separators_in(src), separators_in(src + 64)} & in_range;
    const SplitMask kept = ~separators & in_range;
    const SplitMask marked = kept & separators.after(after_separator);
    const uint8x8_t bit_of_byte = vcreate_u8(0x8040'2010'0804'0201ull);
    const uint8x8_t ones = vdup_n_u8('1');
    const uint8x8_t spaces = vdup_n_u8(' ');
    std::uint8_t* const codes = split.codes.data();
    auto* const marks = reinterpret_cast<std::uint8_t*>(split.marks.data());
    std::size_t at = 0;
    for (std::size_t k = 0; k < n; k += 8) {
      const auto keep = static_cast<unsigned>((k < 64 ? kept.low : kept.high) >> (k % 64)) & 0xFF;
      const auto mark = static_cast<std::uint8_t>((k < 64 ? marked.low : marked.high) >> (k % 64));
      const uint8x8_t shuffle = vcreate_u8(pack_shuffles[keep]);
      vst1_u8(codes + at, vtbl1_u8(vld1_u8(src + k), shuffle));
      // 0xFF in each byte whose bit of the mask is set.
      const uint8x8_t set = vtst_u8(vdup_n_u8(mark), bit_of_byte);
      vst1_u8(marks + at, vtbl1_u8(vbsl_u8(set, ones, spaces), shuffle));
      at += static_cast<std::size_t>(std::popcount(keep));
    }
    split.separators = separators;
    split.kept = kept.count();
    split.marks_end = marks_end_of(kept, marked);
    return split;
  }

  // Each frame's bit 7 tested, and the count of ones in its bits 0-6 (a count for each byte).
  FrameScan scan_frames(const std::uint8_t* src) const {
    const uint8x16_t top = vdupq_n_u8(0x80);
    const uint8x16_t low_seven = vdupq_n_u8(0x7F);
    const uint8x16_t one = vdupq_n_u8(1);
    uint8x16_t starts[4];
    uint8x16_t odd[4];
    for (std::size_t k = 0; k < 4; ++k) {
      const uint8x16_t bytes = vld1q_u8(src + 16 * k);
      starts[k] = vtstq_u8(bytes, top);
      odd[k] = vtstq_u8(vcntq_u8(vandq_u8(bytes, low_seven)), one);
    }
    return {mask_of(starts), mask_of(odd)};
  }

  // 16 frames a vector; the last vector ends with the last frame, over codes already written
  // (written again alike), and fewer than 16 frames go by words.
  void put_codes(const std::uint8_t* src, std::size_t n, std::uint8_t* codes) const {
    if (n < 16) return put_codes_by_words(src, n, codes);
    for (std::size_t k = 0; n - k > 16; k += 16)
      vst1q_u8(codes + k, vandq_u8(vld1q_u8(src + k), low_six_));
    vst1q_u8(codes + n - 16, vandq_u8(vld1q_u8(src + n - 16), low_six_));
  }

 private:
  // Returns the 16 display characters from code `k` on.
  static uint8x16_t load(const DisplayTable& table, std::size_t k) {
    return vld1q_u8(reinterpret_cast<const std::uint8_t*>(table.codes.data() + k));
  }

  // Translates the 16 bytes at `src + k` to `dst + k`. The lookup gives zero for an index
  // past 63, so only the low six bits index it.
  [[gnu::always_inline]] void put_vector(const std::uint8_t* src, std::uint8_t* dst,
                                         std::size_t k) const {
    vst1q_u8(dst + k, vqtbl4q_u8(codes_, vandq_u8(vld1q_u8(src + k), low_six_)));
  }

  // Copies the 16 bytes of `frame` from byte `k` on to `dst + k`.
  [[gnu::always_inline]] static void copy_frame(const char* frame, std::uint8_t* dst,
                                                std::size_t k) {
    vst1q_u8(dst + k, vld1q_u8(reinterpret_cast<const std::uint8_t*>(frame) + k));
  }

  // Returns the word separators among the 64 bytes at `src`, bit k for byte k.
  [[gnu::always_inline]] std::uint64_t separators_in(const std::uint8_t* src) const {
    uint8x16_t found[4];
    for (std::size_t k = 0; k < 4; ++k)
      found[k] = vceqq_u8(vandq_u8(vld1q_u8(src + 16 * k), low_six_), separator_);
    return mask_of(found);
  }

  // Returns a bit for each of the 64 bytes of `flags` (each 0 or 0xFF), bit k for byte k: each
  // byte keeps its own bit of a byte, and three rounds of pairwise sums gather each eight bytes'
  // bits into one byte of the mask.
  [[gnu::always_inline]] static std::uint64_t mask_of(const uint8x16_t (&flags)[4]) {
    const uint8x8_t bit_of_byte = vcreate_u8(0x8040'2010'0804'0201ull);
    const uint8x16_t weights = vcombine_u8(bit_of_byte, bit_of_byte);
    const auto bits = [&](std::size_t k) { return vandq_u8(flags[k], weights); };
    const uint8x16_t sums = vpaddq_u8(vpaddq_u8(bits(0), bits(1)), vpaddq_u8(bits(2), bits(3)));
    return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(sums, sums)), 0);
  }

  uint8x16x4_t codes_;    // the 64 display characters
  uint8x16_t low_six_;    // 63 in every byte
  uint8x16_t separator_;  // code 29 in every byte
};

// Returns `work(kernel)`, with all that `work` calls inlined into it, so that the kernel's
// tables stay in registers throughout.
template <class Work>
[[gnu::flatten]] auto run(const DisplayTable& table, Work& work) {
  const Kernel kernel(table);
  return work(kernel);
}

}  // namespace reel::bcd::neon

#endif
