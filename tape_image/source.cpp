#include "tape_image/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace reel::tape_image {
namespace {

class FileSource final : public InputSource {
 public:
  FileSource(int fd, bool regular, std::uint64_t size)
      : fd_(fd), regular_(regular), known_size_(regular ? size : 0) {}
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  ~FileSource() override { ::close(fd_); }

  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override {
    for (;;) {
      const ssize_t got = ::read(fd_, buf, n);
      if (got >= 0) return got;
      if (errno != EINTR) return -1;
    }
  }

  // Seeks forward, up to the file's present end; a pipe or a device is read instead.
  std::uint64_t skip(std::uint64_t n) override {
    if (!regular_) return 0;
    struct stat info {};
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at < 0 || ::fstat(fd_, &info) != 0 || info.st_size <= at) return 0;
    // Within what an off_t holds, so that no sum below overflows.
    const auto most = static_cast<std::uint64_t>(info.st_size - at);
    const auto step = static_cast<off_t>(std::min(n, most));
    return ::lseek(fd_, step, SEEK_CUR) < 0 ? 0 : static_cast<std::uint64_t>(step);
  }

  std::uint64_t known_size() const override { return known_size_; }

 private:
  int fd_;
  bool regular_;              // a regular file, whose size tells how far it may be skipped
  std::uint64_t known_size_;  // of a regular file when opened; 0 for anything else
};

// Returns the source that reads `fd`, which it closes; nullptr, closing it, for a directory
// (reading a directory would pass for an empty tape), errno then telling why.
std::unique_ptr<InputSource> open_fd(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    errno = error;
    return nullptr;
  }
  return std::make_unique<FileSource>(fd, S_ISREG(info.st_mode),
                                      static_cast<std::uint64_t>(info.st_size));
}

}  // namespace

std::unique_ptr<InputSource> open_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? nullptr : open_fd(fd);
}

std::unique_ptr<InputSource> open_input(const std::string& name) {
  if (name != "-") return open_file(name);
  const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);  // its own, for the source to close
  return fd < 0 ? nullptr : open_fd(fd);
}

std::ptrdiff_t MemorySource::read(std::uint8_t* buf, std::size_t n) {
  if (rest_.empty() && fail_at_end_) return -1;
  const std::size_t count = std::min({n, most_per_read_, rest_.size()});
  if (count > 0) std::memcpy(buf, rest_.data(), count);
  rest_ = rest_.subspan(count);
  return static_cast<std::ptrdiff_t>(count);
}

std::uint64_t MemorySource::skip(std::uint64_t n) {
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(n, rest_.size()));
  rest_ = rest_.subspan(count);
  return count;
}

}  // namespace reel::tape_image
