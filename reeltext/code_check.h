// Whether the data bytes of a record are all codes (0 to 63): the one test image to text makes
// of every data byte besides translating it. Written for each kernel's instruction set, chosen
// by the kernel's type, so that it is compiled into the run that kernel enters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bcd/dispatch.h"

namespace reelprint::reeltext {

// Returns whether each of the `n` bytes at `p` (at least 1) is a code; up to `bcd::reach`
// bytes past them may be read. Whole blocks of 64 bytes a vector at a time, in whatever
// vectors the instruction set has.
template <class Kernel>
inline bool all_codes(const Kernel&, const std::uint8_t* p, std::size_t n) {
  using Block = std::uint64_t __attribute__((vector_size(64)));
  Block blocks{};
  std::size_t k = 0;
  for (; n - k >= 64; k += 64) {
    Block block;
    std::memcpy(&block, p + k, sizeof block);
    blocks |= block;
  }
  std::uint64_t any = 0;
  for (; n - k >= 8; k += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + k, sizeof word);
    any |= word;
  }
  for (; k < n; ++k) any |= p[k];
  for (int word = 0; word < 8; ++word) any |= blocks[word];
  return (any & 0xC0C0'C0C0'C0C0'C0C0) == 0;
}

#if defined(__x86_64__)
// 64 bytes a vector, the last of them masked: one test of the top two bits.
[[gnu::target("avx512f,avx512bw,bmi,bmi2")]] inline bool all_codes(const bcd::avx512vbmi::Kernel&,
                                                                   const std::uint8_t* p,
                                                                   std::size_t n) {
  const __m512i top_two = _mm512_set1_epi8(static_cast<char>(0xC0));
  __m512i any = _mm512_setzero_si512();
  std::size_t k = 0;
  for (; n - k > 64; k += 64) any = _mm512_or_si512(any, _mm512_loadu_si512(p + k));
  const __mmask64 last = _bzhi_u64(~0ull, static_cast<unsigned>(n - k));
  return (_mm512_test_epi8_mask(any, top_two) |
          _mm512_mask_test_epi8_mask(last, _mm512_loadu_si512(p + k), top_two)) == 0;
}

// Returns a bit for each of the 32 bytes of `v`, set where either of its top two bits is: bit 6
// added to itself lands in the top bit, which a byte mask reads.
[[gnu::target("avx2"), gnu::always_inline]] inline std::uint32_t top_bits(__m256i v) {
  return static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_or_si256(v, _mm256_add_epi8(v, v))));
}

// 32 bytes a vector, the last of them masked.
[[gnu::target("avx2,bmi,bmi2")]] inline bool all_codes(const bcd::avx2::Kernel&,
                                                       const std::uint8_t* p, std::size_t n) {
  __m256i any = _mm256_setzero_si256();
  std::size_t k = 0;
  for (; n - k > 32; k += 32)
    any = _mm256_or_si256(any, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k)));
  const std::uint32_t last = top_bits(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k))) &
                             _bzhi_u32(~0u, static_cast<unsigned>(n - k));
  return (top_bits(any) | last) == 0;
}
#endif

}  // namespace reelprint::reeltext
