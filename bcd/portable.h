// The portable kernel: a byte at a time, on any processor. It reads and writes no further than
// the bytes it is given.
#pragma once

#include <cstring>

#include "bcd/kernel_parts.h"

namespace reel::bcd::portable {

class Kernel : public SplitBytesOps<Kernel>, public ByteTextOps, public WordFrameOps {
 public:
  using Split = SplitBytes;
  using SplitBytesOps::put_framed;
  using SplitBytesOps::translate;

  explicit Kernel(const DisplayTable& table) : ByteTextOps(table) {
    for (std::size_t byte = 0; byte < bytes_.size(); ++byte) bytes_[byte] = table[byte];
  }

  void translate(const std::uint8_t* src, std::size_t n, char* dst) const {
    for (std::size_t k = 0; k < n; ++k) dst[k] = bytes_[src[k]];
  }

  void put_framed(const std::uint8_t* src, std::size_t n, char* dst, std::size_t at,
                  const char* frame) const {
    std::memcpy(dst, frame, frame_size);
    translate(src, n, dst + at);
  }

  bool has_separator(const std::uint8_t* src, std::size_t n) const {
    for (std::size_t k = 0; k < n; ++k)
      if ((src[k] & 63) == word_separator) return true;
    return false;
  }

  Split split(const std::uint8_t* src, std::size_t n, bool after_separator) const {
    Split split;
    split.separators = {};
    std::size_t kept = 0;
    const bool first_marked = after_separator;
    for (std::size_t k = 0; k < n; ++k) {
      if ((src[k] & 63) == word_separator) {
        (k < 64 ? split.separators.low : split.separators.high) |= std::uint64_t{1} << (k % 64);
        after_separator = true;
      } else {
        split.codes[kept] = src[k];
        split.marks[kept++] = after_separator ? '1' : ' ';
        after_separator = false;
      }
    }
    split.kept = kept;
    const SplitMask kept_bytes = ~split.separators & SplitMask::first(n);
    split.marks_end = marks_end_of(kept_bytes, kept_bytes & split.separators.after(first_marked));
    return split;
  }

 private:
  std::array<char, 256> bytes_;  // the display character of every byte value
};

// Returns `work(kernel)`. The same form as the other kernels' `run`.
template <class Work>
auto run(const DisplayTable& table, Work& work) {
  const Kernel kernel(table);
  return work(kernel);
}

}  // namespace reel::bcd::portable
