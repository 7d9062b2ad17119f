#include "reelinfo/report.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "bcd/arrangement.h"
#include "common/status.h"
#include "tape_image/account.h"

namespace reel::reelinfo {
namespace {

using tape_image::count_of;
using tape_image::Framing;
using tape_image::record_name;
using tape_image::status_of;

// Builds the lines of the tape files, of the erase gaps, and of the records if asked, as the
// walk reads them.
class Reporter final : public SurveyListener {
 public:
  Reporter(bool records, Hold& hold, SizeTally& tally)
      : records_(records), hold_(hold), tally_(tally) {
    tally_.clear();
  }

  // Counts the sizes of a run of records, and gives each a line if asked.
  void records(const SurveyRecord& record) override {
    after_item(false);
    if (pairs_ > 0) records_after_pair_ = true;
    tally_.add(record.size, record.count);
    if (record.bad) {
      ++bad_in_file_;
      ++bad_;
    }
    if (!records_) return;  // runs of one record only when there are record lines
    line_.clear();
    line_ += record_name(record.file, record.number) + " at " + std::to_string(record.offset) +
             ": " + count_of(record.size, "byte");
    if (record.bad) line_ += ", bad";
    char text[most_first_bytes];
    char* end = text;
    for (const std::uint8_t code : record.first) *end++ = bcd::bcd_to_ascii_a[code & 63];
    // The blanks that end the characters shown would only trail the line.
    while (end != text && end[-1] == ' ') --end;
    if (end != text) {
      line_ += ": ";
      line_.append(text, end);
    }
    line_ += '\n';
    hold_.append(line_);
  }

  // Gives the tape file the tape mark ends its line, or counts it among a run of empty ones;
  // the next one begins after it.
  void tape_mark(std::uint64_t file, std::uint64_t offset) override {
    after_item(true);
    ++run_;
    ++marks_;
    if (tally_.summary().records == 0) {
      if (empty_run_ == 0) empty_from_ = {file, file_at_};
      ++empty_run_;
    } else {
      put_file_line(file);
    }
    file_at_ = offset + 4;
  }

