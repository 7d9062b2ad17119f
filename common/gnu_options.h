// What the companions share of their GNU-style command lines, read with getopt_long.
#pragma once

#include <getopt.h>

#include <string>
#include <string_view>
#include <vector>

namespace reelprint {

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
// (`refused`) and the argument it read last, `last`; `letters` are the short options, and
// long-only options are numbered from `first_long_only` up.
inline std::string complaint_about(int refused, std::string_view last, std::string_view letters,
                                   int first_long_only) {
  // A short option can only be unknown; a known letter here comes from a long option given a
  // value, and 0 or a long option's number from a long option.
  const bool letter = refused > 0 && refused < first_long_only;
  if (letter && letters.find(static_cast<char>(refused)) == std::string_view::npos)
    return "unknown option '-" + std::string(1, static_cast<char>(refused)) + "'";
  const std::string_view name = last.substr(0, last.find('='));
  if (refused == 0 || !last.starts_with("--")) return "unknown option '" + std::string(name) + "'";
  return "option '" + std::string(name) + "' takes no value";
}

}  // namespace reelprint
