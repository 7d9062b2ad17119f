#include "bcd/arrangement.h"

namespace reelprint::bcd {

// Indexed by code, B A 8 4 2 1 from high bit to low.
const CodeTable bcd_to_ascii_a = {' ', '1', '2', '3', '4',  '5', '6', '7', '8', '9', '0', '#', '@',
                                  ':', '>', '{', '^', '/',  'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z',
                                  '|', ',', '%', '~', '\\', '"', '-', 'J', 'K', 'L', 'M', 'N', 'O',
                                  'P', 'Q', 'R', '!', '$',  '*', ']', ';', '_', '&', 'A', 'B', 'C',
                                  'D', 'E', 'F', 'G', 'H',  'I', '?', '.', ')', '[', '<', '}'};

// Fortran's characters where they differ: = ' ( + for # @ % &.
const CodeTable bcd_to_ascii_h = {' ', '1', '2', '3', '4',  '5', '6', '7', '8', '9', '0', '=', '\'',
                                  ':', '>', '{', '^', '/',  'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z',
                                  '|', ',', '(', '~', '\\', '"', '-', 'J', 'K', 'L', 'M', 'N', 'O',
                                  'P', 'Q', 'R', '!', '$',  '*', ']', ';', '_', '+', 'A', 'B', 'C',
                                  'D', 'E', 'F', 'G', 'H',  'I', '?', '.', ')', '[', '<', '}'};

const CodeTable bcd_to_ascii_old = {
    ' ', '1', '2', '3', '4', '5', '6', '7', '8', '9', '0',  '#', '@', ':', '>',  '(',
    '^', '/', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '\'', ',', '%', '=', '\\', '+',
    '-', 'J', 'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', '!',  '$', '*', ']', ';',  '_',
    '&', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', '?',  '.', ')', '[', '<',  '"'};

const CodeTable& table_of(Arrangement arrangement) {
  switch (arrangement) {
    case Arrangement::h:
      return bcd_to_ascii_h;
    case Arrangement::old_simh:
      return bcd_to_ascii_old;
    case Arrangement::a:
      break;
  }
  return bcd_to_ascii_a;
}

DisplayTable prepare(Arrangement arrangement, char blank) {
  const CodeTable& codes = table_of(arrangement);
  DisplayTable bcd_to_ascii{};
  for (std::size_t byte = 0; byte < bcd_to_ascii.size(); ++byte) {
    const std::size_t code = byte & 63;
    bcd_to_ascii[byte] = code == blank_code ? blank : codes[code];
  }
  return bcd_to_ascii;
}

void translate(const DisplayTable& bcd_to_ascii, const std::uint8_t* src, std::size_t n,
               char* dst) {
  for (std::size_t k = 0; k < n; ++k) dst[k] = bcd_to_ascii[src[k]];
}

bool all_blank(const char* chars, std::size_t n, char blank) {
  for (std::size_t k = 0; k < n; ++k)
    if (chars[k] != blank) return false;
  return true;
}

std::optional<std::uint8_t> code_of(Arrangement arrangement, char c) {
  const CodeTable& codes = table_of(arrangement);
  for (std::size_t code = 0; code < codes.size(); ++code)
    if (codes[code] == c) return static_cast<std::uint8_t>(code);
  return std::nullopt;
}

}  // namespace reelprint::bcd
