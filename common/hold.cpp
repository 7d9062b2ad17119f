#include "common/hold.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace reelprint {
namespace {

// Returns a new temporary file named for `program`, already unlinked so that it goes when
// closed, or -1 with errno telling why.
int make_temporary_file(std::string_view program) {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  path += '/';
  path += program;
  path += ".XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

}  // namespace

Hold::Hold(std::string_view program, std::size_t memory_limit)
    : program_(program), memory_limit_(memory_limit) {}

Hold::~Hold() {
  if (fd_ >= 0) ::close(fd_);
}

int Hold::append(std::string_view text) {
  if (!memory_ && memory_limit_ > 0) {
    memory_.reset(new (std::nothrow) char[memory_limit_]);
    if (!memory_) memory_limit_ = 0;  // less memory than the limit: all in the file
  }
  while (!text.empty() && error_ == 0) {
    if (used_ == memory_limit_) {
      if (memory_limit_ == 0) {  // straight to the file
        if (spill() == 0) error_ = FdSink(fd_).write(text.data(), text.size());
        break;
      }
      spill();
      continue;
    }
    const std::size_t part = std::min(text.size(), memory_limit_ - used_);
    std::memcpy(memory_.get() + used_, text.data(), part);
    used_ += part;
    text.remove_prefix(part);
  }
  return error_;
}

int Hold::spill() {
  if (error_ == 0 && fd_ < 0) {
    fd_ = make_temporary_file(program_);
    if (fd_ < 0) error_ = errno;
  }
  if (error_ == 0 && used_ > 0) error_ = FdSink(fd_).write(memory_.get(), used_);
  in_file_ = in_file_ || error_ == 0;
  used_ = 0;
  return error_;
}

Hold::Failure Hold::drain(OutputSink& out) {
  Failure failure{error_, error_ != 0};
  if (failure.error == 0 && in_file_) {
    // The bytes in memory go after those in the file: there first, so that the memory is free
    // to read the file through.
    if (spill() != 0) failure = {error_, true};
    if (failure.error == 0 && ::lseek(fd_, 0, SEEK_SET) != 0) failure = {errno, true};
    char spare[4096];  // where memory ran out
    char* const block = memory_ ? memory_.get() : spare;
    const std::size_t block_size = memory_ ? memory_limit_ : sizeof spare;
    while (failure.error == 0) {
      const ssize_t got = ::read(fd_, block, block_size);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) failure = {errno, true};
      if (got <= 0) break;
      failure = {out.write(block, static_cast<std::size_t>(got)), false};
    }
  } else if (failure.error == 0 && used_ > 0) {
    failure = {out.write(memory_.get(), used_), false};
  }
  clear();
  return failure;
}

void Hold::clear() {
  used_ = 0;
  error_ = 0;
  if (in_file_) {
    // Emptied for what comes next; a failure here shows at the next spill.
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
    in_file_ = false;
  }
}

}  // namespace reelprint
