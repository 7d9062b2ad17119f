// The messages of reeltext on standard error: "reeltext: INPUT: what", one line each.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bcd/arrangement.h"
#include "common/output.h"
#include "tape_image/account.h"

namespace reel::reeltext {

// Says `what` about the input named `input` on `err`; returns `status`.
int say(OutputSink& err, std::string_view input, std::string_view what, int status);

// Says that reading `input` failed at `offset`, errno `error` telling why (0: unknown); returns
// the status.
int say_read_failed(OutputSink& err, std::string_view input, std::uint64_t offset, int error);

// Returns the place of a record in messages: "file F record R at O".
std::string record_place(std::uint64_t file, std::uint64_t record, std::uint64_t offset);

// Returns how a message shows the byte `byte`: 'x' when it is a printable ASCII character, else
// "byte 0xHH".
std::string shown_byte(std::uint8_t byte);

// Returns how a message shows a byte of an image: "byte 0xHH".
std::string hex_byte(std::uint8_t byte);

using tape_image::count_of;
using tape_image::hex_word;

// Returns the arrangement's name in messages: "A", "H" or "'old simh'".
std::string_view name_of(bcd::Arrangement arrangement);

}  // namespace reel::reeltext
