#include "listing/listing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "bcd/arrangement.h"
#include "bcd/dispatch.h"
#include "listing/decimal.h"
#include "listing/line_writer.h"
#include "listing/marked_line.h"
#include "listing/ruler.h"
#include "tape_image/account.h"
#include "tape_image/walk.h"

namespace reel::reelprint {
namespace {

using tape_image::TapeReader;

// The most output room asked for at once: lines and records are listed until it runs low.
constexpr std::size_t room_at_once = OutputBuffer::buffer_size / 2;
static_assert(room_at_once >= 4 * line_room);
// Room for the messages and headers written outside the lines.
constexpr std::size_t message_room = 512;
static_assert(TapeReader::readable_past_end >= bcd::reach);
static_assert(TapeReader::most_wanted >= widest_line);

char* put_text(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

void put_ruler(OutputBuffer& out, std::size_t recl) {
  char* p = put_text(out.room(message_room), indent);
  make_ruler(recl, p);
  p += recl;
  *p++ = '\n';
  out.commit(p);
}

void put_file_header(OutputBuffer& out, std::uint64_t nft) {
  char* p = put_text(out.room(message_room), "File ");
  p = put_decimal(p, nft);
  *p++ = '\n';
  out.commit(p);
}

// Where the listing of a record stands: the bytes it has not yet taken, the line they go on
// with, and that line's word marks so far when they are shown.
struct RecordCursor {
  explicit RecordCursor(std::uint64_t size) : left(size) {}
  std::uint64_t left;    // bytes of the record not yet taken
  std::size_t line = 0;  // the next line to write, counting from 0
  MarkedLine marked;     // the line being gathered, in a word-marked listing
};

// All blanks: the marks under a line that has none.
constexpr std::array<char, marks_copy> no_marks = [] {
  std::array<char, marks_copy> spaces{};
  spaces.fill(' ');
  return spaces;
}();

// Starts line `line` of record `nr`, word-marked, from the `n` bytes at `bytes`, the next of the
// record, of which `left` remain. Writes it at `p`, and moves `p` and `line` on, when it lies
// whole in them and in one split: most lines hold no separator at all, and those are written
// from the bytes; others from their split, so that their bytes never pass through memory.
// Otherwise starts gathering it in `marked` (which a caller sure of a whole line leaves out).
// Returns the bytes the line took.
template <bcd::Kernel K>
std::size_t put_new_marked_line(const LineWriter<K>& writer, char*& p, std::size_t& line,
                                const std::uint8_t* bytes, std::size_t n, std::uint64_t left,
                                const RecordNumber& nr, MarkedLine* marked = nullptr) {
  const std::size_t recl = writer.layout().recl;
  const auto whole = static_cast<std::size_t>(std::min<std::uint64_t>(recl, left));
  if (whole <= n && !writer.kernel().has_separator(bytes, whole)) {
    p = writer.put(p, line++, bytes, whole, whole == left, nr, Marks{no_marks.data(), 0});
    return whole;
  }
  const auto first = split_new_line(writer.kernel(), bytes, std::min(n, bcd::split_size), recl);
  if (first.state.np == recl || first.used == left) {
    p = writer.put(p, line++, first.split, first.state.np, first.used == left, nr,
                   SplitMarks{first.split, first.state.marks_end});
  } else if (marked != nullptr) {
    marked->start(writer.kernel(), first);
  }
  return first.used;
}

// Writes record `nr`, of `size` bytes (at most `recl`), word-marked, at `p` as one line; returns
// the end. Split at once (in a deck that shows word marks most cards hold separators): the line
// takes all the bytes, so the split's count of characters and of those up to the last mark are
// the line's.
template <bcd::Kernel K>
char* put_marked_card(const LineWriter<K>& writer, char* p, const std::uint8_t* bytes,
                      std::size_t size, const RecordNumber& nr) {
  const auto split = writer.kernel().split(bytes, size, false);
  return writer.put(p, 0, split, split.kept, true, nr, SplitMarks{split, split.marks_end});
}

// How much of a record `put_record_lines` is given: some of it, or all of it with room for all
// its lines, so that it need not check for either as it goes.
enum class Given { part, whole };

// Writes the lines of record `nr` that the `size` bytes at `bytes` (the next of the record, at
// most `at.left`) complete, at `p`, while at least `line_room` is left before `room_end`; counts
// `at` on past them. A plain line is written once its bytes are all at hand; a word-marked line
// takes whatever bytes there are, and is written once it is whole. Every route of a record's
// bytes to the listing comes through here. Sets `used` to the bytes taken; returns the end.
template <Given given, bcd::Kernel K>
char* put_record_lines(const LineWriter<K>& line_writer, char* p, const char* room_end,
                       const std::uint8_t* bytes, std::size_t size, RecordCursor& at,
                       const RecordNumber& record_number, std::size_t& used) {
  // Copies of their own, which the compiler can see no store reach, stay in registers: each
  // byte written through a char pointer could otherwise change them.
  const LineWriter<K> writer = line_writer;
  const RecordNumber nr = record_number;
  const std::size_t recl = writer.layout().recl;
  std::uint64_t left = at.left;
  std::size_t line = at.line;
  std::size_t taken = 0;
  if (!writer.layout().dowm) {
    const auto has_room = [&] {
      return given == Given::whole || static_cast<std::size_t>(room_end - p) >= line_room;
    };
    while (left != 0 && has_room()) {
      if (line != 0 && left > recl) {
        // The lines between the first and the last, as many as are here and have room, counted
        // first, so that each takes no test but the loop's.
        const auto before_last =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, taken + left - 1)) - taken;
        std::size_t count = writer.layout().lines_in(before_last);
        if constexpr (given == Given::part)
          count = std::min(count, static_cast<std::size_t>(room_end - p) / line_room);
        const std::uint8_t* from = bytes + taken;
        const std::size_t stop = line + count;
        const std::size_t listed = std::clamp(Prefixes::listed, line, stop);
        p = writer.put_middle(p, line, listed - line, from);
        from += (listed - line) * recl;
        line = listed;
        for (; line != stop; ++line, from += recl) p = writer.put(p, line, from, recl, false, nr);
        taken += count * recl;
        left -= count * recl;
        if (!has_room()) break;
      }
      const auto np = static_cast<std::size_t>(std::min<std::uint64_t>(recl, left));
      if (given == Given::part && np > size - taken) break;  // its bytes are not all here yet
      left -= np;
      p = writer.put(p, line++, bytes + taken, np, left == 0, nr, {});
      taken += np;
    }
  } else {
    MarkedLine& marked = at.marked;
    const K& kernel = writer.kernel();
    while (left != 0 &&
           (given == Given::whole || static_cast<std::size_t>(room_end - p) >= line_room)) {
      if (marked.empty() && taken != size) {
        const std::size_t used =
            put_new_marked_line(writer, p, line, bytes + taken, size - taken, left, nr, &marked);
        taken += used;
        left -= used;
        continue;
      }
      const std::size_t fed = marked.feed(kernel, bytes + taken, size - taken, recl);
      taken += fed;
      left -= fed;
      if (marked.size() < recl && left != 0) break;  // the line goes on past these bytes
      p = writer.put(p, line++, marked.codes(), marked.size(), left == 0, nr, marked.marks());
      marked.clear();
    }
  }
  at.left = left;
  at.line = line;
  used = taken;
  return p;
}

// The listing of one run, compiled for the kernel `K` that the processor runs: entered once,
// so that every loop below is compiled for that kernel's instruction set with its tables in
// registers. It visits the walk of the image, which reads every word as a count.
template <bcd::Kernel K>
class Lister {
 public:
  Lister(const Settings& settings, OutputBuffer& out, const LineWriter<K>& writer)
      : settings_(settings), recl_(writer.layout().recl), out_(out), writer_(writer) {}

