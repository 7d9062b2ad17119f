// The one walk of a tape image, for every program that reads one: it goes through the items in
// the bytes it is handed (runs of records that lie whole in them, the pieces of a record that
// does not, tape marks, the simh control words), tells a visitor each, and ends with a value
// that says how and where the image ended or broke. It owns no bytes: a driver hands it the
// bytes of a `TapeReader` (load n, consume n), several walks the same ones if need be, and
// passes over those no walk needs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "tape_image/control_word.h"
#include "tape_image/framing.h"
#include "tape_image/reader.h"

namespace reel::tape_image {

// How a walk reads the words where counts stand.
struct Reading {
  Framing framing = Framing::simh;
  bool control_words = false;  // simh's control words are read as such, not as counts
  bool swapped = false;        // counts are big-endian
  // The end-of-medium marker ends the walk, even where other control words are read as counts.
  bool marker_ends = false;
  std::uint8_t count_bytes = 4;  // bytes of a count: 2 in TPC, whose counts are 16 bits
  bool trailer = true;           // a record ends with its count again (not in TPC)
  bool double_marks = false;     // a tape mark may be written as two zero words, taken as one
  // A record whose trailing count differs is taken as a bad record, and the walk goes on after
  // that count, where its leading count says the record ends.
  bool unequal_goes_on = false;
};

// What there is where a walk ends.
enum class EndKind {
  empty,  // the image has no byte at all
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

// How a walk ended: after its last item, or where the image breaks.
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
  std::uint64_t record = 0;   // its number in that tape file, from 1
  std::uint32_t size = 0;     // its data bytes
  bool bad = false;           // it is a bad record
  std::uint32_t trailer = 0;  // unequal_counts: its trailing count
  std::uint32_t word = 0;     // half_gap, reserved_word and placeholder: the word
  // in_data: the data bytes there are; in_trailer: the bytes of the trailing count there are
  // (0 to 3); stray_bytes: how many; end_of_medium, half_gap, reserved_word, placeholder and
  // unequal_counts: the bytes after the word or the trailing count, once the image has been
  // read to its end (`finish`); zero_fill: the zero bytes from `at`, where the recorded tape
  // ends, to the end of the image.
  std::uint64_t bytes = 0;
  std::uint64_t records = 0;  // records the walk read whole, in all tape files
};

// Where an item lies: its tape file and its number there, both from 1, and its first byte.
struct Place {
  std::uint64_t file;
  std::uint64_t record;  // for a record; for anything else, the records before it in the file
  std::uint64_t offset;
};

// A record a piece at a time.
struct Record {
  Place place;
  std::uint32_t size;  // data bytes
  bool bad;            // a bad record: its words have bit 31 set
};

// The records that lie whole at the front of the bytes a walk is handed, for a visitor to take.
class Run {
 public:
  Run(std::span<const std::uint8_t> bytes, Framing framing, Place first, bool stops_at_odd)
      : bytes_(bytes), framing_(framing), first_(first), stops_at_odd_(stops_at_odd) {}

  // Offers them, one by one, to `take(data, size)` as `take_whole_records` does, up to
  // `max_size` data bytes each; the walk goes on after those taken. Called once.
  template <class Take>
  void take(std::uint32_t max_size, Take&& take) {
    std::uint64_t records = 0;
    taken_ = take_whole_records(bytes_, max_size, framing_,
                                [&](const std::uint8_t* data, std::uint32_t size) {
                                  if (!take(data, size)) return false;
                                  ++records;
                                  return true;
                                });
    records_ = records;
  }

  // The tape file and number of the first, and where it begins.
  const Place& first() const { return first_; }
  // Returns the offset of the leading count of the record whose data is at `data`.
  std::uint64_t offset_of(const std::uint8_t* data) const {
    return first_.offset + static_cast<std::uint64_t>(data - 4 - bytes_.data());
  }
  // Whether the walk pauses at the first odd-length record: it must not be taken.
  bool stops_at_odd() const { return stops_at_odd_; }

  std::size_t taken() const { return taken_; }
  std::uint64_t records() const { return records_; }

