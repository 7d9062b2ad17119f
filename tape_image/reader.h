// The framing of a tape image: byte counts, tape marks, data bytes, pad bytes, trailers.
//
// Every record is its byte count (four bytes, little-endian, all 32 bits count), its data
// bytes, a pad byte after odd-length data in the simh framing (none in the E11 framing), and
// the byte count again. A count of zero is a tape mark and ends a tape file; so does the end
// of the image where a count should begin.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "tape_image/read_ahead.h"
#include "tape_image/source.h"

namespace reelprint::tape_image {

enum class ReadStatus {
  ok,
  io_error,  // the input failed for a reason other than its end
};

enum class FinishStatus {
  ok,
  io_error,
  unequal_counts,  // the trailing count differs from the leading one (or is missing)
};

class TapeReader {
 public:
  // How much each read asks for: a regular file whole, up to `largest_read` at a time (fewer
  // calls, each copy the size the kernel copies fastest); an input of unknown size, such as a
  // pipe, `pipe_read` at a time (what a pipe enlarged by its writer holds). Each a whole number
  // of pages, so that reads keep the file offset aligned too.
  static constexpr std::size_t largest_read = 1024 * 1024;
  static constexpr std::size_t pipe_read = 128 * 1024;
  static constexpr std::size_t page = 4096;
  // Bytes past the loaded ones that may be read (their values are of no use), so that a block
  // translation may run past the end of the bytes it needs.
  static constexpr std::size_t readable_past_end = 128;
  // The most bytes that `data` can be asked to hand over in one piece: a line's worth.
  static constexpr std::size_t most_wanted = 128;

  // Inputs of this many bytes or more are read ahead on a thread of their own, where the
  // caller allows it; below, starting the thread (some 0.3 ms) costs more than the overlap
  // saves (measured: a loss at 8 MiB, a gain at 16 MiB).
  static constexpr std::uint64_t read_ahead_from = 16 * 1024 * 1024;
  // A block read ahead: large enough that handing blocks over costs little, small enough that
  // the ring of them stays in the processors' caches.
  static constexpr std::size_t ahead_block = 256 * 1024;

  // How the input is read: `read_size` bytes a read, ahead of use or not. With `keep_offers`,
  // work handed over to the thread reading ahead is always left to it (tests use it).
  struct Plan {
    std::size_t read_size;
    bool ahead;
    bool keep_offers = false;
  };
  // Returns the plan that suits `source`: reads fitted to its size, and ahead of use if
  // `may_read_ahead` and it is large.
  static Plan plan_for(const InputSource& source, bool may_read_ahead);

  // Reads `source`, which nothing else may read while this reader lives.
  explicit TapeReader(InputSource& source, bool may_read_ahead = false)
      : TapeReader(source, plan_for(source, may_read_ahead)) {}
  TapeReader(InputSource& source, Plan plan);

  // Reads a byte count into `count`; a count of 0 means a tape mark or fewer than four bytes
  // left. Returns io_error only when the input failed.
  ReadStatus read_len(std::uint32_t& count) {
    if (end_ - pos_ < 4) return read_len_slowly(count);
    count = load_le32(buffer_ + pos_);
    pos_ += 4;
    return ReadStatus::ok;
  }

  // Returns the loaded bytes not yet read, at least `want` of them (at most `most_wanted`) in
  // one piece, loading more if fewer are loaded; fewer only when the input has ended or failed
  // (see `failed`). Bytes stay unread until `consume` is called.
  std::span<const std::uint8_t> data(std::size_t want) {
    if (end_ - pos_ < want) load(want);
    return {buffer_ + pos_, end_ - pos_};
  }

  // Marks the next `n` loaded bytes as read.
  void consume(std::size_t n) { pos_ += n; }

  // Returns the loaded bytes not yet read.
  std::span<const std::uint8_t> loaded() const { return {buffer_ + pos_, end_ - pos_}; }

