// Reading a large file ahead of its use, on a thread of its own: copying the next bytes in from
// the kernel takes as long as listing the last ones, and the two then overlap.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "tape_image/source.h"

namespace reelprint::tape_image {

class ReadAhead {
 public:
  // A block of the input as read: `size` bytes at `bytes`, a whole block but at the end of the
  // input or where a read failed (`failed`); no block follows a short or failed one.
  struct Block {
    std::uint8_t* bytes;
    std::size_t size;
    bool failed;
  };

  // Returns a reader of `source` in blocks of `block_size` bytes, each with `before` writable
  // bytes before it and `after` readable bytes after it, every block 64-byte aligned; or
  // nullptr if no thread can be started (the caller then reads the usual way). From then on
  // nothing else may read `source`, and it must outlive the reader.
  static std::unique_ptr<ReadAhead> start(InputSource& source, std::size_t block_size,
                                          std::size_t before, std::size_t after);
  // Stops reading (after the read under way) and waits for the thread to end.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Returns the next block, once it is read. Not to be called after a short or failed block.
  Block next();
  // Gives back the block returned before the latest one, to be read into again.
  void release();

 private:
  // Two blocks in use at most (the latest, and the one before while its last bytes are
  // copied), two being read meanwhile.
  static constexpr std::size_t blocks = 4;

  ReadAhead(InputSource& source, std::size_t block_size, std::size_t before, std::size_t after);
  void read_blocks();  // the thread's work

  InputSource& source_;
  std::size_t block_size_;
  std::unique_ptr<std::uint8_t[]> storage_;  // never zero-filled: its bytes are read in
  Block ring_[blocks];
  std::size_t taken_ = 0;  // blocks handed out by `next`
  std::size_t given_back_ = 0;  // of those, blocks given back by `release`
  // Each thread waits on the other's count: blocks read so far, and blocks that may be read
  // into (the ring's size, plus those given back). On cache lines of their own, so that
  // waiting on one does not slow the writes of the other.
  alignas(64) std::atomic<std::size_t> filled_{0};
  alignas(64) std::atomic<std::size_t> freed_{blocks};
  std::atomic<bool> stop_{false};
  std::thread thread_;
  struct Placement;  // where the two threads run, and where the listing ran before
  std::unique_ptr<Placement> placement_;
};

}  // namespace reelprint::tape_image
