#include "reelinfo/report.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "bcd/arrangement.h"
#include "common/status.h"

namespace reelprint::reelinfo {
namespace {

using tape_image::EndKind;
using tape_image::Ending;
using tape_image::Framing;
using tape_image::SurveyRecord;

// Appends `value` in decimal.
void put(std::string& line, std::uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  line.append(digits, end);
}

// Appends `count` and `noun`, plural unless `count` is 1.
void put_count(std::string& line, std::uint64_t count, std::string_view noun) {
  put(line, count);
  line += ' ';
  line += noun;
  if (count != 1) line += 's';
}

// Appends "file F record N", naming a record.
void put_record_name(std::string& line, std::uint64_t file, std::uint64_t number) {
  line += "file ";
  put(line, file);
  line += " record ";
  put(line, number);
}

// Builds the lines of the tape files, and of the records if asked, as the walk reads them.
class Reporter final : public tape_image::SurveyListener {
 public:
  Reporter(bool records, Spool& spool, SizeTally& tally)
      : records_(records), spool_(spool), tally_(tally) {
    tally_.clear();
  }

  // Counts the sizes of a run of records, and gives each a line if asked.
  void records(const SurveyRecord& record) override {
    tally_.add(record.size, record.count);
    if (!records_) return;  // runs of one record only when there are record lines
    line_.clear();
    put_record_name(line_, record.file, record.number);
    line_ += " at ";
    put(line_, record.offset);
    line_ += ": ";
    put_count(line_, record.size, "byte");
    line_ += ": ";
    char text[tape_image::most_first_bytes + 1];
    char* end = text;
    for (const std::uint8_t code : record.first) *end++ = bcd::bcd_to_ascii_a[code & 63];
    *end++ = '\n';
    line_.append(text, end);
    spool_.append(line_);
  }

  // Gives the tape file the tape mark ends its line; the next one begins after it.
  void tape_mark(std::uint64_t file, std::uint64_t offset) override {
    put_file_line(file, "empty");
    file_at_ = offset + 4;
  }

  // Puts the line of the tape file that the image ends in, if the walk began one there: a
  // record read whole, or one that breaks.
  void close(const Ending& ending) {
    if (ending.in_record) {
      put_file_line(ending.file, "0 records");
    } else if (tally_.summary().records > 0) {
      put_file_line(files_ + 1, "");
    }
  }

  // Returns the tape files given a line so far.
  std::uint64_t files() const { return files_; }
  // Returns the records read whole so far in the tape files given a line.
  std::uint64_t records() const { return records_total_; }

 private:
  // Puts the line of tape file `file` with the records counted since it began, `if_none` if
  // there is none, and starts the count of the next one.
  void put_file_line(std::uint64_t file, std::string_view if_none) {
    line_.clear();
    line_ += "file ";
    put(line_, file);
    line_ += " at ";
    put(line_, file_at_);
    line_ += ": ";
    const SizeTally::Summary sizes = tally_.summary();
    if (sizes.records == 0) {
      line_ += if_none;
    } else {
      put_count(line_, sizes.records, "record");
      line_ += " of ";
      if (sizes.largest == sizes.smallest) {
        put_count(line_, sizes.smallest, "byte");
      } else {
        put(line_, sizes.smallest);
        line_ += " to ";
        put(line_, sizes.largest);
        line_ += " bytes, most common ";
        if (sizes.most_common) {
          put(line_, sizes.most_common->first);
          line_ += " (";
          put_count(line_, sizes.most_common->second, "record");
          line_ += ")";
        } else {
          line_ += "not known";
        }
      }
      line_ += ", ";
      put_count(line_, sizes.data_bytes, "data byte");
    }
    line_ += '\n';
    spool_.append(line_);
    ++files_;
    records_total_ += sizes.records;
    tally_.clear();
  }

