// reelinfo: tells what is on a tape image of IBM 1401 BCD character data.
#include <unistd.h>

#include <string>
#include <vector>

#include "common/stop.h"
#include "reelinfo/run.h"

int main(int argc, char** argv) {
  reel::keep_standard_descriptors();
  reel::install_out_of_memory_handler("reelinfo");
  const std::vector<std::string> args(argv, argv + argc);
  reel::FdSink out(STDOUT_FILENO);
  reel::FdSink err(STDERR_FILENO);
  return reel::reelinfo::run(args, reel::tape_image::open_input, out, err);
}
