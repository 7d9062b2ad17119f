// The exit statuses, the same in every program: a script that reads one reads them all.
#pragma once

namespace reel {

enum ExitStatus : int {
  status_ok = 0,
  status_usage = 1,           // bad command line
  status_open_failed = 2,     // the tape image can't be opened
  status_read_failed = 3,     // the image ends inside a record, or can't be read
  status_unequal_counts = 4,  // a record's trailing count differs from its leading one
  status_write_failed = 5,    // the output can't be written
};

}  // namespace reel
