#include "tape_image/p7b.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

#include "bcd/dispatch.h"

namespace reel::tape_image {
namespace {

constexpr std::uint8_t start_bit = 0x80;
constexpr std::uint8_t tape_mark_code = 15;

// Returns the frame of each code under odd parity (`odd`) or even: the code with bit 6 set
// where that makes the seven bits' ones odd, or even.
constexpr std::array<std::uint8_t, 64> frames_of(bool odd) {
  std::array<std::uint8_t, 64> frames{};
  for (unsigned code = 0; code < 64; ++code) {
    const bool ones_odd = std::popcount(code) % 2 == 1;
    frames[code] = static_cast<std::uint8_t>(code | (ones_odd != odd ? 0x40 : 0));
  }
  return frames;
}
constexpr std::array<std::uint8_t, 64> even_frames = frames_of(false);
constexpr std::array<std::uint8_t, 64> odd_frames = frames_of(true);

// Returns the bytes of an item of `frames` frames (0: a tape mark) in the simh form, and in the
// dump.
constexpr std::uint64_t simh_bytes(std::uint64_t frames) {
  return frames == 0 ? 4 : 8 + frames + frames % 2;
}
constexpr std::uint64_t dump_bytes(std::uint64_t frames) { return frames == 0 ? 1 : frames; }

void put_le32(std::uint8_t* out, std::uint32_t word) {
  for (int k = 0; k < 4; ++k) out[k] = static_cast<std::uint8_t>(word >> (8 * k));
}

}  // namespace

std::optional<Parity> parity_named(std::string_view name) {
  if (name == "even") return Parity::even;
  if (name == "odd") return Parity::odd;
  if (name == "none") return Parity::none;
  return std::nullopt;
}

std::size_t put_frames(const std::uint8_t* codes, std::size_t n, std::uint8_t* frames,
                       Parity parity, bool first) {
  const std::array<std::uint8_t, 64>& frame_of = parity == Parity::odd ? odd_frames : even_frames;
  std::size_t zeros = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint8_t code = codes[k] & 63;
    frames[k] = frame_of[code];
    zeros += code == 0;
  }
  if (first && n > 0) frames[0] |= start_bit;
  return parity == Parity::even ? zeros : 0;
}

P7bSource::P7bSource(InputSource& dump, Parity parity, Hold& hold, DumpListener* listener,
                     P7bLimits limits, bcd::KernelId kernel)
    : dump_(dump),
      parity_(parity),
      hold_(hold),
      listener_(listener),
      longest_record_(limits.longest_record),
      kernel_(kernel),
      table_(bcd::prepare(bcd::Arrangement::a, ' ')),
      // Whole blocks, at least two: a window full of one record's frames then holds a block
      // or more to move to the hold.
      capacity_(
          std::max<std::size_t>((limits.window + bcd::frame_block - 1) / bcd::frame_block, 2) *
          bcd::frame_block),
      window_storage_(capacity_),
      starts_storage_(capacity_ / bcd::frame_block),
      bad_storage_(capacity_ / bcd::frame_block),
      with_start_storage_((capacity_ / bcd::frame_block + 63) / 64),
      window_(window_storage_.data()),
      starts_(starts_storage_.data()),
      bad_(bad_storage_.data()),
      with_start_(with_start_storage_.data()),
      runs_storage_(most_runs),
      runs_(runs_storage_.data()) {}

std::size_t P7bSource::preferred_read() const {
  const std::uint64_t dump = dump_.known_size();
  return dump != 0 && dump < capacity_ ? static_cast<std::size_t>(dump) : capacity_;
}

std::ptrdiff_t P7bSource::read(std::uint8_t* buf, std::size_t n) {
  recent_ = std::max<std::uint64_t>(recent_, 2 * std::uint64_t{n});
  // The kernel is entered once a read, and the items found and served in it are compiled into
  // it: records of a few hundred frames each cost no call.
  const std::size_t done = bcd::with_kernel(kernel_, table_, [&](const auto& kernel) {
    std::size_t served = 0;
    while (served < n && error_ == 0) {
      if (!have_item_) {
        served += serve_records(kernel, buf + served, n - served);
        if (served == n || !find_item(kernel)) break;
      }
      served += serve(kernel, buf + served, n - served);
    }
    return served;
  });
  if (done > 0) return static_cast<std::ptrdiff_t>(done);
  if (error_ == 0) return 0;
  errno = error_;
  return -1;
}