  // Lists the image that `reader` serves, naming it `input_name` in messages; returns the
  // exit status.
  int list(tape_image::TapeReader& reader, std::string_view input_name);

  // The walk's visitor.
  bool records(tape_image::Run& run);
  std::uint64_t begin_record(const tape_image::Record& record);
  bool piece(std::span<const std::uint8_t> bytes, std::size_t& used);
  std::size_t want(std::uint64_t left) const {
    return static_cast<std::size_t>(std::min<std::uint64_t>(left, recl_ - at_.marked.size()));
  }
  bool end_record(const tape_image::Record&) {
    nr_.next();
    return true;
  }
  bool tape_mark(const tape_image::Place&) { return next_file(); }
  bool erase_gap(const tape_image::Place&) { return true; }  // never met: no control words

 private:
  bool next_file();

  const Settings& settings_;
  const std::size_t recl_;  // characters per line
  OutputBuffer& out_;
  const LineWriter<K> writer_;
  // Output room a data byte may need, at most: a line's room for every `recl_` of them, so that
  // a record's lines fit `size * room_per_byte_ + line_room` (a multiplication: a division
  // costs more than a card's line).
  const std::size_t room_per_byte_ = (line_room + recl_ - 1) / recl_;
  // The largest record listed whole among others: its lines fit `room_at_once`.
  const std::uint32_t whole_record_ =
      static_cast<std::uint32_t>((room_at_once - line_room) / room_per_byte_);
  std::int64_t nf_ = 0;    // tape files still to list (`nf`), after the one being listed
  std::uint64_t nft_ = 1;  // number of the tape file being listed (`nft`)
  RecordNumber nr_{1};     // number of the current record in its tape file (`nr`)
  RecordCursor at_{0};     // the record being listed a piece at a time
};

template <bcd::Kernel K>
int Lister<K>::list(tape_image::TapeReader& reader, std::string_view input_name) {
  if (settings_.nf <= 0) return status_ok;
  nf_ = settings_.nf - 1;
  if (nf_ > 0) put_file_header(out_, nft_);
  put_ruler(out_, recl_);
  tape_image::Walk walk(tape_image::Reading{settings_.framing});
  tape_image::walk_image(reader, walk, *this);
  if (out_.error() != 0) return status_write_failed;
  if (walk.stopped()) return status_ok;
  const tape_image::Ending& ending = walk.ending();
  const int status = tape_image::status_of(ending);
  if (status != status_ok) {
    out_.append(tape_image::listing_message(ending, input_name));
    return status;
  }
  // Where a count should begin, the end of the image ends the tape file, and every one after.
  while (next_file()) {
  }
  return out_.error() == 0 ? status_ok : status_write_failed;
}

// Ends the tape file being listed, and starts the next if it is to be listed; returns whether
// it is.
template <bcd::Kernel K>
bool Lister<K>::next_file() {
  if (nf_ == 0 || out_.error() != 0) return false;
  --nf_;
  put_file_header(out_, ++nft_);
  put_ruler(out_, recl_);
  nr_ = RecordNumber(1);
  return true;
}

// Lists the records that lie whole at the front of the run, and stops before the first other
// one. Most records of an image are such, and listing them as they are found saves reading
// each count and trailer apart. A card (a record of one line) is written whole at once, its
// bytes alone or word-marked; a longer record line by line.
template <bcd::Kernel K>
bool Lister<K>::records(tape_image::Run& run) {
  if (out_.error() != 0) return false;
  // Copies of their own, which the compiler can see no store reach, stay in registers: each
  // byte written through a char pointer could otherwise change them.
  const LineWriter<K> writer = writer_;
  const std::size_t room_per_byte = room_per_byte_;
  RecordNumber number = nr_;
  char* q = out_.room(room_at_once);
  const char* const end = out_.room_end();
  run.take(whole_record_, [&](const std::uint8_t* data, std::uint32_t size) {
    const LineLayout& layout = writer.layout();
    char* after = nullptr;
    if (size <= layout.recl) [[likely]] {
      if (end - q < static_cast<std::ptrdiff_t>(line_room)) return false;
      after = !layout.dowm ? writer.put(q, 0, data, size, true, number, {})
                           : put_marked_card(writer, q, data, size, number);
    } else {
      if (static_cast<std::size_t>(end - q) < size * room_per_byte + line_room)
        return false;  // no room for every line it may have
      RecordCursor at(size);
      std::size_t used = 0;
      after = put_record_lines<Given::whole>(writer, q, end, data, size, at, number, used);
    }
    q = after;
    number.next();
    return true;
  });
  out_.commit(q);
  nr_ = number;
  return true;
}

// A record listed as its bytes come: the ones not whole in the bytes loaded, and the longest.
template <bcd::Kernel K>
std::uint64_t Lister<K>::begin_record(const tape_image::Record& record) {
  at_ = RecordCursor(record.size);
  return record.size;
}

template <bcd::Kernel K>
bool Lister<K>::piece(std::span<const std::uint8_t> bytes, std::size_t& used) {
  char* const start = out_.room(room_at_once);
  out_.commit(put_record_lines<Given::part>(writer_, start, out_.room_end(), bytes.data(),
                                            bytes.size(), at_, nr_, used));
  return out_.error() == 0;
}

}  // namespace

int list_tape(const Settings& settings, std::string_view input_name, TapeReader& reader,
              OutputBuffer& out, bcd::KernelId kernel) {
  const std::size_t recl = static_cast<std::size_t>(std::clamp<int>(settings.recl, 1, widest_line));
  const bcd::DisplayTable bcd_to_ascii = bcd::prepare(settings.arrangement, settings.blank);
  const LineFrame frame = tag_frame(recl);  // a record's first line, less its characters
  const Prefixes prefixes(recl);
  const LineLayout layout(recl, settings.all ? '\0' : settings.blank, settings.dowm, prefixes);
  // The kernel is entered once: the whole listing is compiled for each.
  return bcd::with_kernel(kernel, bcd_to_ascii, [&](const auto& kernel_here) {
    return Lister(settings, out, LineWriter(kernel_here, layout, frame)).list(reader, input_name);
  });
}

}  // namespace reel::reelprint
