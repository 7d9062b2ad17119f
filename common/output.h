// Where the listing goes: a sink that takes whole blocks, behind one large buffer.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "common/aligned_buffer.h"

namespace reelprint {

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Writes all `n` bytes; returns 0, or the errno of the failure.
  virtual int write(const char* data, std::size_t n) = 0;
};

// Writes to a file descriptor, such as standard output.
class FdSink final : public OutputSink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  int write(const char* data, std::size_t n) override;

 private:
  int fd_;
};

// Says on `err` that `program` could not write `what` (standard output, a temporary file),
// failing with errno `error`; a closed pipe on standard output (its reader went away) needs no
// word, as in other tools that meet in pipes.
void say_write_failed(OutputSink& err, std::string_view program, std::string_view what,
                      int error);

// Asks for a larger pipe buffer when `fd` is a pipe, so that the reader on the other end
// wakes less often; anything else, or a refusal, leaves it as it is.
void enlarge_pipe(int fd);

// Gathers output into blocks of `buffer_size` bytes. After a failed write the rest of the
// output is dropped and `error` tells why, so the caller can stop.
class OutputBuffer {
 public:
  static constexpr std::size_t buffer_size = 128 * 1024;

  explicit OutputBuffer(OutputSink& sink);
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  // Returns where to write up to `n` bytes (`n` at most `buffer_size`); they become output
  // only when `commit` is called, so a line may still be withdrawn.
  char* room(std::size_t n) {
    if (buffer_.size() - used_ < n) flush();
    return buffer_.data() + used_;
  }

  // Returns the end of the room: `room` leaves at least the bytes asked for before it.
  const char* room_end() const { return buffer_.data() + buffer_.size(); }

  // Takes the bytes written at `room` up to `end` as output.
  void commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }

  void append(std::string_view text);

  // Writes out what is buffered; returns false if the output has failed.
  bool flush();

  // Returns the errno of the first failed write, or 0.
  int error() const { return error_; }

 private:
  OutputSink& sink_;
  AlignedBuffer<char> storage_;
  std::span<char> buffer_;  // `storage_`'s bytes
  std::size_t used_ = 0;
  int error_ = 0;
};

}  // namespace reelprint
