#include "listing/run.h"

#include <cerrno>
#include <cstring>

#include "listing/args.h"
#include "listing/listing.h"
#include "tape_image/reader.h"

namespace reelprint {
namespace {

// Lists the tape image that the command line names; returns the exit status.
int list_named(std::span<const std::string_view> args, const Opener& open, OutputBuffer& out,
               bcd::KernelId kernel, std::optional<tape_image::TapeReader::Plan> plan) {
  const std::optional<CommandLine> command = scan_args(args);
  if (!command) {
    usage(args.empty() ? "reelprint" : args.front(), out);
    return status_usage;
  }
  const std::unique_ptr<tape_image::InputSource> source = open(std::string(command->input_name));
  if (!source) {
    out.append("Unable to open ");
    out.append(command->input_name);
    out.append("\n");
    return status_open_failed;
  }
  // A large image is read ahead of the listing, on a second processor.
  tape_image::TapeReader reader(*source,
                                plan.value_or(tape_image::TapeReader::plan_for(*source, true)));
  return list_tape(command->settings, command->input_name, reader, out, kernel);
}

}  // namespace

int run(std::span<const std::string_view> args, const Opener& open, OutputSink& out,
        OutputSink& err, bcd::KernelId kernel, std::optional<tape_image::TapeReader::Plan> plan) {
  OutputBuffer buffer(out);
  const int status = list_named(args, open, buffer, kernel, plan);
  if (buffer.flush()) return status;
  // A reader that went away (a closed pipe) needs no word about it.
  if (buffer.error() != EPIPE) {
    const std::string message = std::string("reelprint: error writing standard output: ") +
                                std::strerror(buffer.error()) + "\n";
    err.write(message.data(), message.size());
  }
  return status_write_failed;
}

}  // namespace reelprint
