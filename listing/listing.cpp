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

namespace reelprint {
namespace {

using tape_image::FinishStatus;
using tape_image::ReadStatus;
using tape_image::TapeReader;

// The most output room asked for at once: lines and records are listed until it runs low.
constexpr std::size_t room_at_once = OutputBuffer::buffer_size / 2;
static_assert(room_at_once >= 4 * line_room);
// Room for the messages and headers written outside the lines.
constexpr std::size_t message_room = 512;
static_assert(TapeReader::readable_past_end >= bcd::reach);
static_assert(TapeReader::most_wanted >= widest_line);

// Writes `count` read as a signed 32-bit number, as the framing messages have always shown
// counts; returns the end of it.
char* put_signed32(char* p, std::uint32_t count) {
  const std::int64_t value = static_cast<std::int32_t>(count);
  if (value < 0) *p++ = '-';
  return put_decimal(p, static_cast<std::uint64_t>(value < 0 ? -value : value));
}

char* put_text(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
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

class Lister {
 public:
  Lister(const Settings& settings, std::string_view input_name, TapeReader& reader,
         OutputBuffer& out, bcd::KernelId kernel)
      : settings_(settings),
        recl_(static_cast<std::size_t>(std::clamp<int>(settings.recl, 1, widest_line))),
        input_name_(input_name),
        reader_(reader),
        out_(out),
        kernel_(kernel),
        bcd_to_ascii_(bcd::prepare(settings.arrangement, settings.blank)),
        tag_frame_(tag_frame(recl_)),
        prefixes_(recl_),
        layout_(recl_, settings.all ? '\0' : settings.blank, settings.dowm, prefixes_) {}

  int list();

 private:
  class HandedOver;
  void list_whole_records(RecordNumber& nr);
  void hand_over_records(RecordNumber& nr);
  std::size_t list_loaded(RecordNumber& nr, std::size_t most);
  std::size_t list_run(std::span<const std::uint8_t> bytes, char*& p, const char* end,
                       RecordNumber& nr) const;
  template <TapeReader::Runs runs, class Put>
  std::size_t take_whole_records(std::span<const std::uint8_t> bytes, char*& p, const char* end,
                                 RecordNumber& nr, Put put) const;
  template <class PutCard>
  std::size_t take_cards(std::span<const std::uint8_t> bytes, char*& p, const char* end,
                         RecordNumber& nr, PutCard put_card) const;
  int list_record(std::uint32_t recsiz, const RecordNumber& nr);
  int finish_record(std::uint32_t recsiz);
  // Returns `work(writer)` with this listing's line writer, over its kernel.
  template <class Work>
  auto with_writer(Work&& work) const {
    return bcd::with_kernel(kernel_, bcd_to_ascii_, tag_frame_,
                            [&](const auto& kernel) { return work(LineWriter(kernel, layout_)); });
  }
  void put_ruler();
  void put_file_header(std::uint64_t nft);
  int read_failed();

  const Settings& settings_;
  const std::size_t recl_;  // characters per line
  const std::string_view input_name_;
  TapeReader& reader_;
  OutputBuffer& out_;
  const bcd::KernelId kernel_;
  const bcd::DisplayTable bcd_to_ascii_;  // the prepared print arrangement
  const bcd::LineFrame tag_frame_;        // a record's first line, less its characters and number
  const Prefixes prefixes_;
  const LineLayout layout_;
  // Output room a data byte may need, at most: a line's room for every `recl_` of them, so that
  // a record's lines fit `size * room_per_byte_ + line_room` (a multiplication: a division
  // costs more than a card's line).
  const std::size_t room_per_byte_ = (line_room + recl_ - 1) / recl_;
  // The largest record listed whole among others: its lines fit `room_at_once`.
  const std::size_t whole_record_ = (room_at_once - line_room) / room_per_byte_;
  // How much of the loaded records is handed over to the thread reading ahead, in 64ths of
  // their bytes: moved after each piece towards what keeps both threads busy.
  std::size_t share_ = 20;
  std::unique_ptr<char[]> handed_out_;  // the listing of the records handed over
};

// The listing of records handed over to the thread reading ahead: those of `bytes` (the loaded
// ones) from the first that starts at `from` or after, numbered on from `nr` at the front.
class Lister::HandedOver final : public tape_image::ReadAhead::Work {
 public:
  // Room for the lines of the records handed over: they are listed while it lasts.
  static constexpr std::size_t room = 512 * 1024;

  HandedOver(const Lister& lister, std::span<const std::uint8_t> bytes, std::size_t from,
             const RecordNumber& nr, char* out)
      : lister_(lister), bytes_(bytes), from_(from), nr_(nr), out_(out), end_(out) {}

  void run() override {
    std::size_t before = 0;
    const std::size_t start = first_after(before);
    if (start == 0) return;
    start_ = start;
    first_ = nr_.value() + before;
    nr_ = RecordNumber(first_);
    for (std::size_t run = 1; run != 0; taken_ += run)
      run = lister_.list_run(bytes_.subspan(start + taken_), end_, out_ + room, nr_);
  }

  std::size_t start() const { return start_; }  // where the records listed start
  std::uint64_t first() const { return first_; }  // the number of the first of them
  std::size_t taken() const { return taken_; }   // the bytes they take, 0 if none
  const RecordNumber& next_number() const { return nr_; }  // the number of the record after
  std::string_view listing() const { return {out_, static_cast<std::size_t>(end_ - out_)}; }

 private:
  const Lister& lister_;
  std::span<const std::uint8_t> bytes_;
  std::size_t from_;
  RecordNumber nr_;
  char* out_;
  char* end_;
  std::size_t start_ = 0;
  std::uint64_t first_ = 0;
  std::size_t taken_ = 0;

  // Returns where the first record that starts at `from` or after starts, and sets `before` to
  // the records before it; returns 0 if there is none. The records before are those the
  // listing's thread lists meanwhile, and their number is what this thread needs of them: in
  // a run of records of one size (a card deck) it is guessed from the first one's, checked
  // only where the guess puts a record, and the listing's thread takes the records handed over
  // only if it listed that many before them. Otherwise they are counted one by one.
  std::size_t first_after(std::size_t& before) const {
    if (const std::size_t guess =
            TapeReader::guess_record_at(bytes_, from_, lister_.settings_.even, before))
      return guess;
    before = 0;
    bool found = false;
    const std::size_t start = TapeReader::take_whole_records(
        bytes_, lister_.whole_record_, lister_.settings_.even,
        [&](const std::uint8_t* data, std::uint32_t) {
          found = static_cast<std::size_t>(data - bytes_.data()) - 4 >= from_;
          before += !found;
          return !found;
        });
    return found ? start : 0;
  }
};

int Lister::list() {
  std::int64_t nf = settings_.nf;  // tape files still to list
  std::uint64_t nft = 1;           // number of the tape file being listed
  if (nf > 1) put_file_header(nft);
  while (nf > 0) {
    --nf;
    put_ruler();
    RecordNumber nr(1);  // number of the current record in its tape file
    for (;;) {
      list_whole_records(nr);
      std::uint32_t recsiz = 0;
      if (reader_.read_len(recsiz) != ReadStatus::ok) return read_failed();
      if (recsiz == 0) break;
      if (const int status = list_record(recsiz, nr); status != status_ok) return status;
      nr.next();
    }
    if (nf > 0) put_file_header(++nft);
    if (out_.error() != 0) return status_write_failed;
  }
  return status_ok;
}

// Lists the records that lie whole among the loaded bytes, numbering them on from `nr`, and
// stops before the first other one, leaving `nr` at its number. Most records of an image are
// such, and listing them as they are found saves reading each count and trailer apart. With
// word marks the listing takes longer than reading ahead, and some of the records are handed
// over to the reading thread; without, that thread has no time to spare (and counting the
// records before those handed over would only add work).
void Lister::list_whole_records(RecordNumber& nr) {
  if (layout_.dowm && reader_.ahead() != nullptr) hand_over_records(nr);
  list_loaded(nr, static_cast<std::size_t>(-1));
}

// Hands the last of the loaded records over to the thread reading ahead, which lists them
// while this one lists those before: it idles while a listing slower than reading (with word
// marks) uses the blocks up. Lists the records up to the handed-over ones, and writes those
// after them, unless the thread was too busy to start them: then they are left to be listed
// as usual.
void Lister::hand_over_records(RecordNumber& nr) {
  tape_image::ReadAhead& ahead = *reader_.ahead();
  const std::span<const std::uint8_t> loaded = reader_.loaded();
  const std::size_t from = loaded.size() - loaded.size() * share_ / 64;
  if (!handed_out_) handed_out_ = std::make_unique_for_overwrite<char[]>(HandedOver::room);
  HandedOver handed(*this, loaded, from, nr, handed_out_.get());
  const std::size_t ready = ahead.blocks_ready();
  ahead.offer(handed);
  std::size_t listed = list_loaded(nr, from);
  const bool was_done = ahead.work_done();
  if (ahead.take_back()) {
    share_ = std::max<std::size_t>(share_ - 1, 4);  // the thread was busy reading
    return;
  }
  // Up while the thread, besides its share, keeps two blocks read ahead (and so takes its
  // share at once) and is done first; held while it keeps one; down when it was not done, or
  // kept none (the listing would wait for the next block).
  if (!was_done || ready == 0)
    share_ = std::max<std::size_t>(share_ - 1, 4);
  else if (ready >= 2)
    share_ = std::min<std::size_t>(share_ + 1, 48);
  if (handed.taken() == 0) return;
  // The record across `from`, if any, then those handed over.
  listed += list_loaded(nr, handed.start() - listed);
  // Short of them when the output failed, or the records before were guessed wrong.
  if (listed != handed.start() || nr.value() != handed.first()) return;
  out_.pass(handed.listing());
  reader_.consume(handed.taken());
  nr = handed.next_number();
}

// Lists whole loaded records, up to `most` bytes of them, as `list_whole_records` does; returns
// the bytes they take.
std::size_t Lister::list_loaded(RecordNumber& nr, std::size_t most) {
  std::size_t listed = 0;
  for (bool more = true; more && out_.error() == 0;) {
    char* p = out_.room(room_at_once);
    const std::span<const std::uint8_t> loaded = reader_.loaded();
    const std::size_t taken =
        list_run(loaded.first(std::min(loaded.size(), most - listed)), p, out_.room_end(), nr);
    reader_.consume(taken);
    out_.commit(p);
    listed += taken;
    // A run stopped at a record that is not whole, or the output buffer is full: on after it
    // is written. A record that is not whole is left to be read the usual way.
    more = taken > 0;
  }
  return listed;
}

// Lists records that lie whole at the front of `bytes`, numbering them on from `nr`, at `p`
// while there is room before `end`: a run of cards, then a run of longer records. Moves `p` and
// `nr` on; returns the bytes taken, 0 at a record that is not whole or when out of room.
// Touches neither the reader nor the output, so that the thread reading ahead can run it.
// Cards (records of one line) are most of many images, and take a loop of their own that keeps
// all it needs in registers; the loop for other records needs more than there are. Each loop
// stops at a record of the other kind.
std::size_t Lister::list_run(std::span<const std::uint8_t> bytes, char*& p, const char* end,
                             RecordNumber& nr) const {
  std::size_t taken = 0;
  // A card is one line, whole: its bytes alone, or word-marked.
  if (!layout_.dowm) {
    taken = take_cards(bytes, p, end, nr,
                       [](const auto& writer, char* q, const std::uint8_t* data,
                          std::uint32_t size, const RecordNumber& number) {
                         return writer.put(q, 0, data, size, true, number, {});
                       });
  } else {
    taken = take_cards(bytes, p, end, nr,
                       [](const auto& writer, char* q, const std::uint8_t* data,
                          std::uint32_t size, const RecordNumber& number) {
                         return put_marked_card(writer, q, data, size, number);
                       });
  }
  const std::size_t room_per_byte = room_per_byte_;
  // Longer records one by one: their framing costs little beside their lines.
  const std::size_t longer = take_whole_records<TapeReader::Runs::one_by_one>(
      bytes.subspan(taken), p, end, nr,
      [room_per_byte](const auto& writer, char* q, const char* room_end, const std::uint8_t* data,
                      std::uint32_t size, const RecordNumber& number) -> char* {
        const LineLayout& layout = writer.layout();
        if (size <= layout.recl ||
            static_cast<std::size_t>(room_end - q) < size * room_per_byte + line_room)
          return nullptr;  // a card, or no room for every line it may have
        RecordCursor at(size);
        std::size_t used = 0;
        return put_record_lines<Given::whole>(writer, q, room_end, data, size, at, number, used);
      });
  return taken + longer;
}

// The same as `take_whole_records` for cards alone: `put_card(writer, p, bytes, size, nr)`
// writes a record of one line at `p`, where there is room for a line, and returns its end.
template <class PutCard>
std::size_t Lister::take_cards(std::span<const std::uint8_t> bytes, char*& p, const char* end,
                               RecordNumber& nr, PutCard put_card) const {
  return take_whole_records<TapeReader::Runs::in_words>(
      bytes, p, end, nr,
      [put_card](const auto& writer, char* q, const char* room_end, const std::uint8_t* data,
                 std::uint32_t size, const RecordNumber& number) -> char* {
        if (size > writer.layout().recl || room_end - q < static_cast<std::ptrdiff_t>(line_room))
          return nullptr;
        return put_card(writer, q, data, size, number);
      });
}

// Offers the records that lie whole at the front of `bytes` to `put(writer, p, end, data,
// size, nr)`, which writes one whole at `p` (with room up to `end`) and returns its end, or
// returns nullptr to refuse it; numbers them on from `nr`, and moves `p` past them. Returns
// the bytes they take. `runs` is how runs of one size are framed.
template <TapeReader::Runs runs, class Put>
std::size_t Lister::take_whole_records(std::span<const std::uint8_t> bytes, char*& p,
                                       const char* end, RecordNumber& nr, Put put) const {
  return with_writer([&](const auto& writer) {
    // Copies of their own, which the compiler can see no store reach, stay in registers: each
    // byte written through a char pointer could otherwise change them.
    RecordNumber number = nr;
    char* q = p;
    const std::size_t taken = TapeReader::take_whole_records<runs>(
        bytes, whole_record_, settings_.even, [&](const std::uint8_t* data, std::uint32_t size) {
          char* const after = put(writer, q, end, data, size, number);
          if (after == nullptr) return false;
          q = after;
          number.next();
          return true;
        });
    nr = number;
    p = q;
    return taken;
  });
}

// Lists one record of `recsiz` data bytes, numbered `nr`, its bytes as they come; returns the
// exit status, 0 if the listing goes on.
int Lister::list_record(std::uint32_t recsiz, const RecordNumber& nr) {
  RecordCursor at(recsiz);
  while (at.left != 0) {
    // Enough bytes at once for the line to be whole, unless a word-marked line's separators
    // take it further: the line can be whole with no fewer.
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(at.left, recl_ - at.marked.size()));
    const std::span<const std::uint8_t> bytes = reader_.data(wanted);
    if (bytes.size() < wanted) return read_failed();
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), at.left));
    char* const start = out_.room(room_at_once);
    std::size_t used = 0;
    out_.commit(with_writer([&](const auto& writer) {
      return put_record_lines<Given::part>(writer, start, out_.room_end(), bytes.data(), size,
                                           at, nr, used);
    }));
    reader_.consume(used);
    if (out_.error() != 0) return status_write_failed;
  }
  return finish_record(recsiz);
}

