#include "common/hold.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace reel {
namespace {

// Returns the folder where temporary files go.
std::string temporary_folder() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

// Returns a new temporary file in `folder` named for `program`, already unlinked so that it
// goes when closed, or -1 with errno telling why.
int make_temporary_file(const std::string& folder, std::string_view program) {
  std::string path = folder;
  path += '/';
  path += program;
  path += ".XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd >= 0) ::unlink(path.c_str());
  return fd;
}

}  // namespace

Hold::Hold(std::string_view program, std::size_t memory_limit)
    : program_(program), folder_(temporary_folder()), memory_limit_(memory_limit) {}

Hold::~Hold() {
  if (fd_ >= 0) ::close(fd_);
  std::free(memory_);
}

int Hold::append(std::string_view text) {
  if (memory_ == nullptr && memory_limit_ > 0) {
    memory_ = static_cast<char*>(std::malloc(memory_limit_));
    if (memory_ == nullptr) memory_limit_ = 0;  // less memory than the limit: all in the file
  }
  while (!text.empty() && error_ == 0) {
    if (used_ == memory_limit_) {
      if (memory_limit_ == 0) {  // straight to the file
        if (spill() == 0) error_ = write_all(fd_, text.data(), text.size());
        break;
      }
      spill();
      continue;
    }
    const std::size_t part = std::min(text.size(), memory_limit_ - used_);
    std::memcpy(memory_ + used_, text.data(), part);
    used_ += part;
    text.remove_prefix(part);
  }
  return error_;
}

int Hold::spill() {
  if (error_ == 0 && fd_ < 0) {
    fd_ = make_temporary_file(folder_, program_);
    if (fd_ < 0) {
      error_ = errno;
      making_failed_ = true;
    }
  }
  if (error_ == 0 && used_ > 0) error_ = write_all(fd_, memory_, used_);
  in_file_ = in_file_ || error_ == 0;
  used_ = 0;
  return error_;
}

Hold::Failure Hold::drain(OutputSink& out) {
  Failure failure{error_, error_ != 0, making_failed_};
  if (failure.error == 0 && in_file_) {
    // The bytes in memory go after those in the file: there first, so that the memory is free
    // to read the file through.
    if (spill() != 0) failure = {error_, true};
    if (failure.error == 0 && ::lseek(fd_, 0, SEEK_SET) != 0) failure = {errno, true};
    char spare[4096];  // where memory ran out
    char* const block = memory_ != nullptr ? memory_ : spare;
    const std::size_t block_size = memory_ != nullptr ? memory_limit_ : sizeof spare;
    while (failure.error == 0) {
      const ssize_t got = ::read(fd_, block, block_size);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) failure = {errno, true};
      if (got <= 0) break;
      failure = {out.write(block, static_cast<std::size_t>(got)), false};
    }
  } else if (failure.error == 0 && used_ > 0) {
    failure = {out.write(memory_, used_), false};
  }
  clear();
  return failure;
}

std::ptrdiff_t Hold::take(char* out, std::size_t n) {
  if (error_ == 0 && !in_file_) {
    const std::size_t part = std::min(n, used_ - taken_);
    if (part > 0) std::memcpy(out, memory_ + taken_, part);
    taken_ += part;
    return static_cast<std::ptrdiff_t>(part);
  }
  if (error_ == 0 && !taking_) {
    // All of it into the file first (the bytes in memory go after those there), then read
    // back from the start.
    if (spill() == 0 && ::lseek(fd_, 0, SEEK_SET) != 0) error_ = errno;
    taking_ = error_ == 0;
  }
  while (error_ == 0) {
    const ssize_t got = ::read(fd_, out, n);
    if (got >= 0) return got;
    if (errno != EINTR) error_ = errno;
  }
  errno = error_;
  return -1;
}

void Hold::clear() {
  used_ = 0;
  taken_ = 0;
  taking_ = false;
  error_ = 0;
  making_failed_ = false;
  if (in_file_) {
    // Emptied for what comes next; a failure here shows at the next spill.
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
    in_file_ = false;
  }
}

void say_hold_failed(OutputSink& err, std::string_view program, const Hold& hold,
                     const Hold::Failure& failure) {
  if (!failure.temporary) {
    say_write_failed(err, program, "standard output", failure.error);
    return;
  }
  const std::string message = std::string(program) +
                              (failure.making ? ": cannot make a temporary file in "
                                              : ": error writing a temporary file in ") +
                              hold.folder() + ": " + std::strerror(failure.error) + "\n";
  err.write(message.data(), message.size());
}

}  // namespace reel