 private:
  std::span<const std::uint8_t> bytes_;
  Framing framing_;
  Place first_;
  bool stops_at_odd_;
  std::size_t taken_ = 0;
  std::uint64_t records_ = 0;
};

// What a walk tells, and what it asks of, its visitor (a template parameter, so that each
// visitor's calls are compiled into the walk). Every call but `want` returns false to stop the
// walk there.
//   bool records(Run& run)            takes whole records from `run`, if it will;
//   std::uint64_t begin_record(const Record&)
//                                     a record read a piece at a time begins; returns how many
//                                     of its data bytes it wants handed over (the rest are
//                                     passed over), or `stop_walk`;
//   bool piece(std::span<const std::uint8_t> bytes, std::size_t& used)
//                                     the next data bytes of it (at most those still wanted);
//                                     sets how many it used: some, when it was handed at
//                                     least what it wants at once, else perhaps none;
//   std::size_t want(std::uint64_t left)
//                                     how many of the `left` data bytes still wanted it needs
//                                     in one piece (1 to `TapeReader::most_wanted`);
//   bool end_record(const Record&)    the record ended well, its trailing count equal;
//   bool tape_mark(const Place&)      a tape mark, which ends tape file `file`;
//   bool erase_gap(const Place&)      an erase gap, passed over.
inline constexpr std::uint64_t stop_walk = ~std::uint64_t{0};

class Walk {
 public:
  enum class Pause { none, odd_record, control_word };

  // A walk in `reading`; one that pauses where another reading parts from it, if asked: at the
  // first odd-length record (the other framing reads on otherwise) and at the first control
  // word (which a reading of counts alone takes for a count).
  explicit Walk(Reading reading, bool pauses = false)
      : reading_(reading), pause_at_odd_(pauses), pause_at_word_(pauses && reading.control_words) {
    want_ = reading.count_bytes;
  }

  // Returns the offset of the next byte the walk needs, and how many from there it needs at once.
  std::uint64_t next() const { return pos_; }
  std::size_t want() const { return want_; }
  // Returns whether its visitor stopped the walk; whether it has ended (see `ending`) or stopped.
  bool stopped() const { return stopped_; }
  bool done() const { return ended_ || stopped_; }

  // Returns why the walk stands paused, if it does; the word it paused at, and where.
  Pause paused() const { return paused_; }
  std::uint32_t word() const { return word_; }
  std::uint64_t item_at() const { return item_at_; }

  // Returns a copy of this paused walk that does not pause again and goes on in `framing`
  // (paused at an odd-length record) or reading every word as a count (at a control word).
  Walk fork(Framing framing) const;
  // Goes on after a pause, with `visitor`, no longer pausing for that reason.
  template <class V>
  void resume(V& visitor);

  // Walks through `bytes`, which begin at offset `at` of the image, from `next()` on, telling
  // `visitor`. Stops where the bytes end (fewer than `want()` past `next()`), at a pause, or
  // when the walk ends or is stopped.
  template <class V>
  void take(std::span<const std::uint8_t> bytes, std::uint64_t at, V& visitor);

  // Ends the walk at the end of the image, `size` bytes long (a walk already ended counts the
  // bytes after where it ended); or where a read failed.
  void finish(std::uint64_t size);
  void fail();

  // Returns how the walk ended, once it has; where that is at stray bytes, their value read
  // little-endian.
  const Ending& ending() const { return ending_; }
  std::uint32_t stray_value() const { return partial_; }
  // Returns where the walk stands: the tape file and the records read whole in it so far.
  Place place() const { return {file_, record_, item_at_}; }

 private:
  enum class Part { count, data, trailer };  // where in an item the walk is

  template <class V>
  bool take_count(std::uint32_t word, V& visitor);
  template <class V>
  void start_data(V& visitor);
  void to_trailer();
  template <class V>
  bool take_trailer(std::uint32_t recsiz2, V& visitor);
  // Reads the byte count at `p` (`read_len`), in the width and byte order of the reading.
  std::uint32_t read_len(const std::uint8_t* p) const {
    if (reading_.count_bytes == 2) return static_cast<std::uint32_t>(p[0] | p[1] << 8);
    const std::uint32_t count = load_le32(p);
    return reading_.swapped ? __builtin_bswap32(count) : count;
  }
  // Whether whole records may be taken in runs: their counts are simh's own.
  bool whole_runs() const {
    return !reading_.swapped && reading_.count_bytes == 4 && reading_.trailer;
  }
  Record record() const { return {{file_, record_ + 1, item_at_}, size_, bad_}; }
  std::uint64_t data_end() const { return data_at_ + size_; }
  std::uint64_t trailer_at() const { return data_end() + pad_after(size_, reading_.framing); }
  void to_count() {
    part_ = Part::count;
    item_at_ = pos_;
    want_ = reading_.count_bytes;
  }
  void end(EndKind kind, std::uint64_t at);
  void end_in_record(EndKind kind);

