#include "reeltext/run.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "common/status.h"
#include "reeltext/options.h"
#include "reeltext/to_image.h"
#include "reeltext/to_text.h"
#include "tape_image/reader.h"

namespace reelprint::reeltext {
namespace {

// Writes `text` to `out`; returns 0, or the status after a failure, said on `err`.
int put_text(Sink& out, OutputSink& err, std::string_view text) {
  const int error = out.write(text.data(), text.size());
  if (error == 0) return status_ok;
  say_write_failed(err, "reeltext", "standard output", error);
  return status_write_failed;
}

void complain(OutputSink& err, std::string_view text) { err.write(text.data(), text.size()); }

}  // namespace

int run(const std::vector<std::string>& args, const Opener& open, Sink& out, OutputSink& err,
        const Tuning& tuning) {
  const CommandLine command = parse_command_line(args);
  switch (command.action) {
    case CommandLine::Action::help:
      return put_text(out, err, help_text());
    case CommandLine::Action::version:
      return put_text(out, err, version_text());
    case CommandLine::Action::bad:
      complain(err, "reeltext: " + command.complaint +
                        "\nTry 'reeltext --help' for more information.\n");
      return status_usage;
    case CommandLine::Action::convert:
      break;
  }

  const Options& options = command.options;
  errno = 0;
  const std::unique_ptr<tape_image::InputSource> source = open(options.input);
  if (!source) {
    const int error = errno;
    std::string line = "reeltext: cannot open " + options.input;
    if (error != 0) line += std::string(": ") + std::strerror(error);
    complain(err, line + "\n");
    return status_open_failed;
  }
  const std::string name = options.input == "-" ? "standard input" : options.input;
  tape_image::TapeReader reader(*source, tuning.read_size);
  Hold hold("reeltext", tuning.hold_memory);
  RecordWriter writer(out, hold, tuning.buffer_size);
  const int status = options.reverse
                         ? build_image(options, name, reader, writer, err, tuning.kernel)
                         : write_text(options, name, reader, writer, err, tuning.kernel);
  if (writer.flush()) return status;
  say_hold_failed(err, "reeltext", hold, writer.failure());
  // A failure of the input found before the output failed keeps its status.
  return status == status_ok ? status_write_failed : status;
}

}  // namespace reelprint::reeltext
