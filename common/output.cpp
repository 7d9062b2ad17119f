#include "common/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "common/stop.h"

namespace reel {
namespace {

// Writes all `n` bytes to `fd`, at offset `at` unless it is negative, again where a signal
// interrupts; returns 0, or the errno of the failure.
int write_out(int fd, const char* data, std::size_t n, off_t at) {
  while (n > 0) {
    const ssize_t written = at < 0 ? ::write(fd, data, n) : ::pwrite(fd, data, n, at);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    n -= static_cast<std::size_t>(written);
    if (at >= 0) at += written;
  }
  return 0;
}

}  // namespace

int write_all(int fd, const char* data, std::size_t n) { return write_out(fd, data, n, -1); }

FdSink::FdSink(int fd) : fd_(fd) {
  struct stat info {};
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY || ::fstat(fd, &info) != 0 ||
      !S_ISREG(info.st_mode))
    return;
  before_ = static_cast<std::uint64_t>(info.st_size);
  if ((flags & O_APPEND) != 0) {
    start_ = before_;
  } else {
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) return;
    start_ = static_cast<std::uint64_t>(at);
    seekable_ = true;
  }
  regular_ = true;
}

std::int64_t FdSink::kept_length(std::uint64_t offset) const {
  constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  if (offset > most - start_) return -1;
  return static_cast<std::int64_t>(std::max(start_ + offset, before_));
}

int FdSink::write_at(std::uint64_t offset, const char* data, std::size_t n) {
  if (!seekable_) return ESPIPE;
  if (kept_length(offset) < 0) return EOVERFLOW;
  return write_out(fd_, data, n, static_cast<off_t>(start_ + offset));
}

int FdSink::cut(std::uint64_t offset) {
  if (!regular_) return ESPIPE;
  const std::int64_t keep = kept_length(offset);
  if (keep < 0) return EOVERFLOW;
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return errno;
  if (info.st_size > keep && ::ftruncate(fd_, static_cast<off_t>(keep)) != 0) return errno;
  const auto at = static_cast<off_t>(start_ + offset);
  if (seekable_ && ::lseek(fd_, at, SEEK_SET) != at) return errno;
  whole_up_to(offset);
  return 0;
}

void FdSink::whole_up_to(std::uint64_t offset) {
  const std::int64_t keep = kept_length(offset);
  if (regular_ && keep >= 0) keep_on_stop(fd_, keep);
}

void say_write_failed(OutputSink& err, std::string_view program, std::string_view what, int error) {
  if (error == EPIPE && what == "standard output") return;
  const std::string message = std::string(program) + ": error writing " + std::string(what) + ": " +
                              std::strerror(error) + "\n";
  err.write(message.data(), message.size());
}

void enlarge_pipe([[maybe_unused]] int fd) {
#if defined(F_SETPIPE_SZ)  // Linux alone resizes a pipe
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode)) ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#endif
}

OutputBuffer::OutputBuffer(OutputSink& sink, std::size_t size)
    : sink_(sink), storage_(size), data_(storage_.data()), size_(size) {}

void OutputBuffer::out_of_room() { make_room(); }

void OutputBuffer::append(std::string_view text) {
  while (!text.empty()) {
    if (used_ == size_) make_room();
    const std::size_t part = std::min(text.size(), size_ - used_);
    std::memcpy(data_ + used_, text.data(), part);
    used_ += part;
    text.remove_prefix(part);
  }
}

bool OutputBuffer::flush() {
  if (used_ > 0 && error_ == 0) error_ = sink_.write(data_, used_);
  used_ = 0;
  return error_ == 0;
}

}  // namespace reel
