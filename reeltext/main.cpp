// reeltext: a tape image of IBM 1401 BCD character data as plain text, and back.
#include <unistd.h>

#include <string>
#include <vector>

#include "tape_image/source.h"
#include "common/stop.h"
#include "reeltext/run.h"

int main(int argc, char** argv) {
  reelprint::keep_standard_descriptors();
  reelprint::install_out_of_memory_handler("reeltext");
  reelprint::install_signal_handlers();  // its output must stay a good image
  const std::vector<std::string> args(argv, argv + argc);
  reelprint::enlarge_pipe(STDOUT_FILENO);
  reelprint::FdSink out(STDOUT_FILENO);
  reelprint::FdSink err(STDERR_FILENO);
  // The kernel is chosen once, in run's defaults: the processor does not change while the
  // program runs.
  return reelprint::reeltext::run(args, reelprint::tape_image::open_input, out, err);
}
