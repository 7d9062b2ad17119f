#include "listing/listing.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>

#include "bcd/arrangement.h"
#include "bcd/line_translation.h"
#include "listing/decimal.h"
#include "listing/ruler.h"

namespace reelprint {
namespace {

using tape_image::FinishStatus;
using tape_image::ReadStatus;
using tape_image::TapeReader;

constexpr std::size_t widest_line = 100;
// Enough for the longest data line with its tag, and its word-mark line, with slack.
constexpr std::size_t line_room = 512;
// Enough for a data line without a tag: the widest prefix and all a line translation writes.
constexpr std::size_t untagged_line_room = 24 + bcd::line_reach;
// Enough for a line with its word-mark line: a run of characters translated from the last
// position reaches past the line by as much as a line translation.
constexpr std::size_t marked_line_room = 24 + widest_line + bcd::line_reach;
// What a record's tag needs beyond that: blanks to its column, its text and number.
constexpr std::size_t tag_room = 80;
// The most output room asked for at once: lines and records are listed in blocks that fit.
constexpr std::size_t room_at_once = OutputBuffer::buffer_size / 2;
// The width of a data line's "%5d: " prefix; rulers and word-mark lines start this far in.
constexpr std::string_view indent = "       ";
static_assert(TapeReader::readable_past_end >= bcd::line_reach);
static_assert(widest_line <= bcd::widest_translated_line);
// The most lines of a record listed in one block: the room for them fits `room_at_once`,
// word-marked or not.
constexpr std::size_t block_lines = (room_at_once - tag_room) / marked_line_room - 1;
static_assert(block_lines >= 2);
static_assert((block_lines + 1) * untagged_line_room + tag_room <= room_at_once);
// Beyond its lines' room, what a record may need: a line more than its bytes fill, and a tag.
constexpr std::size_t record_room = untagged_line_room + tag_room;

// A record's first line starts with its prefix, and its tag's words stand one column past the
// end of the widest line.
constexpr std::string_view first_prefix = "    1: ";
constexpr std::string_view tag_words = "  Record ";
static_assert(first_prefix.size() + widest_line + 1 + tag_words.size() <= bcd::frame_size);
// A record's first line, written as a frame and then its number (up to 20 digits, and the 8
// bytes past them that may be written over) and its newline, fits a record's room.
static_assert(bcd::frame_reach <= record_room);
static_assert(bcd::frame_size + 20 + 8 + 1 <= record_room);

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

// Writes a record's tag after its first line, which is `short_by` characters short of a full
// line: the tag stands in one column, however short the line. Returns the end of it.
char* put_tag(char* p, std::size_t short_by, const RecordNumber& nr) {
  // Blanks to the tag's column, 32 at a time: those past it are written over next.
  static constexpr char blanks[] = "                                ";
  std::memcpy(p, blanks, 32);
  for (std::size_t k = 32; k <= short_by; k += 32) std::memcpy(p + k, blanks, 32);
  p = put_text(p + short_by + 1, tag_words);
  return nr.put(p);
}

// Returns the frame of a record's first line of `recl` characters: its prefix, the blanks to
// its tag, and the tag's words.
bcd::LineFrame tag_frame(std::size_t recl) {
  bcd::LineFrame frame;
  char* p = put_text(frame.bytes.data(), first_prefix);
  std::memset(p, ' ', recl + 1);
  put_text(p + recl + 1, tag_words);
  return frame;
}

// How the lines of the listing are laid out, gathered so that a loop can copy it into
// registers.
struct LineLayout {
  std::size_t recl;  // characters per line
  // A line of this character alone, not the record's first or last, is left out: the blank,
  // or a NUL (which no line holds) when every line is to be listed.
  char droppable;
};

// Writes the first line of record `nr`, its `np` loaded `bytes`, with the record's tag at `p`;
// returns the end of it.
template <class TranslateLine>
char* put_tagged_line(const TranslateLine& translate, const LineLayout& layout, char* p,
                      const std::uint8_t* bytes, std::size_t np, const RecordNumber& nr) {
  translate.put_framed(bytes, np, p, first_prefix.size());
  p = nr.put(p + first_prefix.size() + layout.recl + 1 + tag_words.size());
  *p++ = '\n';
  return p;
}

class Lister {
 public:
  Lister(const Settings& settings, std::string_view input_name, TapeReader& reader,
         OutputBuffer& out)
      : settings_(settings),
        recl_(static_cast<std::size_t>(std::clamp<int>(settings.recl, 1, widest_line))),
        input_name_(input_name),
        reader_(reader),
        out_(out),
        bcd_to_ascii_(bcd::prepare(settings.arrangement, settings.blank)),
        layout_{recl_, settings.all ? '\0' : settings.blank},
        tag_frame_(tag_frame(recl_)) {
    for (std::size_t line = 0; line < prefixes_.size(); ++line) {
      Prefix& prefix = prefixes_[line];
      prefix.size =
          static_cast<std::uint8_t>(put_position(prefix.text, 1 + line * recl_) - prefix.text);
    }
  }

