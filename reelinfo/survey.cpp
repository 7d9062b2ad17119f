#include "reelinfo/survey.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "common/aligned_buffer.h"

namespace reelprint::reelinfo {
namespace {

using tape_image::load_le32;
using tape_image::pad_after;

constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();  // no byte needed
constexpr std::size_t buffer_size = 128 * 1024;
constexpr std::uint32_t bad_flag = tape_image::bad_record_flag;

// How a walk reads the words where counts stand.
struct Reading {
  Framing framing;
  bool control_words;  // simh's control words are read as such, not as counts
  bool swapped;        // counts are big-endian
};

// One walk through the items of an image, fed the image's bytes a window at a time. It says
// which byte it needs next, so that bytes no walk needs need not be read. It can pause where
// another walk is to part from it: at its first odd-length record, which the other framing
// reads otherwise, and at its first control word, which reelprint reads as a count.
class Walk {
 public:
  enum class Pause { none, odd_record, control_word };

  Walk(Reading reading, std::size_t first_bytes, SurveyListener* listener, bool may_pause)
      : reading_(reading),
        first_bytes_(std::min(first_bytes, most_first_bytes)),
        listener_(listener),
        pause_at_odd_(may_pause),
        pause_at_word_(may_pause && reading.control_words) {}

  // Returns the offset of the next byte the walk needs, or `never` once it has ended.
  std::uint64_t next() const { return ended_ ? never : pos_; }

  // Returns why the walk stands paused, if it does.
  Pause paused() const { return paused_; }

  // Returns the word the walk paused at, and where it stands.
  std::uint32_t word() const { return word_; }
  std::uint64_t item_at() const { return item_at_; }

  // Returns a copy of this walk, from where it paused, that tells no listener, does not pause
  // again, and goes on in `framing` (paused at an odd-length record) or reading every word as
  // a count (paused at a control word).
  Walk fork(Framing framing) const {
    Walk other = *this;
    other.reading_.framing = framing;
    other.first_bytes_ = 0;
    other.listener_ = nullptr;
    other.pause_at_odd_ = other.pause_at_word_ = false;
    if (paused_ == Pause::control_word) other.reading_.control_words = false;
    other.resume();
    return other;
  }

  // Goes on after a pause, no longer pausing for that reason.
  void resume() {
    const Pause was = paused_;
    paused_ = Pause::none;
    if (was == Pause::odd_record) after_count();
    if (was == Pause::control_word) take_count(word_);
  }

  // Walks through the `n` bytes at `bytes`, which lie at offset `at` of the image; uses those
  // from `next()` on. Stops at the end of the window, at the end of the walk, or at a pause.
  void take(const std::uint8_t* bytes, std::size_t n, std::uint64_t at) {
    const std::uint64_t end = at + n;
    while (!ended_ && paused_ == Pause::none && pos_ < end) {
      const std::uint8_t* const p = bytes + (pos_ - at);
      const auto avail = static_cast<std::size_t>(end - pos_);
      switch (part_) {
        case Part::count:
          if (count_had_ == 0 && !reading_.swapped && held_ == 0) {
            const std::size_t taken = take_whole_records(p, avail);
            if (taken > 0) {
              pos_ += taken;
              break;
            }
          }
          if (gather_count(p, avail)) take_count(count_);
          break;
        case Part::data: {
          const std::size_t wanted = std::min<std::size_t>(first_bytes_, size_);
          const std::size_t part = std::min(avail, wanted - first_had_);
          std::memcpy(first_.data() + first_had_, p, part);
          first_had_ += part;
          pos_ += part;
          if (first_had_ == wanted) to_trailer();
          break;
        }
        case Part::trailer:
          if (gather_count(p, avail)) take_trailer();
          break;
      }
    }
  }

