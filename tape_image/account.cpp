#include "tape_image/account.h"

#include <cstdint>

#include "common/status.h"

namespace reel::tape_image {
namespace {

// Returns `count` read as a signed 32-bit number, as the listing has always shown counts.
std::string signed32(std::uint32_t count) {
  return std::to_string(static_cast<std::int32_t>(count));
}

}  // namespace

std::string hex_word(std::uint32_t word) {
  std::string digits(8, '0');
  for (int k = 7; k >= 0; --k, word >>= 4) digits[k] = "0123456789ABCDEF"[word & 15];
  return digits;
}

std::string record_name(std::uint64_t file, std::uint64_t record) {
  return "file " + std::to_string(file) + " record " + std::to_string(record);
}

std::string count_of(std::uint64_t n, std::string_view noun) {
  return std::to_string(n) + " " + std::string(noun) + (n == 1 ? "" : "s");
}

std::string how_broken(const Ending& ending) {
  switch (ending.kind) {
    case EndKind::in_data:
      return "cut short in its data, " + std::to_string(ending.bytes) + " of " +
             count_of(ending.size, "byte") + " there";
    case EndKind::before_pad:
      return "cut short before its pad byte";
    case EndKind::in_trailer:
      return "cut short in its trailing count, " + std::to_string(ending.bytes) +
             " of 4 bytes there";
    case EndKind::unequal_counts:
      // A bad record's size most often equals its trailing word's: what differs is the flag,
      // which only the words as they stand show.
      if (ending.bad)
        return "leading word " + hex_word(ending.size | bad_record_flag) + ", trailing word " +
               hex_word(ending.trailer);
      return "leading count " + std::to_string(ending.size) + ", trailing count " +
             std::to_string(ending.trailer);
    default:
      return "";
  }
}

int status_of(const Ending& ending) {
  switch (ending.kind) {
    case EndKind::empty:
    case EndKind::after_tape_mark:
    case EndKind::zero_fill:
    case EndKind::after_record:
    case EndKind::after_gap:
    case EndKind::stray_bytes:
    case EndKind::end_of_medium:
      return status_ok;
    case EndKind::in_data:
    case EndKind::read_error:
    case EndKind::half_gap:  // only ever met by a walk that reads control words
    case EndKind::reserved_word:
    case EndKind::placeholder:
      return status_read_failed;
    // A missing pad byte is no error of its own; the missing trailing count, or one cut short,
    // then reads as 0.
    case EndKind::before_pad:
    case EndKind::in_trailer:
    case EndKind::unequal_counts:
      return status_unequal_counts;
  }
  return status_read_failed;
}

std::string listing_message(const Ending& ending, std::string_view input_name) {
  switch (status_of(ending)) {
    case status_ok:
      return "";
    case status_unequal_counts: {
      const std::uint32_t trailer = ending.kind == EndKind::unequal_counts ? ending.trailer : 0;
      return std::string(listing_unequal) + ": " + signed32(ending.size) +
             " != " + signed32(trailer) + "\n";
    }
    default:
      return std::string(listing_read_error) + " " + std::string(input_name) + "\n";
  }
}

}  // namespace reel::tape_image
