// splitmix64: small, fast, and the same everywhere, so that benchmark and test images made
// from one seed are the same bytes on every machine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace reel {

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Returns a number from 0 to `n` - 1.
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
  // Returns a number from `low` to `high`, both included.
  std::uint32_t between(std::uint32_t low, std::uint32_t high) {
    return low + static_cast<std::uint32_t>(next() % (high - low + 1));
  }

 private:
  std::uint64_t state_;
};

}  // namespace reel
