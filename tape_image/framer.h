// How each format the suite writes frames what it holds: a record's count and where it goes,
// the pad after odd-length data, what stands for a record not yet ended, a tape mark, the end
// of a dump, and what a format cannot carry. Written once, for every writer of images
// (ImageWriter, reeltext's builder); inline, since a writer frames every record with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "tape_image/control_word.h"
#include "tape_image/format.h"
#include "tape_image/p7b.h"

namespace reel::tape_image {

// The most data bytes a TPC record holds: what its 16-bit count holds.
inline constexpr std::uint32_t largest_tpc_record = 0xFFFF;
// The code of the tape mark character: a P7B record of one frame of it reads as a tape mark.
inline constexpr std::uint8_t tape_mark_code = 15;

class Framer {
 public:
  // Frames `format`, one that `writable` allows; P7B frames with `parity`.
  explicit Framer(Format format, Parity parity = Parity::even)
      : format_(format),
        parity_(parity),
        count_(format == Format::simh_be                              ? Count::be32
               : format == Format::tpc || format == Format::tpc_nopad ? Count::le16
               : format == Format::p7b                                ? Count::none
                                                                      : Count::le32),
        pad_(format == Format::simh || format == Format::simh_be || format == Format::tpc) {}

  Format format() const { return format_; }
  Parity parity() const { return parity_; }

  // Whether a record is its codes' frames (P7B), headed by its first frame and no count.
  bool frames() const { return count_ == Count::none; }
  // Returns the bytes of a record's count before its data: 4, 2 in TPC, none in P7B.
  std::size_t count_bytes() const {
    return count_ == Count::le16 ? 2 : count_ == Count::none ? 0 : 4;
  }
  // Returns the bytes of the header a record's writer fills in at its end: its count, or in
  // P7B its first frame.
  std::size_t header_bytes() const { return frames() ? 1 : count_bytes(); }
  // Whether the count follows the data too (not in TPC).
  bool trailer() const { return count_ == Count::le32 || count_ == Count::be32; }
  // Returns the bytes of pad after `size` data bytes: one after odd-length data where the
  // format pads.
  std::size_t pad_after(std::uint64_t size) const { return pad_ ? size & 1 : 0; }

  // Writes `word` at `p` as the format's counts are written; returns its bytes: a count, a bad
  // record's flagged count, or one of simh's control words.
  std::size_t put_count(std::uint32_t word, char* p) const {
    switch (count_) {
      case Count::le32:
        for (int k = 0; k < 4; ++k) p[k] = static_cast<char>(word >> (8 * k));
        return 4;
      case Count::be32:
        for (int k = 0; k < 4; ++k) p[k] = static_cast<char>(word >> (24 - 8 * k));
        return 4;
      case Count::le16:
        p[0] = static_cast<char>(word);
        p[1] = static_cast<char>(word >> 8);
        return 2;
      case Count::none:
        break;
    }
    return 0;
  }

  // Writes at `p` what stands for the header of a record not yet ended, `size` data bytes long
  // where that is known; returns its bytes (`header_bytes()`). A record cut off there by a
  // writer that was killed then reads as damage, never as a tape mark or a shorter whole one:
  // in the simh forms the placeholder word; in TPC, which reserves no count, the record's own
  // count where it is known (cut short, it runs past the end of the image), else the largest,
  // which no more bytes than a record holds can complete; in P7B a first frame of the wrong
  // parity.
  std::size_t put_placeholder(char* p, std::optional<std::uint32_t> size = std::nullopt) const {
    switch (count_) {
      case Count::le16:
        return put_count(size.value_or(largest_tpc_record), p);
      case Count::none:
        *p = static_cast<char>(parity_ == Parity::odd ? 0x80 : 0xC0);
        return 1;
      default:
        return put_count(placeholder_word, p);
    }
  }

  // Whether the placeholder of a record not yet ended is a count a record may have (TPC's,
  // the largest), so that the record stands whole once that many data bytes follow it.
  bool placeholder_is_count() const { return count_ == Count::le16; }

  // Returns the first frame of a record, of `code`: for a bad record with its parity bit turned
  // over, so that a bad record stays bad in a dump, a parity error in its first frame.
  std::uint8_t first_frame(std::uint8_t code, bool bad) const {
    std::uint8_t frame = 0;
    put_frames(&code, 1, &frame, parity_, true);
    return bad ? static_cast<std::uint8_t>(frame ^ 0x40) : frame;
  }

  // Writes a tape mark at `p`; returns its bytes: a zero count, or P7B's frame of code 15.
  std::size_t put_tape_mark(char* p) const {
    if (!frames()) return put_count(0, p);
    *p = static_cast<char>(p7b_tape_mark);
    return 1;
  }

  // Writes at `p` what ends the image, P7B's closing record start (elsewhere nothing); returns
  // its bytes.
  std::size_t put_closing(char* p) const {
    if (!frames()) return 0;
    *p = static_cast<char>(p7b_closing_start);
    return 1;
  }

  // Whether the format carries simh's control words: erase gaps and the end-of-medium marker.
  bool carries_gaps() const { return count_ == Count::le32 || count_ == Count::be32; }
  // Whether it marks a record as bad: its counts flagged, or in P7B a parity error, which a
  // dump without parity does not tell.
  bool carries_bad() const { return trailer() || (frames() && parity_ != Parity::none); }
  // Returns the most data bytes a record holds, a bad one if `bad` (as `carries_bad` allows):
  // the size bits of a bad record's words, which a dump's bad records are read back into.
  std::uint32_t largest(bool bad) const {
    if (count_ == Count::le16) return largest_tpc_record;
    return bad ? largest_bad_record : largest_record;
  }
  // Whether a record of `size` data bytes, the first `first_code`, would be read back as a
  // tape mark: in P7B, one frame of code 15, whatever its parity bit.
  bool reads_as_tape_mark(std::uint64_t size, std::uint8_t first_code) const {
    return frames() && size == 1 && first_code == tape_mark_code;
  }

 private:
  enum class Count : std::uint8_t { le32, be32, le16, none };  // how counts are written

  Format format_;
  Parity parity_;
  Count count_;
  bool pad_;  // odd-length data is padded
};

}  // namespace reel::tape_image
