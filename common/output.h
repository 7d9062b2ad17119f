// Where every program's output goes: a sink that takes whole blocks, behind one large buffer.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/aligned_buffer.h"

namespace reel {

// Takes the output in whole blocks. Some outputs also let bytes already written be written over
// and cut off again, as a regular file does and a pipe does not; offsets count the bytes this
// sink was given, from its first.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Writes all `n` bytes; returns 0, or the errno of the failure.
  virtual int write(const char* data, std::size_t n) = 0;
  // Returns whether `write_at` works: the output is a regular file written from where it stood
  // when opened, not one appended to.
  virtual bool seekable() const { return false; }
  // Writes `n` bytes over those written before, at `offset`; returns 0, or the errno of the
  // failure.
  virtual int write_at(std::uint64_t /*offset*/, const char* /*data*/, std::size_t /*n*/) {
    return ESPIPE;
  }
  // Drops every byte from `offset` on that this sink was given, and goes on writing there;
  // bytes that were in the file before this sink began are never dropped. Returns 0, or the
  // errno of the failure: ESPIPE where bytes once written stay (a pipe).
  virtual int cut(std::uint64_t /*offset*/) { return ESPIPE; }
  // Says that the output up to `offset` ends after a whole record: where it is to end if the
  // program is stopped.
  virtual void whole_up_to(std::uint64_t /*offset*/) {}
};

// Writes all `n` bytes to `fd`; returns 0, or the errno of the failure.
int write_all(int fd, const char* data, std::size_t n);

// Writes to a file descriptor, such as standard output. A regular file can be cut, even one
// opened for appending, and sought unless appended to (the system appends every write to such
// a file, wherever asked); where its last whole record ends is passed on to common/stop.h.
class FdSink final : public OutputSink {
 public:
  explicit FdSink(int fd);
  int write(const char* data, std::size_t n) override { return write_all(fd_, data, n); }
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

// Says on `err` that `program` could not write `what` (standard output, a temporary file),
// failing with errno `error`; a closed pipe on standard output (its reader went away) needs no
// word, as in other tools that meet in pipes.
void say_write_failed(OutputSink& err, std::string_view program, std::string_view what, int error);

// Asks for a larger pipe buffer when `fd` is a pipe, so that the reader on the other end
// wakes less often; anything else, or a refusal, leaves it as it is.
void enlarge_pipe(int fd);

// Gathers output into blocks of `buffer_size` bytes, or as many as given. After a failed write
// the rest of the output is dropped and `error` tells why, so the caller can stop.
class OutputBuffer {
 public:
  static constexpr std::size_t buffer_size = 128 * 1024;

  explicit OutputBuffer(OutputSink& sink, std::size_t size = buffer_size);
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  virtual ~OutputBuffer() = default;

  // Returns where to write up to `n` bytes (`n` at most the buffer's size); they become output
  // only when `commit` is called, so a line may still be withdrawn.
  char* room(std::size_t n) {
    if (size_ - used_ < n) out_of_room();
    return data_ + used_;
  }

  // Returns the end of the room: `room` leaves at least the bytes asked for before it.
  const char* room_end() const { return data_ + size_; }

  // Takes the bytes written at `room` up to `end` as output.
  void commit(const char* end) { used_ = static_cast<std::size_t>(end - data_); }

  void append(std::string_view text);

  // Writes out what is buffered; returns false if the output has failed.
  bool flush();

  // Returns the errno of the first failure, or 0.
  int error() const { return error_; }

 protected:
  // Makes room, as `room` and `append` do when too little is left: here by writing it all out.
  virtual void make_room() { flush(); }

  OutputSink& sink_;
  AlignedBuffer<char> storage_;
  char* const data_;  // `storage_`'s bytes
  const std::size_t size_;
  std::size_t used_ = 0;
  int error_ = 0;

 private:
  // Calls `make_room`, out of line: a virtual call inlined where `room` is (the listing's loops)
  // slows them even untaken, a plain call does not.
  void out_of_room();
};

}  // namespace reel
