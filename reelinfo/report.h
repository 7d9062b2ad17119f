// The report on one tape image: a first line of totals, a line for each tape file (and for each
// record, if asked), how the image ends, and which format reads it cleanly if the one asked
// for breaks; as lines of text, or as one JSON object.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/hold.h"
#include "reelinfo/size_tally.h"
#include "reelinfo/survey.h"
#include "tape_image/format.h"
#include "tape_image/p7b.h"
#include "tape_image/source.h"

namespace reel::reelinfo {

// Characters of each record that a record line shows.
inline constexpr std::size_t shown_characters = 40;

// What the report is written as.
enum class ReportForm { text, json };

struct ImageReport {
  int status;  // the exit status reelprint's would be: 0, 3 or 4
  // The totals, which come before what is in the hold: the first line, or the JSON object's
  // opening.
  std::string first_line;
};

// What a report is asked for.
struct ReportAsked {
  tape_image::Format format = tape_image::Format::simh;
  tape_image::Parity parity = tape_image::Parity::even;  // of a P7B dump's frames
  bool records = false;                                  // a line (a JSON item) for each record
  ReportForm form = ReportForm::text;
};

// Surveys the image that `source` reads, named `name`, as `asked`; leaves all of the report in
// its form but its start in `hold`, using `tally` to count sizes; a P7B dump's long records
// wait in `dump_hold` while they are decoded. Returns the start and the exit status.
ImageReport report_image(std::string_view name, tape_image::InputSource& source,
                         const ReportAsked& asked, Hold& hold, Hold& dump_hold, SizeTally& tally);

// Returns the JSON object of an image that could not be opened, for the errno `error` (0:
// unknown).
std::string unopened_json(std::string_view name, int error);

}  // namespace reel::reelinfo