  // Gives a run of erase gaps one after another a line.
  void erase_gap(std::uint64_t offset) override {
    after_item(false, true);
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

  // Puts the lines that the image's end leaves to come: the run of empty tape files (less
  // the last, where two tape marks end the recorded tape: returns whether they do), and the
  // tape file the image ends in, if the walk began one there: a record read whole, or one
  // that breaks, or a control word it stops at.
  bool close(const Ending& ending) {
    end_run();
    put_gaps();
    const bool end_of_tape = (ending.kind == EndKind::after_tape_mark && last_two_marks_) ||
                             ending.kind == EndKind::zero_fill;
    if (end_of_tape) --empty_run_;
    const bool stops_in_file = ending.in_record || ending.kind == EndKind::half_gap ||
                               ending.kind == EndKind::reserved_word ||
                               ending.kind == EndKind::placeholder;
    if (stops_in_file || tally_.summary().records > 0) put_file_line(marks_ + 1, "0 records");
    put_empty_files();
    return end_of_tape;
  }

  // Returns the tape files given a line so far, and the records read whole in them.
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
  // Notes that the walk read an item: a tape mark, a gap, or else a record; puts the lines of
  // the runs it ends.
  void after_item(bool tape_mark, bool gap = false) {
    last_two_marks_ = tape_mark && last_was_mark_;
    last_was_mark_ = tape_mark;
    if (!tape_mark) end_run();
    if (!gap) put_gaps();
    if (!tape_mark) put_empty_files();
  }

  // Counts the pairs in the run of tape marks one after another that has just ended, if any.
  void end_run() {
    if (run_ % 2 == 1) odd_run_ = true;
    pairs_ += run_ / 2;
    run_ = 0;
  }

  // Puts the line of the run of empty tape files, if any.
  void put_empty_files() {
    if (empty_run_ == 0) return;
    line_.clear();
    line_ += empty_run_ == 1 ? "file " : "files ";
    line_ += std::to_string(empty_from_.first);
    if (empty_run_ > 1) {
      line_ += " to " + std::to_string(empty_from_.first + empty_run_ - 1);
    }
    line_ += " at " + std::to_string(empty_from_.second) + ": empty\n";
    hold_.append(line_);
    files_ += empty_run_;
    empty_run_ = 0;
  }

  // Puts the line of the run of erase gaps, if any.
  void put_gaps() {
    if (gap_run_ == 0) return;
    line_.clear();
    if (gap_run_ == 1) {
      line_ += "erase gap at " + std::to_string(gap_first_);
    } else {
      line_ += std::to_string(gap_run_) + " erase gaps at " + std::to_string(gap_first_) + " to " +
               std::to_string(gap_last_);
    }
    line_ += ", passed over\n";
    hold_.append(line_);
    gap_run_ = 0;
  }

  // Puts the line of tape file `file` with the records counted since it began, `if_none` if
  // there is none, and starts the count of the next one.
  void put_file_line(std::uint64_t file, std::string_view if_none = "") {
    put_empty_files();
    line_.clear();
    line_ += "file " + std::to_string(file) + " at " + std::to_string(file_at_) + ": ";
    const SizeTally::Summary sizes = tally_.summary();
    if (sizes.records == 0) {
      line_ += if_none;
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
      if (bad_in_file_ > 0) {
        line_ += ", " + std::to_string(bad_in_file_) + " of them bad";
      }
      line_ += ", " + count_of(sizes.data_bytes, "data byte");
    }
    line_ += '\n';
    hold_.append(line_);
    ++files_;
    records_total_ += sizes.records;
    bad_in_file_ = 0;
    tally_.clear();
  }

  const bool records_;
  Hold& hold_;
  SizeTally& tally_;
  std::string line_;           // the line being built, kept for its room
  std::uint64_t file_at_ = 0;  // where the tape file being read begins
  std::uint64_t files_ = 0;    // tape files given a line, in a run or alone
  std::uint64_t records_total_ = 0;
  std::uint64_t bad_in_file_ = 0;  // bad records in the tape file being read
  std::uint64_t bad_ = 0;          // bad records in all
  std::uint64_t gaps_ = 0;         // erase gaps in all
  // The run of empty tape files not yet given a line: how many, the first's number and offset.
  std::uint64_t empty_run_ = 0;
  std::pair<std::uint64_t, std::uint64_t> empty_from_{};
  // The run of erase gaps one after another not yet given a line.
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

// Returns what reelprint makes of the control word where its reading parted from the walk's,
// and where its listing of the image ends; or of the end-of-medium marker. Past tape file 1
// it names the tape files reelprint must be asked to list to get there: by default it lists
// only the first.
std::string as_listed_line(const Survey& survey) {
  const bool at_marker = !survey.as_listed;
  const std::uint32_t word = at_marker ? 0xFFFF'FFFF : survey.parted_word;
  const Ending& last = at_marker ? survey.ending : *survey.as_listed;
  // After a tape mark, the listing of the tape file it ends reaches the end.
  const std::uint64_t files = last.file - (last.kind == EndKind::after_tape_mark ? 1 : 0);
  std::string line = "reelprint ";
  if (files > 1) {
    line += '-' + std::to_string(files) + " (listing " + count_of(files, "tape file") + ") ";
  }
  line += "reads the ";
  switch (kind_of(word)) {
    case WordKind::bad_record:
      line += "bad record's word";
      break;
    case WordKind::erase_gap:
      line += "erase gap";
      break;
    case WordKind::half_gap:
      line += "half gap";
      break;
    case WordKind::end_of_medium:
      line += "end-of-medium marker";
      break;
    case WordKind::placeholder:
      line += "placeholder";
      break;
    default:
      line += "reserved word";
      break;
  }
  line += " at ";
  line += std::to_string(at_marker ? survey.ending.at : survey.parted_at);
  line += " (";
  line += tape_image::hex_word(word);
  line += ") as a count of ";
  line += std::to_string(word);
  if (at_marker) {  // a record of that many bytes from there: longer than the rest, mostly
    if (survey.ending.bytes >= word) return line + " and lists it as a record\n";
    return line + " and stops with \"" + std::string(tape_image::listing_read_error) +
           "\" (status 3)\n";
  }
  const Ending& listed = *survey.as_listed;
  const int status = status_of(listed);
  if (status == status_ok) {
    line += " and lists on";
  } else {
    line += " and stops with \"";
    line +=
        status == status_read_failed ? tape_image::listing_read_error : tape_image::listing_unequal;
    line += '"';
    line += " (status ";
    line += std::to_string(static_cast<std::uint64_t>(status));
    line += ")";
  }
  line += ": ";
  if (status == status_ok || listed.at != survey.parted_at) {
    line += "end at " + std::to_string(listed.at) + ": ";
  }
  put_ending(line, survey, listed, false);
  line += '\n';
  return line;
}

// Returns whether a walk that ended in `ending` read the image cleanly.
bool clean(const Ending& ending) { return status_of(ending) == status_ok && ending.records > 0; }

// Returns the hint that the image is no tape image at all, or "": where its first item
// already breaks, and its first bytes are text; or its first count is more than the image
// holds and either no simh record is so long (its size keeps 24 bits) or the bytes after it
// are no character codes (one is above 63, as in a compressed file). A count more than the
// image alone is no evidence: every image cut short in its first record has one. The count
// is the size the walk read, a bad record's without its flag.
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
  line += '\n';
  return line;
}

}  // namespace

ImageReport report_image(std::string_view name, tape_image::InputSource& source, Framing framing,
                         bool records, Hold& hold, SizeTally& tally) {
  Reporter reporter(records, hold, tally);
  const Survey survey = reelinfo::survey(source, framing, records ? shown_characters : 0, reporter);
  const bool end_of_tape = reporter.close(survey.ending);
  hold.append(end_line(survey, end_of_tape));
  if (survey.as_listed || survey.ending.kind == EndKind::end_of_medium)
    hold.append(as_listed_line(survey));

  // The status is that of reelprint's listing, which reads every word as a count.
  int status = status_of(survey.as_listed ? *survey.as_listed : survey.ending);
  if (survey.read_failed) status = std::max<int>(status, status_read_failed);
  // Hints: where this walk breaks and another reads the image cleanly, the image is very
  // likely of that other kind.
  if (status_of(survey.ending) != status_ok && !survey.read_failed) {
    if (survey.other && clean(*survey.other))
      hold.append(framing == Framing::simh ? "reads cleanly with -e (E11 framing)\n"
                                           : "reads cleanly without -e (simh framing)\n");
    const bool other_clean = survey.other && clean(*survey.other);
    if (clean(survey.swapped))
      hold.append(
          "reads cleanly with its counts byte-swapped (big-endian), as neither "
          "program reads them\n");
    else if (!other_clean)
      hold.append(not_an_image_hint(survey));
  }
  if (reporter.marks_look_eight_bytes_long())
    hold.append(
        "its tape marks look 8 bytes long (a zero count and a zero trailer, as some "
        "writers frame them): each shows here as two\n");

  std::string first(name);
  first += ": ";
  first += count_of(survey.size, "byte");
  first += framing == Framing::simh ? ", simh framing, " : ", E11 framing, ";
  first += count_of(reporter.files(), "tape file");
  first += ", ";
  first += count_of(reporter.records(), "record");
  if (reporter.bad_records() > 0) {
    first += " (" + std::to_string(reporter.bad_records()) + " bad)";
  }
  if (reporter.erase_gaps() > 0) {
    first += ", " + count_of(reporter.erase_gaps(), "erase gap");
  }
  first += '\n';
  return {status, first};
}

}  // namespace reel::reelinfo
