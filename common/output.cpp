#include "common/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

namespace reelprint {

int FdSink::write(const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t written = ::write(fd_, data, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    n -= static_cast<std::size_t>(written);
  }
  return 0;
}

void say_write_failed(OutputSink& err, std::string_view program, std::string_view what,
                      int error) {
  if (error == EPIPE && what == "standard output") return;
  const std::string message = std::string(program) + ": error writing " + std::string(what) +
                              ": " + std::strerror(error) + "\n";
  err.write(message.data(), message.size());
}

void enlarge_pipe([[maybe_unused]] int fd) {
#if defined(F_SETPIPE_SZ)  // Linux alone resizes a pipe
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode)) ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#endif
}

OutputBuffer::OutputBuffer(OutputSink& sink)
    : sink_(sink), storage_(buffer_size), buffer_(storage_.data(), buffer_size) {}

void OutputBuffer::append(std::string_view text) {
  while (!text.empty()) {
    if (used_ == buffer_.size()) flush();
    const std::size_t part = std::min(text.size(), buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, text.data(), part);
    used_ += part;
    text.remove_prefix(part);
  }
}

bool OutputBuffer::flush() {
  if (used_ > 0 && error_ == 0) error_ = sink_.write(buffer_.data(), used_);
  used_ = 0;
  return error_ == 0;
}

}  // namespace reelprint