template <class K>
bool P7bSource::find_item(const K& kernel) {
  if (error_ != 0) return false;
  while (scanned_ <= record_) {  // its first frame
    if (at_end_) return false;
    if (!load_more(kernel)) return false;
  }
  // The dump's first frame begins its first record even without bit 7: frames before any
  // record start are damage, kept as a record of their own, which is made a bad one.
  const bool unstarted =
      window_offset_ + record_ == 0 && (starts_[record_ / bcd::frame_block] & 1) == 0;
  record_offset_ = window_offset_ + record_;
  held_ = 0;
  bad_count_ = 0;
  searched_ = record_ + 1;
  std::size_t end = 0;  // where the record ends in the window
  for (;;) {
    end = next_start(searched_);
    if (end < scanned_) break;
    searched_ = std::max(searched_, scanned_);
    if (at_end_ && scanned_ == end_) {
      end = end_;
      break;
    }
    if (held_ + (searched_ - record_) > longest_record_) return fail(EFBIG);
    if (!load_more(kernel)) return false;
  }
  const std::uint64_t frames = held_ + (end - record_);
  if (frames > longest_record_) return fail(EFBIG);
  if (end > clean_to_) count_bad(end);

  const bool one_frame = frames == 1 && !unstarted;
  if (one_frame && end == end_ && at_end_) {  // the closing record start
    closing_start_ = true;
    record_ = end;
    return false;
  }
  item_.served = 0;
  item_.held = held_;
  item_.from = record_;
  item_.to = end;
  if (one_frame && (window_[record_] & 63) == tape_mark_code) {
    put_le32(item_.head, 0);
    item_.words = 1;
    item_.pad = 0;
    item_.size = 4;
    ++file_;
    number_ = 0;
    remember(0);
  } else {
    ++number_;
    const bool bad = unstarted || bad_count_ > 0;
    put_le32(item_.head, static_cast<std::uint32_t>(frames) |
                             (bad && frames <= largest_bad_record ? bad_record_flag : 0));
    item_.words = 2;
    item_.pad = frames % 2;
    item_.size = simh_bytes(frames);
    if (listener_ != nullptr && unstarted) listener_->unstarted_frames(frames);
    if (listener_ != nullptr && bad_count_ > 0)
      listener_->parity_errors(
          {file_, number_, first_bad_ - record_offset_ + 1, first_bad_, bad_count_});
    remember(frames);
  }
  have_item_ = true;
  record_ = end;
  return true;
}

std::size_t P7bSource::next_start(std::size_t from) const {
  if (from >= scanned_) return scanned_;
  std::size_t block = from / bcd::frame_block;
  std::uint64_t found = starts_[block] & (~std::uint64_t{0} << from % bcd::frame_block);
  if (found == 0) {
    // The next block with a start.
    const std::size_t blocks = (scanned_ + bcd::frame_block - 1) / bcd::frame_block;
    if (++block >= blocks) return scanned_;
    std::size_t word = block / 64;
    std::uint64_t bits = with_start_[word] & (~std::uint64_t{0} << block % 64);
    while (bits == 0) {
      if (++word * 64 >= blocks) return scanned_;
      bits = with_start_[word];
    }
    block = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
    found = starts_[block];
  }
  return block * bcd::frame_block + static_cast<std::size_t>(std::countr_zero(found));
}

void P7bSource::note_blocks(std::size_t from, std::size_t to) {
  for (std::size_t block = from; block < to;) {
    // A word's bits gathered in a register, and stored once.
    const std::size_t word = block / 64;
    const std::size_t word_end = std::min(to, (word + 1) * 64);
    std::uint64_t bits = with_start_[word] & ((std::uint64_t{1} << block % 64) - 1);
    for (; block < word_end; ++block)
      bits |= static_cast<std::uint64_t>(starts_[block] != 0) << block % 64;
    with_start_[word] = bits;
  }
}

template <class K>
bool P7bSource::load_more(const K& kernel) {
  if (at_end_) return false;
  if (end_ == capacity_) {
    // Full, and so all scanned: the bytes before the record's block are dropped, or if the
    // record fills the window, its frames so far go to the hold.
    const std::size_t keep = record_ / bcd::frame_block * bcd::frame_block;
    std::size_t drop = keep;
    if (keep == 0) {
      if (scanned_ > clean_to_) count_bad(scanned_);
      kernel.put_codes(window_ + record_, scanned_ - record_, window_ + record_);
      const int error = hold_.append(
          std::string_view(reinterpret_cast<const char*>(window_ + record_), scanned_ - record_));
      if (error != 0) return fail(error, true);
      held_ += scanned_ - record_;
      record_ = searched_ = scanned_;
      drop = scanned_;
    }
    std::memmove(window_, window_ + drop, end_ - drop);
    std::memmove(starts_, starts_ + drop / bcd::frame_block,
                 (scanned_ - drop) / bcd::frame_block * sizeof *starts_);
    std::memmove(bad_, bad_ + drop / bcd::frame_block,
                 (scanned_ - drop) / bcd::frame_block * sizeof *bad_);
    note_blocks(0, (scanned_ - drop) / bcd::frame_block);
    for (std::size_t* at : {&end_, &scanned_, &record_, &searched_, &clean_to_}) *at -= drop;
    window_offset_ += drop;
  }
  errno = 0;
  const std::ptrdiff_t got = dump_.read(window_ + end_, capacity_ - end_);
  if (got < 0) return fail(errno != 0 ? errno : EIO);
  if (got == 0)
    at_end_ = true;
  else
    end_ += static_cast<std::size_t>(got);
  scan(kernel);
  return true;
}

