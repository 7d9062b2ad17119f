#include "tape_image/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace reelprint::tape_image {
namespace {

class FileSource final : public InputSource {
 public:
  FileSource(int fd, std::uint64_t known_size) : fd_(fd), known_size_(known_size) {}
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

  std::uint64_t known_size() const override { return known_size_; }

 private:
  int fd_;
  std::uint64_t known_size_;  // of a regular file when opened; 0 for anything else
};

}  // namespace

std::unique_ptr<InputSource> open_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  const std::uint64_t size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
  return std::make_unique<FileSource>(fd, size);
}

std::ptrdiff_t MemorySource::read(std::uint8_t* buf, std::size_t n) {
  if (rest_.empty() && fail_at_end_) return -1;
  const std::size_t count = std::min({n, most_per_read_, rest_.size()});
  if (count > 0) std::memcpy(buf, rest_.data(), count);
  rest_ = rest_.subspan(count);
  return static_cast<std::ptrdiff_t>(count);
}

}  // namespace reelprint::tape_image
