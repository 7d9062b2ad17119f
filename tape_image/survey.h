// A survey of a tape image: every tape mark and record with its byte offset, in one pass, and
// exactly how the image ends or where its framing breaks.
//
// The walk reads only the byte counts and as many data bytes of each record as it is asked to
// show; the rest of the data it passes over, by seeking where the source can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "tape_image/framing.h"
#include "tape_image/source.h"

namespace reelprint::tape_image {

// Records read whole, each with its trailing count equal to its leading one: a run of `count`
// records of one size, one right after another (only ever one when data bytes are asked for).
struct SurveyRecord {
  std::uint64_t file;    // their tape file, from 1
  std::uint64_t number;  // the number of the first in that tape file, from 1
  std::uint64_t offset;  // of the first one's leading count
  std::uint32_t size;    // data bytes of each
  std::uint64_t count;   // records in the run
  std::span<const std::uint8_t> first;  // the first data bytes, as many as asked for or all
};

// Hears the items of a walk as they are read whole.
class SurveyListener {
 public:
  virtual ~SurveyListener() = default;
  // A run of records read whole.
  virtual void records(const SurveyRecord& run) = 0;
  // A tape mark at `offset`; it ends tape file `file`.
  virtual void tape_mark(std::uint64_t file, std::uint64_t offset) = 0;
};

// What there is where a walk ends.
enum class EndKind {
  empty,           // the image has no byte at all
  after_tape_mark,
  after_record,    // the last item is a record: no tape mark ends its tape file
  stray_bytes,     // 1 to 3 bytes where a count should begin
  end_of_medium,   // simh's end-of-medium marker: a count of FF FF FF FF
  in_data,         // the image ends inside a record's data
  before_pad,      // the image ends after odd-length data, where its pad byte should be
  in_trailer,      // the image ends before or inside a record's trailing count
  unequal_counts,  // a record's trailing count differs from its leading one
  read_error,      // the input failed
};

struct Ending {
  EndKind kind = EndKind::empty;
  // Where the well-framed items end: the end of the image after a tape mark or a record, or
  // else where the stray bytes, the marker or the record that breaks begins.
  std::uint64_t at = 0;
  // Whether the walk ended inside a record (always for in_data, before_pad, in_trailer and
  // unequal_counts); `file`, `record` and `size` then tell which.
  bool in_record = false;
  std::uint64_t file = 0;    // its tape file, from 1
  std::uint64_t record = 0;  // its number in that tape file, from 1
  std::uint32_t size = 0;    // its leading count
  std::uint32_t trailer = 0;  // unequal_counts: its trailing count
  // in_data: the data bytes there are; in_trailer: the bytes of the trailing count there are
  // (0 to 3); stray_bytes: how many; end_of_medium and unequal_counts: the bytes after the
  // marker or the trailing count.
  std::uint64_t bytes = 0;
};

struct Survey {
  std::uint64_t size = 0;  // bytes of the image, or those before a failed read
  Ending ending;           // of the walk in the framing asked for
  // Of the walk in the other framing, when the two walks part: at an odd-length record.
  // Nothing when the image has none, so that both framings read it alike.
  std::optional<Ending> other;
  bool read_failed = false;  // a read failed, at `size`; `read_errno` tells why (0: unknown)
  int read_errno = 0;
};

// The most data bytes a survey can show of each record.
inline constexpr std::size_t most_first_bytes = 64;

// Reads the image from `source` once, walking it in `framing` and, from its first odd-length
// record on, in the other framing side by side. Tells `listener` each item of the walk in
// `framing`, each record with its first `first_bytes` data bytes (at most `most_first_bytes`).
// Returns the image's size and how each walk ended.
Survey survey(InputSource& source, Framing framing, std::size_t first_bytes,
              SurveyListener& listener);

}  // namespace reelprint::tape_image
