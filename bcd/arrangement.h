// The print arrangements: how each six-bit 1401 character code is shown.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace reelprint::bcd {

enum class Arrangement { a, h, old_simh };

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

// The prepared arrangement the listing reads: a display character for every byte value.
// A byte above 63 shows as its low six bits, so no lookup ever leaves the 64 codes.
using DisplayTable = std::array<char, 256>;

// Returns `arrangement` with code 0 shown as `blank`, spread over all 256 byte values.
DisplayTable prepare(Arrangement arrangement, char blank);

// Translates `n` bytes of `src` into display characters at `dst`.
void translate(const DisplayTable& bcd_to_ascii, const std::uint8_t* src, std::size_t n, char* dst);

// Returns true when each of the `n` characters at `chars` is `blank`.
bool all_blank(const char* chars, std::size_t n, char blank);

// Returns the code that `arrangement` shows as `c`, or nothing if none does.
std::optional<std::uint8_t> code_of(Arrangement arrangement, char c);

}  // namespace reelprint::bcd
