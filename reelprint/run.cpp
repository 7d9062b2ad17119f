#include "reelprint/run.h"

#include <optional>

#include "common/status.h"
#include "listing/listing.h"
#include "reelprint/args.h"
#include "tape_image/reader.h"

namespace reel::reelprint {
namespace {

// Lists the tape image that the command line names; returns the exit status.
int list_named(std::span<const std::string_view> args, const tape_image::Opener& open,
               OutputBuffer& out, bcd::KernelId kernel, std::size_t read_size) {
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
  tape_image::TapeReader reader(*source, read_size);
  return list_tape(command->settings, command->input_name, reader, out, kernel);
}

}  // namespace

int run(std::span<const std::string_view> args, const tape_image::Opener& open, OutputSink& out,
        OutputSink& err, bcd::KernelId kernel, std::size_t read_size) {
  OutputBuffer buffer(out);
  const int status = list_named(args, open, buffer, kernel, read_size);
  const bool failed_before = buffer.error() != 0;  // while listing, before any message
  if (buffer.flush()) return status;
  say_write_failed(err, "reelprint", "standard output", buffer.error());
  // A failure found before the output failed keeps its status: its message was on the way.
  return status == status_ok || failed_before ? status_write_failed : status;
}

}  // namespace reel::reelprint
