// A survey of a tape image: every tape mark, record and erase gap with its byte offset, in one
// pass, and exactly how the image ends or where its framing breaks.
//
// The walk reads the control words that simh images carry besides byte counts (bad records,
// erase gaps, half gaps, the end-of-medium marker). reelprint reads every word as a count, so
// from the first control word on the image is walked a second time as reelprint reads it; and
// for hints, in the other framing from the first odd-length record, and with its counts read
// big-endian. The walks read only the byte counts and as many data bytes of each record as
// they are asked to show; the rest of the data they pass over, by seeking where the source
// can.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "tape_image/control_word.h"
#include "tape_image/framing.h"
#include "tape_image/source.h"

namespace reelprint::reelinfo {

using tape_image::Framing;
using tape_image::InputSource;
using tape_image::kind_of;
using tape_image::WordKind;


// Records read whole, each with its trailing count equal to its leading one: a run of `count`
// records of one size, one right after another (only ever one when data bytes are asked for,
// or when it is bad).
struct SurveyRecord {
  std::uint64_t file;    // their tape file, from 1
  std::uint64_t number;  // the number of the first in that tape file, from 1
  std::uint64_t offset;  // of the first one's leading count
  std::uint32_t size;    // data bytes of each
  std::uint64_t count;   // records in the run
  std::span<const std::uint8_t> first;  // the first data bytes, as many as asked for or all
  bool bad = false;      // a bad record: its counts have bit 31 set
};

// Hears the items of a walk as they are read whole.
class SurveyListener {
 public:
  virtual ~SurveyListener() = default;
  // A run of records read whole.
  virtual void records(const SurveyRecord& run) = 0;
  // A tape mark at `offset`; it ends tape file `file`.
  virtual void tape_mark(std::uint64_t file, std::uint64_t offset) = 0;
  // An erase gap at `offset`, passed over.
  virtual void erase_gap(std::uint64_t /*offset*/) {}
};

// What there is where a walk ends.
enum class EndKind {
  empty,           // the image has no byte at all
  after_tape_mark,
  zero_fill,       // after two tape marks, zero bytes to the end: an image padded, as copied
  after_record,    // the last item is a record: no tape mark ends its tape file
  after_gap,       // the last item is an erase gap
  stray_bytes,     // 1 to 3 bytes where a count should begin
  end_of_medium,   // simh's end-of-medium marker: a count of FF FF FF FF
  half_gap,        // a half gap, past which the walk cannot go on safely
  reserved_word,   // a reserved control word, likewise
  placeholder,     // the word a writer holds a record's count in: stopped before it wrote it
  in_data,         // the image ends inside a record's data
  before_pad,      // the image ends after odd-length data, where its pad byte should be
  in_trailer,      // the image ends before or inside a record's trailing count
  unequal_counts,  // a record's trailing count differs from its leading one
  read_error,      // the input failed
};

struct Ending {
  EndKind kind = EndKind::empty;
  // Where the well-framed items end: the end of the image after a tape mark, a record or a
  // gap, or else where the stray bytes, the control word or the record that breaks begins.
  std::uint64_t at = 0;
  // Whether the walk ended inside a record (always for in_data, before_pad, in_trailer and
  // unequal_counts); `file`, `record`, `size` and `bad` then tell which.
  bool in_record = false;
  // The tape file the walk ended in, from 1: the record's; after a tape mark, the next one.
  std::uint64_t file = 0;
  std::uint64_t record = 0;  // its number in that tape file, from 1
  std::uint32_t size = 0;    // its data bytes
  bool bad = false;          // it is a bad record
  std::uint32_t trailer = 0;  // unequal_counts: its trailing count
  std::uint32_t word = 0;     // half_gap, reserved_word and placeholder: the word
  // in_data: the data bytes there are; in_trailer: the bytes of the trailing count there are
  // (0 to 3); stray_bytes: how many; end_of_medium, half_gap, reserved_word, placeholder and
  // unequal_counts: the bytes after the word or the trailing count; zero_fill: the zero bytes
  // from `at`, where the recorded tape ends, to the end of the image.
  std::uint64_t bytes = 0;
  std::uint64_t records = 0;  // records the walk read whole, in all tape files
};

// The most bytes of the image's start that a survey keeps, to tell what they look like.
inline constexpr std::size_t head_bytes = 16;

struct Survey {
  std::uint64_t size = 0;  // bytes of the image, or those before a failed read
  Ending ending;           // of the walk in the framing asked for, reading control words
  // Of the walk as reelprint reads the image, every word a byte count, from the first control
  // word on but the end-of-medium marker (the word `parted_word` at `parted_at`), where it
  // parts from the walk above; before, the two are one.
  std::optional<Ending> as_listed;
  std::uint64_t parted_at = 0;
  std::uint32_t parted_word = 0;
  // Of the walk in the other framing, when the two walks part: at an odd-length record.
  // Nothing when the image has none, so that both framings read it alike.
  std::optional<Ending> other;
  Ending swapped;  // of a walk of the whole image with its counts read big-endian
  std::array<std::uint8_t, head_bytes> head{};  // the image's first bytes
  std::size_t head_size = 0;                    // how many there are
  bool read_failed = false;  // a read failed, at `size`; `read_errno` tells why (0: unknown)
  int read_errno = 0;
};

// The most data bytes a survey can show of each record.
inline constexpr std::size_t most_first_bytes = 64;

// Reads the image from `source` once, walking it in `framing` and, from its first odd-length
// record on, in the other framing side by side; from its first control word on, as reelprint
// reads it; and from its start with its counts byte-swapped. Tells `listener` each item of the
// walk in `framing`, each record with its first `first_bytes` data bytes (at most
// `most_first_bytes`). Returns the image's size and how each walk ended.
Survey survey(InputSource& source, Framing framing, std::size_t first_bytes,
              SurveyListener& listener);

}  // namespace reelprint::reelinfo
