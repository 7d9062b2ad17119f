// The kernels' interface: the few operations of the listing and of reeltext that touch every
// data byte, written once per instruction set. Both are written once over the `Kernel` concept
// below; `dispatch.h` runs them with the kernel chosen when the program starts, and what the
// kernels share among themselves is in `kernel_parts.h`.
#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "bcd/arrangement.h"

namespace reel::bcd {

// The widest line a kernel translates, and how far from the start of a line's bytes, or of
// where its characters go, a kernel may read and write: what lies past the line is read for
// nothing, and what is written past it is to be written over or dropped.
inline constexpr std::size_t widest_translated_line = 128;
inline constexpr std::size_t reach = 128;
// The most bytes `split` takes at once: a line's worth, one bit each in the mask it returns.
inline constexpr std::size_t split_size = 128;
// One bit for each of up to `split_size` bytes: byte k is bit k of `low`, or bit k - 64 of
// `high`.
struct SplitMask {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  // Returns the mask of bytes 0 to `n` - 1.
  static SplitMask first(std::size_t n) {
    const auto below = [](std::size_t k) {
      return k >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << k) - 1;
    };
    return {below(n), below(n > 64 ? n - 64 : 0)};
  }
  // Returns the bytes just after its own, and byte 0 if `first` is set: the bytes a separator
  // marks, when it holds the separators.
  SplitMask after(bool first) const {
    return {low << 1 | std::uint64_t{first}, high << 1 | low >> 63};
  }
  // Returns how many bytes it has.
  std::size_t count() const {
    return static_cast<std::size_t>(std::popcount(low) + std::popcount(high));
  }
  // Returns whether it has any byte.
  bool any() const { return (low | high) != 0; }
  // Returns the place of its last byte, or 0 if none.
  std::size_t last() const {
    return high != 0 ? 127 - static_cast<std::size_t>(std::countl_zero(high))
                     : 63 - static_cast<std::size_t>(std::countl_zero(low | 1));
  }
  bool operator==(const SplitMask&) const = default;
  friend SplitMask operator&(SplitMask a, SplitMask b) { return {a.low & b.low, a.high & b.high}; }
  friend SplitMask operator~(SplitMask a) { return {~a.low, ~a.high}; }
};

// A framed line: a line's characters written into a frame of `frame_size` bytes around them
// (a listing's first line holds its prefix, the blanks to its tag and the tag's words), whole,
// so that the line costs a few wide stores. Writing one reaches up to `frame_reach` bytes from
// its start, and reads as far from the frame's: what lies past `frame_size` is to be written
// over or dropped, and read for nothing.
inline constexpr std::size_t frame_size = 128;
inline constexpr std::size_t frame_reach = frame_size + 32;

// A kernel is made from the prepared arrangement alone, holds the tables it needs, and offers
// (none of them calls out, so a loop that uses them keeps the kernel's tables in registers)
// the listing's operations:
//
//   translate(src, n, dst)      writes the display characters of the `n` bytes at `src`
//                               (1 to `widest_translated_line`) at `dst`;
//   put_framed(src, n, dst, at, frame)
//                               writes the `frame_size` bytes at `frame` at `dst` with the
//                               display characters of the `n` bytes at `src` in them from byte
//                               `at` on (`at` at most 32, `at + n` at most `frame_size`);
//                               writes up to `frame_reach` bytes, and reads as many at `frame`;
//   has_separator(src, n)       returns whether any of the `n` bytes at `src` (1 to
//                               `split_size`) is a word separator;
//   split(src, n, after_separator)
//                               returns the `n` bytes at `src` (1 to `split_size`) split into
//                               their word separators (the `separators` mask of the `Split` it
//                               returns) and the other bytes, packed in order, each with a mark
//                               under it: '1' if a separator stands just before it (for the
//                               first byte: if `after_separator`), a space if not; and
//                               says how many bytes it packed (`kept`) and how many of them
//                               there are up to the last marked one (`marks_end`, 0 if none);
//   translate(split, n, dst), put_framed(split, n, dst, at, frame)
//                               the same as for bytes, for the first `n` packed bytes of a split;
//   put_marks(split, dst)       writes a split's marks (`split_size` bytes) at `dst`;
//   store(split, codes, marks)  writes its packed bytes at `codes` (their low six bits, the
//                               code, which is all a character depends on: the bits above may
//                               differ from kernel to kernel) and its marks at `marks`
//                               (`split_size` bytes each);
//
// and reeltext's, which turn codes into text and text back into codes (with `translate`):
//
//   all_codes(src, n)           returns whether each of the `n` bytes at `src` (at least 1) is
//                               a code, 0 to 63;
//   scan_text(src, codes)       returns where the `text_block` bytes of text at `src` have
//                               their newlines, and the bytes that are neither a newline nor a
//                               character of the arrangement (see `TextScan`), and writes their
//                               codes at `codes` as `encode_text` does;
//   encode_text(src, codes)     writes the codes of the `text_block` bytes of text at `src` at
//                               `codes` (those of a newline or of another byte of no use);
//
// and the seven-track dumps' (one byte a tape frame), read back into records:
//
//   scan_frames(src)            returns which of the `frame_block` frames at `src` begin a
//                               record and which have an odd number of ones in their seven
//                               bits 0-6 (see `FrameScan`);
//   put_codes(src, n, codes)    writes the code (the low six bits) of each of the `n` frames at
//                               `src` (any number) at `codes`, which is `src` itself or apart
//                               from it, and nothing past them: a record's codes, served as they
//                               are copied out of the dump.
//
// Text back to codes goes `text_block` bytes at a time. A scan of a block tells, bit k for
// byte k, its newlines, and its bytes that are neither a newline nor a character of the
// arrangement.
inline constexpr std::size_t text_block = 64;
struct TextScan {
  std::uint64_t newlines;
  std::uint64_t others;
};

