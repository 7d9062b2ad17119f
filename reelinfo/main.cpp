// reelinfo: tells what is on a tape image of IBM 1401 BCD character data.
#include <unistd.h>

#include <string>
#include <vector>

#include "common/stop.h"
#include "reelinfo/run.h"

int main(int argc, char** argv) {
  reelprint::keep_standard_descriptors();
  reelprint::install_out_of_memory_handler("reelinfo");
  const std::vector<std::string> args(argv, argv + argc);
  reelprint::FdSink out(STDOUT_FILENO);
  reelprint::FdSink err(STDERR_FILENO);
  return reelprint::reelinfo::run(args, reelprint::tape_image::open_input, out, err);
}
