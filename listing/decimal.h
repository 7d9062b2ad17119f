// Decimal numbers written straight into the output: line positions and record numbers.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace reel::reelprint {

// Returns how many decimal digits `value` has.
inline std::size_t digit_count(std::uint64_t value) {
  std::size_t count = 1;
  for (; value >= 10'000; value /= 10'000) count += 4;
  return count + (value >= 10) + (value >= 100) + (value >= 1'000);
}

// "00" to "99": two digits a step halves the divisions a number takes.
inline constexpr std::array<char, 200> digit_pairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t k = 0; k < 100; ++k) {
    pairs[2 * k] = static_cast<char>('0' + k / 10);
    pairs[2 * k + 1] = static_cast<char>('0' + k % 10);
  }
  return pairs;
}();

// Writes the `count` decimal digits of `value` at `p`, each byte straight to its place (a
// number built in a scratch word and copied out would stall on the copy); returns their end.
inline char* put_digits(char* p, std::uint64_t value, std::size_t count) {
  char* digit = p + count;
  for (; value >= 100; value /= 100) {
    digit -= 2;
    std::memcpy(digit, &digit_pairs[2 * (value % 100)], 2);
  }
  if (value >= 10)
    std::memcpy(digit - 2, &digit_pairs[2 * value], 2);
  else
    digit[-1] = static_cast<char>('0' + value);
  return p + count;
}

// Writes `value` in decimal; returns the end of it.
inline char* put_decimal(char* p, std::uint64_t value) {
  return put_digits(p, value, digit_count(value));
}

// Writes `value` right-aligned in five columns (wider when it needs more), a colon and a
// space; returns the end of them.
inline char* put_position(char* p, std::uint64_t value) {
  const std::size_t count = digit_count(value);
  const std::size_t width = std::max<std::size_t>(count, 5);
  std::memcpy(p, "        ", 8);  // one fixed-size store covers the usual padding
  p = put_digits(p + width - count, value, count);
  *p++ = ':';
  *p++ = ' ';
  return p;
}

// A record number, counted up one at a time with its digits kept ready in a register: a card
// deck prints a number every 80 bytes, and dividing it down each time costs more than the
// rest of the line. Two words in all, so that a loop over records keeps it in registers.
class RecordNumber {
 public:
  explicit RecordNumber(std::uint64_t value) {
    const std::uint64_t high = value / low_limit;
    value %= low_limit;
    for (std::size_t place = 0; place < 8; ++place, value /= 10)
      digits_ |= (zero_digit + value % 10) << (8 * place);
    rest_ = high << 8 | leading_zero_bits(digits_);
  }

  // Returns the number.
  std::uint64_t value() const {
    std::uint64_t low = 0;
    for (std::size_t place = 8; place-- > 0;)
      low = low * 10 + ((digits_ >> (8 * place)) & 0xFF) - zero_digit;
    return (rest_ >> 8) * low_limit + low;
  }

  // Counts one up.
  void next() {
    // A digit 9 is the byte 0xFF: adding one carries through it and leaves 0x00, which is
    // then set to a 0 digit. Only when the units carry is there any such byte: nine times in
    // ten the add is all.
    digits_ += 1;
    if ((digits_ & 0xFF) == 0) [[unlikely]]
      carry();
  }

  // Writes the number in decimal; returns the end of it. Up to eight bytes past the end may
  // be written over.
  char* put(char* p) const {
    if (rest_ > 0xFF) [[unlikely]]
      return put_wide(p, value());
    // From 0xF6 + d to '0' + d in each byte, with no borrow between bytes; then the highest
    // digit first in memory, as text reads, and the leading zeros shifted out. A big-endian
    // word holds its highest byte first already.
    const std::uint64_t text = digits_ - 0xC6C6'C6C6'C6C6'C6C6ull;
    std::uint64_t shown;
    if constexpr (std::endian::native == std::endian::little)
      shown = __builtin_bswap64(text) >> rest_;
    else
      shown = text << rest_;
    std::memcpy(p, &shown, 8);
    return p + 8 - rest_ / 8;
  }

 private:
  // Returns the bits of the leading zero digits of `digits`: the high bytes equal to a 0
  // digit (the units always show).
  static std::uint64_t leading_zero_bits(std::uint64_t digits) {
    return static_cast<std::uint64_t>(std::countl_zero((digits ^ all_zero_digits) | 1) & ~7);
  }

  // Sets the digits that a carry left as 0x00 to 0 digits (no other byte has its top bit
  // clear); a carry out of the eighth digit left the whole word zero. The number of digits
  // shown can change only here.
  void carry() {
    const std::uint64_t high = (rest_ >> 8) + (digits_ == 0);
    const std::uint64_t wrapped = ~digits_ & 0x8080'8080'8080'8080ull;
    digits_ |= (wrapped >> 7) * zero_digit;
    rest_ = high << 8 | leading_zero_bits(digits_);
  }

  // Kept out of line, so that a loop over records is not laid out around it.
  [[gnu::noinline, gnu::cold]] static char* put_wide(char* p, std::uint64_t value) {
    return put_decimal(p, value);
  }

  static constexpr std::uint64_t zero_digit = 0xF6;  // the byte of a 0 digit
  static constexpr std::uint64_t all_zero_digits = 0xF6F6'F6F6'F6F6'F6F6ull;
  static constexpr std::uint64_t low_limit = 100'000'000;  // the low eight digits wrap here

  // The low eight decimal digits of the number, each digit d as the byte 0xF6 + d, the units
  // in the lowest byte, so that adding one carries as in decimal.
  std::uint64_t digits_ = 0;
  // The number above its low eight digits (mostly 0), times 256, plus the bits of the leading
  // zero digits of `digits_`: kept as they change, at a carry, not worked out at each `put`.
  std::uint64_t rest_;
};

}  // namespace reel::reelprint
