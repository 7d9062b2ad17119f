// Holds the lines of a report until its first line, which needs the totals, can be written:
// in memory up to a limit, past that in an unnamed temporary file, so that memory stays
// bounded however many lines an image gives.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/output.h"

namespace reelprint::reelinfo {

class Spool {
 public:
  static constexpr std::size_t default_memory_limit = 1024 * 1024;

  explicit Spool(std::size_t memory_limit = default_memory_limit);
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;
  ~Spool();

  // Holds `text` after the lines before it; past the memory limit they all go to the file,
  // and so they do when memory runs out before it.
  void append(std::string_view text);

  struct Failure {
    int error = 0;           // errno of the failure, 0 if none
    bool temporary = false;  // the temporary file failed, not the output
  };

  // Writes everything held to `out`, in the order appended, and empties the spool; returns
  // what failed, if anything.
  Failure drain(OutputSink& out);

 private:
  // Moves the lines in memory to the temporary file, making it first if need be.
  void spill();

  std::size_t memory_limit_;
  std::string memory_;  // the lines after those in the file
  int fd_ = -1;         // the temporary file, once made
  bool in_file_ = false;  // lines are waiting in the file
  int error_ = 0;         // errno of the first failure of the file
};

}  // namespace reelprint::reelinfo
