// The command line of reelinfo: "[options] IMAGE...", GNU style.
#pragma once

#include <string>
#include <vector>

#include "common/command_line.h"
#include "tape_image/format.h"
#include "tape_image/p7b.h"

namespace reel::reelinfo {

struct Options {
  tape_image::Format format = tape_image::Format::simh;  // --format, or -e for E11
  tape_image::Parity parity = tape_image::Parity::even;  // of a P7B dump's frames (--parity)
  bool records = false;                                  // a line for every record too (--records)
  bool json = false;                                     // the report as JSON (--json)
  std::vector<std::string> images;                       // the images' names, as given
};

using CommandLine = GnuCommandLine<Options>;

// Reads `args` (program name first) with getopt_long; returns what to do.
CommandLine parse_command_line(const std::vector<std::string>& args);

// Returns the text of --help.
std::string help_text();

// Returns the text of --version.
inline std::string version_text() { return companion_version("reelinfo"); }

}  // namespace reel::reelinfo