  Reading reading_;
  bool pause_at_odd_;
  bool pause_at_word_;
  Pause paused_ = Pause::none;
  std::uint32_t word_ = 0;  // the control word it paused at
  bool ended_ = false;
  bool stopped_ = false;
  Ending ending_;

  std::uint64_t pos_ = 0;  // offset of the next byte needed
  std::size_t want_ = 4;   // bytes needed from there at once
  Part part_ = Part::count;
  std::uint64_t item_at_ = 0;      // where the item being read begins
  std::uint32_t partial_ = 0;      // the bytes of a count cut short, little-endian
  std::uint32_t size_ = 0;         // data bytes of the record being read
  std::uint32_t recsiz_ = 0;       // its leading word (`recsiz`), which its trailing one repeats
  bool bad_ = false;               // it is a bad record
  std::uint64_t data_at_ = 0;      // where its data begins
  std::uint64_t hand_end_ = 0;     // where the data bytes handed to the visitor end
  std::uint64_t file_ = 1;         // the tape file being read
  std::uint64_t record_ = 0;       // records read whole in it
  EndKind last_ = EndKind::empty;  // the ending if the image ended here: after what
  bool mark_half_ = false;         // a tape mark was just read, whose second word may follow
};

// Reads the image `reader` serves with one walk, telling `visitor`, until the walk ends or its
// visitor stops it. Bytes the walk passes over are skipped, by seeking where the input can.
template <class V>
void walk_image(TapeReader& reader, Walk& walk, V& visitor) {
  for (;;) {
    if (!reader.pass_to(walk.next())) {  // the image ends, or fails, before it
      reader.failed() ? walk.fail() : walk.finish(reader.offset());
      return;
    }
    const std::size_t want = walk.want();
    const std::span<const std::uint8_t> bytes = reader.data(want);
    walk.take(bytes, reader.offset(), visitor);
    if (walk.done()) {  // the bytes it took are read, no more
      if (walk.next() - reader.offset() <= bytes.size()) reader.pass_to(walk.next());
      return;
    }
    if (bytes.size() < want && walk.next() == reader.offset() && walk.want() == want) {
      reader.failed() ? walk.fail() : walk.finish(reader.offset() + bytes.size());
      return;
    }
  }
}

// --- The walk's steps, compiled into each visitor's.

template <class V>
void Walk::take(std::span<const std::uint8_t> bytes, std::uint64_t at, V& visitor) {
  const std::uint64_t end = at + bytes.size();
  while (!done() && paused_ == Pause::none && pos_ < end && end - pos_ >= want_) {
    const std::uint8_t* const p = bytes.data() + (pos_ - at);
    const auto avail = static_cast<std::size_t>(end - pos_);
    switch (part_) {
      case Part::count: {
        if (whole_runs()) {
          Run run({p, avail}, reading_.framing, {file_, record_ + 1, pos_}, pause_at_odd_);
          if (!visitor.records(run)) stopped_ = true;
          if (run.taken() > 0) {
            pos_ += run.taken();
            record_ += run.records();
            ending_.records += run.records();
            last_ = EndKind::after_record;
            to_count();
            break;
          }
          if (stopped_) break;
        }
        pos_ += reading_.count_bytes;
        if (!take_count(read_len(p), visitor)) stopped_ = true;
        break;
      }
      case Part::data: {
        const auto part =
            static_cast<std::size_t>(std::min<std::uint64_t>(avail, hand_end_ - pos_));
        std::size_t used = 0;
        if (!visitor.piece(bytes.subspan(pos_ - at, part), used)) {
          stopped_ = true;
          break;
        }
        pos_ += used;
        if (pos_ == hand_end_) {
          pos_ = data_end();  // past the data not wanted
          to_trailer();
        } else {
          want_ = visitor.want(hand_end_ - pos_);
        }
        break;
      }
      case Part::trailer: {
        const std::size_t pad = pad_after(size_, reading_.framing);
        pos_ += want_;
        if (!take_trailer(reading_.trailer ? read_len(p + pad) : recsiz_, visitor)) stopped_ = true;
        break;
      }
    }
  }
  // 1 to 3 bytes where a count should begin: kept, for the ending if the image ends here.
  if (part_ == Part::count && pos_ >= at && pos_ < end && end - pos_ < reading_.count_bytes) {
    partial_ = 0;
    for (std::uint64_t k = pos_; k < end; ++k)
      partial_ |= static_cast<std::uint32_t>(bytes[k - at]) << (8 * (k - pos_));
  }
}

// Acts on the leading word just read: a tape mark, the start of a record, or a control word.
template <class V>
bool Walk::take_count(std::uint32_t word, V& visitor) {
  if (word == 0 && mark_half_) {  // the second word of a tape mark written as two
    mark_half_ = false;
    to_count();
    return true;
  }
  mark_half_ = false;
  if (word == 0) {  // a tape mark ends the tape file
    mark_half_ = reading_.double_marks;
    const Place place{file_, record_, item_at_};
    ++file_;
    record_ = 0;
    last_ = EndKind::after_tape_mark;
    to_count();
    return visitor.tape_mark(place);
  }
  const WordKind kind = kind_of(word);
  if (kind == WordKind::end_of_medium && (reading_.control_words || reading_.marker_ends)) {
    end(EndKind::end_of_medium, item_at_);
    return true;
  }
  if (kind != WordKind::count && reading_.control_words) {
    if (pause_at_word_) {
      pause_at_word_ = false;
      paused_ = Pause::control_word;
      word_ = word;
      return true;
    }
    switch (kind) {
      case WordKind::erase_gap: {
        const Place place{file_, record_, item_at_};
        last_ = EndKind::after_gap;
        to_count();
        return visitor.erase_gap(place);
      }
      case WordKind::half_gap:
      case WordKind::placeholder:
      case WordKind::reserved:
        end(kind == WordKind::half_gap      ? EndKind::half_gap
            : kind == WordKind::placeholder ? EndKind::placeholder
                                            : EndKind::reserved_word,
            item_at_);
        ending_.word = word;
        return true;
      default:  // a bad record: framed as any other, its size in the low bits
        break;
    }
  }
  bad_ = kind == WordKind::bad_record && reading_.control_words;
  size_ = bad_ ? word & ~bad_record_flag : word;
  recsiz_ = word;
  data_at_ = pos_;
  if (pause_at_odd_ && size_ % 2 == 1) {
    pause_at_odd_ = false;
    paused_ = Pause::odd_record;
    return true;
  }
  start_data(visitor);
  return !stopped_;
}

// Sets out on the data of the record whose count was just read.
template <class V>
void Walk::start_data(V& visitor) {
  const std::uint64_t wanted = visitor.begin_record(record());
  if (wanted == stop_walk) {
    stopped_ = true;
    return;
  }
  hand_end_ = data_at_ + std::min<std::uint64_t>(wanted, size_);
  if (hand_end_ == data_at_) {
    pos_ = data_end();
    to_trailer();
  } else {
    part_ = Part::data;
    want_ = visitor.want(hand_end_ - pos_);
  }
}

// Goes on after a record's data: to its pad and trailing count, or, where neither follows, to
// its last data byte, which must be there for the record to be whole.
inline void Walk::to_trailer() {
  part_ = Part::trailer;
  want_ = static_cast<std::size_t>(pad_after(size_, reading_.framing)) +
          (reading_.trailer ? reading_.count_bytes : 0);
  if (want_ > 0) return;
  pos_ = data_end() - 1;
  want_ = 1;
}

// Acts on the trailing count just read: the record ends well, or the walk breaks here.
template <class V>
bool Walk::take_trailer(std::uint32_t recsiz2, V& visitor) {
  if (recsiz2 != recsiz_) {  // a bad record's repeats its flag
    if (!reading_.unequal_goes_on) {
      end_in_record(EndKind::unequal_counts);
      ending_.trailer = recsiz2;
      return true;
    }
    bad_ = true;
  }
  const Record done = record();
  ++record_;
  ++ending_.records;
  last_ = EndKind::after_record;
  to_count();
  return visitor.end_record(done);
}

template <class V>
void Walk::resume(V& visitor) {
  const Pause was = paused_;
  paused_ = Pause::none;
  if (was == Pause::odd_record) start_data(visitor);
  if (was == Pause::control_word && !take_count(word_, visitor)) stopped_ = true;
}

// A visitor that wants nothing but the walk: no data byte, every whole record.
struct PassingVisitor {
  bool records(Run& run) {
    run.take(largest_record, [](const std::uint8_t*, std::uint32_t) { return true; });
    return true;
  }
  std::uint64_t begin_record(const Record&) { return 0; }
  bool piece(std::span<const std::uint8_t>, std::size_t& used) {
    used = 0;
    return true;
  }
  std::size_t want(std::uint64_t) { return 1; }
  bool end_record(const Record&) { return true; }
  bool tape_mark(const Place&) { return true; }
  bool erase_gap(const Place&) { return true; }
};

}  // namespace reel::tape_image
