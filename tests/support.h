// Helpers the tests share: tape images from text, and an output in memory.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bcd/arrangement.h"
#include "common/output.h"
#include "tape_image/image_builder.h"

namespace reel::testing {

using Bytes = std::vector<std::uint8_t>;

// Returns the codes that arrangement A shows as `text` ("~" is the word separator).
inline Bytes codes(std::string_view text) {
  Bytes out;
  for (const char c : text) out.push_back(bcd::code_of(bcd::Arrangement::a, c).value());
  return out;
}

inline Bytes repeat(std::uint8_t code, std::size_t count) { return Bytes(count, code); }

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The ruler at the default 100 characters per line, as hand-drawn.
inline const std::string ruler_100 =
    "       ....5...10...15...20...25...30...35...40...45...50...55...60...65...70...75...80."
    "..85...90...95..100\n";

// Returns whether `bytes` is a good image in `framing` at this moment: whole items (records
// whose words agree, tape marks, erase gaps, the end-of-medium marker), then at most the
// placeholder of a record not yet ended and part of that record.
inline bool good_image(const std::string& bytes, tape_image::Framing framing) {
  std::size_t at = 0;
  while (bytes.size() - at >= 4) {
    std::uint32_t word = 0;
    for (int k = 3; k >= 0; --k) word = word << 8 | static_cast<std::uint8_t>(bytes[at + k]);
    if (word == 0xFFFF'FFFD) return true;
    if (word == 0 || word >= 0xFFFF'FFFE) {
      at += 4;
      continue;
    }
    const std::uint64_t size = word & 0x7FFF'FFFF;
    const std::uint64_t whole = 8 + size + (framing == tape_image::Framing::simh ? size % 2 : 0);
    if (bytes.size() - at < whole || bytes.compare(at, 4, bytes, at + whole - 4, 4) != 0)
      return false;
    at += whole;
  }
  return at == bytes.size();
}

// Keeps what it is given in `text` (or, told not to keep it, only counts it in `size`), seekable
// and then written over and cut back as a regular file is, or not; past `limit` bytes it takes
// what room is left and fails the write with `error`, as a full disk does. With `good`, notes in
// `ever_bad` whether what it holds was ever not good after a change.
class Collect final : public OutputSink {
 public:
  struct Kind {
    bool seekable = false;
    std::uint64_t limit = UINT64_MAX;
    int error = ENOSPC;
    bool keep = true;
    std::function<bool(const std::string&)> good{};
  };

  Collect() : Collect(Kind{}) {}
  explicit Collect(Kind kind) : kind_(std::move(kind)) {}

  int write(const char* data, std::size_t n) override {
    const std::uint64_t room = kind_.limit - std::min(kind_.limit, size);
    const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>(n, room));
    if (kind_.keep) text.append(data, taken);
    size += taken;
    changed();
    return n > room ? kind_.error : 0;
  }
  bool seekable() const override { return kind_.seekable; }
  int write_at(std::uint64_t offset, const char* data, std::size_t n) override {
    if (!kind_.seekable || offset > size || n > size - offset) return EINVAL;
    if (kind_.keep) text.replace(offset, n, data, n);
    changed();
    return 0;
  }
  int cut(std::uint64_t offset) override {
    if (!kind_.seekable) return ESPIPE;
    size = std::min(size, offset);
    if (kind_.keep) text.resize(size);
    changed();
    return 0;
  }

  std::string text;
  std::uint64_t size = 0;
  bool ever_bad = false;

 private:
  void changed() { ever_bad = ever_bad || (kind_.good && !kind_.good(text)); }

  Kind kind_;
};

}  // namespace reel::testing