  // Ends the walk at the end of the image, `size` bytes long.
  void finish(std::uint64_t size) {
    if (ended_) {
      if (ending_.kind == EndKind::end_of_medium || ending_.kind == EndKind::unequal_counts ||
          ending_.kind == EndKind::half_gap || ending_.kind == EndKind::reserved_word ||
          ending_.kind == EndKind::placeholder)
        ending_.bytes = size - pos_;
      return;
    }
    if (part_ == Part::count) {
      // Zero words after the end of the recorded tape, and 1 to 3 zero bytes after them, up to
      // the end of the image: it was padded, as images copied by blocks are.
      const bool zero_after = count_had_ > 0 ? count_ == 0 : held_ > 0;
      if (reading_.control_words && marks_in_row_ >= 2 && zero_after) {
        end(EndKind::zero_fill, fill_at_);
        ending_.bytes = size - fill_at_;
        return;
      }
      tell_held();
      if (count_had_ > 0) {
        end(EndKind::stray_bytes, item_at_);
        ending_.bytes = count_had_;
      } else {
        end(last_, pos_);
      }
      return;
    }
    const std::uint64_t data_end = data_at_ + size_;
    if (size < data_end) {
      end_in_record(EndKind::in_data);
      ending_.bytes = size - data_at_;
    } else if (size < trailer_at()) {
      end_in_record(EndKind::before_pad);
    } else {
      end_in_record(EndKind::in_trailer);
      ending_.bytes = size - trailer_at();
    }
  }

  // Ends the walk where a read failed.
  void fail() {
    if (ended_) return;
    tell_held();
    if (part_ == Part::count) {
      end(EndKind::read_error, item_at_);
    } else {
      end_in_record(EndKind::read_error);
    }
  }

  // Returns how the walk ended, once `finish` or `fail` has been called.
  const Ending& ending() const { return ending_; }

 private:
  enum class Part { count, data, trailer };  // where in an item the walk is

