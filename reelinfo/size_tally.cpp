#include "reelinfo/size_tally.h"

#include <algorithm>

namespace reelprint::reelinfo {

SizeTally::SizeTally() : small_counts_(small_limit) { small_seen_.reserve(small_limit); }

void SizeTally::add(std::uint32_t size) {
  smallest_ = records_ == 0 ? size : std::min(smallest_, size);
  largest_ = std::max(largest_, size);
  ++records_;
  data_bytes_ += size;
  if (size < small_limit) {
    if (small_counts_[size]++ == 0) small_seen_.push_back(static_cast<std::uint16_t>(size));
    return;
  }
  const auto seen = large_.begin() + static_cast<std::ptrdiff_t>(large_seen_);
  const auto found = std::find_if(large_.begin(), seen, [&](const auto& s) { return s.first == size; });
  if (found != seen) {
    ++found->second;
  } else if (large_seen_ < large_.size()) {
    large_[large_seen_++] = {size, 1};
  } else {
    too_many_large_ = true;
  }
}

void SizeTally::clear() {
  // Only the places used: a tape file of cards touches one, and an image may hold many files.
  for (const std::uint16_t size : small_seen_) small_counts_[size] = 0;
  small_seen_.clear();
  large_seen_ = 0;
  too_many_large_ = false;
  records_ = 0;
  smallest_ = largest_ = 0;
  data_bytes_ = 0;
}

std::optional<std::pair<std::uint32_t, std::uint64_t>> SizeTally::most_common() const {
  if (records_ == 0 || too_many_large_) return std::nullopt;
  std::pair<std::uint32_t, std::uint64_t> best{0, 0};
  const auto consider = [&](std::uint32_t size, std::uint64_t count) {
    if (count > best.second || (count == best.second && size < best.first)) best = {size, count};
  };
  for (const std::uint16_t size : small_seen_) consider(size, small_counts_[size]);
  for (std::size_t k = 0; k < large_seen_; ++k) consider(large_[k].first, large_[k].second);
  return best;
}

}  // namespace reelprint::reelinfo