  const bool records_;
  Spool& spool_;
  SizeTally& tally_;
  std::string line_;           // the line being built, kept for its room
  std::uint64_t file_at_ = 0;  // where the tape file being read begins
  std::uint64_t files_ = 0;    // tape files given a line
  std::uint64_t records_total_ = 0;
};

// Appends " (reason)" for the errno `error`, if it is known.
void put_reason(std::string& line, int error) {
  if (error == 0) return;
  line += " (";
  line += std::strerror(error);
  line += ')';
}

// Returns the line that tells how the walk of `survey` ended.
std::string end_line(const tape_image::Survey& survey) {
  const Ending& ending = survey.ending;
  std::string line = "end at ";
  put(line, ending.at);
  line += ": ";
  switch (ending.kind) {
    case EndKind::empty:
      line += "the image is empty";
      break;
    case EndKind::after_tape_mark:
      line += "after a tape mark";
      break;
    case EndKind::after_record:
      line += "after a record, with no tape mark after it";
      break;
    case EndKind::stray_bytes:
      put_count(line, ending.bytes, "stray byte");
      line += " where a count should begin";
      break;
    case EndKind::end_of_medium:
      line += "end-of-medium marker";
      break;
    case EndKind::in_data:
      put_record_name(line, ending.file, ending.record);
      line += " cut short in its data, ";
      put(line, ending.bytes);
      line += " of ";
      put_count(line, ending.size, "byte");
      line += " there";
      break;
    case EndKind::before_pad:
      put_record_name(line, ending.file, ending.record);
      line += " cut short before its pad byte";
      break;
    case EndKind::in_trailer:
      put_record_name(line, ending.file, ending.record);
      line += " cut short in its trailing count, ";
      put(line, ending.bytes);
      line += " of 4 bytes there";
      break;
    case EndKind::unequal_counts:
      put_record_name(line, ending.file, ending.record);
      line += ": leading count ";
      put(line, ending.size);
      line += ", trailing count ";
      put(line, ending.trailer);
      break;
    case EndKind::read_error:
      line += "read error at ";
      put(line, survey.size);
      if (ending.in_record) {
        line += " in ";
        put_record_name(line, ending.file, ending.record);
      }
      put_reason(line, survey.read_errno);
      break;
  }
  // Bytes past the marker: simh reads none of them.
  if (ending.kind == EndKind::end_of_medium && ending.bytes > 0) {
    line += ", ";
    put_count(line, ending.bytes, "byte");
    line += " after it";
  }
  line += '\n';
  // A read that failed after the walk had ended, on to the end of the image for its size.
  if (survey.read_failed && ending.kind != EndKind::read_error) {
    line += "read error at ";
    put(line, survey.size);
    put_reason(line, survey.read_errno);
    line += '\n';
  }
  return line;
}

}  // namespace

int status_of(const Ending& ending) {
  switch (ending.kind) {
    case EndKind::empty:
    case EndKind::after_tape_mark:
    case EndKind::after_record:
    case EndKind::stray_bytes:
    case EndKind::end_of_medium:
      return status_ok;
    case EndKind::in_data:
    case EndKind::read_error:
      return status_read_failed;
    // reelprint takes a missing pad byte as no error of its own, then reads the missing
    // trailing count, or one cut short, as 0.
    case EndKind::before_pad:
    case EndKind::in_trailer:
    case EndKind::unequal_counts:
      return status_unequal_counts;
  }
  return status_read_failed;
}

ImageReport report_image(std::string_view name, tape_image::InputSource& source, Framing framing,
                         bool records, Spool& spool, SizeTally& tally) {
  Reporter reporter(records, spool, tally);
  const tape_image::Survey survey =
      tape_image::survey(source, framing, records ? shown_characters : 0, reporter);
  reporter.close(survey.ending);
  spool.append(end_line(survey));

  int status = status_of(survey.ending);
  if (survey.read_failed) status = std::max<int>(status, status_read_failed);
  // The walk in the other framing parts from this one at an odd-length record; where this one
  // breaks and that one does not, the image is very likely of the other framing.
  if ((status == status_read_failed || status == status_unequal_counts) && !survey.read_failed &&
      survey.other && status_of(*survey.other) == status_ok) {
    spool.append(framing == Framing::simh ? "reads cleanly with -e (E11 framing)\n"
                                          : "reads cleanly without -e (simh framing)\n");
  }

  std::string first(name);
  first += ": ";
  put_count(first, survey.size, "byte");
  first += framing == Framing::simh ? ", simh framing, " : ", E11 framing, ";
  put_count(first, reporter.files(), "tape file");
  first += ", ";
  put_count(first, reporter.records(), "record");
  first += '\n';
  return {status, first};
}

}  // namespace reelprint::reelinfo
