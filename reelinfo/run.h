// One whole run of reelinfo, callable in-process by main and the tests.
#pragma once

#include <string>
#include <vector>

#include "common/hold.h"
#include "common/output.h"
#include "tape_image/source.h"

namespace reel::reelinfo {

// Runs over `args` (program name first): reports on each image named, opened through `open`, to
// `out`; complaints about the command line or the output go to `err`. Holds each report's lines
// in memory up to `spool_memory` bytes. Returns the exit status, the highest of the images'.
int run(const std::vector<std::string>& args, const tape_image::Opener& open, OutputSink& out,
        OutputSink& err, std::size_t spool_memory = Hold::default_memory_limit);

}  // namespace reel::reelinfo
