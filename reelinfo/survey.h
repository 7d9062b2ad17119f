// A survey of a tape image: every tape mark, record and erase gap with its byte offset, in one
// pass, and exactly how the image ends or where its framing breaks.
//
// The walk reads the image in the format asked for, with the control words that simh images
// carry besides byte counts (bad records, erase gaps, half gaps, the end-of-medium marker, the
// placeholder a stopped writer leaves). reelprint reads every word as a count, so from the first
// control word on, an image in a format reelprint reads (simh, E11) is walked a second time as
// reelprint reads it; and for hints, in the other framing from the first odd-length record, and
// from its start in the other formats with counts. The walks read only the byte counts and as
// many data bytes of each record as they are asked to show; the rest of the data they pass over,
// by seeking where the source can.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "tape_image/control_word.h"
#include "tape_image/format.h"
#include "tape_image/framing.h"
#include "tape_image/source.h"
#include "tape_image/walk.h"

namespace reel::reelinfo {

using tape_image::Ending;
using tape_image::EndKind;
using tape_image::Format;
using tape_image::Framing;
using tape_image::InputSource;
using tape_image::kind_of;
using tape_image::WordKind;

// Records read whole, each with its trailing count equal to its leading one: a run of `count`
// records of one size, one right after another (only ever one when data bytes are asked for,
// or when it is bad).
struct SurveyRecord {
  std::uint64_t file;                   // their tape file, from 1
  std::uint64_t number;                 // the number of the first in that tape file, from 1
  std::uint64_t offset;                 // of the first one's leading count
  std::uint32_t size;                   // data bytes of each
  std::uint64_t count;                  // records in the run
  std::span<const std::uint8_t> first;  // the first data bytes, as many as asked for or all
  bool bad = false;                     // a bad record: its counts have bit 31 set
  // A record of one byte holding code 15, the tape mark character: a record all the same (a
  // diagnostics tape ends with one), told alone, whatever data bytes are asked for.
  bool tape_mark_character = false;
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

// What the image's head (its first `hint_head` bytes) looks like read as a P7B dump, a byte a
// tape frame: whether its first byte has bit 7 set, as a dump's first frame has, and how many
// frames (but tape marks) there are and how many of them (bits 0-6) have an even number of ones.
struct DumpLook {
  bool first_start = false;
  std::uint64_t frames = 0;
  std::uint64_t even = 0;
};

// The most bytes of the image's start that a survey keeps, to tell what they look like.
inline constexpr std::size_t head_bytes = 16;

// The formats there are, for a place for each.
inline constexpr std::size_t format_count = 7;

// Returns whether reelprint reads images in `format`: simh, and E11 with -e.
inline bool reelprint_reads(Format format) {
  return format == Format::simh || format == Format::e11;
}

// Returns the format that reads as `format` does but in the other framing (simh and E11, TPC
// padded or not), if there is one.
std::optional<Format> twin_of(Format format);

struct Survey {
  std::uint64_t size = 0;  // bytes of the image, or those before a failed read
  Ending ending;           // of the walk in the format asked for, reading control words
  // Of the walk as reelprint reads the image, every word a byte count, from the first control
  // word on but the end-of-medium marker (the word `parted_word` at `parted_at`), where it
  // parts from the walk above; before, the two are one.
  std::optional<Ending> as_listed;
  std::uint64_t parted_at = 0;
  std::uint32_t parted_word = 0;
  // Of the walk in the format's twin (`twin_of`), when the two walks part: at an odd-length
  // record. Nothing when the image has none, so that both read it alike, or there is no twin.
  std::optional<Ending> other;
  // Of the walks of the whole image in the other formats with counts, for hints, each at its
  // format's place: all but the format asked, its twin, 8-byte tape marks (read as simh reads
  // but for tape marks) and P7B.
  std::array<std::optional<Ending>, format_count> walked_as{};
  // Of those, each given up past the image's head (`hint_head`) with no break in it: in a format
  // with no trailing counts, whose walk checks nothing as it goes (TPC). Its ending is where it
  // stood, its records those it read.
  std::array<bool, format_count> head_only{};
  DumpLook dump_look;  // of the image's head, but of one read as a P7B dump
  std::array<std::uint8_t, head_bytes> head{};  // the image's first bytes
  std::size_t head_size = 0;                    // how many there are
  bool read_failed = false;  // a read failed, at `size`; `read_errno` tells why (0: unknown)
  int read_errno = 0;
};

// The bytes of the image's start on which a walk for hints that checks nothing as it goes is
// tried.
inline constexpr std::uint64_t hint_head = 64 * 1024;

// The most data bytes a survey can show of each record.
inline constexpr std::size_t most_first_bytes = 64;

// Reads the image from `source` once, walking it in `format` (P7B: in the simh form `source`
// serves) and, from its first odd-length record on, in its twin side by side; from its first
// control word on, as reelprint reads it, if it reads the format; and from its start in the
// other formats with counts. Tells `listener` each item of the walk in `format`, each record
// with its first `first_bytes` data bytes (at most `most_first_bytes`). Returns the image's size
// and how each walk ended.
Survey survey(InputSource& source, Format format, std::size_t first_bytes,
              SurveyListener& listener);

}  // namespace reel::reelinfo
