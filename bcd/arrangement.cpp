#include "bcd/arrangement.h"

namespace reel::bcd {

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
  DisplayTable bcd_to_ascii{table_of(arrangement)};
  bcd_to_ascii.codes[blank_code] = blank;
  return bcd_to_ascii;
}

std::optional<std::uint8_t> code_of(Arrangement arrangement, char c) {
  const CodeTable& codes = table_of(arrangement);
  for (std::size_t code = 0; code < codes.size(); ++code)
    if (codes[code] == c) return static_cast<std::uint8_t>(code);
  return std::nullopt;
}

}  // namespace reel::bcd
