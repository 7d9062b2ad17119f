// What the command line asks of a run; set once by the argument scan, read for the rest.
#pragma once

#include <cstdint>

#include "bcd/arrangement.h"

namespace reelprint {

struct Settings {
  int recl = 100;     // characters per line, 1 to 100
  char blank = ' ';   // display character of code 0 (the blank)
  bool dowm = false;  // show word marks on a line of their own
  bool all = false;   // print lines that hold only blanks too
  bool even = true;   // simh framing: odd-length data is followed by a pad byte
  bcd::Arrangement arrangement = bcd::Arrangement::a;
  std::int32_t nf = 1;  // tape files to list, 0 to 2147483647
};

enum ExitStatus : int {
  status_ok = 0,
  status_usage = 1,           // bad command line
  status_open_failed = 2,     // the tape image can't be opened
  status_read_failed = 3,     // the image ends inside a record, or can't be read
  status_unequal_counts = 4,  // a record's trailing count differs from its leading one
  status_write_failed = 5,    // the listing can't be written
};

}  // namespace reelprint
