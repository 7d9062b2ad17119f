// One account of how a walk of an image ended, for every program that tells it: the words of
// a broken record, the exit status a listing of the image gives there, and the listing's own
// message.
#pragma once

#include <string>
#include <string_view>

#include "tape_image/walk.h"

namespace reel::tape_image {

// The listing's messages where the image breaks, as they begin.
inline constexpr std::string_view listing_read_error = "Error reading";
inline constexpr std::string_view listing_unequal = "Unequal starting and ending record sizes";

// Returns how the record that `ending` broke in is broken, for in_data, before_pad, in_trailer
// and unequal_counts ("cut short in its data, 3 of 80 bytes there"); "" for any other ending.
std::string how_broken(const Ending& ending);

// Returns `word` as eight hexadecimal digits, as the simh format names its control words.
std::string hex_word(std::uint32_t word);

// Returns how messages name a record: "file F record R".
std::string record_name(std::uint64_t file, std::uint64_t record);

// Returns "N noun", or "N nouns" unless `n` is 1.
std::string count_of(std::uint64_t n, std::string_view noun);

// Returns the exit status that a listing gives where it reaches `ending`: 0, 3 or 4. The
// end-of-medium marker, which a listing reads as a count, ends a walk that reads control words
// with 0.
int status_of(const Ending& ending);

// Returns the listing's message where its walk, which reads every word as a count, ends in
// `ending`, reading the input named `input_name`: "" where no record breaks.
std::string listing_message(const Ending& ending, std::string_view input_name);

}  // namespace reel::tape_image
