// libFuzzer target: the whole of reeltext, in memory, both ways, on arguments and an input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/reeltext_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view rule = reel::reeltext::fuzz::check_input({data, size});
  if (!rule.empty()) {
    std::fprintf(stderr, "reeltext_fuzzer: %.*s\n", static_cast<int>(rule.size()), rule.data());
    std::abort();
  }
  return 0;
}
