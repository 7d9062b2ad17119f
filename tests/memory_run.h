// Runs of the whole program in memory, through run(): no process, no file.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bcd/kernel.h"
#include "reelprint/run.h"
#include "tape_image/source.h"
#include "tests/support.h"

namespace reel::testing {

struct Outcome {
  int status;  // exit status
  std::string out;
  std::string err;
};

// Runs with `options`, then `name`, opening the image through `open`, with `kernel`.
inline Outcome list_with(std::vector<std::string_view> options, const tape_image::Opener& open,
                         std::string_view name = "t.tap", bcd::KernelId kernel = bcd::best_kernel(),
                         std::size_t read_size = 0) {
  std::vector<std::string_view> args = {"reelprint"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(name);
  Collect out;
  Collect err;
  const int status = reelprint::run(args, open, out, err, kernel, read_size);
  return {status, out.text, err.text};
}

// Lists `image`, named t.tap, with `options` before its name; reads it `most_per_read` bytes
// at a time into a buffer of `read_size` (0: as suits it), and lists it with `kernel`.
inline Outcome list(std::vector<std::string_view> options, const Bytes& image,
                    std::size_t most_per_read = static_cast<std::size_t>(-1),
                    bcd::KernelId kernel = bcd::best_kernel(), std::size_t read_size = 0) {
  return list_with(
      options,
      [&](const std::string& name) -> std::unique_ptr<tape_image::InputSource> {
        if (name != "t.tap") return nullptr;
        return std::make_unique<tape_image::MemorySource>(image, most_per_read);
      },
      "t.tap", kernel, read_size);
}

}  // namespace reel::testing
