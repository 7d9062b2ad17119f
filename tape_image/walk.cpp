#include "tape_image/walk.h"

namespace reel::tape_image {

Walk Walk::fork(Framing framing) const {
  Walk other = *this;
  other.reading_.framing = framing;
  other.pause_at_odd_ = other.pause_at_word_ = false;
  if (paused_ == Pause::control_word) other.reading_.control_words = false;
  return other;
}

void Walk::finish(std::uint64_t size) {
  if (ended_) {
    if (ending_.kind == EndKind::end_of_medium || ending_.kind == EndKind::unequal_counts ||
        ending_.kind == EndKind::half_gap || ending_.kind == EndKind::reserved_word ||
        ending_.kind == EndKind::placeholder)
      ending_.bytes = size - pos_;
    return;
  }
  if (part_ == Part::count) {
    if (size > pos_) {
      end(EndKind::stray_bytes, item_at_);
      ending_.bytes = size - pos_;
    } else {
      end(last_, pos_);
    }
  } else if (size < data_end()) {
    end_in_record(EndKind::in_data);
    ending_.bytes = size - data_at_;
  } else if (size < trailer_at()) {
    end_in_record(EndKind::before_pad);
  } else {
    end_in_record(EndKind::in_trailer);
    ending_.bytes = size - trailer_at();
  }
}

void Walk::fail() {
  if (ended_) return;
  if (part_ == Part::count) {
    end(EndKind::read_error, item_at_);
  } else {
    end_in_record(EndKind::read_error);
  }
}

void Walk::end(EndKind kind, std::uint64_t at) {
  ended_ = true;
  ending_.kind = kind;
  ending_.at = at;
  ending_.file = file_;
}

void Walk::end_in_record(EndKind kind) {
  end(kind, item_at_);
  ending_.in_record = true;
  ending_.record = record_ + 1;
  ending_.size = size_;
  ending_.bad = bad_;
}

}  // namespace reel::tape_image
