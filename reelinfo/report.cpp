#include "reelinfo/report.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <vector>

#include "bcd/arrangement.h"
#include "common/status.h"
#include "reelinfo/json.h"
#include "tape_image/account.h"

namespace reel::reelinfo {
namespace {

using tape_image::count_of;
using tape_image::Format;
using tape_image::ParityErrors;
using tape_image::record_name;
using tape_image::status_of;

// What the report tells after its items: the totals, how the walks ended, the hints.
struct Closing {
  std::string_view name;
  Format format;
  tape_image::Parity parity;  // of a P7B dump's frames
  const Survey& survey;       // its offsets, of a P7B dump, in the dump
  bool end_of_tape;           // two tape marks end the recorded tape
  std::uint64_t files;
  std::uint64_t records;
  std::uint64_t bad_records;
  std::uint64_t erase_gaps;
  int status;
  std::vector<std::string> hints;     // each a line, without its newline
  std::uint64_t parity_errors;        // frames of the wrong parity in a P7B dump
  std::optional<bool> closing_start;  // of a P7B dump: whether it ends with one
};

// The parity errors of a tape file of a P7B dump: frames, and the records they are in.
struct FileParity {
  std::uint64_t errors = 0;
  std::uint64_t records = 0;
};

// The most records with parity errors named in each tape file; the rest are counted.
inline constexpr std::size_t named_parity_errors = 3;

// What the report is written as: the items as the walk reaches them, then the rest.
class Form {
 public:
  virtual ~Form() = default;
  // A record read whole, with the characters its first data bytes show.
  virtual void record(const SurveyRecord& record, std::string_view shown) = 0;
  // Tape file `file` at `at`, which holds the records of `sizes`, `bad` of them bad, and of a
  // P7B dump the parity errors `parity`.
  virtual void tape_file(std::uint64_t file, std::uint64_t at, const SizeTally::Summary& sizes,
                         std::uint64_t bad, const FileParity& parity) = 0;
  // A record of a P7B dump with parity errors, one of those named in its tape file.
  virtual void parity_errors(const ParityErrors& errors) = 0;
  // The first `frames` frames of a P7B dump, before any record start.
  virtual void unstarted_frames(std::uint64_t frames) = 0;
  // `count` empty tape files, from `first`, at `at`.
  virtual void empty_files(std::uint64_t first, std::uint64_t count, std::uint64_t at) = 0;
  // `count` erase gaps one after another, the first at `first`, the last at `last`.
  virtual void erase_gaps(std::uint64_t count, std::uint64_t first, std::uint64_t last) = 0;
  // Puts what follows the items; returns the start of the report, which comes before them.
  virtual std::string finish(const Closing& closing) = 0;
};

// Tells the form of the tape files, the erase gaps, and the records if asked, as the walk
// reads them; and of a P7B dump, what its decoder finds, its offsets those in the dump.
class Reporter final : public SurveyListener, public tape_image::DumpListener {
 public:
  Reporter(bool records, Form& form, SizeTally& tally)
      : records_(records), form_(form), tally_(tally) {
    tally_.clear();
  }

  // Has the offsets of the items, those of the simh form `dump` serves, told in the dump.
  void decoded_by(tape_image::P7bSource* dump) { dump_ = dump; }

  // Counts the sizes of a run of records, and tells of each if asked.
  void records(const SurveyRecord& told) override {
    SurveyRecord record = told;
    record.offset = in_dump(told.offset);
    after_item(false);
    begin_item(record.offset);
    if (pairs_ > 0) records_after_pair_ = true;
    tally_.add(record.size, record.count);
    if (record.bad) {
      ++bad_in_file_;
      ++bad_;
    }
    // Runs of one record only when there are record lines; a record of the tape mark
    // character has its line all the same, so that it is not taken for a tape mark.
    if (!records_ && !record.tape_mark_character) return;
    char text[most_first_bytes];
    char* end = text;
    for (const std::uint8_t code : record.first) *end++ = bcd::bcd_to_ascii_a[code & 63];
    if (record.tape_mark_character && end == text) *end++ = bcd::bcd_to_ascii_a[15];
    form_.record(record, {text, static_cast<std::size_t>(end - text)});
  }

  // Tells of the tape file the tape mark ends, or counts it among a run of empty ones; the
  // next one begins after it.
  void tape_mark(std::uint64_t file, std::uint64_t at) override {
    const std::uint64_t offset = in_dump(at);
    after_item(true);
    begin_item(offset);
    ++run_;
    ++marks_;
    if (tally_.summary().records == 0) {
      if (empty_run_ == 0) empty_from_ = {file, file_at_};
      ++empty_run_;
    } else {
      put_file(file);
    }
    file_starts_ = true;
  }

  // Tells of a run of erase gaps one after another as one.
  void erase_gap(std::uint64_t at) override {
    const std::uint64_t offset = in_dump(at);
    after_item(false, true);
    begin_item(offset);
    if (gap_run_ > 0 && gap_last_ + 4 == offset) {
      ++gap_run_;
    } else {
      put_gaps();
      gap_first_ = offset;
      gap_run_ = 1;
    }
    gap_last_ = offset;
    ++gaps_;
  }

