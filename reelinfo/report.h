// The report on one tape image: a first line of totals, a line for each tape file (and for each
// record, if asked), how the image ends, and which framing reads it cleanly if the one asked
// for breaks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/hold.h"
#include "reelinfo/size_tally.h"
#include "reelinfo/survey.h"
#include "tape_image/source.h"

namespace reel::reelinfo {

// Characters of each record that a record line shows.
inline constexpr std::size_t shown_characters = 40;

struct ImageReport {
  int status;              // the exit status reelprint's would be: 0, 3 or 4
  std::string first_line;  // the totals, which come before the lines in the hold
};

// Surveys the image that `source` reads, named `name`, in `framing`, with a line for each record
// if `records`; leaves every line of the report but the first in `hold`, using `tally` to
// count sizes. Returns the first line and the exit status.
ImageReport report_image(std::string_view name, tape_image::InputSource& source,
                         tape_image::Framing framing, bool records, Hold& hold, SizeTally& tally);

}  // namespace reel::reelinfo
