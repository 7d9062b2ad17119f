// What the command line asks of a run; set once by the argument scan, read for the rest.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bcd/arrangement.h"
#include "tape_image/framing.h"

namespace reel::reelprint {

inline constexpr std::size_t widest_line = 100;  // the most characters a line holds

struct Settings {
  int recl = 100;     // `recl`: characters per line, 1 to 100
  char blank = ' ';   // `blank`: display character of code 0 (the blank)
  bool dowm = false;  // `dowm`: show word marks on a line of their own
  bool all = false;   // `all`: print lines that hold only blanks too
  // `even`: simh framing, odd-length data followed by a pad byte, unless -e (E11 framing)
  tape_image::Framing framing = tape_image::Framing::simh;
  bcd::Arrangement arrangement = bcd::Arrangement::a;  // `bcd_to_ascii`, before it is prepared
  std::int32_t nf = 1;                                 // `nf`: tape files to list, 0 to 2147483647
};

}  // namespace reel::reelprint
