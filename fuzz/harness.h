// One whole run of reelprint on one fuzzer input, in memory: shared by the libFuzzer target
// and the replay test, so an input that once broke the program is run again by every build.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bcd/kernel.h"

namespace reelprint::fuzz {

// An input is laid out as:
//   byte 0     bits 0-2: how many arguments follow the program name (0 to 7);
//              bit 3: leave out the tape image's name after them;
//   arguments  each ended by a NUL byte (no argument on a real command line holds one); an
//              argument that runs to the end of the input is the last, and the image is empty;
//   image      every byte left: the tape image, served in memory as `image_name`.
// Any name other than `image_name` can't be opened.
inline constexpr std::string_view image_name = "t.tap";

// The output the listing may write before its writes are refused as on a full disk. A few
// bytes ask for any number of tape files ("-2147483647"), and each file past the end of the
// image is empty but still prints its header and ruler: listing them all would take hours.
// Every loop of the listing either reads the image or writes output, so bounding the output
// bounds the run; the refused write ends it the way a full disk does, with status 5.
inline constexpr std::uint64_t output_limit = std::uint64_t{1} << 20;

struct Outcome {
  int status = -1;
  std::uint64_t out_bytes = 0;  // written to standard output
  std::uint64_t err_bytes = 0;  // written to standard error
  bool out_refused = false;     // a write went past `output_limit` and was refused
  std::string out_head;         // the first bytes of standard output
  std::string out_tail;         // the last bytes of standard output
  std::uint64_t out_hash = 0;   // FNV-1a of all of standard output
};

// Splits `input` into arguments and a tape image, and lists the image as the program would,
// reading it `most_per_read` bytes at a time and translating with `kernel`.
Outcome run_input(std::span<const std::uint8_t> input,
                  std::size_t most_per_read = static_cast<std::size_t>(-1),
                  bcd::KernelId kernel = bcd::best_kernel());

// Returns which rule of the program's outcomes `outcome` breaks, or "" if it keeps them all.
std::string_view broken_rule(const Outcome& outcome);

// Runs `input` in one read with the best kernel here, and in reads of 1 to 7 bytes with each
// kernel; returns which rule the outcome breaks, or that the ways disagree, or "".
std::string_view check_input(std::span<const std::uint8_t> input);

// Lays out an input for `run_input`: `options`, then the image's name unless `name_image` is
// false, and `image`.
std::vector<std::uint8_t> make_input(const std::vector<std::string>& options,
                                     std::span<const std::uint8_t> image, bool name_image = true);

}  // namespace reelprint::fuzz
