// libFuzzer target: the whole listing, in memory, on arguments and a tape image.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view rule = reel::fuzz::check_input({data, size});
  if (!rule.empty()) {
    std::fprintf(stderr, "reelprint_fuzzer: %.*s\n", static_cast<int>(rule.size()), rule.data());
    std::abort();
  }
  return 0;
}