  int list();

 private:
  // The "%5d: " prefix of a record's line: records are mostly a few lines long, and copying a
  // prefix made once is quicker than formatting it each time.
  struct Prefix {
    char text[15];
    std::uint8_t size;
  };

  void list_loaded_records(RecordNumber& nr);
  template <class TranslateLine>
  char* put_one_line_records(const TranslateLine& translate, char* p, const char* room_end,
                             RecordNumber& nr, std::size_t& taken) const;
  template <class TranslateLine>
  char* put_longer_records(const TranslateLine& translate, char* p, const char* room_end,
                           RecordNumber& nr, std::size_t& taken) const;
  int list_record(std::uint32_t recsiz, const RecordNumber& nr);
  bool list_plain_lines(std::uint32_t recsiz, const RecordNumber& nr);
  bool list_marked_lines(std::uint32_t recsiz, const RecordNumber& nr);
  template <class TranslateLine>
  char* put_loaded_marked_lines(const TranslateLine& translate, char* p, const std::uint8_t* bytes,
                                std::size_t size, std::uint64_t left, std::size_t& line,
                                const RecordNumber& nr, std::size_t& used) const;
  template <class TranslateLine>
  char* put_lines(const TranslateLine& translate, const LineLayout& layout, char* p,
                  const std::uint8_t* bytes, std::size_t size, std::size_t line, bool end_record,
                  const RecordNumber& nr) const;
  // Returns enough output room for `put_lines` to list `size` bytes of a record: a line for
  // each `recl_` of them and one more, and a tag.
  std::size_t room_for(std::size_t size) const {
    return size / recl_ * untagged_line_room + record_room;
  }
  // Writes the "%5d: " prefix of line `line` of a record at `p`; returns its end.
  char* put_prefix(char* p, std::size_t line) const {
    if (line >= prefixes_.size()) return put_position(p, 1 + line * recl_);
    return put_table_prefix(p, line);
  }
  // The same for a line below `prefixes_.size()`.
  char* put_table_prefix(char* p, std::size_t line) const {
    std::memcpy(p, &prefixes_[line], sizeof(Prefix));  // one 16-byte copy; the rest is rewritten
    return p + prefixes_[line].size;
  }
  char* end_marked_line(char* pr, std::size_t np, std::size_t line, bool last,
                        std::string_view marks, const RecordNumber& nr) const;
  char* end_plain_line(char* start, char* pr, std::size_t np, std::size_t line, bool last,
                       const RecordNumber& nr) const;
  bool fill_plain(char* pr, std::size_t n);
  bool fill_marked(char* pr, char* wm, std::uint64_t& i, std::size_t& np, std::size_t& marks_end);
  void put_ruler();
  void put_file_header(std::uint64_t nft);
  int read_failed();

