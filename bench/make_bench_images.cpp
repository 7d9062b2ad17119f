// Writes the benchmark tape images, the same bytes for the same seed.
// Usage: make_bench_images KIND SIZE SEED OUTPUT
//   SIZE: in MiB, or in KiB with a K after it (4K); the image is whole records of about that
//   size, then a tape mark
//   mixed:  records of 80 to 2000 random codes 1 to 63
//   cards:  80-byte card records
//   blanks: mostly blank records with word separators, for -w and the blank-line rule
//   object: an object deck for -w: 80-byte cards, one byte in seven a word separator
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "bench/random.h"

namespace {

using reel::Random;

void put_count(std::vector<std::uint8_t>& out, std::uint32_t count) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<std::uint8_t>(count >> shift));
}

// Fills `data` with one record's codes of the given kind.
void make_record(std::string_view kind, Random& random, std::vector<std::uint8_t>& data) {
  data.clear();
  if (kind == "cards") {
    for (int k = 0; k < 80; ++k) data.push_back(static_cast<std::uint8_t>(random.between(1, 63)));
    return;
  }
  if (kind == "object") {
    for (int k = 0; k < 80; ++k) {
      const std::uint32_t code = random.between(1, 62);  // any code but the separator
      data.push_back(
          random.between(0, 6) == 0 ? 29 : static_cast<std::uint8_t>(code < 29 ? code : code + 1));
    }
    return;
  }
  if (kind == "mixed") {
    const std::uint32_t size = random.between(80, 2000);
    for (std::uint32_t k = 0; k < size; ++k)
      data.push_back(static_cast<std::uint8_t>(random.between(1, 63)));
    return;
  }
  // blanks: long runs of code 0, now and then a word of text with a separator before it.
  const std::uint32_t size = random.between(200, 4000);
  while (data.size() < size) {
    if (random.between(0, 9) < 8) {
      data.insert(data.end(), random.between(1, 150), 0);
    } else {
      data.push_back(29);
      const std::uint32_t word = random.between(1, 8);
      for (std::uint32_t k = 0; k < word; ++k) {
        const std::uint32_t code = random.between(1, 62);  // any code but the separator
        data.push_back(static_cast<std::uint8_t>(code < 29 ? code : code + 1));
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("Usage: make_bench_images mixed|cards|blanks|object SIZE[K] SEED OUTPUT\n", stderr);
    return 1;
  }
  const std::string_view kind = argv[1];
  if (kind != "mixed" && kind != "cards" && kind != "blanks" && kind != "object") {
    std::fputs("make_bench_images: KIND is mixed, cards, blanks or object\n", stderr);
    return 1;
  }
  char* unit = nullptr;
  const std::uint64_t target = std::strtoull(argv[2], &unit, 10) << (*unit == 'K' ? 10 : 20);
  Random random(std::strtoull(argv[3], nullptr, 10));
  std::FILE* file = std::fopen(argv[4], "wb");
  if (file == nullptr) {
    std::perror(argv[4]);
    return 1;
  }
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> out;
  std::uint64_t written = 0;
  bool ok = true;
  while (ok && written < target) {
    out.clear();
    while (out.size() < std::min<std::uint64_t>(1u << 20, target - written)) {
      make_record(kind, random, data);
      const auto size = static_cast<std::uint32_t>(data.size());
      put_count(out, size);
      out.insert(out.end(), data.begin(), data.end());
      if (size % 2 == 1) out.push_back(0);
      put_count(out, size);
    }
    ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    written += out.size();
  }
  put_count(out, 0);
  ok = ok && std::fwrite(out.data() + out.size() - 4, 1, 4, file) == 4;
  if (std::fclose(file) != 0 || !ok) {
    std::perror(argv[4]);
    return 1;
  }
  return 0;
}
