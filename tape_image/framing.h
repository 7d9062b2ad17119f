// The framing of a tape image, written once for every program that reads or writes one.
//
// Every record is its byte count (four bytes, little-endian, all 32 bits count), its data
// bytes, a pad byte after odd-length data in the simh framing (none in the E11 framing), and
// the byte count again. A count of zero is a tape mark and ends a tape file; so does the end
// of the image where a count should begin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace reel::tape_image {

// How a tape image frames odd-length records.
enum class Framing {
  simh,  // `even`: a pad byte follows odd-length data (the default)
  e11,   // no pad byte (option -e)
};

// Returns the four bytes at `b` read as a little-endian count.
inline std::uint32_t load_le32(const std::uint8_t* b) {
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

// Returns the bytes of pad after `size` data bytes: one after odd-length data in simh framing.
inline std::uint64_t pad_after(std::uint64_t size, Framing framing) {
  return framing == Framing::simh ? size & 1 : 0;
}

// Returns the bytes a record of `size` data bytes takes: both counts, the data and the pad.
inline std::uint64_t record_bytes(std::uint64_t size, Framing framing) {
  return 8 + size + pad_after(size, framing);
}

// Offers the records that lie whole at the front of `bytes`, where a count begins, one by one
// to `take(data, size)`: each of 1 to `max_size` data bytes whose trailing count equals its
// leading one. Stops before the first that is not such, or not whole, or a tape mark, which is
// left to be read a piece at a time; or before the first that `take` refuses by returning
// false. Returns the bytes the records taken take up, framing included. Inline, so that
// `take` is compiled into the loop.
template <class Take>
std::size_t take_whole_records(std::span<const std::uint8_t> bytes, std::uint32_t max_size,
                               Framing framing, Take&& take) {
  const std::uint8_t* const front = bytes.data();
  const std::size_t limit = bytes.size();
  std::size_t at = 0;
  while (limit - at >= 4) {
    const std::uint32_t size = load_le32(front + at);
    // One test for 1 to `max_size` bytes: a count of 0 wraps round to the largest number.
    if (size - 1 >= max_size) break;
    const std::uint64_t whole = record_bytes(size, framing);
    if (limit - at < whole) break;
    const auto taken = static_cast<std::size_t>(whole);
    if (load_le32(front + at + taken - 4) != size || !take(front + at + 4, size)) break;
    at += taken;
  }
  return at;
}

}  // namespace reel::tape_image
