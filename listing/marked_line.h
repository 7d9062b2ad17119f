// A line of a word-marked listing as it is gathered: its codes with the word separators taken
// out, the marks those leave under the characters after them, and a separator still waiting
// for its character. A line may take any number of bytes (runs of separators take no
// position), so whatever bytes are at hand feed it, and it goes on where they stop.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "bcd/kernel.h"
#include "listing/line_writer.h"

namespace reelprint {

// Returns the place of the `k`th (from 1) set bit of `bits`, which has at least `k`: a byte at a
// time, then a bit at a time within the byte.
inline unsigned nth_set_bit(std::uint64_t bits, unsigned k) {
  unsigned base = 0;
  for (unsigned in_byte; k > (in_byte = static_cast<unsigned>(std::popcount(bits & 0xFF)));) {
    k -= in_byte;
    bits >>= 8;
    base += 8;
  }
  for (; k > 1; --k) bits &= bits - 1;
  return base + static_cast<unsigned>(std::countr_zero(bits));
}

class MarkedLine {
 public:
  // Starts a new line.
  void clear() {
    np_ = 0;
    marks_end_ = 0;
    after_separator_ = false;
  }

  // Feeds the line from the `n` bytes at `src`, the next of its record, until it holds `recl`
  // characters or the bytes run out; returns how many it took. A separator takes no position:
  // it marks the character after it, and the line's last character is never followed by one
  // that the line takes. Reads up to `bcd::reach` bytes from `src`.
  template <bcd::Kernel K>
  std::size_t feed(const K& kernel, const std::uint8_t* src, std::size_t n, std::size_t recl) {
    // The line's state in registers while it is fed: the stores of codes and marks would
    // otherwise reach it, as far as the compiler can tell.
    std::size_t np = np_;
    std::size_t marks_end = marks_end_;
    bool after_separator = after_separator_;
    std::size_t taken = 0;
    while (np < recl && taken < n) {
      const std::size_t size = std::min(n - taken, bcd::split_size);
      const std::uint64_t separators = kernel.split_marks(src + taken, size, after_separator,
                                                          codes_.data() + np, marks_.data() + np);
      const std::uint64_t in_range = ~std::uint64_t{0} >> (64 - size);
      std::uint64_t kept = ~separators & in_range;
      std::size_t used = size;
      const std::size_t wanted = recl - np;
      if (static_cast<std::size_t>(std::popcount(kept)) >= wanted) {
        // The line fills: it ends with its last character, and what follows is the next line's.
        used = kept == in_range ? wanted : nth_set_bit(kept, static_cast<unsigned>(wanted)) + 1;
        kept &= ~std::uint64_t{0} >> (64 - used);
      }
      const std::uint64_t marked = kept & (separators << 1 | std::uint64_t{after_separator});
      if (marked != 0) {
        const std::uint64_t up_to_last = ~std::uint64_t{0} >> std::countl_zero(marked);
        marks_end = np + static_cast<std::size_t>(std::popcount(kept & up_to_last));
      }
      after_separator = (separators >> (used - 1)) & 1;
      np += static_cast<std::size_t>(std::popcount(kept));
      taken += used;
    }
    np_ = np;
    marks_end_ = marks_end;
    after_separator_ = after_separator;
    return taken;
  }

  const std::uint8_t* codes() const { return codes_.data(); }
  std::size_t size() const { return np_; }  // the characters so far
  Marks marks() const { return {marks_.data(), marks_end_}; }

 private:
  std::size_t np_ = 0;          // characters in the line
  std::size_t marks_end_ = 0;   // one past the line's last mark, 0 if none
  bool after_separator_ = false;  // the last byte taken was a separator
  // Room for a whole line, what one split writes past it, and what a kernel reads past that.
  alignas(64) std::array<std::uint8_t, widest_line + bcd::split_size + bcd::reach> codes_;
  std::array<char, widest_line + bcd::split_size + marks_copy> marks_;  // under `codes_`
};

}  // namespace reelprint
