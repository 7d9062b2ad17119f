// Memory for the large buffers that reads fill and writes empty: cache-line aligned, since the
// kernel copies between aligned addresses several times faster than between misaligned ones,
// and never zero-filled, so that only the pages used are touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace reel {

template <class Byte>
class AlignedBuffer {
 public:
  static constexpr std::size_t alignment = 64;

  explicit AlignedBuffer(std::size_t size)
      : storage_(std::make_unique_for_overwrite<Byte[]>(size + alignment)) {
    const auto start = reinterpret_cast<std::uintptr_t>(storage_.get());
    data_ = storage_.get() + (alignment - start % alignment) % alignment;
  }

  // Returns the first of the bytes asked for, aligned.
  Byte* data() const { return data_; }

 private:
  std::unique_ptr<Byte[]> storage_;
  Byte* data_;
};

}  // namespace reel
