// The sizes of the records of one tape file: how many, the smallest, the largest, the most
// common and the data bytes they add up to, in bounded memory however many there are.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace reel::reelinfo {

class SizeTally {
 public:
  // Sizes below this are counted in a table with a place for each: every record a 1401, with
  // its 16,000 characters of core at most, can write.
  static constexpr std::uint32_t small_limit = 65536;
  // Different sizes of `small_limit` or more that are counted: with more in one tape file,
  // which size is the most common is not known.
  static constexpr std::size_t most_large_sizes = 64;

  struct Summary {
    std::uint64_t records = 0;
    std::uint32_t smallest = 0;  // 0 when there is no record
    std::uint32_t largest = 0;
    std::uint64_t data_bytes = 0;
    // The most common size and how many records have it, the smallest such size when several
    // are as common; nothing when there is no record or too many different large sizes.
    std::optional<std::pair<std::uint32_t, std::uint64_t>> most_common;
  };

  SizeTally();

  // Counts `count` records of `size` data bytes. Records of the size of those before, as most
  // are, only lengthen a run.
  void add(std::uint32_t size, std::uint64_t count = 1) {
    if (size == run_size_) {
      run_ += count;
      return;
    }
    settle();
    run_size_ = size;
    run_ = count;
  }

  // Returns what was counted since the last `clear`.
  Summary summary();

  // Forgets every size, for the next tape file.
  void clear();

 private:
  // Counts the run of records of one size.
  void settle();

  std::uint32_t run_size_ = 0;               // size of the run of records not yet counted
  std::uint64_t run_ = 0;                    // records in it
  Summary counted_;                          // less the most common size
  std::vector<std::uint64_t> small_counts_;  // records of each size below `small_limit`
  std::vector<std::uint16_t> small_seen_;    // the sizes counted there, each once, to clear
  std::array<std::pair<std::uint32_t, std::uint64_t>, most_large_sizes> large_{};  // size, count
  std::size_t large_seen_ = 0;
  bool too_many_large_ = false;  // a large size came that had no place left
};

}  // namespace reel::reelinfo
