// One whole run of reelprint on one fuzzer input, in memory: shared by the libFuzzer target
// and the replay test, so an input that once broke the program is run again by every build.
// The layout of an input and the sink that counts the output serve reelinfo's harness too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bcd/kernel.h"
#include "common/output.h"

namespace reel::fuzz {

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

// An input taken apart: byte 0, the arguments after the program's name (the image's name
// last unless left out), and the image.
struct SplitInput {
  std::uint8_t flags = 0;  // byte 0, or 0 for an empty input; bits 4 to 7 are free for a harness
  std::vector<std::string_view> args;
  std::span<const std::uint8_t> image;
};

// Takes `input` apart as laid out above; the views are into `input`.
SplitInput split_input(std::span<const std::uint8_t> input);

// Discards what it is given but counts it, keeps both ends (or everything, if `keep_all`),
// and refuses writes past a limit with ENOSPC, taking none of their bytes.
class CountingSink final : public OutputSink {
 public:
  static constexpr std::size_t kept = 128;  // bytes kept of each end of the output

  explicit CountingSink(std::uint64_t limit, bool keep_all = false)
      : limit_(limit), keep_all_(keep_all) {}

  int write(const char* data, std::size_t n) override;

  std::uint64_t bytes = 0;
  std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a of the bytes taken
  bool refused = false;
  std::string head;
  std::string tail;
  std::string all;  // every byte taken, if `keep_all`

 private:
  std::uint64_t limit_;
  bool keep_all_;
};

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
// false, and `image`; `flags` go into bits 4 to 7 of byte 0 (reelprint's harness reads none).
std::vector<std::uint8_t> make_input(const std::vector<std::string>& options,
                                     std::span<const std::uint8_t> image, bool name_image = true,
                                     std::uint8_t flags = 0);

// For the tools that write seeds: the bytes of the file at `path`, or nothing after saying on
// standard error why it could not be read.
std::optional<std::vector<std::uint8_t>> read_seed_source(const char* path);

// For the same: writes `input` as the seed `name` (a file "seed-NAME" in `dir`); returns false
// after saying on standard error why it could not.
bool write_seed(const std::filesystem::path& dir, const std::string& name,
                std::span<const std::uint8_t> input);

}  // namespace reel::fuzz
