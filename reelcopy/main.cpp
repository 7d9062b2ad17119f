// reelcopy: tape images copied, converted between containers, joined and split.
#include <unistd.h>

#include <string>
#include <vector>

#include "common/stop.h"
#include "reelcopy/run.h"
#include "tape_image/source.h"

int main(int argc, char** argv) {
  reel::keep_standard_descriptors();
  reel::install_out_of_memory_handler("reelcopy");
  reel::install_signal_handlers();  // its output must stay a good image
  const std::vector<std::string> args(argv, argv + argc);
  reel::enlarge_pipe(STDOUT_FILENO);
  reel::FdSink out(STDOUT_FILENO);
  reel::FdSink err(STDERR_FILENO);
  return reel::reelcopy::run(args, reel::tape_image::open_input, out, err);
}
