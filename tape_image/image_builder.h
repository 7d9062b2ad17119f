// Writes tape images: the framing the reader takes apart, for tests and the example tape.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tape_image/control_word.h"
#include "tape_image/framing.h"

namespace reel::tape_image {

class ImageBuilder {
 public:
  explicit ImageBuilder(Framing framing = Framing::simh) : framing_(framing) {}

  // Appends a record of `data`: count, data, pad byte if due, count.
  ImageBuilder& record(std::span<const std::uint8_t> data) {
    const auto size = static_cast<std::uint32_t>(data.size());
    count(size);
    raw(data);
    if (pad_after(size, framing_) != 0) bytes_.push_back(0);
    return count(size);
  }

  // Appends a bad record of `data` (at most `largest_bad_record` bytes): framed as a record, its
  // words flagged.
  ImageBuilder& bad_record(std::span<const std::uint8_t> data) {
    const auto word = static_cast<std::uint32_t>(data.size()) | bad_record_flag;
    count(word);
    raw(data);
    if (pad_after(data.size(), framing_) != 0) bytes_.push_back(0);
    return count(word);
  }

  ImageBuilder& tape_mark() { return count(0); }

  // Appends one byte count, little-endian.
  ImageBuilder& count(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
      bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
    return *this;
  }

  // Appends bytes as they are, for framing that is wrong on purpose.
  ImageBuilder& raw(std::span<const std::uint8_t> data) {
    for (const std::uint8_t byte : data) bytes_.push_back(byte);
    return *this;
  }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  Framing framing_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace reel::tape_image
