// Reads a tape image forward, pull-style (load n, consume n), into one reusable buffer: the
// bytes the walk of the image (walk.h) goes through. The framing itself is in framing.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "common/aligned_buffer.h"
#include "tape_image/framing.h"
#include "tape_image/source.h"

namespace reel::tape_image {

class TapeReader {
 public:
  // How much each read asks for: what the source prefers, if it says, or a regular file whole,
  // up to `largest_read` at a time (fewer calls, each copy the size the kernel copies fastest);
  // an input of unknown size, such as a pipe, `pipe_read` at a time (what a pipe enlarged by
  // its writer holds). Each a whole number of pages, so that reads keep the file offset aligned
  // too.
  static constexpr std::size_t largest_read = 1024 * 1024;
  static constexpr std::size_t pipe_read = 128 * 1024;
  static constexpr std::size_t page = 4096;
  // Bytes past the loaded ones that may be read (their values are of no use), so that a block
  // translation may run past the end of the bytes it needs.
  static constexpr std::size_t readable_past_end = 128;
  // The most bytes that `data` can be asked to hand over in one piece: a line's worth.
  static constexpr std::size_t most_wanted = 128;

  // Returns how much each read of `source` asks for, as above.
  static std::size_t read_size_for(const InputSource& source);

  // Reads `source`, which nothing else may read while this reader lives, `read_size` bytes a
  // read (a whole number of pages; 0: as suits the source).
  explicit TapeReader(InputSource& source, std::size_t read_size = 0);

  // Returns the loaded bytes not yet read, at least `want` of them (at most `most_wanted`) in
  // one piece, loading more if fewer are loaded; fewer only when the input has ended or failed
  // (see `failed`). Bytes stay unread until `consume` is called.
  std::span<const std::uint8_t> data(std::size_t want) {
    if (end_ - pos_ < want) load(want);
    return {buffer_ + pos_, end_ - pos_};
  }

  // Marks the next `n` loaded bytes as read.
  void consume(std::size_t n) { pos_ += n; }

  // Passes over the next `n` bytes: those loaded, then the rest by seeking where the source can
  // (a regular file), or else by reading them. Returns how many there were: fewer only where
  // the input ended or failed first.
  std::uint64_t skip(std::uint64_t n);

  // Returns the loaded bytes not yet read.
  std::span<const std::uint8_t> loaded() const { return {buffer_ + pos_, end_ - pos_}; }

  // Returns the offset in the image of the next byte not yet read.
  std::uint64_t offset() const { return end_offset_ - (end_ - pos_); }

  // Passes over the bytes up to offset `target` (not before `offset()`); returns false if the
  // input ended or failed first.
  bool pass_to(std::uint64_t target) {
    if (target - offset() <= end_ - pos_) {
      pos_ += static_cast<std::size_t>(target - offset());
      return true;
    }
    const std::uint64_t n = target - offset();
    return skip(n) == n;
  }

  // Returns true once a read of the input has failed; and the errno it failed with (0: unknown).
  bool failed() const { return failed_; }
  int error() const { return error_; }

 private:
  // Makes sure `n` bytes (at most `most_wanted`) are loaded; returns false if the input ends or
  // fails first.
  bool load(std::size_t n);

  // Reads always start at `fill_`, aligned, and take `read_size_` bytes (keeping the file
  // offset aligned too); the few unread bytes a load keeps are moved to just before `fill_`.
  static constexpr std::size_t kept_room = most_wanted;  // for the unread bytes a load keeps
  static constexpr std::size_t fill_ = kept_room;        // where reads start in `buffer_`
  static_assert(fill_ % AlignedBuffer<std::uint8_t>::alignment == 0);

  InputSource& source_;
  std::size_t read_size_;  // bytes each read asks for
  AlignedBuffer<std::uint8_t> storage_;
  std::uint8_t* buffer_;          // `storage_`'s bytes
  std::size_t pos_;               // next unread byte
  std::size_t end_;               // end of the loaded bytes
  std::uint64_t end_offset_ = 0;  // the offset in the image of `end_`
  bool at_end_ = false;           // the input has ended: later reads must not resume it
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace reel::tape_image
