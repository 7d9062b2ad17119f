#include "reeltext/input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace reelprint::reeltext {
namespace {

// Standard input, left open at the end. A regular file's size is what lies after its offset.
class StandardInput final : public tape_image::InputSource {
 public:
  StandardInput() {
    struct stat info {};
    if (::fstat(STDIN_FILENO, &info) != 0 || !S_ISREG(info.st_mode)) return;
    const off_t at = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
    if (at >= 0 && at < info.st_size) known_size_ = static_cast<std::uint64_t>(info.st_size - at);
  }

  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override {
    for (;;) {
      const ssize_t got = ::read(STDIN_FILENO, buf, n);
      if (got >= 0) return got;
      if (errno != EINTR) return -1;
    }
  }

  std::uint64_t known_size() const override { return known_size_; }

 private:
  std::uint64_t known_size_ = 0;
};

}  // namespace

std::unique_ptr<tape_image::InputSource> open_input(const std::string& name) {
  if (name == "-") return std::make_unique<StandardInput>();
  return tape_image::open_file(name);
}

}  // namespace reelprint::reeltext
