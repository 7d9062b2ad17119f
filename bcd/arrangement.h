// The print arrangements: how each six-bit 1401 character code is shown.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// How a block of bytes is translated; every way gives the same characters.
enum class Translation {
  scalar,      // one lookup a byte: runs everywhere
  avx2,        // four 16-entry shuffles a vector
  avx512vbmi,  // one 64-entry permute a vector
};

// Returns the fastest translation this processor runs.
Translation best_translation();

// The prepared arrangement the listing reads, with code 0 shown as the chosen blank. A byte
// above 63 shows as its low six bits, so no lookup ever leaves the 64 codes.
struct DisplayTable {
  alignas(64) CodeTable codes;  // display character of each code
  std::array<char, 256> bytes;  // display character of each byte value
  // The four quarters of `codes`, each XOR the quarter before and twice over (once for each
  // half of a 32-byte vector): the tables of the 16-entry shuffles.
  alignas(32) std::array<std::uint8_t, 128> ladder;
  Translation translation;  // how `translate` runs through it
  char operator[](std::uint8_t byte) const { return bytes[byte]; }
};

// Returns `arrangement` with code 0 shown as `blank`, translating the fastest way here.
DisplayTable prepare(Arrangement arrangement, char blank);

// Translates `n` bytes of `src` into display characters at `dst` (the two must not overlap).
void translate(const DisplayTable& bcd_to_ascii, const std::uint8_t* src, std::size_t n, char* dst);

// Returns how many of the `n` bytes at `src` come before the first word separator (any byte
// whose low six bits are code 29); `n` if none is a separator.
std::size_t until_word_separator(const DisplayTable& bcd_to_ascii, const std::uint8_t* src,
                                 std::size_t n);

// Returns true when each of the `n` characters at `chars` is `blank`. Inline, so that a loop
// over lines that calls it keeps its vector registers (a call would clobber them all).
inline bool all_blank(const char* chars, std::size_t n, char blank) {
#if defined(__SSE2__)
  // Sixteen at a time, the last block ending at the end (it may overlap the one before).
  if (n >= 16) {
    const __m128i blanks = _mm_set1_epi8(blank);
    const auto blank_block = [&](std::size_t at) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + at));
      return _mm_movemask_epi8(_mm_cmpeq_epi8(block, blanks)) == 0xFFFF;
    };
    for (std::size_t k = 0; k + 16 < n; k += 16)
      if (!blank_block(k)) return false;
    return blank_block(n - 16);
  }
#endif
  // Eight at a time: the first word usually settles it.
  const std::uint64_t blanks = 0x0101010101010101ull * static_cast<unsigned char>(blank);
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    std::uint64_t word;
    std::memcpy(&word, chars + k, 8);
    if (word != blanks) return false;
  }
  for (; k < n; ++k)
    if (chars[k] != blank) return false;
  return true;
}

// Returns the code that `arrangement` shows as `c`, or nothing if none does.
std::optional<std::uint8_t> code_of(Arrangement arrangement, char c);

}  // namespace reelprint::bcd
