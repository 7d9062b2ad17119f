#include "tape_image/survey.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

#include "common/aligned_buffer.h"

namespace reelprint::tape_image {
namespace {

constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();  // no byte needed
constexpr std::uint32_t end_of_medium_count = 0xFFFFFFFF;
constexpr std::size_t buffer_size = 128 * 1024;

// One walk through the items of an image in one framing, fed the image's bytes a window at a
// time. It says which byte it needs next, so that bytes no walk needs need not be read.
class Walk {
 public:
  Walk(Framing framing, std::size_t first_bytes, SurveyListener* listener, bool pause_at_odd)
      : framing_(framing),
        first_bytes_(std::min(first_bytes, most_first_bytes)),
        listener_(listener),
        pause_at_odd_(pause_at_odd) {}

  // Returns the offset of the next byte the walk needs, or `never` once it has ended.
  std::uint64_t next() const { return ended_ ? never : pos_; }

  // Returns whether the walk stopped at its first odd-length record, which the other framing
  // reads otherwise, for the caller to start a walk in that framing from here.
  bool paused() const { return paused_; }

  // Returns a copy of this walk, paused at its first odd-length record, that goes on in
  // `framing` and tells no listener.
  Walk fork(Framing framing) const {
    Walk other = *this;
    other.framing_ = framing;
    other.first_bytes_ = 0;
    other.listener_ = nullptr;
    other.paused_ = false;
    other.after_count();
    return other;
  }

  // Goes on after a pause, no longer pausing.
  void resume() {
    paused_ = false;
    after_count();
  }

