// What the kernels share: the pieces of their operations that are the same for several
// instruction sets. Each kernel's header takes what it needs from here; the listing and
// reeltext see the interface in `kernel.h` alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bcd/arrangement.h"
#include "bcd/kernel.h"

namespace reel::bcd {

// Returns how many of the bytes `kept` (those that are not separators) there are up to the last
// of those `marked` (those just after one), that one included: 0 if none is marked. No
// separator stands between the last marked byte and the last kept one (a byte kept after it
// would be marked), so the kept bytes past the last mark are all the bytes between the two.
inline std::size_t marks_end_of(SplitMask kept, SplitMask marked) {
  return marked.any() ? kept.count() - (kept.last() - marked.last()) : 0;
}

// The code of each byte value as text: its code (0 to 63) in a prepared arrangement,
// `newline_code` for a newline, `no_code` for any other.
inline constexpr std::uint8_t newline_code = 0x40;
inline constexpr std::uint8_t no_code = 0x80;
struct CodeOfByte {
  alignas(64) std::array<std::uint8_t, 256> codes;
};

// Returns the code of each byte value as text in `table`.
inline CodeOfByte code_of_byte(const DisplayTable& table) {
  CodeOfByte of{};
  of.codes.fill(no_code);
  for (std::size_t code = 0; code < table.codes.size(); ++code)
    of.codes[static_cast<unsigned char>(table.codes[code])] = static_cast<std::uint8_t>(code);
  of.codes['\n'] = newline_code;
  return of;
}

// The split of a kernel that packs bytes a few at a time, which it holds in memory.
struct SplitBytes {
  SplitMask separators;
  std::size_t kept;
  std::size_t marks_end;
  alignas(64) std::array<std::uint8_t, split_size + reach> codes;  // and slack a kernel reads
  alignas(64) std::array<char, split_size> marks;
};

// The operations on a `SplitBytes`, the same for each kernel `K` that packs into one: those on
// the bytes it holds. `K` names them with `using`.
template <class K>
class SplitBytesOps {
 public:
  void translate(const SplitBytes& split, std::size_t n, char* dst) const {
    self().translate(split.codes.data(), n, dst);
  }
  void put_framed(const SplitBytes& split, std::size_t n, char* dst, std::size_t at,
                  const char* frame) const {
    self().put_framed(split.codes.data(), n, dst, at, frame);
  }
  void put_marks(const SplitBytes& split, char* dst) const {
    std::memcpy(dst, split.marks.data(), split_size);
  }
  void store(const SplitBytes& split, std::uint8_t* codes, char* marks) const {
    std::memcpy(codes, split.codes.data(), split_size);
    std::memcpy(marks, split.marks.data(), split_size);
  }

 private:
  const K& self() const { return static_cast<const K&>(*this); }
};

// The text operations of a kernel that has no faster way for them: a word at a time, and a
// byte at a time through a table of the code of each byte value. `K` names them with `using`.
class ByteTextOps {
 public:
  explicit ByteTextOps(const DisplayTable& table) : of_(code_of_byte(table)) {}

  bool all_codes(const std::uint8_t* src, std::size_t n) const {
    std::uint64_t any = 0;
    std::size_t k = 0;
    for (; n - k >= 8; k += 8) {
      std::uint64_t word;
      std::memcpy(&word, src + k, sizeof word);
      any |= word;
    }
    for (; k < n; ++k) any |= src[k];
    return (any & 0xC0C0'C0C0'C0C0'C0C0) == 0;
  }

  TextScan scan_text(const std::uint8_t* src, std::uint8_t* codes) const {
    TextScan scan{0, 0};
    for (std::size_t k = 0; k < text_block; ++k) {
      const std::uint8_t code = of_.codes[src[k]];
      codes[k] = code;
      scan.newlines |= static_cast<std::uint64_t>(code == newline_code) << k;
      scan.others |= static_cast<std::uint64_t>(code >> 7) << k;
    }
    return scan;
  }

  void encode_text(const std::uint8_t* src, std::uint8_t* codes) const {
    for (std::size_t k = 0; k < text_block; ++k) codes[k] = of_.codes[src[k]];
  }

 private:
  CodeOfByte of_;
};

// Writes the codes of the `n` frames at `src` at `codes` (`src` itself or apart from it), eight
// at a time in a 64-bit word (a mask of every byte, the same on any byte order), then one at a
// time: the frame operation of a kernel with no faster way, and the last few frames of others.
inline void put_codes_by_words(const std::uint8_t* src, std::size_t n, std::uint8_t* codes) {
  std::size_t k = 0;
  for (; n - k >= 8; k += 8) {
    std::uint64_t word;
    std::memcpy(&word, src + k, sizeof word);
    word &= 0x3F3F'3F3F'3F3F'3F3F;
    std::memcpy(codes + k, &word, sizeof word);
  }
  for (; k < n; ++k) codes[k] = src[k] & 63;
}

// The frame operations of a kernel that has no faster way for them: eight frames at a time in a
// 64-bit word, assembled from the bytes so that frame k is byte k of the word on any byte order.
class WordFrameOps {
 public:
  FrameScan scan_frames(const std::uint8_t* src) const {
    constexpr std::uint64_t low_bits = 0x0101'0101'0101'0101;
    FrameScan scan{0, 0};
    for (std::size_t at = 0; at < frame_block; at += 8) {
      std::uint64_t word = 0;
      for (std::size_t k = 0; k < 8; ++k) word |= std::uint64_t{src[at + k]} << (8 * k);
      // Each byte's bits 0-6 folded onto its bit 0; what the shifts bring in from the next byte
      // lands above the bits that fold onto it.
      std::uint64_t parity = word & (low_bits * 0x7F);
      parity ^= parity >> 4;
      parity ^= parity >> 2;
      parity ^= parity >> 1;
      scan.starts |= gathered(word >> 7) << at;
      scan.odd |= gathered(parity) << at;
    }
    return scan;
  }

  void put_codes(const std::uint8_t* src, std::size_t n, std::uint8_t* codes) const {
    put_codes_by_words(src, n, codes);
  }

 private:
  // Returns bit 0 of each byte of `word`, byte k's as bit k: the multiplication moves byte k's
  // bit to bit 56 + k, and the other products fall on bits of their own or past bit 63.
  static std::uint64_t gathered(std::uint64_t word) {
    return ((word & 0x0101'0101'0101'0101) * 0x0102'0408'1020'4080) >> 56;
  }
};

}  // namespace reel::bcd
