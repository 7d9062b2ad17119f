// reelprint: lists a tape image of IBM 1401 BCD character data.
#include <unistd.h>

#include <string_view>
#include <vector>

#include "common/stop.h"
#include "reelprint/run.h"

int main(int argc, char** argv) {
  reelprint::keep_standard_descriptors();
  reelprint::install_out_of_memory_handler("reelprint");
  const std::vector<std::string_view> args(argv, argv + argc);
  reelprint::enlarge_pipe(STDOUT_FILENO);
  reelprint::FdSink out(STDOUT_FILENO);
  reelprint::FdSink err(STDERR_FILENO);
  // The kernel is chosen here, once: the processor does not change while the program runs.
  return reelprint::run(args, reelprint::tape_image::open_file, out, err,
                        reelprint::bcd::best_kernel());
}
