// Seven-track dumps (P7B): one byte a tape frame, bit 7 set on each record's first frame, and
// no counts. Such a dump is read as the simh image it holds, decoded as it is read, and written
// frame by frame from a record's codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "bcd/kernel.h"
#include "common/aligned_buffer.h"
#include "common/hold.h"
#include "tape_image/control_word.h"
#include "tape_image/source.h"

namespace reel::tape_image {

// Which parity the frames are checked for (a frame's bits 0-6 hold an even or an odd number of
// ones), or none: even for tapes written in BCD mode, as the 1401 writes, odd for binary ones.
enum class Parity { even, odd, none };

// Returns the parity named "even", "odd" or "none"; nothing for any other name.
std::optional<Parity> parity_named(std::string_view name);

// A tape mark as a frame: code 15 with a record's start bit (even parity; some dumps set the
// parity bit, 0xCF, and both read as a tape mark). The byte that closes a dump, which begins no
// record, is written as the same byte.
inline constexpr std::uint8_t p7b_tape_mark = 0x8F;
inline constexpr std::uint8_t p7b_closing_start = 0x8F;

// One record's parity errors, told as the dump is decoded.
struct ParityErrors {
  std::uint64_t file, record;  // tape file and record number in it, from 1
  std::uint64_t position;      // the first bad frame's place in the record, from 1
  std::uint64_t offset;        // that frame's offset in the dump
  std::uint64_t count;         // bad frames in the record
  bool operator==(const ParityErrors&) const = default;
};

// Told what the dump holds besides the records, as it is decoded.
class DumpListener {
 public:
  virtual ~DumpListener() = default;
  // A record with frames of the wrong parity (a bad record, where its size allows).
  virtual void parity_errors(const ParityErrors&) = 0;
  // The dump's first `frames` frames, before any record start: damage, taken as a bad record of
  // their own (tape file 1, record 1).
  virtual void unstarted_frames(std::uint64_t /*frames*/) {}
};

// What a `P7bSource` keeps in memory and the longest record it frames; other values than these
// are for the tests.
struct P7bLimits {
  std::size_t window = std::size_t{1} << 18;      // dump bytes looked through for a record's end
  std::uint64_t longest_record = largest_record;  // frames a record may have
};

// Serves the simh image a dump holds: each record as its count (little-endian), its codes (each
// frame's low six bits), a 0 pad after odd-length data and its count again; a record with a
// frame of the wrong parity as a bad record (its counts flagged) where its size fits a bad
// record's, else as a good one, told to the listener either way; a tape mark (a record of one
// frame of code 15) as the zero word. A record runs from a frame with bit 7 set up to the next
// such frame; the dump's last byte, if it has bit 7 set, closes it and begins no record.
// Memory stays bounded: the dump is looked through in a window, and a record longer than that
// waits in the hold until its end is found. Reads fail with EFBIG at a record of more frames
// than a count holds, and with a failed read's errno where the dump or the hold fails.
class P7bSource final : public InputSource {
 public:
  // Reads `dump`, which nothing else may read while this source lives, scanning it with
  // `kernel` (one of `bcd::kernels_here()`); `listener` may be null.
  P7bSource(InputSource& dump, Parity parity, Hold& hold, DumpListener* listener = nullptr,
            P7bLimits limits = {}, bcd::KernelId kernel = bcd::best_kernel());

  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override;
  // A window's worth, or for a smaller dump its size (its simh form is a little larger): the
  // bytes served then stay in the processor's cache beside the window they come from.
  std::size_t preferred_read() const override;

  // After `read` has returned 0: whether the dump ended with a closing record start, and how
  // many bytes it held.
  bool closing_start() const { return closing_start_; }
  std::uint64_t dump_size() const { return window_offset_ + end_; }

  // Returns the dump offset of the item (record or tape mark) whose simh form begins at
  // `simh_offset`, for offsets asked in increasing order, of items not long served (those that
  // end within two of the largest reads of the end of what has been served, as far as 65,536
  // runs of items of one size reach): ~0 for an offset where no item begins, or one of an item
  // forgotten.
  std::uint64_t dump_offset_of(std::uint64_t simh_offset);

  // Returns whether the last failed read failed in the hold (its temporary file), not the dump.
  bool failed_in_hold() const { return failed_in_hold_; }

 private:
  // An item found in the dump, being served in its simh form.
  struct Item {
    std::uint8_t head[4];      // its first word, and its last (a record's count twice)
    std::size_t words = 0;     // of those words: 1 for a tape mark, 2 for a record
    std::uint64_t held = 0;    // of its codes, those in the hold
    std::size_t from = 0;      // where the rest of its codes lie in the window
    std::size_t to = 0;        // and where they end
    std::size_t pad = 0;       // a pad byte after its codes
    std::uint64_t served = 0;  // bytes of its simh form served so far
    std::uint64_t size = 0;    // bytes of its simh form
  };

  // A run of items of one size (frames; 0 for tape marks) in the simh form, for
  // `dump_offset_of`.
  struct Run {
    std::uint32_t frames;
    std::uint32_t items;
  };
  // The ring of runs starts small and grows, by doubling, up to `most_runs`, while its oldest
  // run is among the items a reader may still ask about: only the memory used is touched.
  static constexpr std::size_t fewest_runs = 512;
  static constexpr std::size_t most_runs = std::size_t{1} << 16;

