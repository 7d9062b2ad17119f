#include "reeltext/hold.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace reelprint::reeltext {
namespace {

// Returns a new temporary file, already unlinked so that it goes when closed, or -1 with errno
// telling why.
int make_temporary_file() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  path += "/reeltext.XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

}  // namespace

Hold::Hold(std::size_t memory_limit)
    : memory_limit_(std::max<std::size_t>(memory_limit, 1)), memory_(memory_limit_) {}

Hold::~Hold() {
  if (fd_ >= 0) ::close(fd_);
}

int Hold::append(const char* data, std::size_t n) {
  while (n > 0) {
    if (used_ == memory_limit_) {
      if (const int error = spill(); error != 0) return error;
    }
    const std::size_t part = std::min(n, memory_limit_ - used_);
    std::memcpy(memory_.data() + used_, data, part);
    used_ += part;
    data += part;
    n -= part;
  }
  return 0;
}

int Hold::spill() {
  if (fd_ < 0) {
    fd_ = make_temporary_file();
    if (fd_ < 0) return errno;
  }
  const int error = FdSink(fd_).write(memory_.data(), used_);
  if (error != 0) return error;
  in_file_ = true;
  used_ = 0;
  return 0;
}

Hold::Failure Hold::drain(OutputSink& out) {
  Failure failure;
  if (in_file_) {
    // The bytes in memory go after those in the file: there first, so that the memory is free
    // to read the file through.
    if (const int error = spill(); error != 0) {
      clear();
      return {error, true};
    }
    if (::lseek(fd_, 0, SEEK_SET) != 0) failure = {errno, true};
    while (failure.error == 0) {
      const ssize_t got = ::read(fd_, memory_.data(), memory_limit_);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) failure = {errno, true};
      if (got <= 0) break;
      failure = {out.write(memory_.data(), static_cast<std::size_t>(got)), false};
    }
  } else if (used_ > 0) {
    failure = {out.write(memory_.data(), used_), false};
  }
  clear();
  return failure;
}

void Hold::clear() {
  used_ = 0;
  if (in_file_) {
    // Emptied for the next record; a failure here shows at the next spill or drain.
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
    in_file_ = false;
  }
}

}  // namespace reelprint::reeltext
