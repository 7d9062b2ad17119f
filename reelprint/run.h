// One whole run of reelprint, callable in-process by main, the tests and the fuzzer.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "bcd/kernel.h"
#include "common/output.h"
#include "tape_image/source.h"

namespace reel::reelprint {

// Runs over `args` (program name first): scans them, opens the tape image through `open`, and
// writes the listing and its messages to `out`, translating with `kernel`, reading the image
// `read_size` bytes at a time (0: as suits it). If `out` fails, says so once on `err`. Returns
// the exit status: that of the failure the listing met, if any, or else 5 if `out` failed.
int run(std::span<const std::string_view> args, const tape_image::Opener& open, OutputSink& out,
        OutputSink& err, bcd::KernelId kernel, std::size_t read_size = 0);

}  // namespace reel::reelprint