template <class K>
void P7bSource::scan(const K& kernel) {
  const std::size_t whole = scanned_ + (end_ - scanned_) / bcd::frame_block * bcd::frame_block;
  const std::size_t last = at_end_ ? end_ - whole : 0;  // the dump's last bytes past its blocks
  if (whole == scanned_ && last == 0) return;
  // A frame is bad where its ones are odd under even parity, even under odd parity.
  const std::uint64_t flip = parity_ == Parity::odd ? ~std::uint64_t{0} : 0;
  const std::uint64_t checked = parity_ == Parity::none ? 0 : ~std::uint64_t{0};
  std::uint64_t any_bad = 0;
  for (std::size_t at = scanned_; at < whole; at += bcd::frame_block) {
    const bcd::FrameScan found = kernel.scan_frames(window_ + at);
    const std::uint64_t bad = (found.odd ^ flip) & checked;
    starts_[at / bcd::frame_block] = found.starts;
    bad_[at / bcd::frame_block] = bad;
    any_bad |= bad;
  }
  if (last > 0) {
    alignas(64) std::uint8_t block[bcd::frame_block] = {};
    std::memcpy(block, window_ + whole, last);
    const bcd::FrameScan found = kernel.scan_frames(block);
    const std::uint64_t there = (std::uint64_t{1} << last) - 1;
    const std::uint64_t bad = (found.odd ^ flip) & checked & there;
    starts_[whole / bcd::frame_block] = found.starts & there;
    bad_[whole / bcd::frame_block] = bad;
    any_bad |= bad;
  }
  // Where every frame up to the scan's start is counted or known good and no bad one is
  // scanned now, all are known good, and `count_bad` need not look for the next bad one.
  if (clean_to_ == scanned_ && any_bad == 0) clean_to_ = whole + last;
  note_blocks(scanned_ / bcd::frame_block,
              (whole + last + bcd::frame_block - 1) / bcd::frame_block);
  scanned_ = whole + last;
}

void P7bSource::count_bad(std::size_t to) {
  const auto bad_in = [&](std::size_t block, std::size_t from, std::size_t end) {
    const std::uint64_t bad = bad_[block] >> (from % bcd::frame_block);
    const std::size_t n = end - from;
    return n < bcd::frame_block ? bad & ((std::uint64_t{1} << n) - 1) : bad;
  };
  for (std::size_t at = clean_to_; at < to;) {
    const std::size_t block = at / bcd::frame_block;
    const std::size_t block_end = std::min(to, (block + 1) * bcd::frame_block);
    if (const std::uint64_t bad = bad_in(block, at, block_end); bad != 0) {
      if (bad_count_ == 0)
        first_bad_ = window_offset_ + at + static_cast<std::size_t>(std::countr_zero(bad));
      bad_count_ += static_cast<std::uint64_t>(std::popcount(bad));
    }
    at = block_end;
  }
  // The frames from here on that are known to be good: up to the next bad one scanned.
  std::size_t block = to / bcd::frame_block;
  std::uint64_t bad =
      to < scanned_ ? bad_[block] >> (to % bcd::frame_block) << (to % bcd::frame_block) : 0;
  const std::size_t blocks = (scanned_ + bcd::frame_block - 1) / bcd::frame_block;
  while (bad == 0 && ++block < blocks) bad = bad_[block];
  clean_to_ = bad == 0 ? std::max(to, scanned_)
                       : block * bcd::frame_block + static_cast<std::size_t>(std::countr_zero(bad));
}

