// The print arrangements: how each six-bit 1401 character code is shown.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace reel::bcd {

enum class Arrangement { a, h, old_simh };

// Returns the arrangement an option letter names: 'h' H (Fortran), 'o' the 'old simh' one; any
// other, A.
constexpr Arrangement arrangement_named(int letter) {
  return letter == 'h' ? Arrangement::h : letter == 'o' ? Arrangement::old_simh : Arrangement::a;
}

inline constexpr std::uint8_t blank_code = 0;
// Stands on tape before a character that carries a word mark.
inline constexpr std::uint8_t word_separator = 29;

// One display character per code 0 to 63, code 0 (the blank) first.
using CodeTable = std::array<char, 64>;
extern const CodeTable bcd_to_ascii_a;    // arrangement A, the default
extern const CodeTable bcd_to_ascii_h;    // arrangement H (Fortran)
extern const CodeTable bcd_to_ascii_old;  // the 'old simh' arrangement

// Returns the fixed table of `arrangement`.
const CodeTable& table_of(Arrangement arrangement);

// The prepared arrangement the listing reads: plain data, code 0 shown as the chosen blank.
// The kernels that translate through it make their own tables from it.
struct DisplayTable {
  alignas(64) CodeTable codes;  // display character of each code
  // Returns the display character of `byte`: a byte above 63 shows as its low six bits, so no
  // lookup ever leaves the 64 codes.
  char operator[](std::uint8_t byte) const { return codes[byte & 63]; }
};

// Returns `arrangement` with code 0 shown as `blank`.
DisplayTable prepare(Arrangement arrangement, char blank);

// Returns the code that `arrangement` shows as `c`, or nothing if none does.
std::optional<std::uint8_t> code_of(Arrangement arrangement, char c);

}  // namespace reel::bcd