  // Tells what the image's end leaves to tell: the run of empty tape files (less the last,
  // where two tape marks end the recorded tape: returns whether they do), and the tape file
  // the image ends in, if the walk began one there: a record read whole, or one that breaks,
  // or a control word it stops at.
  bool close(const Ending& ending) {
    if (file_starts_) file_at_ = ending.at;  // where the tape file the image ends in begins
    end_run();
    put_gaps();
    const bool end_of_tape = (ending.kind == EndKind::after_tape_mark && last_two_marks_) ||
                             ending.kind == EndKind::zero_fill;
    if (end_of_tape) --empty_run_;
    const bool stops_in_file = ending.in_record || ending.kind == EndKind::half_gap ||
                               ending.kind == EndKind::reserved_word ||
                               ending.kind == EndKind::placeholder;
    if (stops_in_file || tally_.summary().records > 0) put_file(marks_ + 1);
    put_empty_files();
    return end_of_tape;
  }

  // Keeps a record's parity errors, found as the dump is decoded, ahead of the walk, for the
  // line of its tape file.
  void parity_errors(const ParityErrors& errors) override {
    if (parity_ahead_.empty() || parity_ahead_.back().file != errors.file)
      parity_ahead_.push_back({errors.file, {}, {}, 0});
    Ahead& file = parity_ahead_.back();
    file.parity.errors += errors.count;
    ++file.parity.records;
    if (file.named_count < named_parity_errors) file.named[file.named_count++] = errors;
    parity_total_ += errors.count;
  }

  // The decoder finds them before any item.
  void unstarted_frames(std::uint64_t frames) override { form_.unstarted_frames(frames); }

  std::uint64_t parity_total() const { return parity_total_; }

  // Returns the tape files told of so far, and the records read whole in them.
  std::uint64_t files() const { return files_; }
  std::uint64_t records() const { return records_total_; }
  std::uint64_t bad_records() const { return bad_; }
  std::uint64_t erase_gaps() const { return gaps_; }
  // Returns whether the tape marks come in pairs, as a writer that frames a tape mark like a
  // record (a zero count and a zero trailer) leaves them: every run of them one after another
  // of even length, the last one too (such a writer ends a tape with whole pairs), at least
  // two pairs, and records after one. Single tape marks between records, as where images are
  // joined one after another, say otherwise.
  bool marks_look_eight_bytes_long() const {
    return !odd_run_ && pairs_ >= 2 && records_after_pair_;
  }

 private:
  // Notes that the walk read an item: a tape mark, a gap, or else a record; tells of the runs
  // it ends.
  void after_item(bool tape_mark, bool gap = false) {
    last_two_marks_ = tape_mark && last_was_mark_;
    last_was_mark_ = tape_mark;
    if (!tape_mark) end_run();
    if (!gap) put_gaps();
    if (!tape_mark) put_empty_files();
  }

  // Notes that an item begins at `offset`: the tape file begins there, if it is its first. (A
  // tape mark is 4 bytes long or 2 or 8, as the format has it.)
  void begin_item(std::uint64_t offset) {
    if (file_starts_) file_at_ = offset;
    file_starts_ = false;
  }

  // Counts the pairs in the run of tape marks one after another that has just ended, if any.
  void end_run() {
    if (run_ % 2 == 1) odd_run_ = true;
    pairs_ += run_ / 2;
    run_ = 0;
  }

  // Tells of the run of empty tape files, if any.
  void put_empty_files() {
    if (empty_run_ == 0) return;
    form_.empty_files(empty_from_.first, empty_run_, empty_from_.second);
    files_ += empty_run_;
    empty_run_ = 0;
  }

  // Tells of the run of erase gaps, if any.
  void put_gaps() {
    if (gap_run_ == 0) return;
    form_.erase_gaps(gap_run_, gap_first_, gap_last_);
    gap_run_ = 0;
  }

  // Tells of tape file `file` with the records counted since it began, and starts the count of
  // the next one.
  void put_file(std::uint64_t file) {
    put_empty_files();
    const SizeTally::Summary sizes = tally_.summary();
    FileParity parity;
    while (!parity_ahead_.empty() && parity_ahead_.front().file <= file) {
      const Ahead& ahead = parity_ahead_.front();
      if (ahead.file == file) {
        for (std::size_t k = 0; k < ahead.named_count; ++k) form_.parity_errors(ahead.named[k]);
        parity = ahead.parity;
      }
      parity_ahead_.pop_front();
    }
    form_.tape_file(file, file_at_, sizes, bad_in_file_, parity);
    ++files_;
    records_total_ += sizes.records;
    bad_in_file_ = 0;
    tally_.clear();
  }

  // Returns the offset of the item at `offset` of the image walked: of a P7B dump, in the dump.
  std::uint64_t in_dump(std::uint64_t offset) {
    return dump_ != nullptr ? dump_->dump_offset_of(offset) : offset;
  }

  // The parity errors of a tape file that the decoder has found and the walk not yet reached:
  // a few records named, the rest counted.
  struct Ahead {
    std::uint64_t file;
    FileParity parity;
    std::array<ParityErrors, named_parity_errors> named;
    std::size_t named_count;
  };

