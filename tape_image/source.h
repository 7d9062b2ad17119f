// Where the tape image's bytes come from: a file, a pipe, or memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace reel::tape_image {

class InputSource {
 public:
  virtual ~InputSource() = default;
  // Reads up to `n` bytes into `buf`; returns how many were read, 0 at the end of the input,
  // or -1 on a read error.
  virtual std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) = 0;
  // Returns how many bytes the input holds, when that is known before it is read (a regular
  // file); 0 if it is not (a pipe).
  virtual std::uint64_t known_size() const { return 0; }
  // Returns how many bytes a read should ask for, where the source knows better than its size
  // tells (a decoder: what suits its own buffers); 0 if it does not.
  virtual std::size_t preferred_read() const { return 0; }
  // Passes over up to `n` bytes without reading them, where the source can do so cheaply (a
  // regular file); returns how many it passed over: fewer than `n` at the end of the input,
  // and 0 where it can't, in which case the caller reads them instead.
  virtual std::uint64_t skip(std::uint64_t /*n*/) { return 0; }
};

// Returns the file at `path` opened for reading, or nullptr if it can't be opened or is a
// directory (reading a directory would pass for an empty tape); errno then tells why.
std::unique_ptr<InputSource> open_file(const std::string& path);

// Returns `open_file(name)`, or standard input for the name "-", as GNU tools read it.
std::unique_ptr<InputSource> open_input(const std::string& name);

// Opens the named input, as `open_input` does or a stand-in for it in the tests and the fuzzer;
// returns nullptr, errno telling why, if it can't be opened.
using Opener = std::function<std::unique_ptr<InputSource>(const std::string& name)>;

// Serves bytes that are already in memory, at most `most_per_read` at a read, as a pipe may
// hand them out a few at a time; at their end, the end of the input, or a failed read if
// `fail_at_end`. The bytes must outlive the source.
class MemorySource final : public InputSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes,
                        std::size_t most_per_read = static_cast<std::size_t>(-1),
                        bool fail_at_end = false)
      : rest_(bytes), most_per_read_(most_per_read), fail_at_end_(fail_at_end) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override;
  std::uint64_t known_size() const override { return rest_.size(); }
  std::uint64_t skip(std::uint64_t n) override;

 private:
  std::span<const std::uint8_t> rest_;
  std::size_t most_per_read_;
  bool fail_at_end_;
};

}  // namespace reel::tape_image
