// The table that packs the bytes kept among eight to the front, shared by the kernels whose
// shuffles take eight indices from a word: a byte index past 7 gives zero in either.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace reel::bcd {

// For each mask of the bytes to keep among eight, the shuffle that packs them to the front:
// byte j of the word is the index of the j-th byte kept, 0x80 past the last.
inline constexpr std::array<std::uint64_t, 256> pack_shuffles = [] {
  std::array<std::uint64_t, 256> shuffles{};
  for (std::size_t keep = 0; keep < 256; ++keep) {
    std::uint64_t shuffle = 0;
    std::size_t kept = 0;
    for (std::size_t k = 0; k < 8; ++k)
      if ((keep >> k) & 1) shuffle |= std::uint64_t{k} << (8 * kept++);
    for (; kept < 8; ++kept) shuffle |= std::uint64_t{0x80} << (8 * kept);  // zero
    shuffles[keep] = shuffle;
  }
  return shuffles;
}();

}  // namespace reel::bcd
