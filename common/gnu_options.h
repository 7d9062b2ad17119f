// What the companions share of their GNU-style command lines, read with getopt_long.
#pragma once

#include <getopt.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/command_line.h"

namespace reel {

// The options every companion takes by a long name alone, numbered past any letter; a
// program's own long-only options are numbered from `first_own_long_only` on.
enum GnuLongOnly : int { help_option = 256, version_option, first_own_long_only };

// The arguments as getopt_long takes them: writable copies (it may reorder them), ended by a
// null pointer; the program is named `program` when `args` is empty. Sets getopt_long to start
// afresh (it keeps its place in the C library) with its own messages off, so that a complaint
// goes where the caller writes it.
class GetoptArgs {
 public:
  GetoptArgs(const std::vector<std::string>& args, const char* program) : copies_(args) {
    if (copies_.empty()) copies_.emplace_back(program);
    for (std::string& arg : copies_) argv_.push_back(arg.data());
    argv_.push_back(nullptr);
    optind = 0;
    opterr = 0;
  }
  int argc() const { return static_cast<int>(copies_.size()); }
  char** argv() { return argv_.data(); }

 private:
  std::vector<std::string> copies_;
  std::vector<char*> argv_;
};

// Returns the complaint about an option getopt_long refused, given what it left in `optopt`
// (`refused`) and the argument it read last, `last`; `letters` are the short options.
inline std::string complaint_about(int refused, std::string_view last, std::string_view letters) {
  // A short option can only be unknown; a known letter here comes from a long option given a
  // value, and 0 or a long option's number from a long option.
  const bool letter = refused > 0 && refused < help_option;
  if (letter && letters.find(static_cast<char>(refused)) == std::string_view::npos)
    return "unknown option '-" + std::string(1, static_cast<char>(refused)) + "'";
  const std::string_view name = last.substr(0, last.find('='));
  if (refused == 0 || !last.starts_with("--")) return "unknown option '" + std::string(name) + "'";
  return "option '" + std::string(name) + "' takes no value";
}

// Returns the name of the option of letter `letter` as given, `last` being the argument
// getopt_long read last: "--wid=3" gives "--wid", a letter "-w".
inline std::string option_name(int letter, std::string_view last) {
  if (last.starts_with("--")) return std::string(last.substr(0, last.find('=')));
  return {'-', static_cast<char>(letter)};
}

// Returns the decimal number `text` holds, digits alone, if it is `most` or less.
std::optional<std::uint64_t> read_number(std::string_view text, std::uint64_t most);

// Reads the tape files asked for, "N", "N-M" or "N-" (to the end), counted from 1, into
// `first` and `last`; returns whether they make sense.
bool read_file_range(std::string_view text, std::uint64_t& first, std::uint64_t& last);

// One of a program's own options, as given.
struct GivenOption {
  int letter;              // the option's `val` in the program's table
  std::string_view value;  // for an option that takes one
  std::string name;        // as given: "--wid" or "-w" (see option_name)
};

// Reads `args` (see GetoptArgs) with getopt_long. `own` are the program's options, each a long
// name with its letter as `val`; --help and --version are added. Answers those and a refused
// option itself; hands every option of `own` to `take(options, given)`, then the operands to
// `finish(options, operands)`: each returns a complaint, or nothing to read on.
template <class Options, class Take, class Finish>
GnuCommandLine<Options> read_command_line(const std::vector<std::string>& args, const char* program,
                                          std::span<const option> own, Take take, Finish finish) {
  std::vector<option> table(own.begin(), own.end());
  table.push_back({"help", no_argument, nullptr, help_option});
  table.push_back({"version", no_argument, nullptr, version_option});
  table.push_back({nullptr, 0, nullptr, 0});
  std::string letters;
  // A leading ':' has getopt_long tell a missing value (':') from an unknown option ('?').
  std::string short_options = ":";
  for (const option& entry : own) {
    if (entry.val >= help_option) continue;  // a long name alone
    letters += static_cast<char>(entry.val);
    short_options += static_cast<char>(entry.val);
    if (entry.has_arg == required_argument) short_options += ':';
  }
  GetoptArgs getopt_args(args, program);
  const int argc = getopt_args.argc();
  char** const argv = getopt_args.argv();
  GnuCommandLine<Options> command;
  for (;;) {
    const int letter = getopt_long(argc, argv, short_options.c_str(), table.data(), nullptr);
    if (letter == -1) break;
    const std::string_view last = argv[optind - 1];
    if (letter == help_option || letter == version_option) {
      command.action =
          letter == help_option ? GnuRequest::Action::help : GnuRequest::Action::version;
      return command;
    }
    if (letter == ':')
      command.complaint = "option '" + option_name(optopt, last) + "' needs a value";
    else if (letter == '?')
      command.complaint = complaint_about(optopt, last, letters);
    else
      command.complaint = take(
          command.options, GivenOption{letter, optarg ? optarg : "", option_name(letter, last)});
    if (!command.complaint.empty()) return command;
  }
  command.complaint = finish(command.options, std::vector<std::string>(argv + optind, argv + argc));
  if (command.complaint.empty()) command.action = GnuRequest::Action::run;
  return command;
}

}  // namespace reel
