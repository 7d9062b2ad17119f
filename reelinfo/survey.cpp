#include "reelinfo/survey.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "tape_image/reader.h"

namespace reel::reelinfo {
namespace {

using tape_image::PassingVisitor;
using tape_image::Place;
using tape_image::Reading;
using tape_image::Record;
using tape_image::Run;
using tape_image::Walk;

// Returns whether a record of `size` data bytes, from `data`, is one byte holding code 15, the
// tape mark character (a byte's low six bits are its code).
bool holds_tape_mark_character(std::uint32_t size, const std::uint8_t* data) {
  return size == 1 && (data[0] & 63) == 15;
}

// The visitor of the walk asked for: tells the listener each item, each record with its first
// data bytes. Reading control words, as simh does, two tape marks in a row end the recorded
// tape: those after them are held back, untold, while nothing else follows, so that zero bytes
// up to the end of the image are not taken for tape files.
class Telling {
 public:
  // Zero words after the end of the recorded tape are the image padded, if `fill`: not in a
  // P7B dump, where each is a tape mark written as a frame.
  Telling(SurveyListener& listener, std::size_t first_bytes, bool fill)
      : listener_(listener), first_bytes_(std::min(first_bytes, most_first_bytes)), fill_(fill) {}

  // Records of one size in a row (a card deck) are told as one run, unless their data bytes
  // are shown.
  bool records(Run& run) {
    SurveyRecord told{};  // the run being gathered; none while `count` is 0
    const auto tell = [&] {
      if (told.count > 0) listener_.records(told);
      told.count = 0;
    };
    std::uint64_t number = run.first().record;
    // A whole record lies within the bytes, so no size can be larger; nor can a control word.
    run.take(tape_image::largest_record, [&](const std::uint8_t* data, std::uint32_t size) {
      if (run.stops_at_odd() && size % 2 == 1) return false;
      item_follows();
      const bool mark_character = holds_tape_mark_character(size, data);
      if (first_bytes_ > 0 || size != told.size || mark_character || told.tape_mark_character)
        tell();
      if (told.count == 0) {
        const std::size_t shown = std::min<std::size_t>(first_bytes_, size);
        told = {run.first().file, number, run.offset_of(data), size, 0, {data, shown}};
        told.tape_mark_character = mark_character;
      }
      ++told.count;
      ++number;
      return true;
    });
    tell();
    return true;
  }

  std::uint64_t begin_record(const Record& record) {
    item_follows();
    had_ = 0;
    // The byte of a record of one, to tell whether it is the tape mark character.
    return record.size == 1 ? std::max<std::size_t>(first_bytes_, 1) : first_bytes_;
  }

  bool piece(std::span<const std::uint8_t> bytes, std::size_t& used) {
    std::memcpy(first_.data() + had_, bytes.data(), bytes.size());
    had_ += bytes.size();
    used = bytes.size();
    return true;
  }

  std::size_t want(std::uint64_t) const { return 1; }

  bool end_record(const Record& record) {
    listener_.records({record.place.file,
                       record.place.record,
                       record.place.offset,
                       record.size,
                       1,
                       {first_.data(), std::min(had_, first_bytes_)},
                       record.bad,
                       had_ > 0 && holds_tape_mark_character(record.size, first_.data())});
    return true;
  }

  bool tape_mark(const Place& place) {
    if (++marks_in_row_ > 2) {
      held_.push_back(place);
    } else {
      listener_.tape_mark(place.file, place.offset);
    }
    return true;
  }

  bool erase_gap(const Place& place) {
    item_follows();
    listener_.erase_gap(place.offset);
    return true;
  }

  // Ends the walk in `ending`, of an image `size` bytes long, the value of any stray bytes
  // `stray`: zero words after the end of the
  // recorded tape, and 1 to 3 zero bytes after them, up to the end of the image, are the image
  // padded, as images copied by blocks are; otherwise the tape marks held back are told.
  void end(Ending& ending, std::uint64_t size, std::uint32_t stray) {
    const bool zero_after = ending.kind == EndKind::stray_bytes       ? stray == 0
                            : ending.kind == EndKind::after_tape_mark ? !held_.empty()
                                                                      : false;
    if (fill_ && marks_in_row_ >= 2 && zero_after) {
      // The fill begins after the second tape mark, however long a tape mark is: where the
      // marks held begin, or else the stray bytes.
      const std::uint64_t fill_at = held_.empty() ? ending.at : held_.front().offset;
      ending.kind = EndKind::zero_fill;
      ending.at = fill_at;
      ending.bytes = size - fill_at;
      return;
    }
    item_follows();
  }