  const bool records_;
  Form& form_;
  SizeTally& tally_;
  tape_image::P7bSource* dump_ = nullptr;  // the decoder of a P7B dump, if it is one
  // Of the tape files the decoder is ahead in (as far as the reader reads ahead: bounded).
  std::deque<Ahead> parity_ahead_;
  std::uint64_t parity_total_ = 0;
  std::uint64_t file_at_ = 0;  // where the tape file being read begins
  bool file_starts_ = false;   // a tape mark was the last item: the next begins a tape file
  std::uint64_t files_ = 0;    // tape files told of, in a run or alone
  std::uint64_t records_total_ = 0;
  std::uint64_t bad_in_file_ = 0;  // bad records in the tape file being read
  std::uint64_t bad_ = 0;          // bad records in all
  std::uint64_t gaps_ = 0;         // erase gaps in all
  // The run of empty tape files not yet told of: how many, the first's number and offset.
  std::uint64_t empty_run_ = 0;
  std::pair<std::uint64_t, std::uint64_t> empty_from_{};
  // The run of erase gaps one after another not yet told of.
  std::uint64_t gap_run_ = 0;
  std::uint64_t gap_first_ = 0;
  std::uint64_t gap_last_ = 0;
  std::uint64_t marks_ = 0;          // tape marks so far
  bool last_was_mark_ = false;       // the last item read is a tape mark
  bool last_two_marks_ = false;      // so are the last two
  std::uint64_t run_ = 0;            // tape marks one after another, the last items read
  std::uint64_t pairs_ = 0;          // pairs of tape marks in the runs that have ended
  bool odd_run_ = false;             // one of those runs is of odd length
  bool records_after_pair_ = false;  // records come after one of the pairs
};

// Appends " (reason)" for the errno `error`, if it is known.
void put_reason(std::string& line, int error) {
  if (error == 0) return;
  line += " (";
  line += std::strerror(error);
  line += ')';
}

// Appends how a walk ended, `ending`, in the survey `survey`; `end_of_tape` when two tape marks
// end the recorded tape.
void put_ending(std::string& line, const Survey& survey, const Ending& ending, bool end_of_tape) {
  const auto name_record = [&] {
    line += record_name(ending.file, ending.record);
    if (ending.bad) line += ", a bad record,";
  };
  switch (ending.kind) {
    case EndKind::empty:
      line += "the image is empty";
      break;
    case EndKind::after_tape_mark:
      line +=
          end_of_tape ? "after two tape marks, the end of the recorded tape" : "after a tape mark";
      break;
    case EndKind::zero_fill:
      line += "after two tape marks, the end of the recorded tape";
      break;
    case EndKind::after_record:
      line += "after a record, with no tape mark after it";
      break;
    case EndKind::after_gap:
      line += "after an erase gap, with no tape mark after it";
      break;
    case EndKind::stray_bytes:
      line += count_of(ending.bytes, "stray byte") + " where a count should begin";
      break;
    case EndKind::end_of_medium:
      line += "end-of-medium marker";
      break;
    case EndKind::half_gap:
    case EndKind::reserved_word:
      line += ending.kind == EndKind::half_gap ? "a half gap (" : "a reserved control word (";
      line += tape_image::hex_word(ending.word);
      line += "), past which the walk cannot go on safely";
      break;
    case EndKind::placeholder:
      line += "a record whose count was never written (" + tape_image::hex_word(ending.word) +
              ", left where its writer was stopped), past which the walk cannot go on safely";
      break;
    case EndKind::in_data:
    case EndKind::before_pad:
    case EndKind::in_trailer:
      name_record();
      line += ' ' + tape_image::how_broken(ending);
      break;
    case EndKind::unequal_counts:
      line += record_name(ending.file, ending.record);
      line += ending.bad ? ", a bad record: " : ": ";
      line += tape_image::how_broken(ending);
      break;
    case EndKind::read_error:
      line += "read error at " + std::to_string(survey.size);
      if (ending.in_record) {
        line += " in ";
        name_record();
      }
      put_reason(line, survey.read_errno);
      break;
  }
  // Bytes past the marker or the word: simh reads none of them.
  if ((ending.kind == EndKind::end_of_medium || ending.kind == EndKind::half_gap ||
       ending.kind == EndKind::reserved_word || ending.kind == EndKind::placeholder) &&
      ending.bytes > 0) {
    line += ", " + count_of(ending.bytes, "byte") + " after it";
  }
}

// Returns the line that tells how the walk of `survey` ended, after the line of the zero bytes
// that pad the image past the end of the recorded tape, if any.
std::string end_line(const Survey& survey, bool end_of_tape) {
  std::string line;
  if (survey.ending.kind == EndKind::zero_fill) {
    line += count_of(survey.ending.bytes, "zero byte") + " from " +
            std::to_string(survey.ending.at) + ", after the end of the recorded tape\n";
  }
  line += "end at " + std::to_string(survey.ending.at) + ": ";
  put_ending(line, survey, survey.ending, end_of_tape);
  line += '\n';
  // A read that failed after the walk had ended, on to the end of the image for its size.
  if (survey.read_failed && survey.ending.kind != EndKind::read_error) {
    line += "read error at " + std::to_string(survey.size);
    put_reason(line, survey.read_errno);
    line += '\n';
  }
  return line;
}

// What reelprint makes of the control word where its reading parts from the walk's, or of
// the end-of-medium marker.
struct Listed {
  // The tape files reelprint must be asked to list to get there: by default it lists only the
  // first.
  std::uint64_t files;
  std::uint32_t word;
  std::uint64_t at;
  const Ending* ending;  // where its listing ends; none at the marker, where it stops or not
  bool as_record;        // at the marker: that many bytes follow it, so it lists a record
  // The status its listing there gives; none where it lists the marker as a record.
  std::optional<int> status;
};

// Returns what reelprint makes of the image's first control word, where the survey met one
// (or the end-of-medium marker).
std::optional<Listed> listed_reading(const Survey& survey, Format format) {
  const bool at_marker = !survey.as_listed;
  if (at_marker && (survey.ending.kind != EndKind::end_of_medium || !reelprint_reads(format)))
    return std::nullopt;
  const Ending& last = at_marker ? survey.ending : *survey.as_listed;
  // After a tape mark, the listing of the tape file it ends reaches the end.
  const std::uint64_t files = last.file - (last.kind == EndKind::after_tape_mark ? 1 : 0);
  Listed listed{std::max<std::uint64_t>(files, 1),
                0xFFFF'FFFF,
                survey.ending.at,
                nullptr,
                false,
                std::nullopt};
  if (at_marker) {
    // A record of that many bytes from there: longer than the rest, mostly.
    listed.as_record = survey.ending.bytes >= listed.word;
    if (!listed.as_record) listed.status = status_read_failed;
  } else {
    listed.word = survey.parted_word;
    listed.at = survey.parted_at;
    listed.ending = &*survey.as_listed;
    listed.status = status_of(*survey.as_listed);
  }
  return listed;
}

// Returns what the reading of counts alone takes the control word `word` for a count of.
std::string_view word_name(std::uint32_t word) {
  switch (kind_of(word)) {
    case WordKind::bad_record:
      return "bad record's word";
    case WordKind::erase_gap:
      return "erase gap";
    case WordKind::half_gap:
      return "half gap";
    case WordKind::end_of_medium:
      return "end-of-medium marker";
    case WordKind::placeholder:
      return "placeholder";
    default:
      return "reserved word";
  }
}

// Returns the listing's message where it stops with `status`.
std::string_view message_of(int status) {
  return status == status_read_failed ? tape_image::listing_read_error
                                      : tape_image::listing_unequal;
}

// Returns the line, without its newline, that says what reelprint makes of the control word
// in `listed`, and where its listing of the image ends. Past tape file 1 it names the tape
// files reelprint must be asked to list to get there.
std::string as_listed_line(const Survey& survey, const Listed& listed) {
  std::string line = "reelprint ";
  if (listed.files > 1) {
    line += '-' + std::to_string(listed.files) + " (listing " +
            count_of(listed.files, "tape file") + ") ";
  }
  line += "reads the ";
  line += word_name(listed.word);
  line += " at " + std::to_string(listed.at) + " (" + tape_image::hex_word(listed.word) +
          ") as a count of " + std::to_string(listed.word);
  if (!listed.ending) {
    if (listed.as_record) return line + " and lists it as a record";
    return line + " and stops with \"" + std::string(tape_image::listing_read_error) +
           "\" (status 3)";
  }
  const int status = *listed.status;
  if (status == status_ok) {
    line += " and lists on";
  } else {
    line += " and stops with \"";
    line += message_of(status);
    line += "\" (status " + std::to_string(static_cast<std::uint64_t>(status)) + ")";
  }
  line += ": ";
  if (status == status_ok || listed.ending->at != listed.at) {
    line += "end at " + std::to_string(listed.ending->at) + ": ";
  }
  put_ending(line, survey, *listed.ending, false);
  return line;
}

// Returns whether a walk that ended in `ending` read the image cleanly.
bool clean(const Ending& ending) { return status_of(ending) == status_ok && ending.records > 0; }

// Returns the hint, without its newline, that the image is no tape image at all, or "": where
// its first item already breaks, and its first bytes are text; or its first count is more than
// the image holds and either no simh record is so long (its size keeps 24 bits) or the bytes
// after it are no character codes (one is above 63, as in a compressed file). A count more
// than the image alone is no evidence: every image cut short in its first record has one. The
// count is the size the walk read, a bad record's without its flag.
std::string not_an_image_hint(const Survey& survey) {
  const Ending& ending = survey.ending;
  if (survey.head_size < 4 || !ending.in_record || ending.at != 0) return "";
  const std::span<const std::uint8_t> head(survey.head.data(), survey.head_size);
  const bool text = std::all_of(head.begin(), head.end(), [](std::uint8_t byte) {
    return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r';
  });
  const std::uint32_t first = ending.size;
  const bool beyond = first > survey.size;
  const bool no_codes =
      std::any_of(head.begin() + 4, head.end(), [](std::uint8_t byte) { return byte > 63; });
  if (!text && !(beyond && (first > tape_image::largest_bad_record || no_codes))) return "";
  std::string line = "not a tape image, it seems: ";
  if (beyond) {
    line += "its first count, " + std::to_string(first);
    if (ending.bad) line += " (of a bad record)";
    line += ", is more than the whole image";
    line += text ? ", and " : "; ";
  }
  line += "its first bytes are ";
  if (text) {
    line += "text: \"";
    for (const std::uint8_t byte : head) line += byte < 0x20 ? ' ' : static_cast<char>(byte);
    line += '"';
  } else {
    for (std::size_t k = 0; k < head.size(); ++k) {
      if (k > 0) line += ' ';
      line += "0123456789abcdef"[head[k] >> 4];
      line += "0123456789abcdef"[head[k] & 15];
    }
  }
  return line;
}

// Returns the hint, without its newline, that the image is a P7B dump, or "": its head, read a
// byte a frame, begins with a record start, and its frames have all but a few (one in 16 at
// most, as a worn tape's may not) the one parity.
std::string dump_hint(const DumpLook& look) {
  if (!look.first_start || look.frames < 2) return "";
  const bool even = look.even * 2 >= look.frames;
  const std::uint64_t other = even ? look.frames - look.even : look.even;
  if (other * 16 > look.frames) return "";
  return std::string(
             "a P7B dump, it seems: a record starts at its first byte, and its frames have ") +
         (even ? "even parity: --format=p7b" : "odd parity: --format=p7b --parity=odd");
}

// Returns the words of the hint that an image asked for in `asked` reads cleanly in `clean`.
std::string_view cleanly_in(Format clean, Format asked) {
  switch (clean) {
    case Format::simh:
      return asked == Format::e11 ? "without -e (simh framing)"
                                  : "with --format=simh (simh framing)";
    case Format::e11:
      return "with -e (E11 framing)";
    case Format::simh_be:
      return "with --format=simh-be (big-endian counts)";
    case Format::tpc:
      return "with --format=tpc (TPC: 16-bit counts, odd data padded)";
    case Format::tpc_nopad:
      return "with --format=tpc-nopad (TPC: 16-bit counts, odd data not padded)";
    default:  // walked for no hint
      return "";
  }
}

// Returns the hints on what the image most likely is: where the walk in the format asked for,
// `format`, breaks and one in another format reads the image cleanly, the image is very likely
// in that other format.
std::vector<std::string> hints(const Survey& survey, Format format, bool eight_byte_marks) {
  std::vector<std::string> lines;
  if (status_of(survey.ending) != status_ok && !survey.read_failed) {
    std::string line;
    std::array<bool, format_count> reads_cleanly{};  // the formats named so far
    for (const Format other : tape_image::all_formats()) {
      const auto k = static_cast<std::size_t>(other);
      const bool twin = other == twin_of(format);
      const std::optional<Ending>& walked = twin ? survey.other : survey.walked_as[k];
      // A walk given up past the head reads it cleanly if it read records there; a format
      // whose twin, earlier, reads the image cleanly too is not named (both read alike
      // without odd-length records).
      const bool head_only = !twin && survey.head_only[k];
      if (!walked || !(head_only ? walked->records > 0 : clean(*walked))) continue;
      if (reads_cleanly[static_cast<std::size_t>(twin_of(other).value_or(other))]) continue;
      reads_cleanly[k] = true;
      line += line.empty() ? "reads cleanly " : ", or ";
      line += cleanly_in(other, format);
    }
    if (line.empty()) line = dump_hint(survey.dump_look);
    if (line.empty()) line = not_an_image_hint(survey);
    if (!line.empty()) lines.push_back(std::move(line));
  }
  if (eight_byte_marks)
    lines.emplace_back(
        "its tape marks look 8 bytes long (a zero count and a zero trailer, as some writers "
        "frame them): each shows here as two, and --format=simh-tm8 reads each as one");
  return lines;
}

// Returns the name of `parity`.
std::string_view parity_name(tape_image::Parity parity) {
  return parity == tape_image::Parity::even  ? "even"
         : parity == tape_image::Parity::odd ? "odd"
                                             : "none";
}

// Returns how the first line names `format`, of a P7B dump with the `parity` checked.
std::string format_words(Format format, tape_image::Parity parity) {
  if (format == Format::simh) return "simh framing";
  if (format == Format::e11) return "E11 framing";
  std::string words = std::string(tape_image::name_of(format)) + " format";
  if (format == Format::p7b) {
    words += parity == tape_image::Parity::none
                 ? " (parity not checked)"
                 : " (" + std::string(parity_name(parity)) + " parity)";
  }
  return words;
}

// The report as lines of text, held in `hold` but the first.
class TextForm final : public Form {
 public:
  explicit TextForm(Hold& hold) : hold_(hold) {}