  // Takes the records that lie whole in the `avail` bytes at `p`, where a count begins, and
  // end well; stops before anything else (a tape mark, a control word, a record cut off by the
  // window's end or that breaks, the first odd-length one when the walk pauses there), which
  // is read the usual way. Returns the bytes taken. Most records of an image are such, and a
  // record taken in one go costs a fraction of one read part by part. Records of one size in
  // a row (a card deck) are told as one run, unless their data bytes are shown.
  std::size_t take_whole_records(const std::uint8_t* p, std::size_t avail) {
    SurveyRecord run{};  // the run being gathered; none while `count` is 0
    const auto tell = [&] {
      if (run.count > 0 && listener_ != nullptr) listener_->records(run);
      run.count = 0;
    };
    // A whole record lies within the window, so no size can be larger; nor can a control word.
    const auto most = static_cast<std::uint32_t>(std::min<std::size_t>(avail, 0x7FFF'FFFF));
    const std::size_t taken = tape_image::take_whole_records(
        {p, avail}, most, reading_.framing, [&](const std::uint8_t* data, std::uint32_t size) {
          if (pause_at_odd_ && size % 2 == 1) return false;
          if (first_bytes_ > 0 || size != run.size) tell();
          if (run.count == 0) {
            const std::size_t shown = std::min<std::size_t>(first_bytes_, size);
            run = {file_, record_ + 1, pos_ + static_cast<std::uint64_t>(data - 4 - p), size, 0,
                   {data, shown}};
          }
          ++run.count;
          ++record_;
          ++ending_.records;
          return true;
        });
    tell();
    if (taken > 0) {
      last_ = EndKind::after_record;
      marks_in_row_ = 0;
    }
    item_at_ = pos_ + taken;
    return taken;
  }

  // Adds what is at `p` to the count being gathered; returns whether it is whole.
  bool gather_count(const std::uint8_t* p, std::size_t avail) {
    if (count_had_ == 0 && avail >= 4) {
      count_ = load_le32(p);
      pos_ += 4;
    } else {
      count_ |= static_cast<std::uint32_t>(*p) << (8 * count_had_);
      ++pos_;
      if (++count_had_ < 4) return false;
      count_had_ = 0;
    }
    if (reading_.swapped) count_ = __builtin_bswap32(count_);
    return true;
  }

  // Acts on the leading word just gathered: a tape mark, the start of a record, or a control
  // word.
  void take_count(std::uint32_t count) {
    count_ = 0;
    const WordKind kind = kind_of(count);
    if (count == 0) {
      take_tape_mark();
      return;
    }
    tell_held();  // something follows them: they were tape marks
    marks_in_row_ = 0;
    if (kind == WordKind::end_of_medium) {
      end(EndKind::end_of_medium, item_at_);
      return;
    }
    if (kind != WordKind::count && reading_.control_words) {
      if (pause_at_word_) {
        pause_at_word_ = false;
        paused_ = Pause::control_word;
        word_ = count;
        return;
      }
      switch (kind) {
        case WordKind::erase_gap:
          if (listener_ != nullptr) listener_->erase_gap(item_at_);
          last_ = EndKind::after_gap;
          item_at_ = pos_;
          return;
        case WordKind::half_gap:
        case WordKind::placeholder:
        case WordKind::reserved:
          end(kind == WordKind::half_gap      ? EndKind::half_gap
              : kind == WordKind::placeholder ? EndKind::placeholder
                                              : EndKind::reserved_word,
              item_at_);
          ending_.word = count;
          return;
        default:  // a bad record: framed as any other, its size in the low bits
          break;
      }
    }
    const bool bad = kind == WordKind::bad_record && reading_.control_words;
    size_ = bad ? count & ~bad_flag : count;
    leading_ = count;
    bad_ = bad;
    data_at_ = pos_;
    if (pause_at_odd_ && size_ % 2 == 1) {
      pause_at_odd_ = false;
      paused_ = Pause::odd_record;
      return;
    }
    after_count();
  }

  // Takes a tape mark. Reading control words, as simh does, two in a row end the recorded
  // tape: those after them are held back, untold, while nothing else follows, so that zero
  // bytes up to the end of the image are not taken for tape files.
  void take_tape_mark() {
    if (++marks_in_row_ == 2) fill_at_ = pos_;
    if (marks_in_row_ > 2 && reading_.control_words) {
      ++held_;
    } else if (listener_ != nullptr) {
      listener_->tape_mark(file_, item_at_);
    }
    ++file_;
    record_ = 0;
    last_ = EndKind::after_tape_mark;
    item_at_ = pos_;
  }

  // Tells the tape marks held back, now that something else follows them.
  void tell_held() {
    if (listener_ != nullptr) {
      for (std::uint64_t k = 0; k < held_; ++k)
        listener_->tape_mark(file_ - held_ + k, fill_at_ + 4 * k);
    }
    held_ = 0;
  }

  // Sets out on the data of the record whose count was just read.
  void after_count() {
    part_ = Part::data;
    first_had_ = 0;
    if (std::min<std::size_t>(first_bytes_, size_) == 0) to_trailer();
  }

  // Returns where the trailing count of the record being read begins.
  std::uint64_t trailer_at() const {
    return data_at_ + size_ + pad_after(size_, reading_.framing);
  }

  // Passes over the data bytes not shown, and the pad byte, to the trailing count.
  void to_trailer() {
    part_ = Part::trailer;
    pos_ = trailer_at();
  }

  // Acts on the trailing count just gathered: the record ends well, or the walk breaks here.
  void take_trailer() {
    const std::uint32_t trailer = count_;
    count_ = 0;
    if (trailer != leading_) {  // a bad record's repeats its flag
      end_in_record(EndKind::unequal_counts);
      ending_.trailer = trailer;
      return;
    }
    ++record_;
    ++ending_.records;
    if (listener_ != nullptr)
      listener_->records(
          {file_, record_, item_at_, size_, 1, {first_.data(), first_had_}, bad_});
    last_ = EndKind::after_record;
    part_ = Part::count;
    item_at_ = pos_;
  }

  // Ends the walk with `kind`, the items framed well up to `at`.
  void end(EndKind kind, std::uint64_t at) {
    ended_ = true;
    ending_.kind = kind;
    ending_.at = at;
    ending_.file = file_;
  }

  // Ends the walk inside the record being read.
  void end_in_record(EndKind kind) {
    end(kind, item_at_);
    ending_.in_record = true;
    ending_.record = record_ + 1;
    ending_.size = size_;
    ending_.bad = bad_;
  }

  Reading reading_;
  std::size_t first_bytes_;  // data bytes of each record to show
  SurveyListener* listener_;
  bool pause_at_odd_;   // pauses at the next odd-length record
  bool pause_at_word_;  // pauses at the next control word
  Pause paused_ = Pause::none;
  std::uint32_t word_ = 0;  // the control word it paused at
  bool ended_ = false;
  Ending ending_;

  std::uint64_t pos_ = 0;      // offset of the next byte needed
  Part part_ = Part::count;
  std::uint64_t item_at_ = 0;  // where the item being read begins
  std::uint32_t count_ = 0;    // the count being gathered, a byte at a time at a window's end
  unsigned count_had_ = 0;     // bytes of it gathered so far
  std::uint32_t size_ = 0;     // data bytes of the record being read
  std::uint32_t leading_ = 0;  // its leading word, which its trailing one repeats
  bool bad_ = false;           // it is a bad record
  std::uint64_t data_at_ = 0;  // where its data begins
  std::array<std::uint8_t, most_first_bytes> first_{};  // its first data bytes
  std::size_t first_had_ = 0;
  std::uint64_t file_ = 1;    // the tape file being read
  std::uint64_t record_ = 0;  // records read whole in it
  std::uint64_t marks_in_row_ = 0;  // tape marks one after another, the last items read
  std::uint64_t held_ = 0;          // of them, those past the first two, not yet told
  std::uint64_t fill_at_ = 0;       // where those begin: after the second
  EndKind last_ = EndKind::empty;  // the ending if the image ended here: after what
};

// Returns the other framing than `framing`.
Framing other_than(Framing framing) {
  return framing == Framing::simh ? Framing::e11 : Framing::simh;
}

}  // namespace

Survey survey(InputSource& source, Framing framing, std::size_t first_bytes,
              SurveyListener& listener) {
  const AlignedBuffer<std::uint8_t> storage(buffer_size);
  const std::span<std::uint8_t> buffer(storage.data(), buffer_size);
  Survey result;
  // The walk asked for, the only one that pauses and tells the listener, comes first; the
  // others part from it where it pauses.
  std::vector<Walk> walks;
  walks.reserve(4);
  walks.emplace_back(Reading{framing, true, false}, first_bytes, &listener, true);
  walks.emplace_back(Reading{framing, true, true}, 0, nullptr, false);
  std::size_t as_listed = 0;  // where in `walks` the walk as reelprint reads stands, if any
  std::size_t other = 0;      // likewise the walk in the other framing
  std::uint64_t base = 0;     // offset of the window of bytes in `buffer`
  std::size_t filled = 0;     // bytes in it
  for (;;) {
    std::uint64_t need = never;
    for (const Walk& walk : walks) need = std::min(need, walk.next());
    if (need < base + filled) {
      Walk& chosen = walks.front();
      chosen.take(buffer.data(), filled, base);
      if (chosen.paused() != Walk::Pause::none) {
        const bool at_word = chosen.paused() == Walk::Pause::control_word;
        if (at_word) {
          as_listed = walks.size();
          result.parted_at = chosen.item_at();
          result.parted_word = chosen.word();
        } else {
          other = walks.size();
        }
        walks.push_back(chosen.fork(at_word ? framing : other_than(framing)));
        walks.front().resume();
        continue;
      }
      for (std::size_t k = 1; k < walks.size(); ++k) walks[k].take(buffer.data(), filled, base);
      continue;
    }
    // No byte of the window is needed any more: on to the next one needed, passing over the
    // bytes before it when that saves reading a buffer or more (but not the image's first
    // bytes, kept to tell what they are); once every walk has ended, on to the end, for the
    // image's size.
    base += filled;
    filled = 0;
    const std::uint64_t gap = need - base;
    if (gap >= buffer_size && base >= head_bytes) {
      for (std::uint64_t skipped = 1; skipped > 0 && base < need;)
        base += skipped = source.skip(need - base);
    }
    errno = 0;
    const std::ptrdiff_t got = source.read(buffer.data(), buffer.size());
    if (got < 0) {
      result.read_failed = true;
      result.read_errno = errno;
      for (Walk& walk : walks) walk.fail();
      break;
    }
    if (got == 0) break;
    filled = static_cast<std::size_t>(got);
    if (base == result.head_size && base < head_bytes) {  // the image's start, unskipped
      const std::size_t more = std::min<std::size_t>(filled, head_bytes - result.head_size);
      std::memcpy(result.head.data() + result.head_size, buffer.data(), more);
      result.head_size += more;
    }
  }
  result.size = base + filled;
  for (Walk& walk : walks) walk.finish(result.size);
  result.ending = walks[0].ending();
  result.swapped = walks[1].ending();
  if (as_listed != 0) result.as_listed = walks[as_listed].ending();
  if (other != 0) result.other = walks[other].ending();
  return result;
}

}  // namespace reelprint::reelinfo
