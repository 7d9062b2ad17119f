// What the companions' command lines come to: a run, or an answer given at once.
#pragma once

#include <string>
#include <string_view>

#include "common/output.h"

namespace reel {

// What a companion's command line asks for, as read: its run, or only an answer.
struct GnuRequest {
  enum class Action { run, help, version, bad };
  Action action = Action::bad;
  std::string complaint;  // for `bad`: what is wrong, one line without the program's name
};

// A companion's command line as read, with the options of a run.
template <class Options>
struct GnuCommandLine : GnuRequest {
  Options options;
};

// Returns the text of --version of companion `program`: "reelinfo (reelprint) 1.0".
std::string companion_version(std::string_view program);

// Answers a command line of `program` that asks for no run: writes `help` or `version` to
// `out`, or the complaint and where to find help to `err`. Returns the exit status.
int answer_command_line(const GnuRequest& request, std::string_view program, std::string_view help,
                        std::string_view version, OutputSink& out, OutputSink& err);

}  // namespace reel