template <class K>
std::size_t P7bSource::serve(const K& kernel, std::uint8_t* buf, std::size_t n) {
  Item& item = item_;
  const std::size_t in_window = item.to - item.from;
  if (item.served == 0 && item.held == 0 && item.size <= n) {  // whole at once
    std::memcpy(buf, item.head, 4);
    if (item.words == 2) {
      kernel.put_codes(window_ + item.from, in_window, buf + 4);
      buf[4 + in_window] = 0;  // the pad byte, if any, or overwritten
      std::memcpy(buf + 4 + in_window + item.pad, item.head, 4);
    }
    have_item_ = false;
    return static_cast<std::size_t>(item.size);
  }
  const std::uint64_t codes_end = 4 + item.held + in_window;
  std::size_t done = 0;
  while (done < n && item.served < item.size) {
    const std::uint64_t at = item.served;
    const std::size_t room = n - done;
    std::size_t part = 0;
    if (at < 4) {
      part = std::min<std::size_t>(room, static_cast<std::size_t>(4 - at));
      std::memcpy(buf + done, item.head + at, part);
    } else if (at < 4 + item.held) {
      const std::ptrdiff_t got =
          hold_.take(reinterpret_cast<char*>(buf + done),
                     static_cast<std::size_t>(std::min<std::uint64_t>(room, 4 + item.held - at)));
      if (got <= 0) {  // none left too soon: lost from the hold
        fail(got < 0 ? errno : EIO, true);
        break;
      }
      part = static_cast<std::size_t>(got);
    } else if (at < codes_end) {
      const auto from = static_cast<std::size_t>(at - 4 - item.held);
      part = std::min(room, in_window - from);
      kernel.put_codes(window_ + item.from + from, part, buf + done);
    } else if (at < codes_end + item.pad) {
      buf[done] = 0;
      part = 1;
    } else {
      const auto from = static_cast<std::size_t>(at - codes_end - item.pad);
      part = std::min<std::size_t>(room, 4 - from);
      std::memcpy(buf + done, item.head + from, part);
    }
    done += part;
    item.served += part;
  }
  if (item.served == item.size) {
    have_item_ = false;
    if (item.held > 0) hold_.clear();
  }
  return done;
}

template <class K>
std::size_t P7bSource::serve_records(const K& kernel, std::uint8_t* buf, std::size_t n) {
  if (window_offset_ + record_ == 0) return 0;  // it may begin without a record start
  std::size_t at = record_;
  std::size_t done = 0;
  std::uint64_t records = 0;
  for (;;) {
    const std::size_t end = next_start(at + 1);
    const std::size_t frames = end - at;
    if (end == scanned_ || end > clean_to_ || frames == 1 || frames > longest_record_) break;
    const std::size_t size = 8 + frames + frames % 2;
    if (size > n - done) break;
    std::uint8_t* const out = buf + done;
    put_le32(out, static_cast<std::uint32_t>(frames));
    kernel.put_codes(window_ + at, frames, out + 4);
    out[4 + frames] = 0;  // the pad byte, if any, or overwritten
    put_le32(out + 4 + frames + frames % 2, static_cast<std::uint32_t>(frames));
    remember(frames);
    ++records;
    done += size;
    at = end;
  }
  number_ += records;
  record_ = at;
  return done;
}

void P7bSource::remember(std::uint64_t frames) {
  remembered_end_ += simh_bytes(frames);
  if (runs_used_ > 0) {
    Run& last = runs_[(first_run_ + runs_used_ - 1) & (ring_size_ - 1)];
    if (last.frames == frames && last.items < std::numeric_limits<std::uint32_t>::max()) {
      ++last.items;
      return;
    }
  }
  if (runs_used_ == ring_size_) {
    const Run& first = runs_[first_run_];
    const std::uint64_t first_end = run_simh_ + simh_bytes(first.frames) * first.items;
    if (ring_size_ < most_runs && remembered_end_ - first_end < recent_) {
      // Grown: its runs laid out in order from the start, the new one after them.
      std::rotate(runs_, runs_ + first_run_, runs_ + ring_size_);
      first_run_ = 0;
      ring_size_ *= 2;
    } else {
      forget_first_run();
    }
  }
  runs_[(first_run_ + runs_used_) & (ring_size_ - 1)] = {static_cast<std::uint32_t>(frames), 1};
  ++runs_used_;
}

void P7bSource::forget_first_run() {
  const Run& first = runs_[first_run_];
  run_simh_ += simh_bytes(first.frames) * first.items;
  run_dump_ += dump_bytes(first.frames) * first.items;
  first_run_ = (first_run_ + 1) & (ring_size_ - 1);
  --runs_used_;
}

std::uint64_t P7bSource::dump_offset_of(std::uint64_t simh_offset) {
  constexpr std::uint64_t none = ~std::uint64_t{0};
  while (runs_used_ > 0 && simh_offset >= run_simh_) {
    const Run& first = runs_[first_run_];
    const std::uint64_t item = simh_bytes(first.frames);
    const std::uint64_t into = simh_offset - run_simh_;
    if (into < item * first.items)
      return into % item == 0 ? run_dump_ + into / item * dump_bytes(first.frames) : none;
    forget_first_run();  // past it: the offsets asked only grow
  }
  return none;
}

bool P7bSource::fail(int error, bool in_hold) {
  if (error_ == 0) {
    error_ = error;
    failed_in_hold_ = in_hold;
  }
  return false;
}

}  // namespace reel::tape_image
