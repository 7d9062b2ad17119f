#include "common/command_line.h"

#include "common/gnu_options.h"
#include "common/status.h"

namespace reel {

std::optional<std::uint64_t> read_number(std::string_view text, std::uint64_t most) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (most - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

bool read_file_range(std::string_view text, std::uint64_t& first_file, std::uint64_t& last_file) {
  const std::size_t dash = text.find('-');
  const auto first = read_number(text.substr(0, dash), UINT64_MAX);
  if (!first || *first == 0) return false;
  first_file = *first;
  last_file = *first;
  if (dash == std::string_view::npos) return true;
  const std::string_view rest = text.substr(dash + 1);
  if (rest.empty()) {
    last_file = UINT64_MAX;
    return true;
  }
  const auto last = read_number(rest, UINT64_MAX);
  if (!last || *last < *first) return false;
  last_file = *last;
  return true;
}

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
