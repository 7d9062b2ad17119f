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

// Surveys the image that `source` reads, named `name`, in `format`, with a line (a JSON item)
// for each record if `records`; leaves all of the report in `form` but its start in `hold`,
// using `tally` to count sizes. Returns the start and the exit status.
ImageReport report_image(std::string_view name, tape_image::InputSource& source,
                         tape_image::Format format, bool records, Hold& hold, SizeTally& tally,
                         ReportForm form = ReportForm::text);

// Returns the JSON object of an image that could not be opened, for the errno `error` (0:
// unknown).
std::string unopened_json(std::string_view name, int error);

}  // namespace reel::reelinfo
