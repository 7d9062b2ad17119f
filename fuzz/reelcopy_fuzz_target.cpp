// libFuzzer target: reelcopy between every two formats, in memory, its copy read back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/reelcopy_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view rule = reel::reelcopy::fuzz::check_input({data, size});
  if (!rule.empty()) {
    std::fprintf(stderr, "reelcopy_fuzzer: %.*s\n", static_cast<int>(rule.size()), rule.data());
    std::abort();
  }
  return 0;
}