  // Offers the records that lie whole at the front of `bytes` (the loaded bytes, or some of
  // them from a record's start), one by one, to `take(data, size)`: each of 1 to `max_size`
  // data bytes and ending well (framed as `finish_record` would find with `even`). Stops before
  // the first record that is not such, or not whole, or a tape mark, which is left to be read
  // the usual way; or before the first one that `take` refuses by returning false. Returns the
  // bytes that the records taken take up, framing included. Loads and reads nothing: the
  // caller consumes the bytes taken. Inline, so that `take` is compiled into the loop.
  //
  // Records mostly come in runs of one size (a card deck). With `Runs::in_words`, in a run a
  // record's trailer and the count after it are read as one word and tested against the size
  // at once, and how many records the bytes hold is worked out once: a card costs a load and a
  // test, and no record waits for the count before it (measured: word-marked cards list 10 %
  // faster, plain ones 6 %). But `take` is then compiled in twice, which a large `take` of long
  // records, whose framing costs little beside them, pays for (about 1 %): `Runs::one_by_one`.
  enum class Runs { one_by_one, in_words };
  template <Runs runs = Runs::in_words, class Take>
  static std::size_t take_whole_records(std::span<const std::uint8_t> bytes,
                                        std::size_t max_size, bool even, Take&& take) {
    const std::uint8_t* const front = bytes.data();
    const std::size_t limit = bytes.size();
    const std::size_t odd_pad = even ? 1 : 0;
    // Where a record starts depends on the count before it, so each count would wait for the
    // one before to load. The size is taken to be the last one's and checked after: the check
    // is a branch the processor guesses right, and the next count can load at once.
    std::size_t last_size = 0;   // no record has
    std::size_t last_taken = 0;  // bytes that record took, framing and all
    std::size_t at = 0;
    while (limit - at >= 4) {
      const std::size_t size = load_le32(front + at);
      std::size_t taken = last_taken;
      if (size != last_size) {
        taken = 8 + size + (size & odd_pad);
        last_size = size;
        last_taken = taken;
      }
      // One test for 1 to `max_size` bytes: a count of 0 wraps round to the largest number.
      if (size - 1 >= max_size) break;
      if (limit - at < taken || load_le32(front + at + taken - 4) != size) break;
      if (!take(front + at + 4, static_cast<std::uint32_t>(size))) break;
      at += taken;
      if constexpr (runs == Runs::in_words) {
        // The run's last record in the bytes, whose next count lies past them, is left to the
        // tests above.
        if (limit - at < taken + 4 || load_le32(front + at) != size) continue;
        const std::uint64_t same = size * 0x1'0000'0001ull;  // the size, in both halves
        for (std::size_t run = (limit - at - 4) / taken; run != 0; --run) {
          const std::uint64_t trailer_and_next = load_le64(front + at + taken - 4);
          if ((trailer_and_next & 0xFFFF'FFFF) != size ||
              !take(front + at + 4, static_cast<std::uint32_t>(size)))
            return at;
          at += taken;
          if (trailer_and_next != same) break;  // the next record is not of the run
        }
      }
    }
    return at;
  }

  // Guesses where in `bytes` (which start with a record) the first record at `from` or after
  // starts, and sets `before` to the records before it, taking each to be the size of the
  // first (as in a card deck): returns the place if a count of that size stands there, or 0.
  // Only a guess: the records before are not read.
  static std::size_t guess_record_at(std::span<const std::uint8_t> bytes, std::size_t from,
                                     bool even, std::size_t& before) {
    if (bytes.size() < 4) return 0;
    const std::uint32_t size = load_le32(bytes.data());
    const std::size_t stride = 8 + std::size_t{size} + (even ? size & 1 : 0);
    before = (from + stride - 1) / stride;
    const std::size_t guess = before * stride;
    if (size == 0 || guess == 0 || guess > bytes.size() - 4) return 0;
    return load_le32(bytes.data() + guess) == size ? guess : 0;
  }

  // The thread reading ahead, which takes on work handed over to it while it waits; nullptr
  // when the input is not read ahead.
  ReadAhead* ahead() const { return ahead_.get(); }

  // After all `recsiz` data bytes: skips the pad byte of odd-length data when `even` is set
  // (simh framing; a missing pad byte is not an error of its own), then reads the trailing
  // count into `recsiz2`. Returns whether the record ended well.
  FinishStatus finish_record(std::uint32_t recsiz, bool even, std::uint32_t& recsiz2) {
    const std::size_t pad = even && recsiz % 2 == 1;
    if (end_ - pos_ < pad + 4) return finish_record_slowly(recsiz, pad, recsiz2);
    recsiz2 = load_le32(buffer_ + pos_ + pad);
    pos_ += pad + 4;
    return recsiz2 == recsiz ? FinishStatus::ok : FinishStatus::unequal_counts;
  }

  // Returns true once a read of the input has failed.
  bool failed() const { return failed_; }

 private:
  // Returns the eight bytes at `b` read little-endian: one load, swapped on a big-endian
  // processor.
  static std::uint64_t load_le64(const std::uint8_t* b) {
    std::uint64_t word;
    std::memcpy(&word, b, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
  }
  static std::uint32_t load_le32(const std::uint8_t* b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  }
  // The same as their namesakes, when the bytes they need may not be loaded yet.
  ReadStatus read_len_slowly(std::uint32_t& count);
  FinishStatus finish_record_slowly(std::uint32_t recsiz, std::size_t pad, std::uint32_t& recsiz2);

  // Makes sure `n` bytes (at most `most_wanted`) are loaded; returns false if the input ends or
  // fails first.
  bool load(std::size_t n);

  // Moves on to the next block read ahead, keeping the unread bytes before it.
  void next_block();

  // The kernel copies between cache-line-aligned addresses several times faster than between
  // misaligned ones, so reads always start at `fill_`, take `read_size_` bytes (keeping the
  // file offset aligned too), and the few unread bytes a load keeps are moved to just before
  // `fill_`.
  static constexpr std::size_t alignment = 64;
  static constexpr std::size_t kept_room = most_wanted;  // for the unread bytes a load keeps
  static constexpr std::size_t fill_ = kept_room;        // where reads start in `buffer_`

  InputSource& source_;
  std::size_t read_size_;                    // bytes each read asks for
  std::unique_ptr<std::uint8_t[]> storage_;  // never zero-filled: its bytes are read in
  std::unique_ptr<ReadAhead> ahead_;         // when reading ahead, the blocks read
  std::uint8_t* buffer_;                     // aligned: within `storage_`, or before a block
  std::size_t pos_;      // next unread byte
  std::size_t end_;      // end of the loaded bytes
  bool at_end_ = false;  // the input has ended: later reads must not resume it
  bool failed_ = false;
};

}  // namespace reelprint::tape_image
