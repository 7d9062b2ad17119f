// Reading a large file ahead of its use, on a thread of its own: copying the next bytes in from
// the kernel takes as long as listing the last ones, and the two then overlap. When the thread
// has read as far ahead as it may, it takes on work handed over to it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

  // Work handed over to the reading thread.
  class Work {
   public:
    virtual void run() = 0;

   protected:
    ~Work() = default;
  };

  // Returns a reader of `source` in blocks of `block_size` bytes, each with `before` writable
  // bytes before it and `after` readable bytes after it, every block 64-byte aligned; or
  // nullptr if no thread can be started (the caller then reads the usual way). From then on
  // nothing else may read `source`, and it must outlive the reader. With `keep_offers`, work
  // offered is never taken back (tests use it, to have the thread do every piece).
  static std::unique_ptr<ReadAhead> start(InputSource& source, std::size_t block_size,
                                          std::size_t before, std::size_t after,
                                          bool keep_offers = false);
  // Stops reading (after the read under way) and waits for the thread to end.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Returns the next block, once it is read. Not to be called after a short or failed block.
  Block next();
  // Gives back the block returned before the latest one, to be read into again.
  void release();

  // Offers `work` to the reading thread, which starts it once it has no block to read into.
  // `work` must stay until `take_back` returns; no other work may be offered before.
  void offer(Work& work);
  // Returns whether the work offered has ended already.
  bool work_done() const;
  // Returns how many blocks are read and not yet returned by `next`.
  std::size_t blocks_ready() const { return filled_.load(std::memory_order_acquire) - taken_; }
  // Takes back the work offered and returns true if the thread has not started it; else waits
  // for it to end and returns false.
  bool take_back();

 private:
  // Two blocks in use at most (the latest, and the one before while its last bytes are
  // copied), two being read meanwhile.
  static constexpr std::size_t blocks = 4;

  ReadAhead(InputSource& source, std::size_t block_size, std::size_t before, std::size_t after,
            bool keep_offers);
  void read_blocks();  // the thread's work
  bool run_work();     // runs the work offered, if any; returns whether there was any

  InputSource& source_;
  std::size_t block_size_;
  struct Free {  // gives back memory from `std::aligned_alloc`
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, Free> storage_;  // never zero-filled: its bytes are read in
  Block ring_[blocks];
  std::size_t taken_ = 0;  // blocks handed out by `next`
  // The same, for the reading thread to tell how far it is ahead of the listing.
  std::atomic<std::size_t> taken_seen_{0};
  std::size_t given_back_ = 0;  // of those, blocks given back by `release`
  // The counts the threads hand blocks over by: blocks read so far (the listing waits on it),
  // and blocks that may be read into (the ring's size, plus those given back). On cache lines
  // of their own, so that waiting on one does not slow the writes of the other.
  alignas(64) std::atomic<std::size_t> filled_{0};
  alignas(64) std::atomic<std::size_t> freed_{blocks};
  // What the reading thread waits on: a count of the calls that may give it something to do
  // (a block given back, work offered, the end).
  alignas(64) std::atomic<std::size_t> calls_{0};
  std::atomic<bool> stop_{false};
  // The work handed over: where the latest piece stands (see `WorkState`); how many pieces
  // have been offered, and how many of them have ended or been taken back, in that order.
  enum WorkState : int { none, offered, running };
  Work* work_ = nullptr;
  alignas(64) std::atomic<int> work_state_{none};
  std::size_t offers_ = 0;
  std::atomic<std::size_t> works_ended_{0};
  bool keep_offers_;
  std::thread thread_;
  struct Placement;  // where the two threads run, and where the listing ran before
  std::unique_ptr<Placement> placement_;
};

}  // namespace reelprint::tape_image
