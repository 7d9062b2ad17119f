#include "reeltext/to_image.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "bcd/dispatch.h"
#include "common/status.h"
#include "reeltext/messages.h"
#include "reeltext/words.h"
#include "tape_image/control_word.h"
#include "tape_image/framer.h"

namespace reel::reeltext {
namespace {

using tape_image::Framing;
using tape_image::TapeReader;

// Bytes loaded at once before a block is scanned: the block, and the byte after it, which
// tells whether a carriage return at its end comes before a newline.
constexpr std::size_t ahead = bcd::text_block + 1;
static_assert(ahead <= TapeReader::most_wanted);
static_assert(TapeReader::readable_past_end >= bcd::text_block);
// Output room kept past the bytes written before a block is scanned: the block's codes, and
// for each of its newlines a pad byte, a trailing count and the next record's leading count,
// and the codes written past the last.
constexpr std::size_t slack = bcd::text_block * (1 + 9) + bcd::text_block;
// The longest line that may still be a line of words, blanks around them included.
constexpr std::size_t longest_words = 64;

// Returns the bits of bytes 0 to `n` - 1 of a block, `n` at most 64.
inline std::uint64_t below(std::size_t n) {
  return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// A line that holds a byte of no character, and may be a line of words ("tape mark"): its
// bytes from that one on, gathered until its newline.
struct WordsLine {
  bool open = false;
  std::uint8_t first_other = 0;  // the byte of no character, refused if the line is no words
  std::uint64_t column = 0;      // its column
  std::size_t before = 0;        // the blanks before it
  std::array<char, longest_words> text{};
  std::size_t size = 0;
};

// The run over one text, compiled for the scanning kernel `K`: entered once.
//
// The record of the line being read starts with its leading count, whose bytes are kept free
// until the line ends. While the record is in the output room the run fills the count in
// itself; once a long line outgrows the room, the record is handed to the writer, which holds
// it until it ends. Every count, pad, trailer and mark is the format's, as its Framer writes
// it. In a P7B dump a record has no count: its codes become frames where they lie when the
// line ends, or as they leave the room, and its first frame is its header.
template <bcd::Kernel K>
class Builder {
 public:
  Builder(const Options& options, std::string_view input_name, TapeReader& reader,
          RecordWriter& out, OutputSink& err, const K& kernel)
      : options_(options),
        input_name_(input_name),
        reader_(reader),
        out_(out),
        err_(err),
        kernel_(kernel),
        framer_(options.format, options.parity),
        count_room_(framer_.count_bytes()),
        room_at_once_(out.buffer_size() / 2) {}

  int build();

 private:
  // Where the run stands in the output room.
  struct Room {
    char* p;            // where the next code goes
    char* open;         // the leading count of the line's record, or nullptr once the writer
                        // holds the record
    const char* limit;  // a block is scanned at no later place
  };

  int build_records();
  bool end_line(Room& room, std::uint64_t n);
  bool end_frames(Room& room, std::uint64_t n, bool bad);
  void frame_codes(const char* to);
  bool may_begin(Room& room, bool record);
  bool uncarried(const Room& room, Item item);
  bool put_word(Room& room, std::uint32_t word);
  bool take_words(Room& room, const WordsLine& line);
  bool start_words(Room& room, const std::uint8_t* bytes, std::size_t from, std::size_t at,
                   std::size_t to, std::uint64_t length);
  bool gather_words(const std::uint8_t* bytes, std::size_t n);
  bool pad_to_width(Room& room, std::uint64_t length);
  bool more_room(Room& room, std::uint64_t length);
  std::uint64_t longest() const;
  void discard(const Room& room);
  int fail(const Room& room, const std::string& what);
  int too_long(const Room& room);
  int refuse(const Room& room, std::uint8_t byte, std::uint64_t column);

  const Options& options_;
  const std::string_view input_name_;
  TapeReader& reader_;
  RecordWriter& out_;
  OutputSink& err_;
  const K kernel_;
  const tape_image::Framer framer_;
  const std::size_t count_room_;  // the bytes kept free before a record's codes for its count
  const std::size_t room_at_once_;
  std::uint64_t line_ = 1;          // the number of the line being read
  std::uint64_t offset_ = 0;        // of the next byte of the text not yet taken
  WordsLine words_;                 // the line of words being gathered, if one is
  std::uint64_t bad_line_ = 0;      // the line that says the next is a bad record's, if any
  std::uint64_t medium_ended_ = 0;  // the line of the end-of-medium marker, if any
  int status_ = status_ok;          // of the failure that a call returning false met
  // P7B, a record handed to the writer: its first code, the first of its codes in the room not
  // yet a frame, and its codes 0 under even parity so far.
  std::uint8_t first_code_ = 0;
  char* unframed_ = nullptr;
  std::uint64_t record_zeros_ = 0;
  std::uint64_t zeros_ = 0;  // codes 0 written to an even-parity dump, which it cannot carry
};

// Builds the image, then ends a dump with its closing record start after the last whole record,
// whatever stopped the run, and says how many codes 0 went to an even-parity dump.
template <bcd::Kernel K>
int Builder<K>::build() {
  const int status = build_records();
  if (!framer_.frames()) return status;
  char* const p = out_.room(1);
  out_.commit(p + framer_.put_closing(p));
  if (zeros_ != 0)
    say(err_, input_name_,
        tape_image::count_of(zeros_, "frame") +
            " of code 0 written to an even-parity dump, which no tape in BCD mode can carry (a "
            "1401 tape holds the blank as code 16)",
        status_ok);
  return status;
}

template <bcd::Kernel K>
int Builder<K>::build_records() {
  // Copies of their own, which the compiler can see no store reach, stay in registers.
  const K kernel = kernel_;
  Room room{out_.room(room_at_once_), nullptr, out_.room_end() - slack};
  room.open = room.p;
  room.p += count_room_;
  std::uint64_t length = 0;  // the characters of the line so far

  // An editor may begin the text with a byte-order mark; it is no character.
  if (const std::span<const std::uint8_t> start = reader_.data(3);
      start.size() >= 3 && start[0] == 0xEF && start[1] == 0xBB && start[2] == 0xBF) {
    reader_.consume(3);
    offset_ = 3;
  }

  // Ends the line of `n` codes that end at `room.p`, and begins the next.
  const auto next_line = [&](std::uint64_t n) {
    if (!end_line(room, n)) return false;
    length = 0;
    ++line_;
    return true;
  };

  // Takes the block of `valid` bytes at `pos`, the next of the text: each piece of a line in
  // it, from `from` to the next newline or to the block's end. The block is scanned once, its
  // codes written where its first piece goes; the pieces after a newline are translated where
  // they go. Blocks come one after another: where one is read does not wait for where the lines
  // before it ended. Returns false on a failure.
  const std::uint8_t* pos = nullptr;
  const std::uint8_t* stop = nullptr;
  const auto take_block = [&](std::size_t valid) {
    const std::uint64_t in = below(valid);
    const bcd::TextScan scan = kernel.scan_text(pos, reinterpret_cast<std::uint8_t*>(room.p));
    std::uint64_t newlines = scan.newlines & in;
    const std::uint64_t others = scan.others & in;
    std::size_t from = 0;
    if (words_.open) [[unlikely]] {  // a line of words goes on from the block before
      const std::size_t to =
          newlines != 0 ? static_cast<std::size_t>(std::countr_zero(newlines)) : valid;
      if (!gather_words(pos, to)) {
        status_ = refuse(room, words_.first_other, words_.column);
        return false;
      }
      if (newlines == 0) return true;
      if (!take_words(room, words_)) return false;
      length = 0;
      ++line_;
      from = to + 1;
      newlines &= newlines - 1;
    }
    if ((others & ~below(from)) == 0) [[likely]] {
      for (; newlines != 0; newlines &= newlines - 1) {
        const auto to = static_cast<std::size_t>(std::countr_zero(newlines));
        if (from != 0) kernel.encode_text(pos + from, reinterpret_cast<std::uint8_t*>(room.p));
        room.p += to - from;
        if (!next_line(length + (to - from))) return false;
        from = to + 1;
      }
      if (from != 0) kernel.encode_text(pos + from, reinterpret_cast<std::uint8_t*>(room.p));
      room.p += valid - from;
      length += valid - from;
      return true;
    }
    // The same, each piece checked for bytes that are no characters.
    for (;;) {
      const bool ends = newlines != 0;
      const std::size_t to = ends ? static_cast<std::size_t>(std::countr_zero(newlines)) : valid;
      std::size_t end = to;
      if ((others & below(to) & ~below(from)) != 0) {
        // A carriage return before a newline is dropped; another byte of no character may
        // begin a line of words, and is refused if it does not.
        const auto k = static_cast<std::size_t>(std::countr_zero(others & ~below(from)));
        if (pos[k] != '\r' || static_cast<std::size_t>(stop - pos) <= k + 1 || pos[k + 1] != '\n') {
          if (!start_words(room, pos, from, k, to, length)) return false;
          if (!ends) return true;
          if (!take_words(room, words_)) return false;
          length = 0;
          ++line_;
          from = to + 1;
          newlines &= newlines - 1;
          continue;
        }
        end = k;  // the last byte of the piece
      }
      if (from != 0) kernel.encode_text(pos + from, reinterpret_cast<std::uint8_t*>(room.p));
      room.p += end - from;
      length += end - from;
      if (!ends) return true;
      if (!next_line(length)) return false;
      from = to + 1;
      newlines &= newlines - 1;
    }
  };

  for (bool more = true; more;) {
    const std::span<const std::uint8_t> bytes = reader_.data(ahead);
    more = bytes.size() >= ahead;  // else the text has ended, or its reading failed
    pos = bytes.data();
    stop = pos + bytes.size();
    // Whole blocks while the byte after each is loaded; at the end of the text, the rest.
    while (static_cast<std::size_t>(stop - pos) > bcd::text_block) {
      if (room.p > room.limit && !more_room(room, length)) [[unlikely]]
        return status_;
      if (!take_block(bcd::text_block)) return status_;
      pos += bcd::text_block;
    }
    while (!more && pos != stop) {
      if (room.p > room.limit && !more_room(room, length)) return status_;
      const auto valid =
          std::min<std::size_t>(bcd::text_block, static_cast<std::size_t>(stop - pos));
      if (!take_block(valid)) return status_;
      pos += valid;
    }
    const auto taken = static_cast<std::size_t>(pos - bytes.data());
    reader_.consume(taken);
    offset_ += taken;
  }
  if (reader_.failed()) {
    discard(room);
    return say_read_failed(err_, input_name_, offset_ + reader_.loaded().size(), errno);
  }
  // A last line without a newline is a line too.
  if (words_.open) {
    if (!take_words(room, words_)) return status_;
  } else if (length != 0 && !end_line(room, length)) {
    return status_;
  }
  if (bad_line_ != 0 && !may_begin(room, false)) return status_;  // its record's line never came
  discard(room);  // the record begun for a line that never came
  return out_.error() == 0 ? status_ok : status_write_failed;
}

// Returns the most characters the line being read may have.
template <bcd::Kernel K>
std::uint64_t Builder<K>::longest() const {
  return framer_.largest(bad_line_ != 0);
}

// Ends the record of the line of `n` codes, which end at `room.p`: padded to the width asked
// for, then its pad byte and trailing count where the format has them; or a tape mark, for an
// empty line without a width. Begins the next line's record. Returns false on a failure.
template <bcd::Kernel K>
bool Builder<K>::end_line(Room& room, std::uint64_t n) {
  // Padded to the width, it may still be too long for a bad record.
  if (std::max<std::uint64_t>(n, options_.width) > longest()) [[unlikely]] {
    status_ = too_long(room);
    return false;
  }
  if (n == 0 && options_.width == 0) return put_word(room, 0);  // as texts have always had it
  if (n < options_.width) [[unlikely]] {
    if (!pad_to_width(room, n)) return false;
    n = options_.width;
  }
  if (medium_ended_ != 0 && !may_begin(room, true)) [[unlikely]]
    return false;
  const bool bad = bad_line_ != 0;
  bad_line_ = 0;
  if (framer_.frames()) [[unlikely]]
    return end_frames(room, n, bad);
  auto size = static_cast<std::uint32_t>(n);
  if (bad) size |= tape_image::bad_record_flag;
  if (framer_.pad_after(n) != 0) *room.p++ = 0;
  if (framer_.trailer()) room.p += framer_.put_count(size, room.p);
  if (room.open != nullptr) [[likely]] {
    framer_.put_count(size, room.open);
  } else {
    char count[4];
    framer_.put_count(size, count);
    out_.end(room.p, count);
  }
  room.open = room.p;
  room.p += count_room_;
  return true;
}

// Ends the P7B record of the line of `n` codes, which end at `room.p`, bad or not as `bad`
// says: its codes become frames, the first with the record's start bit. Refuses a line that
// would read back as a tape mark. Returns false on a failure.
template <bcd::Kernel K>
[[gnu::noinline]] bool Builder<K>::end_frames(Room& room, std::uint64_t n, bool bad) {
  if (room.open != nullptr) {
    auto* const codes = reinterpret_cast<std::uint8_t*>(room.open);
    if (framer_.reads_as_tape_mark(n, codes[0])) {
      status_ = fail(room, "line " + std::to_string(line_) + " is '" +
                               std::string(1, bcd::table_of(options_.arrangement)[codes[0]]) +
                               "' alone, code 15, which a P7B dump reads as a tape mark");
      return false;
    }
    const std::uint8_t first = codes[0];
    zeros_ += tape_image::put_frames(codes, n, codes, framer_.parity(), false);
    codes[0] = framer_.first_frame(first, bad);
  } else {
    frame_codes(room.p);
    const char header[4] = {static_cast<char>(framer_.first_frame(first_code_, bad))};
    out_.end(room.p, header);
    zeros_ += record_zeros_;
  }
  room.open = room.p;
  return true;
}

// Makes frames of the codes of a P7B record handed to the writer, from the first not yet one
// up to `to`.
template <bcd::Kernel K>
void Builder<K>::frame_codes(const char* to) {
  auto* const from = reinterpret_cast<std::uint8_t*>(unframed_);
  record_zeros_ += tape_image::put_frames(from, static_cast<std::size_t>(to - unframed_), from,
                                          framer_.parity(), false);
}

// Returns whether an item may begin at the line being read: none after the end-of-medium
// marker, and a record's line (`record`) alone after a line that says the next is a bad
// record's. Returns false on a failure.
template <bcd::Kernel K>
[[gnu::noinline]] bool Builder<K>::may_begin(Room& room, bool record) {
  if (medium_ended_ != 0) {
    status_ = fail(room, "line " + std::to_string(line_) + " follows the end of the medium (line " +
                             std::to_string(medium_ended_) + ")");
    return false;
  }
  if (!record && bad_line_ != 0) {
    status_ = fail(room, "line " + std::to_string(bad_line_) +
                             " says 'bad record', but no record's line follows it");
    return false;
  }
  return true;
}

// Writes what `word` stands for (0 a tape mark, an erase gap, the end-of-medium marker) where
// the record of the line being read would begin, the line holding no codes; begins the next
// line's record after it. Returns false on a failure.
template <bcd::Kernel K>
bool Builder<K>::put_word(Room& room, std::uint32_t word) {
  if (!may_begin(room, false)) return false;
  if (word == tape_image::end_of_medium_word) medium_ended_ = line_;
  room.open += word == 0 ? framer_.put_tape_mark(room.open) : framer_.put_count(word, room.open);
  room.p = room.open + count_room_;
  return true;
}

// Takes the line of words `line`, gathered whole: what it says, or else a refusal of its byte
// of no character. Returns false on a failure.
template <bcd::Kernel K>
[[gnu::noinline]] bool Builder<K>::take_words(Room& room, const WordsLine& line) {
  words_.open = false;
  const std::optional<Item> item = item_of_words({line.text.data(), line.size});
  if (!item) {
    status_ = refuse(room, line.first_other, line.column);
    return false;
  }
  room.p = room.open + count_room_;  // no code of the blanks before the words
  switch (*item) {
    case Item::bad_record:
      if (!framer_.carries_bad()) return uncarried(room, *item);
      if (!may_begin(room, false)) return false;
      bad_line_ = line_;
      return true;
    case Item::tape_mark:
      return put_word(room, 0);
    case Item::erase_gap:
      if (!framer_.carries_gaps()) return uncarried(room, *item);
      return put_word(room, tape_image::erase_gap_word);
    case Item::end_of_medium:
      if (!framer_.carries_gaps()) return uncarried(room, *item);
      return put_word(room, tape_image::end_of_medium_word);
  }
  return true;
}

// Refuses the line of words of `item`, which the format written cannot carry; returns false.
template <bcd::Kernel K>
[[gnu::noinline]] bool Builder<K>::uncarried(const Room& room, Item item) {
  // Only TPC and P7B carry less than simh; a dump refuses bad records without parity alone.
  const bool dump = framer_.frames();
  std::string why;
  if (item != Item::bad_record)
    why = std::string(dump ? "P7B" : "TPC") + " cannot carry (it has no control words)";
  else
    why = dump ? "a dump without parity cannot mark" : "TPC cannot mark (its counts have no flag)";
  status_ = fail(room, "line " + std::to_string(line_) + " says '" + std::string(words_of(item)) +
                           "', which " + why);
  return false;
}

// Starts a line of words at byte `at` of the block at `bytes`, the first of no character in the
// piece of the line from `from` to `to`, after `length` codes of the line in the blocks before;
// takes the piece's bytes from `at` on. Refuses the byte when the line can't be one of words:
// there are codes other than blanks before it, or it is too long. Returns false on a failure.
template <bcd::Kernel K>
[[gnu::noinline]] bool Builder<K>::start_words(Room& room, const std::uint8_t* bytes,
                                               std::size_t from, std::size_t at, std::size_t to,
                                               std::uint64_t length) {
  const std::uint64_t column = length + (at - from) + 1;
  const std::size_t before =
      static_cast<std::size_t>(std::min<std::uint64_t>(column - 1, longest_words));
  // A record handed to the writer has no leading count in the room (`room.open` is null): its
  // line is too long for words, and there are no codes of it here to look at.
  bool blanks = column - 1 < longest_words && room.open != nullptr;
  if (blanks) {
    for (const char* code = room.open + count_room_; blanks && code != room.p; ++code)
      blanks = *code == static_cast<char>(bcd::blank_code);
  }
  for (std::size_t k = from; blanks && k < at; ++k) blanks = bytes[k] == ' ';
  words_ = {true, bytes[at], column, before, {}, 0};
  if (!blanks || !gather_words(bytes + at, to - at)) {
    status_ = refuse(room, bytes[at], column);
    return false;
  }
  return true;
}

// Adds the `n` bytes at `bytes` to the line of words; returns false if it grows too long.
template <bcd::Kernel K>
bool Builder<K>::gather_words(const std::uint8_t* bytes, std::size_t n) {
  if (n > longest_words - words_.before - words_.size) return false;
  std::memcpy(words_.text.data() + words_.size, bytes, n);
  words_.size += n;
  return true;
}

// Writes blanks after the `length` codes that end at `room.p` up to the width; returns false
// on a failure.
template <bcd::Kernel K>
bool Builder<K>::pad_to_width(Room& room, std::uint64_t length) {
  std::uint64_t left = options_.width - length;
  while (left != 0) {
    if (room.p >= room.limit && !more_room(room, length)) return false;
    const auto n = static_cast<std::size_t>(
        std::min<std::uint64_t>(left, static_cast<std::size_t>(room.limit - room.p)));
    std::memset(room.p, bcd::blank_code, n);
    room.p += n;
    left -= n;
  }
  return true;
}

// Takes what is written up to `room.p`, in a line of `length` codes so far, as output and
// moves `room` to new room. A short line moves along with it, so that it may still turn out to
// be a line of words; a long one is handed to the writer. Returns false on a failure.
template <bcd::Kernel K>
bool Builder<K>::more_room(Room& room, std::uint64_t length) {
  if (length > longest()) {
    status_ = too_long(room);
    return false;
  }
  if (room.open != nullptr &&
      static_cast<std::size_t>(room.p - room.open) <= count_room_ + longest_words) {
    // The bytes stay where they are while the writer writes out those before them.
    const char* const line = room.open;
    const auto kept = static_cast<std::size_t>(room.p - room.open);
    out_.commit(room.open);
    room.open = out_.room(room_at_once_);
    std::memmove(room.open, line, kept);
    room.p = room.open + kept;
  } else {
    if (room.open != nullptr) {
      char placeholder[RecordWriter::most_header];
      const std::size_t header = framer_.put_placeholder(placeholder);
      if (framer_.frames()) {  // its first code is the header's byte
        first_code_ = static_cast<std::uint8_t>(*room.open);
        unframed_ = room.open;
        record_zeros_ = 0;
      }
      out_.begin(room.open, {placeholder, header});
      room.open = nullptr;
    }
    // Where the placeholder is the largest count, the line's last code waits while the line
    // has as many as that: out, they would stand as a whole record should the line go on.
    const bool hold_last = framer_.placeholder_is_count() && length == longest();
    const char* const out_to = room.p - (hold_last ? 1 : 0);
    if (framer_.frames()) frame_codes(out_to);
    const char last = hold_last ? *out_to : 0;  // read before the room moves
    out_.commit(out_to);
    room.p = out_.room(room_at_once_);
    if (hold_last) *room.p++ = last;
    unframed_ = room.p;
  }
  room.limit = out_.room_end() - slack;
  if (out_.error() != 0) {
    out_.drop();
    status_ = status_write_failed;
    return false;
  }
  return true;
}

// Drops the record of the line being read: the output ends after the last whole record.
template <bcd::Kernel K>
void Builder<K>::discard(const Room& room) {
  if (room.open != nullptr)
    out_.commit(room.open);
  else
    out_.drop();
}

// Says `what` is wrong with the text, after dropping the record of the line being read;
// returns the status.
template <bcd::Kernel K>
[[gnu::noinline]] int Builder<K>::fail(const Room& room, const std::string& what) {
  discard(room);
  return say(err_, input_name_, what, status_read_failed);
}

template <bcd::Kernel K>
[[gnu::noinline]] int Builder<K>::too_long(const Room& room) {
  const bool bad = bad_line_ != 0;
  const bool tpc = longest() == tape_image::largest_tpc_record;
  return fail(room, "line " + std::to_string(line_) + " is longer than " +
                        std::to_string(longest()) + " characters, the most a " +
                        (bad   ? "bad record"
                         : tpc ? "TPC record"
                               : "record") +
                        " holds");
}

// Refuses `byte`, in column `column` of the line being read; returns the status.
template <bcd::Kernel K>
[[gnu::noinline]] int Builder<K>::refuse(const Room& room, std::uint8_t byte,
                                         std::uint64_t column) {
  return fail(room, "line " + std::to_string(line_) + ", column " + std::to_string(column) + ": " +
                        shown_byte(byte) + " is not in print arrangement " +
                        std::string(name_of(options_.arrangement)));
}

}  // namespace

int build_image(const Options& options, std::string_view input_name, TapeReader& reader,
                RecordWriter& out, OutputSink& err, bcd::KernelId kernel) {
  const bcd::DisplayTable table = bcd::prepare(options.arrangement, ' ');
  // The kernel is entered once: the whole run is compiled for each.
  return bcd::with_kernel(kernel, table, [&](const auto& kernel_here) {
    return Builder(options, input_name, reader, out, err, kernel_here).build();
  });
}

}  // namespace reel::reeltext
