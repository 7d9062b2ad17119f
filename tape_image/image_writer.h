// Writes a tape image in any format the suite writes, an item at a time, through the record
// writer: a record reaches the output whole or not at all, so that an image cut off by a
// failure or a signal ends after its last whole record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/record_writer.h"
#include "tape_image/format.h"
#include "tape_image/framer.h"
#include "tape_image/p7b.h"

namespace reel::tape_image {

class ImageWriter {
 public:
  // Writes `format` (one that `writable` allows) to `out`, P7B frames with `parity`; or, if
  // `data_only`, the records' data end to end, nothing else.
  ImageWriter(RecordWriter& out, Format format, Parity parity = Parity::even,
              bool data_only = false);

  Format format() const { return framer_.format(); }

  // Returns why `format` cannot carry a record of `size` data bytes, bad or not, or "" if it
  // can (P7B's limits on the bytes themselves are found as they are written).
  std::string cannot_carry(std::uint64_t size, bool bad) const;

  // A record of `size` data bytes (as `cannot_carry` allows) begins; its bytes follow through
  // `data`, then `end` writes it, bad or not as `bad` then says, with the bytes written so far
  // (fewer than `size` for a record cut short), or `drop` drops it.
  void begin(std::uint32_t size);
  // Writes the next data bytes of the record; returns "" or why the format cannot carry them,
  // after which the record is to be dropped.
  std::string data(std::span<const std::uint8_t> bytes);
  void end(bool bad);
  void drop() { out_.drop(); }
  // Returns the data bytes of the record being written that have been written.
  std::uint32_t written() const { return written_; }

  // Writes the bytes of records whole as they are framed in the output's own format (simh or
  // E11): what the input holds in that framing is copied as it is.
  void framed(std::span<const std::uint8_t> bytes);

  void tape_mark();
  // Returns whether the format carries simh's control words (the simh forms, E11); writes one,
  // an erase gap or the end-of-medium marker.
  bool carries_gaps() const;
  void control_word(std::uint32_t word);

  // Ends the image (P7B's closing record start) and writes out all that is buffered; returns
  // false if the output has failed.
  bool finish();

  // Returns the codes 0 written in even-parity P7B records, which such a tape cannot carry.
  std::uint64_t zero_codes() const { return zero_codes_; }
  // Returns the errno of the output's first failure, or 0.
  int error() const { return out_.error(); }

 private:
  // Writes the `n` bytes at `bytes` as output.
  void put(const std::uint8_t* bytes, std::size_t n);

  RecordWriter& out_;
  Framer framer_;
  bool data_only_;
  std::size_t chunk_;          // the most bytes put into the room at once
  std::uint32_t size_ = 0;     // data bytes of the record being written
  std::uint32_t written_ = 0;  // of them, those written so far
  std::uint8_t first_ = 0;     // P7B: the first code of the record, its frame written at its end
  std::uint64_t zero_codes_ = 0;
};

}  // namespace reel::tape_image
