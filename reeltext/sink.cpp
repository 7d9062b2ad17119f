#include "reeltext/sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "common/stop.h"

namespace reelprint::reeltext {

int Sink::write_at(std::uint64_t, const char*, std::size_t) { return ESPIPE; }

int Sink::cut(std::uint64_t) { return ESPIPE; }

FdOutput::FdOutput(int fd) : fd_(fd) {
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
  whole_up_to(0);
}

std::int64_t FdOutput::kept_length(std::uint64_t offset) const {
  constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  if (offset > most - start_) return -1;
  return static_cast<std::int64_t>(std::max(start_ + offset, before_));
}

int FdOutput::write_at(std::uint64_t offset, const char* data, std::size_t n) {
  if (!seekable_) return ESPIPE;
  if (kept_length(offset) < 0) return EOVERFLOW;
  auto at = static_cast<off_t>(start_ + offset);
  while (n > 0) {
    const ssize_t written = ::pwrite(fd_, data, n, at);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    n -= static_cast<std::size_t>(written);
    at += written;
  }
  return 0;
}

int FdOutput::cut(std::uint64_t offset) {
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

void FdOutput::whole_up_to(std::uint64_t offset) {
  const std::int64_t keep = kept_length(offset);
  if (regular_ && keep >= 0) keep_on_stop(fd_, keep);
}

}  // namespace reelprint::reeltext
