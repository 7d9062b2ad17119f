// Image to text: each record a line of its characters, each tape mark an empty line.
#pragma once

#include <string_view>

#include "bcd/kernel.h"
#include "common/output.h"
#include "common/record_writer.h"
#include "reeltext/options.h"
#include "tape_image/reader.h"

namespace reel::reeltext {

// Writes the tape files that `options` ask for, read from `reader`, as text to `out`, with
// `kernel`; a record whose image breaks is left out (a whole line or none). Says on `err` what
// stopped it, naming the input `input_name`. Returns the exit status: 0, or 3, 4 or 5 for the
// failure that stopped it.
int write_text(const Options& options, std::string_view input_name, tape_image::TapeReader& reader,
               RecordWriter& out, OutputSink& err, bcd::KernelId kernel);

}  // namespace reel::reeltext
