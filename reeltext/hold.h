// Holds the bytes of a record that can't reach the output yet: in memory up to a limit, past
// that in an unnamed temporary file, so that memory stays bounded however long the record.
// (The same idea as reelinfo's spool, for one record's bytes at a time.)
#pragma once

#include <cstddef>

#include "common/aligned_buffer.h"
#include "common/output.h"

namespace reelprint::reeltext {

class Hold {
 public:
  static constexpr std::size_t default_memory_limit = 1024 * 1024;

  explicit Hold(std::size_t memory_limit = default_memory_limit);
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  ~Hold();

  // Holds `n` bytes after those held before; returns 0, or the errno of a failure of the
  // temporary file.
  int append(const char* data, std::size_t n);

  struct Failure {
    int error = 0;           // errno of the failure, 0 if none
    bool temporary = false;  // the temporary file failed, not the output
  };

  // Writes everything held to `out`, in order, and empties the hold; returns what failed.
  Failure drain(OutputSink& out);

  // Drops everything held.
  void clear();

 private:
  // Moves the bytes in memory to the temporary file, making it first if need be.
  int spill();

  std::size_t memory_limit_;
  AlignedBuffer<char> memory_;  // the bytes after those in the file; also the block a drain
                                // reads the file through
  std::size_t used_ = 0;
  int fd_ = -1;           // the temporary file, once made
  bool in_file_ = false;  // bytes are waiting in the file
};

}  // namespace reelprint::reeltext
