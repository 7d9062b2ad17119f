// One whole run of reelprint, callable in-process by main, the tests and the fuzzer.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bcd/kernel.h"
#include "listing/output.h"
#include "tape_image/reader.h"
#include "tape_image/source.h"

namespace reelprint {

// Opens the named tape image; returns nullptr if it can't be opened.
using Opener = std::function<std::unique_ptr<tape_image::InputSource>(const std::string& name)>;

// Runs over `args` (program name first): scans them, opens the tape image through `open`, and
// writes the listing and its messages to `out`, translating with `kernel`, reading the image as
// `plan` says (by default as suits it, large images ahead of use). If `out` fails, says so once
// on `err`. Returns the exit status.
int run(std::span<const std::string_view> args, const Opener& open, OutputSink& out,
        OutputSink& err, bcd::KernelId kernel,
        std::optional<tape_image::TapeReader::Plan> plan = std::nullopt);

}  // namespace reelprint
