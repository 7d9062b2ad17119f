// The command line of reelcopy: "[OPTION]... [IMAGE]...", GNU style.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "tape_image/format.h"
#include "tape_image/p7b.h"

namespace reel::reelcopy {

struct Options {
  tape_image::Format from = tape_image::Format::simh;    // the images' format (--from)
  tape_image::Format to = tape_image::Format::simh;      // the output's (--to)
  tape_image::Parity parity = tape_image::Parity::even;  // of P7B frames, read or written
  // The tape files copied, from 1, counted along the reel the images make together.
  std::uint64_t first_file = 1;
  std::uint64_t last_file = UINT64_MAX;
  bool files_chosen = false;        // -f was given: the output is a reel of those files
  std::string output = "-";         // -o: the image written; "-" is standard output
  std::string split;                // --split: each tape file to PREFIX.001, PREFIX.002, ...
  bool data = false;                // --data: records' data end to end, no framing
  bool drop_gaps = false;           // erase gaps are not written
  bool zero_fill = false;           // --repair=zero-fill: zero bytes after the end are dropped
  bool keep_going = false;          // a damaged record written as a bad one, the copy going on
  std::vector<std::string> images;  // as given; none: standard input
};

using CommandLine = GnuCommandLine<Options>;

// Reads `args` (program name first) with getopt_long; returns what to do.
CommandLine parse_command_line(const std::vector<std::string>& args);

// Returns the text of --help.
std::string help_text();

// Returns the text of --version.
inline std::string version_text() { return companion_version("reelcopy"); }

}  // namespace reel::reelcopy
