// The listing loop: tape files, their records, and the lines each record is cut into.
#pragma once

#include <string_view>

#include "bcd/kernel.h"
#include "common/output.h"
#include "common/status.h"
#include "listing/settings.h"
#include "tape_image/reader.h"

namespace reel::reelprint {

// Lists the tape files that `settings` ask for, read from `reader`, into `out`, with `kernel`.
// Failures are reported there too, naming the input as `input_name`. Returns the exit status:
// 0, or 3, 4 or 5 for the failure that stopped the listing.
int list_tape(const Settings& settings, std::string_view input_name, tape_image::TapeReader& reader,
              OutputBuffer& out, bcd::KernelId kernel);

}  // namespace reel::reelprint