// Reads the end of a record of `recsiz` data bytes; returns the exit status, 0 if the listing
// goes on.
int Lister::finish_record(std::uint32_t recsiz) {
  std::uint32_t recsiz2 = 0;
  switch (reader_.finish_record(recsiz, settings_.even, recsiz2)) {
    case FinishStatus::ok:
      return status_ok;
    case FinishStatus::io_error:
      return read_failed();
    case FinishStatus::unequal_counts:
      break;
  }
  char* p = put_text(out_.room(message_room), "Unequal starting and ending record sizes: ");
  p = put_signed32(p, recsiz);
  p = put_text(p, " != ");
  p = put_signed32(p, recsiz2);
  *p++ = '\n';
  out_.commit(p);
  return status_unequal_counts;
}

void Lister::put_ruler() {
  char* p = put_text(out_.room(message_room), indent);
  make_ruler(recl_, p);
  p += recl_;
  *p++ = '\n';
  out_.commit(p);
}

void Lister::put_file_header(std::uint64_t nft) {
  char* p = put_text(out_.room(message_room), "File ");
  p = put_decimal(p, nft);
  *p++ = '\n';
  out_.commit(p);
}

// Reports that the image ended inside a record, or could not be read; returns the status.
int Lister::read_failed() {
  out_.append("Error reading ");
  out_.append(input_name_);
  out_.append("\n");
  return status_read_failed;
}

}  // namespace

int list_tape(const Settings& settings, std::string_view input_name, TapeReader& reader,
              OutputBuffer& out, bcd::KernelId kernel) {
  return Lister(settings, input_name, reader, out, kernel).list();
}

}  // namespace reelprint
