// The command line of reeltext: "[-r] [options] [INPUT]", GNU style.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bcd/arrangement.h"
#include "common/command_line.h"
#include "tape_image/format.h"
#include "tape_image/p7b.h"

namespace reel::reeltext {

struct Options {
  bool reverse = false;                                  // text to image (-r)
  tape_image::Format format = tape_image::Format::simh;  // of the image read, or with -r written
  tape_image::Parity parity = tape_image::Parity::even;  // of a P7B dump's frames
  bcd::Arrangement arrangement = bcd::Arrangement::a;
  // Image to text: the tape files written, from 1; the rest are read past.
  std::uint64_t first_file = 1;
  std::uint64_t last_file = UINT64_MAX;
  bool six_bits = false;  // a byte above 63 written by its low six bits (-s)
  // Text to image: shorter lines padded with blanks to this many characters (-w); 0: none.
  std::uint32_t width = 0;
  std::string input = "-";  // as given; "-" is standard input
};

using CommandLine = GnuCommandLine<Options>;

// Reads `args` (program name first) with getopt_long; returns what to do.
CommandLine parse_command_line(const std::vector<std::string>& args);

// Returns the text of --help.
std::string help_text();

// Returns the text of --version.
inline std::string version_text() { return companion_version("reeltext"); }

}  // namespace reel::reeltext
