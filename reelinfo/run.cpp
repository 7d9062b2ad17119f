#include "reelinfo/run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "common/status.h"
#include "reelinfo/options.h"
#include "reelinfo/report.h"

namespace reel::reelinfo {
namespace {

// Writes `text` out through `buffer` at once; returns 0, or the status after a failure, said on
// `err`.
int write_text(OutputBuffer& buffer, OutputSink& err, std::string_view text) {
  buffer.append(text);
  if (buffer.flush()) return status_ok;
  say_write_failed(err, "reelinfo", "standard output", buffer.error());
  return status_write_failed;
}

// Reports on the images `command` names, as `run` does.
int report(const CommandLine& command, const tape_image::Opener& open, OutputSink& out,
           OutputSink& err, std::size_t spool_memory) {
  OutputBuffer buffer(out);
  Hold spool("reelinfo", spool_memory);
  Hold dump_hold("reelinfo", spool_memory);  // a P7B dump's records too long to look through
  SizeTally tally;
  const bool json = command.options.json;
  int status = status_ok;
  bool first = true;
  for (const std::string& name : command.options.images) {
    // A blank line between the reports on several images; in JSON, the array's opening, then
    // a comma between its objects.
    const std::string_view before = json ? (first ? "[\n" : ",\n") : (first ? "" : "\n");
    if (!before.empty() && write_text(buffer, err, before) != status_ok) return status_write_failed;
    first = false;
    errno = 0;
    const std::unique_ptr<tape_image::InputSource> source = open(name);
    if (!source) {
      const int error = errno;
      std::string line;
      if (json) {
        line = unopened_json(name, error);
      } else {
        line = name + ": cannot open";
        if (error != 0) line += std::string(" (") + std::strerror(error) + ")";
        line += '\n';
      }
      if (write_text(buffer, err, line) != status_ok) return status_write_failed;
      status = std::max<int>(status, status_open_failed);
      continue;
    }
    const ReportAsked asked{command.options.format, command.options.parity, command.options.records,
                            json ? ReportForm::json : ReportForm::text};
    const ImageReport report = report_image(name, *source, asked, spool, dump_hold, tally);
    // The first line, then the lines held, which follow it.
    if (write_text(buffer, err, report.first_line) != status_ok) return status_write_failed;
    if (const Hold::Failure failure = spool.drain(out); failure.error != 0) {
      say_hold_failed(err, "reelinfo", spool, failure);
      return status_write_failed;
    }
    status = std::max(status, report.status);
  }
  if (json && write_text(buffer, err, "\n]\n") != status_ok) return status_write_failed;
  return status;
}

}  // namespace

int run(const std::vector<std::string>& args, const tape_image::Opener& open, OutputSink& out,
        OutputSink& err, std::size_t spool_memory) {
  const CommandLine command = parse_command_line(args);
  if (command.action != CommandLine::Action::run)
    return answer_command_line(command, "reelinfo", help_text(), version_text(), out, err);
  return report(command, open, out, err, spool_memory);
}

}  // namespace reel::reelinfo