  const Settings& settings_;
  const std::size_t recl_;  // characters per line
  const std::string_view input_name_;
  TapeReader& reader_;
  OutputBuffer& out_;
  const bcd::DisplayTable bcd_to_ascii_;  // the prepared print arrangement
  const LineLayout layout_;
  const bcd::LineFrame tag_frame_;     // a record's first line, less its characters and number
  std::array<Prefix, 1024> prefixes_;  // of lines 0 to 1023 of a record
  // The most data bytes listed in one block: as many whole lines as fit `room_at_once`.
  const std::size_t block_bytes_ = block_lines * recl_;
  // Output room a data byte may need, at most: a line's room for every `recl_` of them.
  const std::size_t room_per_byte_ = (untagged_line_room + recl_ - 1) / recl_;
  // The largest record listed among others in a block: its room fits `room_at_once`.
  const std::size_t block_record_ = (room_at_once - record_room) / room_per_byte_;
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
      if (!settings_.dowm) list_loaded_records(nr);
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
// such, and listing them a block at a time saves setting up for each. Runs of records of one
// line (a card deck) are listed by a loop of their own, which keeps all it needs in
// registers; the loop for longer records needs more than there are.
void Lister::list_loaded_records(RecordNumber& nr) {
  for (bool more = true; more && out_.error() == 0;) {
    char* p = out_.room(room_at_once);
    const char* const room_end = out_.room_end();
    std::size_t one_line = 0;  // bytes of the records each loop takes
    std::size_t longer = 0;
    p = bcd::with_line_translation(bcd_to_ascii_, tag_frame_, [&](const auto& translate) {
      return put_one_line_records(translate, p, room_end, nr, one_line);
    });
    reader_.consume(one_line);
    p = bcd::with_line_translation(bcd_to_ascii_, tag_frame_, [&](const auto& translate) {
      return put_longer_records(translate, p, room_end, nr, longer);
    });
    reader_.consume(longer);
    out_.commit(p);
    // Either run stopped at a record of the other kind, or the output buffer is full: on after
    // it is written. A record that neither takes is left to be read the usual way.
    more = one_line + longer > 0;
  }
}

// Writes the records of one line that lie whole at the front of the loaded bytes at `p`, as
// many as fit before `room_end`, numbered on from `nr`, and counts `nr` on past them; sets
// `taken` to the bytes they take up. Returns the end of them.
template <class TranslateLine>
char* Lister::put_one_line_records(const TranslateLine& translator, char* p, const char* room_end,
                                   RecordNumber& counted, std::size_t& taken) const {
  // Copies of their own, which the compiler can see no store reach, stay in registers: each
  // byte written through a char pointer could otherwise change them.
  const TranslateLine translate = translator;
  const LineLayout layout = layout_;
  RecordNumber nr = counted;
  taken = reader_.take_whole_records(layout.recl, settings_.even,
                                     [&](const std::uint8_t* bytes, std::uint32_t size) {
                                       if (static_cast<std::size_t>(room_end - p) < record_room)
                                         return false;  // a line and a tag
                                       p = put_tagged_line(translate, layout, p, bytes, size, nr);
                                       nr.next();
                                       return true;
                                     });
  counted = nr;
  return p;
}

// The same for records of more than one line.
template <class TranslateLine>
char* Lister::put_longer_records(const TranslateLine& translator, char* p, const char* room_end,
                                 RecordNumber& counted, std::size_t& taken) const {
  const TranslateLine translate = translator;
  const LineLayout layout = layout_;
  const std::size_t room_per_byte = room_per_byte_;
  RecordNumber nr = counted;
  taken = reader_.take_whole_records(
      block_record_, settings_.even, [&](const std::uint8_t* bytes, std::uint32_t size) {
        if (size <= layout.recl) return false;  // for the loop of one-line records
        if (static_cast<std::size_t>(room_end - p) < size * room_per_byte + record_room)
          return false;
        p = put_lines(translate, layout, p, bytes, size, 0, true, nr);
        nr.next();
        return true;
      });
  counted = nr;
  return p;
}

// Lists one record of `recsiz` data bytes, numbered `nr`; returns the exit status, 0 if the
// listing goes on.
int Lister::list_record(std::uint32_t recsiz, const RecordNumber& nr) {
  if (!(settings_.dowm ? list_marked_lines(recsiz, nr) : list_plain_lines(recsiz, nr)))
    return read_failed();
  if (out_.error() != 0) return status_write_failed;

  std::uint32_t recsiz2 = 0;
  switch (reader_.finish_record(recsiz, settings_.even, recsiz2)) {
    case FinishStatus::ok:
      return status_ok;
    case FinishStatus::io_error:
      return read_failed();
    case FinishStatus::unequal_counts:
      break;
  }
  char* p = put_text(out_.room(line_room), "Unequal starting and ending record sizes: ");
  p = put_signed32(p, recsiz);
  p = put_text(p, " != ");
  p = put_signed32(p, recsiz2);
  *p++ = '\n';
  out_.commit(p);
  return status_unequal_counts;
}

// Lists the lines of a record of `recsiz` bytes numbered `nr`, each with its word-mark line;
// returns false if the image ends or fails first. Stops early when the output has failed.
bool Lister::list_marked_lines(std::uint32_t recsiz, const RecordNumber& nr) {
  const std::size_t recl = recl_;

  std::uint64_t i = recsiz;  // bytes of the record not yet read
  for (std::size_t line = 0; i != 0 && out_.error() == 0;) {
    // The lines that lie whole among the loaded bytes, a block at a time.
    const std::span<const std::uint8_t> bytes = reader_.data(i);
    if (bytes.empty()) return false;
    const std::size_t size = std::min(bytes.size(), block_bytes_);
    std::size_t used = 0;
    char* const start = out_.room((size / recl + 1) * marked_line_room + tag_room);
    out_.commit(bcd::with_line_translation(bcd_to_ascii_, tag_frame_, [&](const auto& translate) {
      const auto translate_here = translate;  // in registers: see `put_one_line_records`
      return put_loaded_marked_lines(translate_here, start, bytes.data(), size, i, line, nr, used);
    }));
    reader_.consume(used);
    i -= used;
    if (used > 0 || i == 0) continue;

    // A line that runs past the loaded bytes.
    char* const pr = put_prefix(out_.room(line_room), line);  // the line's characters
    std::size_t np = 0;                                       // characters in the line
    std::array<char, widest_line> wm;                         // marks under the characters
    std::size_t marks_end = 0;                                // one past the line's last mark
    if (!fill_marked(pr, wm.data(), i, np, marks_end)) return false;

    char* const end = end_marked_line(pr, np, line++, i == 0, {wm.data(), marks_end}, nr);
    if (end != nullptr) out_.commit(end);
  }
  return true;
}

// Writes lines `line` on of record `nr`, which has `left` bytes not yet read, at `p`, each
// with its word-mark line, for as long as each line lies whole among the `size` loaded `bytes`.
// Counts `line` on past them and sets `used` to the bytes they took; returns the end of them.
template <class TranslateLine>
char* Lister::put_loaded_marked_lines(const TranslateLine& translate, char* p,
                                      const std::uint8_t* bytes, std::size_t size,
                                      std::uint64_t left, std::size_t& line, const RecordNumber& nr,
                                      std::size_t& used) const {
  const std::size_t recl = recl_;
  std::size_t at = 0;
  while (left != 0) {
    char* const pr = put_prefix(p, line);
    std::size_t np = 0;         // characters in the line
    std::size_t marks_end = 0;  // one past the line's last mark
    char marks[widest_line];    // under the characters, up to `marks_end`
    std::size_t next = at;      // the line's bytes so far
    std::uint64_t rest = left;
    const auto whole = static_cast<std::size_t>(std::min<std::uint64_t>(recl, left));
    if (whole <= size - at && translate.until_separator(bytes + at, whole) == whole) {
      translate(bytes + at, whole, pr);  // most lines hold no separator
      np = whole;
      next += whole;
      rest -= whole;
    } else {
      // Runs of characters between separators. A separator takes no position: it marks the
      // character after it, and marks nothing at the very end of the record.
      bool marked = false;
      while (np < recl && rest != 0) {
        const auto loaded = static_cast<std::size_t>(std::min<std::uint64_t>(size - next, rest));
        if (loaded == 0) {  // the line runs past the loaded bytes: the caller lists it
          used = at;
          return p;
        }
        const std::size_t wanted = std::min(loaded, recl - np);
        const std::size_t run = translate.until_separator(bytes + next, wanted);
        if (run > 0) {
          translate(bytes + next, run, pr + np);
          if (marked) {
            std::memset(marks + marks_end, ' ', np - marks_end);
            marks[np] = '1';
            marks_end = np + 1;
            marked = false;
          }
          np += run;
          next += run;
          rest -= run;
        }
        if (run < wanted) {
          marked = true;
          ++next;
          --rest;
        }
      }
    }
    at = next;
    left = rest;
    if (char* const end = end_marked_line(pr, np, line++, left == 0, {marks, marks_end}, nr))
      p = end;
  }
  used = at;
  return p;
}

// Ends line `line` of record `nr`, its `np` characters at `pr`: the tag after a first line,
// then the word-mark line with `marks`. Returns the end, or nullptr for a line of blanks alone
// that is neither the first nor the `last`, which is left out.
char* Lister::end_marked_line(char* pr, std::size_t np, std::size_t line, bool last,
                              std::string_view marks, const RecordNumber& nr) const {
  const char droppable = layout_.droppable;
  char* p = pr + np;
  if (line == 0) {
    p = put_tag(p, recl_ - np, nr);
  } else if (!last && marks.empty() && pr[0] == droppable && bcd::all_blank(pr, np, droppable)) {
    return nullptr;
  }
  *p++ = '\n';
  p = put_text(p, indent);
  p = put_text(p, marks);
  *p++ = '\n';
  return p;
}

// Lists the lines of a record of `recsiz` bytes numbered `nr`; returns false if the image ends
// or fails first. Stops early when the output has failed.
bool Lister::list_plain_lines(std::uint32_t recsiz, const RecordNumber& nr) {
  const std::size_t recl = recl_;
  std::uint64_t i = recsiz;  // bytes of the record not yet read
  for (std::size_t line = 0; i != 0 && out_.error() == 0;) {
    const std::span<const std::uint8_t> bytes = reader_.data(i);
    if (bytes.empty()) return false;
    if (bytes.size() < recl && bytes.size() < i) {  // the line runs past the loaded bytes
      const auto np = static_cast<std::size_t>(std::min<std::uint64_t>(recl, i));
      i -= np;
      char* const start = out_.room(line_room);
      char* const pr = put_prefix(start, line);
      if (!fill_plain(pr, np)) return false;
      out_.commit(end_plain_line(start, pr, np, line++, i == 0, nr));
      continue;
    }
    // The whole lines among the loaded bytes, and the record's end if it is loaded too, a
    // block at a time.
    std::size_t size = std::min(bytes.size(), block_bytes_);
    if (size < i) size -= size % recl;
    i -= size;
    char* const start = out_.room(room_for(size));
    out_.commit(bcd::with_line_translation(bcd_to_ascii_, tag_frame_, [&](const auto& translate) {
      const auto translate_here = translate;  // in registers: see `put_one_line_records`
      const LineLayout layout = layout_;
      return put_lines(translate_here, layout, start, bytes.data(), size, line, i == 0, nr);
    }));
    reader_.consume(size);
    line += (size + recl - 1) / recl;
  }
  return true;
}

// Writes the lines of `size` loaded `bytes` of record `nr` at `p`, numbered on from `line`:
// whole lines, but for the record's last when they `end_record`. Returns the end of them.
// Nothing in here calls out, so the translator's registers stay loaded throughout.
template <class TranslateLine>
char* Lister::put_lines(const TranslateLine& translate, const LineLayout& layout, char* p,
                        const std::uint8_t* bytes, std::size_t size, std::size_t line,
                        bool end_record, const RecordNumber& nr) const {
  const std::size_t recl = layout.recl;
  const std::uint8_t* const end = bytes + size;
  if (line == 0) {
    const std::size_t np = std::min(recl, size);
    p = put_tagged_line(translate, layout, p, bytes, np, nr);
    bytes += np;
    line = 1;
  }
  // The lines between the first and the last: a line of blanks alone is left out.
  const auto left = static_cast<std::size_t>(end - bytes);
  const std::size_t middle = left / recl - (end_record && left % recl == 0 && left > 0);
  const char droppable = layout.droppable;
  const auto put_middle_line = [&](char* pr) {
    translate(bytes, recl, pr);
    pr[recl] = '\n';
    if (pr[0] != droppable || !bcd::all_blank(pr, recl, droppable)) p = pr + recl + 1;
    bytes += recl;
  };
  const std::size_t stop = line + middle;
  // Prefixes from the table as far as it goes, then formatted one by one.
  for (const std::size_t in_table = std::clamp(prefixes_.size(), line, stop); line != in_table;
       ++line)
    put_middle_line(put_table_prefix(p, line));
  for (; line != stop; ++line) put_middle_line(put_position(p, 1 + line * recl));
  if (bytes != end) {  // the record's last line, kept whatever it holds
    const auto np = static_cast<std::size_t>(end - bytes);
    char* const pr = put_prefix(p, line);
    // A whole line's width, whatever its length: the same count every time is no mispredicted
    // branch, and what lies past the line is written over or dropped.
    translate(bytes, recl, pr);
    pr[np] = '\n';
    p = pr + np + 1;
  }
  return p;
}

// Ends line `line` of record `nr`, written at `start` with its `np` characters at `pr`. The
// first line gets the record's tag; a later one of blanks alone is left out, unless it is the
// record's `last`. Returns the end of the line, or `start` if it is left out.
char* Lister::end_plain_line(char* start, char* pr, std::size_t np, std::size_t line, bool last,
                             const RecordNumber& nr) const {
  char* p = pr + np;
  if (line == 0) {
    p = put_tag(p, recl_ - np, nr);
  } else {
    const char blank = settings_.blank;
    if (!last && !settings_.all && pr[0] == blank && bcd::all_blank(pr, np, blank)) return start;
  }
  *p++ = '\n';
  return p;
}

// Reads the next `n` data bytes into `pr` as display characters; returns false if the image
// ends or fails first.
bool Lister::fill_plain(char* pr, std::size_t n) {
  while (n > 0) {
    const std::span<const std::uint8_t> bytes = reader_.data(n);
    if (bytes.empty()) return false;
    bcd::translate(bcd_to_ascii_, bytes.data(), bytes.size(), pr);
    reader_.consume(bytes.size());
    pr += bytes.size();
    n -= bytes.size();
  }
  return true;
}

// Reads data bytes until the line holds `recl` characters or the record's `i` bytes are used
// up. Word separators take no position: they mark the character after them in `wm`, and one
// at the very end of the record marks nothing. Sets `np` to the line's length and `marks_end`
// to one past its last mark; returns false if the image ends or fails first.
bool Lister::fill_marked(char* pr, char* wm, std::uint64_t& i, std::size_t& np,
                         std::size_t& marks_end) {
  std::memset(wm, ' ', recl_);
  bool marked = false;  // a separator is waiting for the next character
  while (i > 0 && np < recl_) {
    // No more bytes than free positions, so even a chunk without separators fits the line.
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(i, recl_ - np));
    const std::span<const std::uint8_t> bytes = reader_.data(wanted);
    if (bytes.empty()) return false;
    // Runs of characters go through as blocks; only the separators between them are single.
    for (std::size_t k = 0; k < bytes.size();) {
      const std::size_t run =
          bcd::until_word_separator(bcd_to_ascii_, bytes.data() + k, bytes.size() - k);
      if (run > 0) {
        bcd::translate(bcd_to_ascii_, bytes.data() + k, run, pr + np);
        if (marked) {
          wm[np] = '1';
          marks_end = np + 1;
          marked = false;
        }
        np += run;
        k += run;
      }
      if (k < bytes.size()) {
        marked = true;
        ++k;
      }
    }
    reader_.consume(bytes.size());
    i -= bytes.size();
  }
  return true;
}

void Lister::put_ruler() {
  char* p = put_text(out_.room(line_room), indent);
  make_ruler(recl_, p);
  p += recl_;
  *p++ = '\n';
  out_.commit(p);
}

void Lister::put_file_header(std::uint64_t nft) {
  char* p = put_text(out_.room(line_room), "File ");
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
              OutputBuffer& out) {
  return Lister(settings, input_name, reader, out).list();
}

}  // namespace reelprint