// A dump's frames are scanned `frame_block` at a time. A scan of a block tells, bit k for frame
// k, those with bit 7 set (a record's first frame) and those whose bits 0-6 hold an odd number
// of ones (the parity bit is bit 6, so this is their parity as read).
inline constexpr std::size_t frame_block = 64;
struct FrameScan {
  std::uint64_t starts;  // frames with bit 7 set: each begins a record
  std::uint64_t odd;     // frames whose bits 0-6 hold an odd number of ones
};

// A `Split` is a value: a kernel with wide registers holds it there, and a line split and
// written at once never passes through memory, where reading back bytes just stored a piece at
// a time would wait for every piece to reach the cache. Each operation may read up to `reach`
// bytes from `src` and write up to `reach` from `dst`, `codes` and `marks`; every kernel gives
// the same bytes where the line is.
template <class K>
concept Kernel = std::copy_constructible<K> &&
    requires(const K& kernel, const std::uint8_t* src, std::size_t n, char* dst, std::size_t at,
             const char* frame, bool after_separator, const typename K::Split& split,
             std::uint8_t* codes, char* marks) {
  { kernel.translate(src, n, dst) } -> std::same_as<void>;
  { kernel.put_framed(src, n, dst, at, frame) } -> std::same_as<void>;
  { kernel.has_separator(src, n) } -> std::same_as<bool>;
  { kernel.split(src, n, after_separator) } -> std::same_as<typename K::Split>;
  { split.separators } -> std::convertible_to<SplitMask>;
  { split.kept } -> std::convertible_to<std::size_t>;
  { split.marks_end } -> std::convertible_to<std::size_t>;
  { kernel.translate(split, n, dst) } -> std::same_as<void>;
  { kernel.put_framed(split, n, dst, at, frame) } -> std::same_as<void>;
  { kernel.put_marks(split, dst) } -> std::same_as<void>;
  { kernel.store(split, codes, marks) } -> std::same_as<void>;
  { kernel.all_codes(src, n) } -> std::same_as<bool>;
  { kernel.scan_text(src, codes) } -> std::same_as<TextScan>;
  { kernel.encode_text(src, codes) } -> std::same_as<void>;
  { kernel.scan_frames(src) } -> std::same_as<FrameScan>;
  { kernel.put_codes(src, n, codes) } -> std::same_as<void>;
};

// The kernels there are; which of them a processor runs is found when the program starts.
enum class KernelId {
  portable,    // a byte at a time: runs everywhere
  avx2,        // x86-64 with AVX2: four 16-entry shuffles a vector
  avx512vbmi,  // x86-64 with AVX-512 VBMI and VBMI2: one 64-entry permute a vector
  neon,        // aarch64: one 64-entry table lookup each 16 bytes
};

// Returns the fastest kernel this processor runs.
KernelId best_kernel();

// Returns every kernel this processor runs, the portable one first.
std::span<const KernelId> kernels_here();

// Returns the kernel's name, for messages and test names.
std::string_view name_of(KernelId kernel);

}  // namespace reel::bcd
