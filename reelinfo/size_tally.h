// The sizes of the records of one tape file: how many, the smallest, the largest, the most
// common and the data bytes they add up to, in bounded memory however many there are.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace reelprint::reelinfo {

class SizeTally {
 public:
  // Sizes below this are counted in a table with a place for each: every record a 1401, with
  // its 16,000 characters of core at most, can write.
  static constexpr std::uint32_t small_limit = 65536;
  // Different sizes of `small_limit` or more that are counted: more in one tape file, and
  // which size is the most common is not known.
  static constexpr std::size_t most_large_sizes = 64;

  SizeTally();

  void add(std::uint32_t size);

  // Forgets every size, for the next tape file.
  void clear();

  std::uint64_t records() const { return records_; }
  std::uint32_t smallest() const { return smallest_; }
  std::uint32_t largest() const { return largest_; }
  std::uint64_t data_bytes() const { return data_bytes_; }

  // Returns the most common size and how many records have it, the smallest such size when
  // several are as common; nothing when there is no record or too many different large sizes.
  std::optional<std::pair<std::uint32_t, std::uint64_t>> most_common() const;

 private:
  std::uint64_t records_ = 0;
  std::uint32_t smallest_ = 0;
  std::uint32_t largest_ = 0;
  std::uint64_t data_bytes_ = 0;
  std::vector<std::uint64_t> small_counts_;  // records of each size below `small_limit`
  std::vector<std::uint16_t> small_seen_;    // the sizes counted there, each once, to clear
  std::array<std::pair<std::uint32_t, std::uint64_t>, most_large_sizes> large_{};  // size, count
  std::size_t large_seen_ = 0;
  bool too_many_large_ = false;  // a large size came that had no place left
};

}  // namespace reelprint::reelinfo
