// Helpers the tests share: tape images from text, and runs of the listing in memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bcd/arrangement.h"
#include "tape_image/image_builder.h"

namespace reelprint::testing {

using Bytes = std::vector<std::uint8_t>;

// Returns the codes that arrangement A shows as `text` ("~" is the word separator).
inline Bytes codes(std::string_view text) {
  Bytes out;
  for (const char c : text) out.push_back(bcd::code_of(bcd::Arrangement::a, c).value());
  return out;
}

inline Bytes repeat(std::uint8_t code, std::size_t count) { return Bytes(count, code); }

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The ruler at the default 100 characters per line, as hand-drawn.
inline const std::string ruler_100 =
    "       ....5...10...15...20...25...30...35...40...45...50...55...60...65...70...75...80."
    "..85...90...95..100\n";

}  // namespace reelprint::testing
