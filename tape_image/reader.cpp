#include "tape_image/reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace reel::tape_image {

std::size_t TapeReader::read_size_for(const InputSource& source) {
  const std::size_t preferred = source.preferred_read();
  const std::uint64_t size = preferred != 0 ? preferred : source.known_size();
  if (size == 0) return pipe_read;
  const std::uint64_t pages = (size + page - 1) / page;
  return static_cast<std::size_t>(std::min<std::uint64_t>(pages * page, largest_read));
}

TapeReader::TapeReader(InputSource& source, std::size_t read_size)
    : source_(source),
      read_size_(read_size != 0 ? read_size : read_size_for(source)),
      storage_(kept_room + read_size_ + readable_past_end),
      buffer_(storage_.data()) {
  pos_ = end_ = fill_;
}

bool TapeReader::load(std::size_t n) {
  while (end_ - pos_ < n) {
    if (at_end_ || failed_) return false;
    if (end_ == fill_ + read_size_ || pos_ == end_) {
      // Keep the unread bytes (fewer than `n`, at most a few) right before `fill_`, so that
      // `n` of them lie together and the next read starts aligned.
      const std::size_t kept = end_ - pos_;
      std::memmove(buffer_ + fill_ - kept, buffer_ + pos_, kept);
      pos_ = fill_ - kept;
      end_ = fill_;
    }
    // Whole blocks of `read_size_` keep the file offset of every read aligned as well.
    errno = 0;
    const std::ptrdiff_t got = source_.read(buffer_ + end_, fill_ + read_size_ - end_);
    if (got < 0) {
      failed_ = true;
      error_ = errno;
    } else if (got == 0) {
      at_end_ = true;
    } else {
      end_ += static_cast<std::size_t>(got);
      end_offset_ += static_cast<std::uint64_t>(got);
    }
  }
  return true;
}

std::uint64_t TapeReader::skip(std::uint64_t n) {
  std::uint64_t done = std::min<std::uint64_t>(n, end_ - pos_);
  pos_ += static_cast<std::size_t>(done);
  if (done < n && !at_end_ && !failed_) {
    const std::uint64_t passed = source_.skip(n - done);
    done += passed;
    end_offset_ += passed;
  }
  while (done < n && load(1)) {
    const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, end_ - pos_));
    pos_ += part;
    done += part;
  }
  return done;
}

}  // namespace reel::tape_image
