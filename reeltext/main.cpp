// reeltext: a tape image of IBM 1401 BCD character data as plain text, and back.
#include <unistd.h>

#include <string>
#include <vector>

#include "common/stop.h"
#include "reeltext/run.h"
#include "tape_image/source.h"

int main(int argc, char** argv) {
  reel::keep_standard_descriptors();
  reel::install_out_of_memory_handler("reeltext");
  reel::install_signal_handlers();  // its output must stay a good image
  const std::vector<std::string> args(argv, argv + argc);
  reel::enlarge_pipe(STDOUT_FILENO);
  reel::FdSink out(STDOUT_FILENO);
  reel::FdSink err(STDERR_FILENO);
  // The kernel is chosen once, in run's defaults: the processor does not change while the
  // program runs.
  return reel::reeltext::run(args, reel::tape_image::open_input, out, err);
}
