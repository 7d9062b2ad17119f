#include "reelinfo/size_tally.h"

#include <algorithm>

namespace reel::reelinfo {

SizeTally::SizeTally() : small_counts_(small_limit) { small_seen_.reserve(small_limit); }

void SizeTally::settle() {
  if (run_ == 0) return;
  const std::uint32_t size = run_size_;
  const std::uint64_t count = run_;
  run_ = 0;
  counted_.smallest = counted_.records == 0 ? size : std::min(counted_.smallest, size);
  counted_.largest = std::max(counted_.largest, size);
  counted_.records += count;
  counted_.data_bytes += count * size;
  if (size < small_limit) {
    if (small_counts_[size] == 0) small_seen_.push_back(static_cast<std::uint16_t>(size));
    small_counts_[size] += count;
    return;
  }
  const auto seen = large_.begin() + static_cast<std::ptrdiff_t>(large_seen_);
  const auto found =
      std::find_if(large_.begin(), seen, [&](const auto& entry) { return entry.first == size; });
  if (found != seen) {
    found->second += count;
  } else if (large_seen_ < large_.size()) {
    large_[large_seen_++] = {size, count};
  } else {
    too_many_large_ = true;
  }
}

SizeTally::Summary SizeTally::summary() {
  settle();
  Summary summary = counted_;
  if (summary.records == 0 || too_many_large_) return summary;
  std::pair<std::uint32_t, std::uint64_t> best{0, 0};
  const auto consider = [&](std::uint32_t size, std::uint64_t count) {
    if (count > best.second || (count == best.second && size < best.first)) best = {size, count};
  };
  for (const std::uint16_t size : small_seen_) consider(size, small_counts_[size]);
  for (std::size_t k = 0; k < large_seen_; ++k) consider(large_[k].first, large_[k].second);
  summary.most_common = best;
  return summary;
}

void SizeTally::clear() {
  // Only the places used: a tape file of cards uses one, and an image may hold many files.
  for (const std::uint16_t size : small_seen_) small_counts_[size] = 0;
  small_seen_.clear();
  large_seen_ = 0;
  too_many_large_ = false;
  run_ = 0;
  counted_ = {};
}

}  // namespace reel::reelinfo
