// Text to image: each non-empty line a record of its characters' codes, each empty line a
// tape mark.
#pragma once

#include <string_view>

#include "bcd/kernel.h"
#include "common/output.h"
#include "common/record_writer.h"
#include "reeltext/options.h"
#include "tape_image/reader.h"

namespace reel::reeltext {

// Builds the tape image of the text read from `reader`, in the framing and arrangement of
// `options`, into `out`, scanning with the kernel for `kernel`; a record is written whole or
// not at all. Says on `err` what stopped it, naming the input `input_name`. Returns the exit
// status: 0, or 3 or 5 for the failure that stopped it.
int build_image(const Options& options, std::string_view input_name, tape_image::TapeReader& reader,
                RecordWriter& out, OutputSink& err, bcd::KernelId kernel);

}  // namespace reel::reeltext
