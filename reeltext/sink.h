// Where reeltext's output goes: a sink that may also let bytes already written be written over
// and cut off again, as a regular file does and a pipe does not.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/output.h"

namespace reelprint::reeltext {

// Offsets count the bytes this sink was given, from its first.
class Sink : public OutputSink {
 public:
  // Returns whether `write_at` works: the output is a regular file written from where it stood
  // when opened, not one appended to.
  virtual bool seekable() const { return false; }
  // Writes `n` bytes over those written before, at `offset`; returns 0, or the errno of the
  // failure.
  virtual int write_at(std::uint64_t offset, const char* data, std::size_t n);
  // Drops every byte from `offset` on that this sink was given, and goes on writing there;
  // bytes that were in the file before this sink began are never dropped. Returns 0, or the
  // errno of the failure: ESPIPE where bytes once written stay (a pipe).
  virtual int cut(std::uint64_t offset);
  // Says that the output up to `offset` ends after a whole record: where it is to end if the
  // program is stopped.
  virtual void whole_up_to(std::uint64_t /*offset*/) {}
};

// Writes to a file descriptor, such as standard output. A regular file can be cut, even one
// opened for appending, and sought unless appended to (the system appends every write to such
// a file, wherever asked).
class FdOutput final : public Sink {
 public:
  explicit FdOutput(int fd);
  int write(const char* data, std::size_t n) override { return FdSink(fd_).write(data, n); }
  bool seekable() const override { return seekable_; }
  int write_at(std::uint64_t offset, const char* data, std::size_t n) override;
  int cut(std::uint64_t offset) override;
  void whole_up_to(std::uint64_t offset) override;

 private:
  // Returns the file's length that keeps the first `offset` bytes given to this sink and every
  // byte the file held before, or -1 past what an off_t holds.
  std::int64_t kept_length(std::uint64_t offset) const;

  int fd_;
  bool regular_ = false;      // a regular file, which can be cut
  bool seekable_ = false;     // one not appended to, which can be sought as well
  std::uint64_t start_ = 0;   // where the bytes given to this sink begin in the file
  std::uint64_t before_ = 0;  // the file's length when this sink began
};

}  // namespace reelprint::reeltext
