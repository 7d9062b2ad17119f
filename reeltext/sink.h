// Where reeltext's output goes: a sink that may also let bytes already written be written over
// and cut off again, as a regular file does and a pipe does not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/output.h"

namespace reelprint::reeltext {

class Sink : public OutputSink {
 public:
  // Returns whether `write_at` and `cut` work: the output is a regular file written from where
  // it stood when opened, not one appended to.
  virtual bool seekable() const { return false; }
  // Writes `n` bytes over those written before, `offset` bytes after the first byte this sink
  // was given; returns 0, or the errno of the failure.
  virtual int write_at(std::uint64_t offset, const char* data, std::size_t n);
  // Drops every byte from `offset` on (counted as for `write_at`), and goes on writing there;
  // returns 0, or the errno of the failure.
  virtual int cut(std::uint64_t offset);
};

// Writes to a file descriptor, such as standard output, seekable when it is a regular file
// opened without O_APPEND (the system appends every write to such a file, wherever asked).
class FdOutput final : public Sink {
 public:
  explicit FdOutput(int fd);
  int write(const char* data, std::size_t n) override { return FdSink(fd_).write(data, n); }
  bool seekable() const override { return seekable_; }
  int write_at(std::uint64_t offset, const char* data, std::size_t n) override;
  int cut(std::uint64_t offset) override;

 private:
  int fd_;
  bool seekable_ = false;
  std::uint64_t start_ = 0;  // the file's offset when this sink began
};

// Keeps what it is given in memory, seekable or not, failing every write once `fail_after`
// bytes are held: for the tests.
class MemoryOutput final : public Sink {
 public:
  explicit MemoryOutput(bool seekable = false, std::size_t fail_after = std::string::npos)
      : seekable_(seekable), fail_after_(fail_after) {}
  int write(const char* data, std::size_t n) override;
  bool seekable() const override { return seekable_; }
  int write_at(std::uint64_t offset, const char* data, std::size_t n) override;
  int cut(std::uint64_t offset) override;

  std::string bytes;

 private:
  bool seekable_;
  std::size_t fail_after_;
};

}  // namespace reelprint::reeltext
