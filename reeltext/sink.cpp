#include "reeltext/sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace reelprint::reeltext {

int Sink::write_at(std::uint64_t, const char*, std::size_t) { return ESPIPE; }

int Sink::cut(std::uint64_t) { return ESPIPE; }

FdOutput::FdOutput(int fd) : fd_(fd) {
  struct stat info {};
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_APPEND) != 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    return;
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0) return;
  start_ = static_cast<std::uint64_t>(at);
  seekable_ = true;
}

namespace {

// Returns `start` + `offset` as a file offset, or -1 past what an off_t holds.
off_t file_offset(std::uint64_t start, std::uint64_t offset) {
  constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  if (offset > most - start) return -1;
  return static_cast<off_t>(start + offset);
}

}  // namespace

int FdOutput::write_at(std::uint64_t offset, const char* data, std::size_t n) {
  if (!seekable_) return ESPIPE;
  off_t at = file_offset(start_, offset);
  if (at < 0) return EOVERFLOW;
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
  if (!seekable_) return ESPIPE;
  const off_t at = file_offset(start_, offset);
  if (at < 0) return EOVERFLOW;
  if (::ftruncate(fd_, at) != 0 || ::lseek(fd_, at, SEEK_SET) != at) return errno;
  return 0;
}

int MemoryOutput::write(const char* data, std::size_t n) {
  if (bytes.size() + n > fail_after_) {
    bytes.append(data, fail_after_ - bytes.size());
    return ENOSPC;
  }
  bytes.append(data, n);
  return 0;
}

int MemoryOutput::write_at(std::uint64_t offset, const char* data, std::size_t n) {
  if (!seekable_) return ESPIPE;
  if (offset > bytes.size() || n > bytes.size() - offset) return EINVAL;
  std::memcpy(bytes.data() + offset, data, n);
  return 0;
}

int MemoryOutput::cut(std::uint64_t offset) {
  if (!seekable_) return ESPIPE;
  if (offset > bytes.size()) return EINVAL;
  bytes.resize(static_cast<std::size_t>(offset));
  return 0;
}

}  // namespace reelprint::reeltext
