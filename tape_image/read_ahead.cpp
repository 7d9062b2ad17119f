#include "tape_image/read_ahead.h"

#include <chrono>
#include <cstdlib>
#include <new>
#include <system_error>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#endif

namespace reelprint::tape_image {
namespace {

// Waits until `count` is above `than`. The other thread is mostly a block's read away, a few
// tens of microseconds: so long is spent spinning, as a thread put to sleep takes longer to
// wake than that (measured: with waits of up to 100 microseconds spun, a card deck took 30 %
// longer than with 1 millisecond). A longer wait sleeps. Out of line, so that a profile can
// leave the time spent waiting out (bench/run.sh does).
[[gnu::noinline]] void wait_above(const std::atomic<std::size_t>& count, std::size_t than) {
  using clock = std::chrono::steady_clock;
  if (count.load(std::memory_order_acquire) > than) return;
  const clock::time_point give_up = clock::now() + std::chrono::milliseconds(1);
  for (unsigned spins = 1; count.load(std::memory_order_acquire) <= than; ++spins) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || (defined(__arm__) && __ARM_ARCH >= 7)
    __asm__ __volatile__("yield");
#endif
    if (spins % 64 == 0 && clock::now() > give_up) {
      std::size_t now;
      while ((now = count.load(std::memory_order_acquire)) <= than)
        count.wait(now, std::memory_order_acquire);
      return;
    }
  }
}

}  // namespace

// The listing is held to the processor it runs on and the reading to the others: left to the
// scheduler, the two threads now and then share one processor, and one spinning there keeps
// the other waiting (measured on a card deck: medians of 22-26 ms held; not held, medians of
// 23-37 ms and single runs of up to 55 ms).
struct ReadAhead::Placement {
#if defined(__linux__)
  cpu_set_t before;  // where the listing's thread could run before
  cpu_set_t reading;  // where the reading thread is to run
  bool held = false;  // the listing's thread is held to one processor

  Placement() {
    CPU_ZERO(&before);
    CPU_ZERO(&reading);
    const int here = sched_getcpu();
    if (here < 0 || here >= CPU_SETSIZE || sched_getaffinity(0, sizeof before, &before) != 0)
      return;
    reading = before;
    CPU_CLR(here, &reading);
    if (CPU_COUNT(&reading) == 0) return;
    cpu_set_t listing;
    CPU_ZERO(&listing);
    CPU_SET(here, &listing);
    held = sched_setaffinity(0, sizeof listing, &listing) == 0;
  }
  ~Placement() {
    if (held) sched_setaffinity(0, sizeof before, &before);
  }
  // Moves the reading thread off the listing's processor at once: started there, it would
  // wait for the listing to stop spinning before it first ran (measured: a millisecond).
  void place_reading(std::thread& thread) const {
    if (held) pthread_setaffinity_np(thread.native_handle(), sizeof reading, &reading);
  }
  // Whether a second processor is there to read on.
  static bool two_processors() {
    cpu_set_t allowed;
    return sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) >= 2;
  }
#else
  void place_reading(std::thread&) const {}
  static bool two_processors() { return std::thread::hardware_concurrency() >= 2; }
#endif
};

std::unique_ptr<ReadAhead> ReadAhead::start(InputSource& source, std::size_t block_size,
                                            std::size_t before, std::size_t after,
                                            bool keep_offers) {
  // On one processor the two threads could only take turns.
  if (!Placement::two_processors()) return nullptr;
  std::unique_ptr<ReadAhead> ahead(new ReadAhead(source, block_size, before, after, keep_offers));
  try {
    ahead->thread_ = std::thread([reader = ahead.get()] { reader->read_blocks(); });
  } catch (const std::system_error&) {
    return nullptr;  // no thread to be had: read the usual way
  }
  ahead->placement_->place_reading(ahead->thread_);
  return ahead;
}

