// reelprint: lists a tape image of IBM 1401 BCD character data.
#include <unistd.h>

#include <string_view>
#include <vector>

#include "common/stop.h"
#include "reelprint/run.h"

int main(int argc, char** argv) {
  reel::keep_standard_descriptors();
  reel::install_out_of_memory_handler("reelprint");
  const std::vector<std::string_view> args(argv, argv + argc);
  reel::enlarge_pipe(STDOUT_FILENO);
  reel::FdSink out(STDOUT_FILENO);
  reel::FdSink err(STDERR_FILENO);
  // The kernel is chosen here, once: the processor does not change while the program runs.
  return reel::reelprint::run(args, reel::tape_image::open_file, out, err,
                              reel::bcd::best_kernel());
}
