// The control words of the simh container: words that stand where a record's byte count
// would, and mean something else. Classified here once, for every program that reads them.
#pragma once

#include <cstdint>

namespace reel::tape_image {

// What a word that stands where a byte count should is, in an image that carries the simh
// control words.
enum class WordKind {
  count,          // 00000000 (a tape mark) to 7FFFFFFF: the byte count of a record
  bad_record,     // 80000001 to 80FFFFFF: a record read with an error, its size in bits 0-30
  erase_gap,      // FFFFFFFE: the word alone, nothing framed by it
  half_gap,       // FFFEFFFF, FFFF0000 to FFFF00FF, FFFF8000 to FFFF80FF: a gap cut short
  end_of_medium,  // FFFFFFFF: nothing after it is tape
  placeholder,    // FFFFFFFD: a record's count not yet written (see `placeholder_word`)
  reserved,       // any other word from 80000000 up
};

inline constexpr std::uint32_t bad_record_flag = 0x8000'0000;     // bit 31 of a bad record's words
inline constexpr std::uint32_t largest_bad_record = 0x00FF'FFFF;  // the size bits of its words
inline constexpr std::uint32_t erase_gap_word = 0xFFFF'FFFE;
inline constexpr std::uint32_t end_of_medium_word = 0xFFFF'FFFF;
// The largest count of a record: from 2^31 up a word is a control word.
inline constexpr std::uint32_t largest_record = 0x7FFF'FFFF;
// What the suite's writers put where a record's count goes until the record has ended, so that
// an image cut off there (its writer killed) breaks at that record: a word the container
// reserves, which no reader takes for a tape mark or a record it could read whole.
inline constexpr std::uint32_t placeholder_word = 0xFFFF'FFFD;

// Returns what `word` is.
constexpr WordKind kind_of(std::uint32_t word) {
  if (word < bad_record_flag) return WordKind::count;
  if (word == end_of_medium_word) return WordKind::end_of_medium;
  if (word == erase_gap_word) return WordKind::erase_gap;
  if (word == placeholder_word) return WordKind::placeholder;
  if (word == 0xFFFE'FFFF || (word & 0xFFFF'7F00) == 0xFFFF'0000) return WordKind::half_gap;
  if (word > bad_record_flag && word <= (bad_record_flag | largest_bad_record))
    return WordKind::bad_record;
  return WordKind::reserved;
}

}  // namespace reel::tape_image