  // Each of these with `kernel`, the one made for this read.
  // Finds the next item from `record_`, into `item_`; returns false at the end of the dump, or
  // on a failure (`error_`).
  template <class K>
  bool find_item(const K& kernel);
  // Makes the window hold more of the dump, from where it is scanned on; returns false at its
  // end or on a failure.
  template <class K>
  bool load_more(const K& kernel);
  // Scans the bytes read but not scanned: whole blocks, and at the dump's end its last bytes.
  template <class K>
  void scan(const K& kernel);
  // Adds the bad frames from `clean_to_` up to `to` in the window to the record's, and finds
  // how far past `to` the frames scanned are good.
  void count_bad(std::size_t to);
  // Serves what `item_` has left into `buf`, its codes taken from the frames as they are copied;
  // returns how many bytes.
  template <class K>
  std::size_t serve(const K& kernel, std::uint8_t* buf, std::size_t n);
  // Returns the first record start at or after `from` among the frames scanned; `scanned_` if
  // there is none.
  std::size_t next_start(std::size_t from) const;
  // Serves the records from `record_` on into `buf` whole, while they fit and lie whole among
  // the frames scanned with none bad, more than one frame each (the others, and the dump's first
  // record, are left to `find_item`): most records, found and served in one loop. Returns how
  // many bytes.
  template <class K>
  std::size_t serve_records(const K& kernel, std::uint8_t* buf, std::size_t n);
  // Notes which of the blocks from `from` up to `to` have a record start, in `with_start_`.
  void note_blocks(std::size_t from, std::size_t to);
  // Tells `dump_offset_of` of an item of `frames` frames (0: a tape mark).
  void remember(std::uint64_t frames);
  // Forgets the oldest run.
  void forget_first_run();
  // Fails the reads with `error`; returns false.
  bool fail(int error, bool in_hold = false);

  InputSource& dump_;
  Parity parity_;
  Hold& hold_;
  DumpListener* listener_;
  std::uint64_t longest_record_;
  bcd::KernelId kernel_;
  bcd::DisplayTable table_;  // what a kernel is made from (the frame operations use none of it)

  // The window: dump bytes from `window_offset_` on, as read; those before `scanned_` have their
  // blocks' record starts and bad frames in `starts_` and `bad_`.
  std::size_t capacity_;
  AlignedBuffer<std::uint8_t> window_storage_;
  AlignedBuffer<std::uint64_t> starts_storage_, bad_storage_, with_start_storage_;
  std::uint8_t* window_;
  std::uint64_t* starts_;  // bit k of block b: byte 64b + k begins a record
  std::uint64_t* bad_;     // bit k of block b: byte 64b + k has the wrong parity
  // Bit k of word w: block 64w + k has a record start, so that a record's end is found in a
  // step or two rather than a block at a time; 0 past the blocks scanned, up to the end of the
  // word of the last.
  std::uint64_t* with_start_;
  std::uint64_t window_offset_ = 0;
  std::size_t end_ = 0;      // bytes read
  std::size_t scanned_ = 0;  // bytes scanned: whole blocks, but for the dump's last bytes
  bool at_end_ = false;      // the dump has ended

  // The record being delimited: it begins at `record_` in the window (before it, `held_` of its
  // frames wait in the hold) and is known to hold no record start before `searched_`. Its bad
  // frames are counted up to `clean_to_` (none of the frames from the last counted on up to it
  // is bad), which is never before it.
  std::size_t record_ = 0;
  std::size_t searched_ = 0;
  std::size_t clean_to_ = 0;
  std::uint64_t held_ = 0;
  std::uint64_t record_offset_ = 0;  // where it begins in the dump
  std::uint64_t bad_count_ = 0;
  std::uint64_t first_bad_ = 0;  // the dump offset of its first bad frame

  Item item_;
  bool have_item_ = false;
  std::uint64_t file_ = 1;    // the tape file of the next record
  std::uint64_t number_ = 0;  // the number of the last record in it

  bool closing_start_ = false;
  int error_ = 0;  // errno of the failure that ends the reads, 0 if none
  bool failed_in_hold_ = false;

  // The items served and not yet forgotten, as runs: `runs_used_` of them from `first_run_` on
  // in a ring of `ring_size_`, the first beginning at `run_simh_` in the simh form and
  // `run_dump_` in the dump. Those that end within `recent_` bytes of the simh form served
  // (twice the largest read: the reader's bytes, where it may ask) are not forgotten while the
  // ring can grow.
  AlignedBuffer<Run> runs_storage_;
  Run* runs_;
  std::size_t ring_size_ = fewest_runs;
  std::size_t first_run_ = 0;
  std::size_t runs_used_ = 0;
  std::uint64_t remembered_end_ = 0;  // where the last item remembered ends in the simh form
  std::uint64_t recent_ = 0;
  std::uint64_t run_simh_ = 0;
  std::uint64_t run_dump_ = 0;
};

// Writes the frames of a record's `n` codes (low six bits) at `frames`: each code with the
// parity bit for `parity` (none: as even) and bit 7 on the first frame when `first`. Returns how
// many codes were 0 under even parity (which such a tape cannot carry).
std::size_t put_frames(const std::uint8_t* codes, std::size_t n, std::uint8_t* frames,
                       Parity parity, bool first);

}  // namespace reel::tape_image