  void record(const SurveyRecord& record, std::string_view shown) override {
    line_.clear();
    line_ += record_name(record.file, record.number) + " at " + std::to_string(record.offset) +
             ": " + count_of(record.size, "byte");
    if (record.bad) line_ += ", bad";
    if (record.tape_mark_character) {
      line_ += ": the tape-mark character (code 15), a record, not a tape mark\n";
      hold_.append(line_);
      return;
    }
    // The blanks that end the characters shown would only trail the line.
    while (!shown.empty() && shown.back() == ' ') shown.remove_suffix(1);
    if (!shown.empty()) {
      line_ += ": ";
      line_ += shown;
    }
    line_ += '\n';
    hold_.append(line_);
  }

  void tape_file(std::uint64_t file, std::uint64_t at, const SizeTally::Summary& sizes,
                 std::uint64_t bad, const FileParity& parity) override {
    line_.clear();
    line_ += "file " + std::to_string(file) + " at " + std::to_string(at) + ": ";
    if (sizes.records == 0) {
      line_ += "0 records";
    } else {
      line_ += count_of(sizes.records, "record") + " of ";
      if (sizes.largest == sizes.smallest) {
        line_ += count_of(sizes.smallest, "byte");
      } else {
        line_ += std::to_string(sizes.smallest) + " to " + std::to_string(sizes.largest) + " bytes";
        if (!sizes.most_common) {
          line_ += ", most common not known";
        } else if (sizes.most_common->second > 1) {  // a size that repeats
          line_ += ", most common " + std::to_string(sizes.most_common->first) + " (" +
                   count_of(sizes.most_common->second, "record") + ")";
        }
      }
      if (bad > 0) line_ += ", " + std::to_string(bad) + " of them bad";
      line_ += ", " + count_of(sizes.data_bytes, "data byte");
      if (parity.errors > 0) {
        line_ += ", " + count_of(parity.errors, "parity error") + " in " +
                 count_of(parity.records, "record");
      }
    }
    line_ += '\n';
    hold_.append(line_);
  }

