#include "reeltext/run.h"

#include <cerrno>
#include <cstring>

#include "common/status.h"
#include "reeltext/messages.h"
#include "reeltext/options.h"
#include "reeltext/to_image.h"
#include "reeltext/to_text.h"
#include "tape_image/image_input.h"
#include "tape_image/reader.h"

namespace reel::reeltext {

int run(const std::vector<std::string>& args, const tape_image::Opener& open, OutputSink& out,
        OutputSink& err, const Tuning& tuning) {
  const CommandLine command = parse_command_line(args);
  if (command.action != CommandLine::Action::run)
    return answer_command_line(command, "reeltext", help_text(), version_text(), out, err);

  Options options = command.options;
  errno = 0;
  std::unique_ptr<tape_image::InputSource> source = open(options.input);
  if (!source) {
    const int error = errno;
    std::string line = "reeltext: cannot open " + options.input;
    if (error != 0) line += std::string(": ") + std::strerror(error);
    line += '\n';
    err.write(line.data(), line.size());
    return status_open_failed;
  }
  const std::string name = options.input == "-" ? "standard input" : options.input;
  // A TPC file is read padded or not as it reads cleanly, walked first; a pipe, padded.
  if (!options.reverse && options.format == tape_image::Format::tpc && source->known_size() > 0) {
    options.format = tape_image::tpc_padding([&] { return open(options.input); });
    if (options.format == tape_image::Format::tpc_nopad)
      say(err, name, "odd-length records without a pad byte: read as tpc-nopad", status_ok);
  }
  // A dump is read in its simh form (its long records held in a hold of their own); text is
  // never one.
  Hold dump_hold("reeltext", tuning.hold_memory);
  tape_image::ImageInput input(std::move(source),
                               options.reverse ? tape_image::Format::simh : options.format,
                               options.parity, dump_hold);
  Hold hold("reeltext", tuning.hold_memory);
  tape_image::TapeReader reader(input.source(), tuning.read_size);
  RecordWriter writer(out, hold, tuning.buffer_size);
  const int status = options.reverse
                         ? build_image(options, name, reader, writer, err, tuning.kernel)
                         : write_text(options, name, reader, writer, err, tuning.kernel);
  if (writer.flush()) return status;
  say_hold_failed(err, "reeltext", hold, writer.failure());
  // A failure of the input found before the output failed keeps its status.
  return status == status_ok ? status_write_failed : status;
}

}  // namespace reel::reeltext
