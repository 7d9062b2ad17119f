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

namespace reel::reelprint {

// The bit operations on a line's masks of up to `bcd::split_size` bytes. Whether a byte is a
// separator is the data's to say, so none of them branches on a mask: a guessed branch would
// be guessed wrong as often as not.
namespace mask {
using bcd::SplitMask;

// For each byte value and k from 0 to 7, the place of the (k + 1)th set bit (8 if none).
inline constexpr std::array<std::array<std::uint8_t, 8>, 256> bit_places = [] {
  std::array<std::array<std::uint8_t, 8>, 256> places{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned k = 0;
    for (unsigned bit = 0; bit < 8; ++bit)
      if ((byte >> bit) & 1) places[byte][k++] = static_cast<std::uint8_t>(bit);
    for (; k < 8; ++k) places[byte][k] = 8;
  }
  return places;
}();

// Returns the place of the `k`th (from 1) set bit of `bits`, which has at least `k`: the byte it
// is in from the running counts of set bits, byte by byte, in one word; then its place in that
// byte from a table.
inline unsigned nth_set_bit(std::uint64_t bits, unsigned k) {
  constexpr std::uint64_t ones = 0x0101'0101'0101'0101ull;
  std::uint64_t counts = bits - ((bits >> 1) & 0x5555'5555'5555'5555ull);
  counts = (counts & 0x3333'3333'3333'3333ull) + ((counts >> 2) & 0x3333'3333'3333'3333ull);
  counts = (counts + (counts >> 4)) & 0x0F0F'0F0F'0F0F'0F0Full;
  const std::uint64_t running = counts * ones;  // byte i: the set bits in bytes 0 to i
  // The bytes whose running count is k or more have their top bit set (counts are at most 64).
  const std::uint64_t reached = ((running | 0x8080'8080'8080'8080ull) - (k * ones)) & (0x80 * ones);
  const auto byte = static_cast<unsigned>(std::countr_zero(reached)) / 8;
  const auto before = static_cast<unsigned>((running << 8 >> (8 * byte)) & 0xFF);
  return 8 * byte + bit_places[(bits >> (8 * byte)) & 0xFF][k - before - 1];
}

// Returns the mask of bytes 0 to `n` - 1.
inline SplitMask first(std::size_t n) { return SplitMask::first(n); }
inline bool has(SplitMask a, std::size_t k) { return ((k < 64 ? a.low : a.high) >> (k % 64)) & 1; }
// Returns the place of the `k`th (from 1) byte in `a`, which has at least `k`.
inline std::size_t nth(SplitMask a, std::size_t k) {
  const auto in_low = static_cast<std::size_t>(std::popcount(a.low));
  const bool low = k <= in_low;
  return (low ? 0 : 64) +
         nth_set_bit(low ? a.low : a.high, static_cast<unsigned>(low ? k : k - in_low));
}
// Returns how many bytes there are up to the last in `a`, that one included: 0 if none.
inline std::size_t through_last(SplitMask a) {
  const auto in_low = static_cast<std::size_t>(64 - std::countl_zero(a.low));
  const auto in_high = static_cast<std::size_t>(128 - std::countl_zero(a.high));
  return a.high != 0 ? in_high : in_low;
}

}  // namespace mask

// Where a word-marked line stands as it is gathered.
struct LineState {
  std::size_t np = 0;            // characters in the line
  std::size_t marks_end = 0;     // one past the line's last mark, 0 if none
  bool after_separator = false;  // the last byte taken was a separator
};

// Takes the next `size` bytes of a record, split into `separators` and characters, into a line
// that stands at `state` and holds at most `recl` characters; moves `state` on, and returns how
// many of the bytes the line takes: all of them, or those up to the character that fills it
// (what follows is the next line's). A separator takes no position: it marks the character
// after it.
inline std::size_t take_split(bcd::SplitMask separators, std::size_t size, std::size_t recl,
                              LineState& state) {
  const bcd::SplitMask in_range = mask::first(size);
  bcd::SplitMask kept = ~separators & in_range;
  std::size_t used = size;
  std::size_t count = kept.count();
  const std::size_t wanted = recl - state.np;
  if (count >= wanted) {
    used = mask::nth(kept, wanted) + 1;
    kept = kept & mask::first(used);
    count = wanted;
  }
  const bcd::SplitMask marked = kept & separators.after(state.after_separator);
  // Counted as the bytes up to the last mark, not as a split counts its own (`marks_end_of`):
  // for lines that end anywhere in their bytes this way measured faster.
  const std::size_t through_mark = mask::through_last(marked);
  const std::size_t marks_here = state.np + (kept & mask::first(through_mark)).count();
  state.marks_end = through_mark != 0 ? marks_here : state.marks_end;
  state.after_separator = mask::has(separators, used - 1);
  state.np += count;
  return used;
}

// The first split of a new word-marked line: the split itself, where it leaves the line, and
// how many of its bytes the line took.
template <class Split>
struct FirstSplit {
  Split split;
  LineState state;
  std::size_t used;
};

// Splits the `n` bytes at `src` (1 to `bcd::split_size`) for a new word-marked line of at most
// `recl` characters; returns the split and what the line took of it.
template <bcd::Kernel K>
FirstSplit<typename K::Split> split_new_line(const K& kernel, const std::uint8_t* src,
                                             std::size_t n, std::size_t recl) {
  FirstSplit<typename K::Split> first{kernel.split(src, n, false), {}, 0};
  first.used = take_split(first.split.separators, n, recl, first.state);
  return first;
}

// A word-marked line gathered in memory, from bytes that come in more than one piece or take
// more than one split.
class MarkedLine {
 public:
  // Starts a new line.
  void clear() { state_ = {}; }

  // Returns true when the line has taken no byte yet.
  bool empty() const { return state_.np == 0 && !state_.after_separator; }

  // Starts the line with the first split of its bytes.
  template <bcd::Kernel K>
  void start(const K& kernel, const FirstSplit<typename K::Split>& first) {
    kernel.store(first.split, codes_.data(), marks_.data());
    state_ = first.state;
  }

  // Feeds the line from the `n` bytes at `src`, the next of its record, until it holds `recl`
  // characters or the bytes run out; returns how many it took. Reads up to `bcd::reach` bytes
  // from `src`.
  template <bcd::Kernel K>
  std::size_t feed(const K& kernel, const std::uint8_t* src, std::size_t n, std::size_t recl) {
    // In registers while the line is fed: the stores of codes and marks would otherwise reach
    // it, as far as the compiler can tell.
    LineState state = state_;
    std::size_t taken = 0;
    while (state.np < recl && taken < n) {
      const std::size_t size = std::min(n - taken, bcd::split_size);
      const auto split = kernel.split(src + taken, size, state.after_separator);
      kernel.store(split, codes_.data() + state.np, marks_.data() + state.np);
      taken += take_split(split.separators, size, recl, state);
    }
    state_ = state;
    return taken;
  }

  const std::uint8_t* codes() const { return codes_.data(); }
  std::size_t size() const { return state_.np; }  // the characters so far
  Marks marks() const { return {marks_.data(), state_.marks_end}; }

 private:
  LineState state_;
  // Room for a whole line, what one split writes past it, and what a kernel reads past that.
  alignas(64) std::array<std::uint8_t, widest_line + bcd::split_size + bcd::reach> codes_;
  alignas(
      64) std::array<char, widest_line + bcd::split_size + marks_copy> marks_;  // under `codes_`
};

}  // namespace reel::reelprint