 private:
  // Something other than a tape mark follows: the tape marks held back were tape marks.
  void item_follows() {
    for (const Place& place : held_) listener_.tape_mark(place.file, place.offset);
    held_.clear();
    marks_in_row_ = 0;
  }

  SurveyListener& listener_;
  const std::size_t first_bytes_;                       // data bytes of each record to show
  const bool fill_;                                     // zero words at the end may be padding
  std::array<std::uint8_t, most_first_bytes> first_{};  // those of the record being read
  std::size_t had_ = 0;
  std::uint64_t marks_in_row_ = 0;  // tape marks one after another, the last items read
  std::vector<Place> held_;         // of them, those past the first two, not yet told
};

// Returns whether the survey of an image in `asked` walks it from its start in `other` too,
// for hints: any other format with counts but the twin, which parts from the walk asked for
// where the two differ, and 8-byte tape marks, which read as simh reads but for tape marks (nor
// simh where they are asked for).
bool walked_for_hints(Format asked, Format other) {
  if (asked == Format::p7b || other == asked || other == Format::p7b) return false;
  if (other == Format::simh_tm8 || (asked == Format::simh_tm8 && other == Format::simh))
    return false;
  return other != twin_of(asked);
}

// Counts into `look` the frames of `bytes`, which begin `at` bytes into the image.
void look_as_dump(DumpLook& look, std::span<const std::uint8_t> bytes, std::uint64_t at) {
  if (at == 0 && !bytes.empty()) look.first_start = (bytes[0] & 0x80) != 0;
  for (const std::uint8_t byte : bytes) {
    // A tape mark (or the closing record start) is read whatever its parity bit.
    if ((byte | 0x40) == 0xCF) continue;
    unsigned ones = byte & 0x7F;  // the parity of bits 0-6, folded down to bit 0
    ones ^= ones >> 4;
    ones ^= ones >> 2;
    ones ^= ones >> 1;
    look.even += (ones & 1) == 0 ? 1 : 0;
    ++look.frames;
  }
}

// Returns the reading of the walks of a survey in `format`: the end-of-medium marker ends each.
Reading reading_in(Format format) {
  Reading reading = tape_image::reading_of(format);
  reading.marker_ends = true;
  return reading;
}

}  // namespace

std::optional<Format> twin_of(Format format) {
  switch (format) {
    case Format::simh:
      return Format::e11;
    case Format::e11:
      return Format::simh;
    case Format::tpc:
      return Format::tpc_nopad;
    case Format::tpc_nopad:
      return Format::tpc;
    default:
      return std::nullopt;
  }
}

Survey survey(InputSource& source, Format format, std::size_t first_bytes,
              SurveyListener& listener) {
  tape_image::TapeReader reader(source);
  Survey result;
  const std::span<const std::uint8_t> head = reader.data(head_bytes);
  result.head_size = std::min(head.size(), head_bytes);
  std::memcpy(result.head.data(), head.data(), result.head_size);

  // The walk asked for, the only one that pauses and tells the listener, comes first; the
  // others part from it where it pauses. Every one ends at the end-of-medium marker.
  Telling telling(listener, first_bytes, format != Format::p7b);
  PassingVisitor passing;
  std::vector<Walk> walks;
  walks.reserve(2 + format_count);
  walks.emplace_back(reading_in(format), true);
  // Where in `walks` the walk from the start in each format stands, if any.
  std::array<std::size_t, format_count> walk_as{};
  for (const Format other : tape_image::all_formats()) {
    if (!walked_for_hints(format, other)) continue;
    walk_as[static_cast<std::size_t>(other)] = walks.size();
    walks.emplace_back(reading_in(other));
  }
  // Hint walks given up, a bit each: past the image's head, those that check nothing as they go.
  std::uint32_t given_up = 0;
  const auto active = [&](std::size_t k) { return !walks[k].done() && (given_up >> k & 1) == 0; };
  const std::optional<Format> twin = twin_of(format);
  std::size_t as_listed = 0;  // where in `walks` the walk as reelprint reads stands, if any
  std::size_t other = 0;      // likewise the walk in the twin
  // Walks `walk`, the one at `k`, through `bytes` at `at`; parts the others from the first.
  const auto take = [&](std::size_t k, std::span<const std::uint8_t> bytes, std::uint64_t at) {
    if (k != 0) return walks[k].take(bytes, at, passing);
    for (;;) {
      walks[0].take(bytes, at, telling);
      const Walk::Pause pause = walks[0].paused();
      if (pause == Walk::Pause::none) return;
      const bool at_word = pause == Walk::Pause::control_word;
      // A reading that parts here, if any: reelprint's, or the twin's.
      const bool parts = at_word ? reelprint_reads(format) : twin.has_value();
      if (parts) {
        if (at_word) {
          as_listed = walks.size();
          result.parted_at = walks[0].item_at();
          result.parted_word = walks[0].word();
        } else {
          other = walks.size();
        }
        const Framing framing = tape_image::reading_of(at_word ? format : *twin).framing;
        walks.push_back(walks[0].fork(framing));
        walks.back().resume(passing);
        walks.back().take(bytes, at, passing);
      }
      walks[0].resume(telling);
    }
  };
  // The image's head is looked at as a P7B dump, for a hint, from `look_at` on, up to
  // `hint_head`; not a dump's own simh form.
  std::uint64_t look_at = format == Format::p7b ? hint_head : 0;
  for (;;) {
    // A walk with no trailing counts (TPC) reads any bytes as counts, every byte of them: one
    // from the start is tried on the image's head only, and given up past it.
    for (std::size_t k = 0; k < format_count; ++k) {
      const std::size_t at = walk_as[k];
      if (at != 0 && active(at) && !tape_image::reading_of(static_cast<Format>(k)).trailer &&
          walks[at].next() >= hint_head)
        given_up |= std::uint32_t{1} << at;
    }
    // On to the next byte a walk needs, passing over the bytes before it.
    std::uint64_t need = std::numeric_limits<std::uint64_t>::max();
    std::size_t want = 0;  // the most that a walk there needs at once
    for (std::size_t k = 0; k < walks.size(); ++k) {
      const Walk& walk = walks[k];
      if (!active(k) || walk.next() > need) continue;
      if (walk.next() < need) want = 0;
      need = walk.next();
      want = std::max(want, walk.want());
    }
    if (look_at < hint_head && look_at <= need) {
      if (look_at < need) want = 0;
      need = look_at;
      want = std::max<std::size_t>(want, 1);
    }
    if (need == std::numeric_limits<std::uint64_t>::max()) break;  // every walk has ended
    const bool there = reader.pass_to(need);
    const std::span<const std::uint8_t> bytes =
        there ? reader.data(want) : std::span<const std::uint8_t>{};
    if (look_at < hint_head && look_at < reader.offset() + bytes.size()) {
      const auto from = static_cast<std::size_t>(look_at - reader.offset());
      const auto to = static_cast<std::size_t>(
          std::min<std::uint64_t>(bytes.size(), hint_head - reader.offset()));
      look_as_dump(result.dump_look, bytes.subspan(from, to - from), look_at);
      look_at = reader.offset() + to;
    }
    for (std::size_t k = 0; k < walks.size(); ++k)
      if (active(k)) take(k, bytes, reader.offset());
    if (!there || bytes.size() < want) {  // the image has ended, or a read failed
      const std::uint64_t end = reader.offset() + bytes.size();
      for (std::size_t k = 0; k < walks.size(); ++k)
        if (active(k)) reader.failed() ? walks[k].fail() : walks[k].finish(end);
      break;
    }
  }
  // On to the end, for the image's size.
  reader.skip(std::numeric_limits<std::uint64_t>::max());
  result.size = reader.offset();
  result.read_failed = reader.failed();
  result.read_errno = reader.error();
  for (std::size_t k = 0; k < walks.size(); ++k)
    if ((given_up >> k & 1) == 0) walks[k].finish(result.size);
  result.ending = walks[0].ending();
  telling.end(result.ending, result.size, walks[0].stray_value());
  for (std::size_t k = 0; k < format_count; ++k) {
    if (walk_as[k] == 0) continue;
    result.walked_as[k] = walks[walk_as[k]].ending();
    result.head_only[k] = (given_up >> walk_as[k] & 1) != 0;
  }
  if (as_listed != 0) result.as_listed = walks[as_listed].ending();
  if (other != 0) result.other = walks[other].ending();
  return result;
}

}  // namespace reel::reelinfo