  // Walks through the `n` bytes at `bytes`, which lie at offset `at` of the image; uses those
  // from `next()` on. Stops at the end of the window, at the end of the walk, or at a pause.
  void take(const std::uint8_t* bytes, std::size_t n, std::uint64_t at) {
    const std::uint64_t end = at + n;
    while (!ended_ && !paused_ && pos_ < end) {
      const std::uint8_t* const p = bytes + (pos_ - at);
      const auto avail = static_cast<std::size_t>(end - pos_);
      switch (part_) {
        case Part::count:
          if (count_had_ == 0) {
            const std::size_t taken = take_whole_records(p, avail);
            if (taken > 0) {
              pos_ += taken;
              break;
            }
          }
          if (gather_count(p, avail)) take_count();
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
      if (ending_.kind == EndKind::end_of_medium || ending_.kind == EndKind::unequal_counts)
        ending_.bytes = size - pos_;
      return;
    }
    if (part_ == Part::count) {
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
  // end well; stops before anything else (a tape mark, a record cut off by the window's end
  // or that breaks, the first odd-length one when the walk pauses there), which is read the
  // usual way. Returns the bytes taken. Most records of an image are such, and a record taken
  // in one go costs a fraction of one read part by part. Records of one size in a row (a card
  // deck) are told as one run, unless their data bytes are shown.
  std::size_t take_whole_records(const std::uint8_t* p, std::size_t avail) {
    SurveyRecord run{};  // the run being gathered; none while `count` is 0
    const auto tell = [&] {
      if (run.count > 0 && listener_ != nullptr) listener_->records(run);
      run.count = 0;
    };
    // A whole record lies within the window, so no size can be larger.
    const auto most = static_cast<std::uint32_t>(std::min<std::size_t>(avail, 0xFFFF'FFFE));
    const std::size_t taken = tape_image::take_whole_records(
        {p, avail}, most, framing_, [&](const std::uint8_t* data, std::uint32_t size) {
          if (pause_at_odd_ && size % 2 == 1) return false;
          if (first_bytes_ > 0 || size != run.size) tell();
          if (run.count == 0) {
            const std::size_t shown = std::min<std::size_t>(first_bytes_, size);
            run = {file_, record_ + 1, pos_ + static_cast<std::uint64_t>(data - 4 - p), size, 0,
                   {data, shown}};
          }
          ++run.count;
          ++record_;
          return true;
        });
    tell();
    if (taken > 0) last_ = EndKind::after_record;
    item_at_ = pos_ + taken;
    return taken;
  }

  // Adds what is at `p` to the count being gathered; returns whether it is whole.
  bool gather_count(const std::uint8_t* p, std::size_t avail) {
    if (count_had_ == 0 && avail >= 4) {
      count_ = load_le32(p);
      pos_ += 4;
      return true;
    }
    count_ |= static_cast<std::uint32_t>(*p) << (8 * count_had_);
    ++pos_;
    if (++count_had_ < 4) return false;
    count_had_ = 0;
    return true;
  }

  // Acts on the leading count just gathered: a tape mark, the end-of-medium marker, or the
  // start of a record.
  void take_count() {
    const std::uint32_t count = count_;
    count_ = 0;
    if (count == 0) {
      if (listener_ != nullptr) listener_->tape_mark(file_, item_at_);
      ++file_;
      record_ = 0;
      last_ = EndKind::after_tape_mark;
      item_at_ = pos_;
      return;
    }
    if (count == end_of_medium_count) {
      end(EndKind::end_of_medium, item_at_);
      return;
    }
    size_ = count;
    data_at_ = pos_;
    if (pause_at_odd_ && count % 2 == 1) {
      pause_at_odd_ = false;
      paused_ = true;
      return;
    }
    after_count();
  }

  // Sets out on the data of the record whose count was just read.
  void after_count() {
    part_ = Part::data;
    first_had_ = 0;
    if (std::min<std::size_t>(first_bytes_, size_) == 0) to_trailer();
  }

  // Returns where the trailing count of the record being read begins.
  std::uint64_t trailer_at() const { return data_at_ + size_ + pad_after(size_, framing_); }

  // Passes over the data bytes not shown, and the pad byte, to the trailing count.
  void to_trailer() {
    part_ = Part::trailer;
    pos_ = trailer_at();
  }

  // Acts on the trailing count just gathered: the record ends well, or the walk breaks here.
  void take_trailer() {
    const std::uint32_t trailer = count_;
    count_ = 0;
    if (trailer != size_) {
      end_in_record(EndKind::unequal_counts);
      ending_.trailer = trailer;
      return;
    }
    ++record_;
    if (listener_ != nullptr)
      listener_->records({file_, record_, item_at_, size_, 1, {first_.data(), first_had_}});
    last_ = EndKind::after_record;
    part_ = Part::count;
    item_at_ = pos_;
  }

  // Ends the walk with `kind`, the items framed well up to `at`.
  void end(EndKind kind, std::uint64_t at) {
    ended_ = true;
    ending_.kind = kind;
    ending_.at = at;
  }

  // Ends the walk inside the record being read.
  void end_in_record(EndKind kind) {
    end(kind, item_at_);
    ending_.in_record = true;
    ending_.file = file_;
    ending_.record = record_ + 1;
    ending_.size = size_;
  }

  Framing framing_;
  std::size_t first_bytes_;  // data bytes of each record to show
  SurveyListener* listener_;
  bool pause_at_odd_;
  bool paused_ = false;
  bool ended_ = false;
  Ending ending_;

  std::uint64_t pos_ = 0;      // offset of the next byte needed
  Part part_ = Part::count;
  std::uint64_t item_at_ = 0;  // where the item being read begins
  std::uint32_t count_ = 0;    // the count being gathered, a byte at a time at a window's end
  unsigned count_had_ = 0;     // bytes of it gathered so far
  std::uint32_t size_ = 0;     // leading count of the record being read
  std::uint64_t data_at_ = 0;  // where its data begins
  std::array<std::uint8_t, most_first_bytes> first_{};  // its first data bytes
  std::size_t first_had_ = 0;
  std::uint64_t file_ = 1;    // the tape file being read
  std::uint64_t record_ = 0;  // records read whole in it
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
  Walk chosen(framing, first_bytes, &listener, true);
  std::optional<Walk> other;
  std::uint64_t base = 0;  // offset of the window of bytes in `buffer`
  std::size_t filled = 0;  // bytes in it
  Survey result;
  for (;;) {
    const std::uint64_t need = std::min(chosen.next(), other ? other->next() : never);
    if (need < base + filled) {
      chosen.take(buffer.data(), filled, base);
      if (chosen.paused()) {
        other.emplace(chosen.fork(other_than(framing)));
        chosen.resume();
        continue;
      }
      if (other) other->take(buffer.data(), filled, base);
      continue;
    }
    // No byte of the window is needed any more: on to the next one needed, passing over the
    // bytes before it when that saves reading a buffer or more; once both walks have ended, on
    // to the end, for the image's size.
    base += filled;
    filled = 0;
    const std::uint64_t gap = need - base;
    if (gap >= buffer_size) {
      for (std::uint64_t skipped = 1; skipped > 0 && base < need;)
        base += skipped = source.skip(need - base);
    }
    errno = 0;
    const std::ptrdiff_t got = source.read(buffer.data(), buffer.size());
    if (got < 0) {
      result.read_failed = true;
      result.read_errno = errno;
      chosen.fail();
      if (other) other->fail();
      break;
    }
    if (got == 0) break;
    filled = static_cast<std::size_t>(got);
  }
  result.size = base + filled;
  chosen.finish(result.size);
  result.ending = chosen.ending();
  if (other) {
    other->finish(result.size);
    result.other = other->ending();
  }
  return result;
}

}  // namespace reelprint::tape_image
