// Where the tape image's bytes come from: a file, a pipe, or memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace reelprint::tape_image {

class InputSource {
 public:
  virtual ~InputSource() = default;
  // Reads up to `n` bytes into `buf`; returns how many were read, 0 at the end of the input,
  // or -1 on a read error.
  virtual std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) = 0;
};

// Returns the file at `path` opened for reading, or nullptr if it can't be opened or is a
// directory (reading a directory would pass for an empty tape).
std::unique_ptr<InputSource> open_file(const std::string& path);

// Serves bytes that are already in memory; the bytes must outlive the source.
class MemorySource final : public InputSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : rest_(bytes) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override;

 private:
  std::span<const std::uint8_t> rest_;
};

}  // namespace reelprint::tape_image
