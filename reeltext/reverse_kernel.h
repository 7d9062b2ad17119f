// The way back from characters to codes, 64 bytes of text at a time: where its newlines are,
// which bytes are neither a character of the arrangement nor a newline, and each byte's code
// through the print arrangement. Written once per instruction set, as the kernels of bcd/ are; the
// run is compiled for the one chosen with all it calls inlined.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bcd/arrangement.h"
#include "bcd/kernel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace reelprint::reeltext {

// A kernel offers, for the `scan_size` bytes at `src` (those past the text's end are read for
// nothing):
//   scan(src, dst)       where its newlines are, and its bytes that are neither a newline
//                        nor a character of the arrangement; and writes their codes at `dst`
//                        as `translate` does;
//   translate(src, dst)  writes their codes at `dst`, `scan_size` of them (a newline's and
//                        those of other bytes of no use).
inline constexpr std::size_t scan_size = 64;

// What a scan finds in 64 bytes: bit k stands for byte k.
struct Scan {
  std::uint64_t newlines;  // the newlines
  std::uint64_t others;    // the bytes that are neither a character of the arrangement nor '\n'
};

// For each byte value, its code (0 to 63), `newline_value` for '\n', or `other_value`.
inline constexpr std::uint8_t newline_value = 0x40;
inline constexpr std::uint8_t other_value = 0x80;
struct CodeOfByte {
  alignas(64) std::array<std::uint8_t, 256> codes;
};

// Returns the codes of each byte value in `arrangement`.
inline CodeOfByte code_of_byte(bcd::Arrangement arrangement) {
  CodeOfByte table{};
  table.codes.fill(other_value);
  const bcd::CodeTable& characters = bcd::table_of(arrangement);
  for (std::size_t code = 0; code < characters.size(); ++code)
    table.codes[static_cast<unsigned char>(characters[code])] = static_cast<std::uint8_t>(code);
  table.codes['\n'] = newline_value;
  return table;
}

namespace portable_reverse {

// A byte at a time, through the table.
class Kernel {
 public:
  explicit Kernel(const CodeOfByte& table) : table_(table) {}

  Scan scan(const std::uint8_t* src, std::uint8_t* dst) const {
    std::uint64_t newlines = 0;
    std::uint64_t others = 0;
    for (std::size_t k = 0; k < scan_size; ++k) {
      const std::uint8_t code = table_.codes[src[k]];
      dst[k] = code;
      newlines |= static_cast<std::uint64_t>(code == newline_value) << k;
      others |= static_cast<std::uint64_t>(code >> 7) << k;
    }
    return {newlines, others};
  }

  void translate(const std::uint8_t* src, std::uint8_t* dst) const {
    for (std::size_t k = 0; k < scan_size; ++k) dst[k] = table_.codes[src[k]];
  }

 private:
  CodeOfByte table_;
};

template <class Work>
auto run(const CodeOfByte& table, Work& work) {
  const Kernel kernel(table);
  return work(kernel);
}

}  // namespace portable_reverse

#if defined(__x86_64__)
namespace avx512vbmi_reverse {

#define REELTEXT_AVX512 gnu::target("avx512f,avx512bw,avx512vbmi,bmi,bmi2,popcnt")

// One two-table permute looks up 64 bytes among the 128 ASCII values; a byte from 128 up,
// whose permute reads its low seven bits alone, is told by its own top bit.
class Kernel {
 public:
  [[REELTEXT_AVX512]] explicit Kernel(const CodeOfByte& table)
      : low_(_mm512_load_si512(table.codes.data())),
        high_(_mm512_load_si512(table.codes.data() + 64)),
        newline_(held(_mm512_set1_epi8('\n'))) {}

  [[REELTEXT_AVX512]] Scan scan(const std::uint8_t* src, std::uint8_t* dst) const {
    const __m512i bytes = _mm512_loadu_si512(src);
    const __m512i codes = _mm512_permutex2var_epi8(low_, bytes, high_);
    _mm512_storeu_si512(dst, codes);
    return {_mm512_cmpeq_epi8_mask(bytes, newline_),
            _mm512_movepi8_mask(_mm512_or_si512(bytes, codes))};
  }

  [[REELTEXT_AVX512]] void translate(const std::uint8_t* src, std::uint8_t* dst) const {
    _mm512_storeu_si512(dst, _mm512_permutex2var_epi8(low_, _mm512_loadu_si512(src), high_));
  }

 private:
  // Returns `value`, which the compiler then no longer knows, so that it keeps it in a
  // register rather than make it anew in every loop.
  [[REELTEXT_AVX512]] static __m512i held(__m512i value) {
    __asm__("" : "+v"(value));
    return value;
  }

  __m512i low_, high_;  // the codes of bytes 0 to 63 and 64 to 127
  __m512i newline_;     // '\n' in every byte
};

template <class Work>
[[REELTEXT_AVX512, gnu::flatten]] auto run(const CodeOfByte& table, Work& work) {
  const Kernel kernel(table);
  return work(kernel);
}

#undef REELTEXT_AVX512

}  // namespace avx512vbmi_reverse
#endif

// Returns `work(kernel)` with the scanning kernel for `id` (the portable one where no other is
// written for it), `work` compiled for its instruction set.
template <class Work>
auto with_reverse_kernel(bcd::KernelId id, const CodeOfByte& table, Work&& work) {
#if defined(__x86_64__)
  if (id == bcd::KernelId::avx512vbmi) return avx512vbmi_reverse::run(table, work);
#endif
  (void)id;
  return portable_reverse::run(table, work);
}

}  // namespace reelprint::reeltext