  void parity_errors(const ParityErrors& errors) override {
    hold_.append(record_name(errors.file, errors.record) + ": " +
                 count_of(errors.count, "parity error") + ", the first in frame " +
                 std::to_string(errors.position) + " at " + std::to_string(errors.offset) + "\n");
  }

  void unstarted_frames(std::uint64_t frames) override {
    hold_.append("the first " + count_of(frames, "frame") +
                 " of the dump come before any record start: damage, read as a bad record, "
                 "file 1 record 1\n");
  }

  void empty_files(std::uint64_t first, std::uint64_t count, std::uint64_t at) override {
    line_.clear();
    line_ += count == 1 ? "file " : "files ";
    line_ += std::to_string(first);
    if (count > 1) line_ += " to " + std::to_string(first + count - 1);
    line_ += " at " + std::to_string(at) + ": empty\n";
    hold_.append(line_);
  }

  void erase_gaps(std::uint64_t count, std::uint64_t first, std::uint64_t last) override {
    line_.clear();
    if (count == 1) {
      line_ += "erase gap at " + std::to_string(first);
    } else {
      line_ += std::to_string(count) + " erase gaps at " + std::to_string(first) + " to " +
               std::to_string(last);
    }
    line_ += ", passed over\n";
    hold_.append(line_);
  }

