#include "common/command_line.h"

#include "common/status.h"

namespace reel {

std::string companion_version(std::string_view program) {
  return std::string(program) + " (reelprint) " REELPRINT_VERSION "\n";
}

int answer_command_line(const GnuRequest& request, std::string_view program, std::string_view help,
                        std::string_view version, OutputSink& out, OutputSink& err) {
  if (request.action == GnuRequest::Action::bad) {
    const std::string name(program);
    const std::string message =
        name + ": " + request.complaint + "\nTry '" + name + " --help' for more information.\n";
    err.write(message.data(), message.size());
    return status_usage;
  }
  const std::string_view text = request.action == GnuRequest::Action::help ? help : version;
  const int error = out.write(text.data(), text.size());
  if (error == 0) return status_ok;
  say_write_failed(err, program, "standard output", error);
  return status_write_failed;
}

}  // namespace reel
