#include "reeltext/messages.h"

#include <cstring>

#include "common/status.h"

namespace reel::reeltext {

int say(OutputSink& err, std::string_view input, std::string_view what, int status) {
  const std::string line = "reeltext: " + std::string(input) + ": " + std::string(what) + "\n";
  err.write(line.data(), line.size());
  return status;
}

int say_read_failed(OutputSink& err, std::string_view input, std::uint64_t offset, int error) {
  std::string what = "read error at offset " + std::to_string(offset);
  if (error != 0) what += std::string(" (") + std::strerror(error) + ")";
  return say(err, input, what, status_read_failed);
}

std::string record_place(std::uint64_t file, std::uint64_t record, std::uint64_t offset) {
  return tape_image::record_name(file, record) + " at " + std::to_string(offset);
}

std::string shown_byte(std::uint8_t byte) {
  if (byte >= 0x20 && byte < 0x7F) return {'\'', static_cast<char>(byte), '\''};
  return hex_byte(byte);
}

std::string hex_byte(std::uint8_t byte) {
  constexpr char digits[] = "0123456789ABCDEF";
  std::string shown = "byte 0x";
  shown += digits[byte >> 4];
  shown += digits[byte & 15];
  return shown;
}

std::string_view name_of(bcd::Arrangement arrangement) {
  switch (arrangement) {
    case bcd::Arrangement::h:
      return "H";
    case bcd::Arrangement::old_simh:
      return "'old simh'";
    case bcd::Arrangement::a:
      break;
  }
  return "A";
}

}  // namespace reel::reeltext