ReadAhead::ReadAhead(InputSource& source, std::size_t block_size, std::size_t before,
                     std::size_t after, bool keep_offers)
    : source_(source),
      block_size_(block_size),
      keep_offers_(keep_offers),
      placement_(std::make_unique<Placement>()) {
  constexpr std::size_t alignment = 64;
  const auto round_up = [](std::size_t n) { return (n + alignment - 1) / alignment * alignment; };
  const std::size_t stride = round_up(before) + round_up(block_size) + round_up(after);
  // The ring in memory of its own, aligned to a huge page and, on Linux, asked for in huge
  // pages: the kernel's copy into a block then misses the address cache far less (measured:
  // 1 to 3 % faster, plain listings and word-marked alike; the ring's memory is then resident
  // whole, 2 MiB). A refusal leaves small pages.
  constexpr std::size_t huge_page = 2 << 20;
  const std::size_t size = (blocks * stride + huge_page - 1) / huge_page * huge_page;
  storage_.reset(static_cast<std::uint8_t*>(std::aligned_alloc(huge_page, size)));
  if (!storage_) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  ::madvise(storage_.get(), size, MADV_HUGEPAGE);
#endif
  std::uint8_t* const first = storage_.get() + round_up(before);
  for (std::size_t k = 0; k < blocks; ++k) ring_[k] = {first + k * stride, 0, false};
}

namespace {
// Counts a call up and wakes the thread that waits on `calls`.
void call(std::atomic<std::size_t>& calls) {
  calls.fetch_add(1, std::memory_order_release);
  calls.notify_one();
}
}  // namespace

ReadAhead::~ReadAhead() {
  stop_.store(true, std::memory_order_relaxed);
  call(calls_);
  if (thread_.joinable()) thread_.join();
}

ReadAhead::Block ReadAhead::next() {
  wait_above(filled_, taken_);
  taken_seen_.store(taken_ + 1, std::memory_order_relaxed);
  return ring_[taken_++ % blocks];
}

void ReadAhead::release() {
  if (taken_ - given_back_ < 2) return;  // only the latest block is out
  ++given_back_;
  freed_.fetch_add(1, std::memory_order_release);
  call(calls_);
}

void ReadAhead::offer(Work& work) {
  ++offers_;
  work_ = &work;
  work_state_.store(offered, std::memory_order_release);
  call(calls_);
}

bool ReadAhead::work_done() const {
  return works_ended_.load(std::memory_order_acquire) == offers_;
}

bool ReadAhead::take_back() {
  int state = offered;
  if (!keep_offers_ &&
      work_state_.compare_exchange_strong(state, none, std::memory_order_acq_rel)) {
    works_ended_.fetch_add(1, std::memory_order_relaxed);  // only this thread reads it now
    return true;
  }
  wait_above(works_ended_, offers_ - 1);
  return false;
}

bool ReadAhead::run_work() {
  int state = offered;
  if (!work_state_.compare_exchange_strong(state, running, std::memory_order_acq_rel))
    return false;
  work_->run();
  // In this order: once the count is up, the next piece may be offered.
  work_state_.store(none, std::memory_order_relaxed);
  works_ended_.fetch_add(1, std::memory_order_release);
  works_ended_.notify_one();
  return true;
}

void ReadAhead::read_blocks() {
  bool more = true;           // blocks are left to read
  bool helping = false;       // work has been handed over before
  std::size_t worked_at = 0;  // `freed_` when work last ran
  for (std::size_t k = 0;;) {
    const std::size_t seen = calls_.load(std::memory_order_acquire);
    if (stop_.load(std::memory_order_relaxed)) return;
    // Block k % blocks is free once k + 1 blocks may be read into.
    const std::size_t freed = freed_.load(std::memory_order_acquire);
    // Reading comes first while the listing may soon wait for a block. Once two blocks are
    // read that it has not taken, work handed over goes first, and once work has been handed
    // over, a block given back is read only after the work that the listing offers just
    // after it (or at the next call): work started at once is done by the time the listing
    // wants it, and a copy that takes longer now and then no longer holds it up.
    const bool ahead = k >= taken_seen_.load(std::memory_order_relaxed) + 2;
    const auto work = [&] {
      if (!run_work()) return false;
      helping = true;
      worked_at = freed;
      return true;
    };
    if (ahead && work()) continue;
    if (more && freed > k && !(ahead && helping && worked_at != freed)) {
      Block& block = ring_[k++ % blocks];
      block.size = 0;
      block.failed = false;
      while (block.size < block_size_) {
        const std::ptrdiff_t got =
            source_.read(block.bytes + block.size, block_size_ - block.size);
        if (got <= 0) {
          block.failed = got < 0;
          break;
        }
        block.size += static_cast<std::size_t>(got);
      }
      more = !block.failed && block.size == block_size_;
      filled_.fetch_add(1, std::memory_order_release);
      filled_.notify_one();
      continue;
    }
    if (work()) continue;
    wait_above(calls_, seen);
  }
}

}  // namespace reelprint::tape_image
