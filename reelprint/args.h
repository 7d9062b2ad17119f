// The command line: "[options] <input_file>".
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "common/output.h"
#include "listing/settings.h"

namespace reel::reelprint {

struct CommandLine {
  Settings settings;
  std::string_view input_name;  // exactly as given, for messages too
};

// Scans `args` (program name first); returns the settings and the input file's name, or
// nothing when the command line is bad and the usage text is due.
std::optional<CommandLine> scan_args(std::span<const std::string_view> args);

// Writes the usage text, naming the program as `program_name`.
void usage(std::string_view program_name, OutputBuffer& out);

}  // namespace reel::reelprint