  std::string finish(const Closing& closing) override {
    const Survey& survey = closing.survey;
    hold_.append(end_line(survey, closing.end_of_tape));
    if (closing.closing_start.value_or(false))
      hold_.append("closing record start at " + std::to_string(survey.size - 1) + "\n");
    if (const std::optional<Listed> listed = listed_reading(survey, closing.format))
      hold_.append(as_listed_line(survey, *listed) + '\n');
    for (const std::string& hint : closing.hints) hold_.append(hint + '\n');

    std::string first(closing.name);
    first += ": ";
    first += count_of(survey.size, "byte");
    first += ", " + format_words(closing.format, closing.parity) + ", ";
    first += count_of(closing.files, "tape file");
    first += ", ";
    first += count_of(closing.records, "record");
    if (closing.bad_records > 0) first += " (" + std::to_string(closing.bad_records) + " bad)";
    if (closing.erase_gaps > 0) first += ", " + count_of(closing.erase_gaps, "erase gap");
    if (closing.parity_errors > 0) first += ", " + count_of(closing.parity_errors, "parity error");
    first += '\n';
    return first;
  }

 private:
  Hold& hold_;
  std::string line_;  // the line being built, kept for its room
};

// Returns the name a JSON report gives the way `ending` ends a walk; `end_of_tape` when two
// tape marks end the recorded tape.
std::string_view ending_name(const Ending& ending, bool end_of_tape) {
  switch (ending.kind) {
    case EndKind::empty:
      return "empty";
    case EndKind::after_tape_mark:
      return end_of_tape ? "end_of_recorded_tape" : "after_tape_mark";
    case EndKind::zero_fill:
      return "end_of_recorded_tape";
    case EndKind::after_record:
      return "after_record";
    case EndKind::after_gap:
      return "after_erase_gap";
    case EndKind::stray_bytes:
      return "stray_bytes";
    case EndKind::end_of_medium:
      return "end_of_medium";
    case EndKind::half_gap:
      return "half_gap";
    case EndKind::reserved_word:
      return "reserved_word";
    case EndKind::placeholder:
      return "placeholder";
    case EndKind::in_data:
      return "cut_short_in_data";
    case EndKind::before_pad:
      return "cut_short_before_pad";
    case EndKind::in_trailer:
      return "cut_short_in_trailer";
    case EndKind::unequal_counts:
      return "unequal_counts";
    case EndKind::read_error:
      return "read_error";
  }
  return "";
}

// Returns the reason the errno `error` gives, as a JSON string; null where it is not known.
std::string json_reason(int error) {
  std::string json;
  if (error == 0) return "null";
  append_json_string(json, std::strerror(error));
  return json;
}

// Appends the JSON object of how a walk ended, `ending`, in `survey`.
void append_json_ending(std::string& out, const Survey& survey, const Ending& ending,
                        bool end_of_tape) {
  JsonObject object(out);
  object.string("kind", ending_name(ending, end_of_tape)).number("at", ending.at);
  if (ending.in_record) {
    JsonObject record(object.member("record"));
    record.number("file", ending.file)
        .number("record", ending.record)
        .number("size", ending.size)
        .boolean("bad", ending.bad)
        .close();
  } else {
    object.null("record");
  }
  object.number("bytes", ending.bytes);
  const bool has_word = ending.kind == EndKind::half_gap || ending.kind == EndKind::reserved_word ||
                        ending.kind == EndKind::placeholder;
  if (has_word) {
    object.string("word", tape_image::hex_word(ending.word));
  } else {
    object.null("word");
  }
  if (ending.kind == EndKind::unequal_counts) {
    object.number("trailer", ending.trailer);
  } else {
    object.null("trailer");
  }
  if (ending.kind == EndKind::read_error) {
    object.raw("reason", json_reason(survey.read_errno));
  } else {
    object.null("reason");
  }
  std::string text;
  put_ending(text, survey, ending, end_of_tape);
  object.string("text", text).close();
}

// The report as one JSON object: its opening, the totals and the start of the items, first;
// then the items and the rest, in `hold`.
class JsonForm final : public Form {
 public:
  explicit JsonForm(Hold& hold) : hold_(hold) {}

