#include "reelinfo/spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <vector>

namespace reelprint::reelinfo {
namespace {

// Returns a new temporary file, already unlinked so that it goes when closed, or -1 with errno
// telling why.
int make_temporary_file() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  path += "/reelinfo.XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

}  // namespace

Spool::Spool(std::size_t memory_limit) : memory_limit_(memory_limit) {}

Spool::~Spool() {
  if (fd_ >= 0) ::close(fd_);
}

void Spool::append(std::string_view text) {
  try {
    memory_.append(text);
  } catch (const std::bad_alloc&) {  // less memory than the limit: on in the file
    spill();
    if (error_ == 0) error_ = FdSink(fd_).write(text.data(), text.size());
    return;
  }
  if (memory_.size() >= memory_limit_) spill();
}

void Spool::spill() {
  if (error_ == 0 && fd_ < 0) {
    fd_ = make_temporary_file();
    if (fd_ < 0) error_ = errno;
  }
  if (error_ == 0) error_ = FdSink(fd_).write(memory_.data(), memory_.size());
  in_file_ = in_file_ || error_ == 0;
  memory_.clear();
}

Spool::Failure Spool::drain(OutputSink& out) {
  Failure failure{error_, error_ != 0};
  if (failure.error == 0 && in_file_) {
    if (::lseek(fd_, 0, SEEK_SET) != 0) failure = {errno, true};
    std::vector<char> block(128 * 1024);
    while (failure.error == 0) {
      const ssize_t got = ::read(fd_, block.data(), block.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) failure = {errno, true};
      if (got <= 0) break;
      failure = {out.write(block.data(), static_cast<std::size_t>(got)), false};
    }
    // Emptied for the next report.
    if (failure.error == 0 && (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0))
      failure = {errno, true};
  }
  if (failure.error == 0 && !memory_.empty())
    failure = {out.write(memory_.data(), memory_.size()), false};
  memory_.clear();
  in_file_ = false;
  error_ = 0;
  return failure;
}

}  // namespace reelprint::reelinfo