  void record(const SurveyRecord& record, std::string_view shown) override {
    JsonObject object(start_item());
    object.string("type", "record")
        .number("file", record.file)
        .number("record", record.number)
        .number("at", record.offset)
        .number("size", record.size)
        .boolean("bad", record.bad)
        .boolean("tape_mark_character", record.tape_mark_character)
        .string("text", shown)
        .close();
    put_item();
  }

  void tape_file(std::uint64_t file, std::uint64_t at, const SizeTally::Summary& sizes,
                 std::uint64_t bad, const FileParity& parity) override {
    JsonObject object(start_item());
    object.string("type", "tape_file")
        .number("file", file)
        .number("at", at)
        .number("records", sizes.records);
    if (sizes.records > 0) {
      object.number("smallest", sizes.smallest).number("largest", sizes.largest);
    } else {
      object.null("smallest").null("largest");
    }
    if (sizes.most_common) {
      JsonObject common(object.member("most_common"));
      common.number("size", sizes.most_common->first)
          .number("records", sizes.most_common->second)
          .close();
    } else {
      object.null("most_common");
    }
    object.number("bad", bad)
        .number("data_bytes", sizes.data_bytes)
        .number("parity_errors", parity.errors)
        .number("parity_error_records", parity.records)
        .close();
    put_item();
  }

  void parity_errors(const ParityErrors& errors) override {
    JsonObject object(start_item());
    object.string("type", "parity_errors")
        .number("file", errors.file)
        .number("record", errors.record)
        .number("position", errors.position)
        .number("at", errors.offset)
        .number("count", errors.count)
        .close();
    put_item();
  }

  void unstarted_frames(std::uint64_t frames) override {
    JsonObject object(start_item());
    object.string("type", "unstarted_frames").number("frames", frames).close();
    put_item();
  }

  void empty_files(std::uint64_t first, std::uint64_t count, std::uint64_t at) override {
    JsonObject object(start_item());
    object.string("type", "empty_tape_files")
        .number("first", first)
        .number("last", first + count - 1)
        .number("at", at)
        .close();
    put_item();
  }

  void erase_gaps(std::uint64_t count, std::uint64_t first, std::uint64_t last) override {
    JsonObject object(start_item());
    object.string("type", "erase_gaps")
        .number("count", count)
        .number("first", first)
        .number("last", last)
        .close();
    put_item();
  }

  std::string finish(const Closing& closing) override {
    const Survey& survey = closing.survey;
    // The members after the items, of the object the start opens.
    line_ = "\n]";
    const bool zero_fill = survey.ending.kind == EndKind::zero_fill;
    line_ += ",\"zero_fill\":";
    if (zero_fill) {
      JsonObject fill(line_);
      fill.number("at", survey.ending.at).number("bytes", survey.ending.bytes).close();
    } else {
      line_ += "null";
    }
    line_ += ",\"end\":";
    append_json_ending(line_, survey, survey.ending, closing.end_of_tape);
    line_ += ",\"read_error\":";
    if (survey.read_failed && survey.ending.kind != EndKind::read_error) {
      JsonObject error(line_);
      error.number("at", survey.size).raw("reason", json_reason(survey.read_errno)).close();
    } else {
      line_ += "null";
    }
    line_ += ",\"reelprint\":";
    if (const std::optional<Listed> listed = listed_reading(survey, closing.format)) {
      JsonObject object(line_);
      object.number("files", listed->files)
          .number("at", listed->at)
          .string("word", tape_image::hex_word(listed->word))
          .string("word_kind", word_name(listed->word))
          .number("count", listed->word);
      if (listed->status) {
        object.number("status", static_cast<std::uint64_t>(*listed->status));
      } else {
        object.null("status");
      }
      if (listed->status && *listed->status != status_ok) {
        object.string("message", message_of(*listed->status));
      } else {
        object.null("message");
      }
      object.boolean("as_record", listed->as_record);
      if (listed->ending) {
        append_json_ending(object.member("end"), survey, *listed->ending, false);
      } else {
        object.null("end");
      }
      object.string("text", as_listed_line(survey, *listed)).close();
    } else {
      line_ += "null";
    }
    line_ += ",\"closing_start\":";
    line_ += !closing.closing_start ? "null" : *closing.closing_start ? "true" : "false";
    line_ += ",\"hints\":[";
    for (std::size_t k = 0; k < closing.hints.size(); ++k) {
      if (k > 0) line_ += ',';
      append_json_string(line_, closing.hints[k]);
    }
    line_ += "]}";
    hold_.append(line_);

    std::string first;
    JsonObject object(first);
    object.string("image", closing.name)
        .number("size", survey.size)
        .string("format", tape_image::name_of(closing.format))
        .number("tape_files", closing.files)
        .number("records", closing.records)
        .number("bad_records", closing.bad_records)
        .number("erase_gaps", closing.erase_gaps);
    if (closing.format == Format::p7b) {
      object.string("parity", parity_name(closing.parity));
    } else {
      object.null("parity");
    }
    object.number("parity_errors", closing.parity_errors)
        .number("status", static_cast<std::uint64_t>(closing.status));
    object.member("items") += '[';  // closed by the rest, held
    return first;
  }

 private:
  // Starts the next item of the items array.
  std::string& start_item() {
    line_ = items_ == 0 ? "\n" : ",\n";
    ++items_;
    return line_;
  }
  void put_item() { hold_.append(line_); }

  Hold& hold_;
  std::string line_;  // the item being built, kept for its room
  std::uint64_t items_ = 0;
};

// Returns `ending`, of the walk of the simh form that `dump` serves, if it is a P7B dump, with
// its offset in the dump: past the items, the end of the dump but its closing record start; or
// the item the walk ends in. The dump holds no bytes of any other kind.
Ending in_dump(const Ending& ending, std::optional<tape_image::P7bSource>& dump) {
  if (!dump) return ending;
  Ending told = ending;
  const std::uint64_t end = dump->dump_size() - (dump->closing_start() ? 1 : 0);
  const std::uint64_t at = ending.in_record ? dump->dump_offset_of(ending.at) : ~std::uint64_t{0};
  told.at = at != ~std::uint64_t{0} ? at : end;
  return told;
}

}  // namespace

ImageReport report_image(std::string_view name, tape_image::InputSource& source,
                         const ReportAsked& asked, Hold& hold, Hold& dump_hold, SizeTally& tally) {
  TextForm text(hold);
  JsonForm json(hold);
  Form& writer = asked.form == ReportForm::json ? static_cast<Form&>(json) : text;
  Reporter reporter(asked.records, writer, tally);
  // A P7B dump is walked in the simh form its decoder serves.
  std::optional<tape_image::P7bSource> dump;
  if (asked.format == Format::p7b) {
    dump.emplace(source, asked.parity, dump_hold, &reporter);
    reporter.decoded_by(&*dump);
  }
  const Survey survey = reelinfo::survey(dump ? *dump : source, asked.format,
                                         asked.records ? shown_characters : 0, reporter);
  const Ending ending = in_dump(survey.ending, dump);  // asked once: the offsets asked only grow
  const bool end_of_tape = reporter.close(ending);

  // The status is that of reelprint's listing, which reads every word as a count; of an image
  // in a format it does not read, that of the walk.
  int status = status_of(survey.as_listed ? *survey.as_listed : survey.ending);
  if (survey.read_failed) status = std::max<int>(status, status_read_failed);
  // Tape marks of 8 bytes show as two where a format reads them as one of 4.
  const Format format = asked.format;
  const bool eight_byte_marks =
      reporter.marks_look_eight_bytes_long() &&
      (format == Format::simh || format == Format::e11 || format == Format::simh_be);
  Survey shown = survey;  // its offsets in the dump, of a P7B dump
  std::optional<bool> closing_start;
  if (dump) {
    shown.size = dump->dump_size();
    shown.ending = ending;
    closing_start = dump->closing_start();
  }
  const Closing closing{name,
                        format,
                        asked.parity,
                        shown,
                        end_of_tape,
                        reporter.files(),
                        reporter.records(),
                        reporter.bad_records(),
                        reporter.erase_gaps(),
                        status,
                        hints(survey, format, eight_byte_marks),
                        reporter.parity_total(),
                        closing_start};
  return {status, writer.finish(closing)};
}

std::string unopened_json(std::string_view name, int error) {
  std::string json;
  JsonObject object(json);
  object.string("image", name)
      .number("status", static_cast<std::uint64_t>(status_open_failed))
      .string("error", "cannot open")
      .raw("reason", json_reason(error))
      .close();
  return json;
}

}  // namespace reel::reelinfo
