// One whole run of reelinfo on one fuzzer input, in memory: shared by the libFuzzer target
// reelinfo_fuzzer and the replay test, so an input that once broke the program is run again
// by every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/harness.h"

namespace reel::reelinfo::fuzz {

using reel::fuzz::image_name;

// An input is laid out as reelprint's harness reads it (fuzz/harness.h): byte 0 gives the
// number of arguments and whether the image's name `t.tap` follows them, the NUL-ended
// arguments follow, and the rest is the image. The free bits of byte 0 choose how the run is
// served:
//   bit 4  the image is read 1 + (its size % 7) bytes at a time, as from a pipe;
//   bit 5  the read after the image's last byte fails, as a failing disk would;
//   bit 6  the report is held in memory only up to `small_spool` bytes, past which it goes
//          to a temporary file;
//   bit 7  standard output refuses writes past (the image's size % 160) bytes, as a full disk
//          would, rather than past `output_limit`.
// Any name other than `t.tap` can't be opened: ENOENT, "-" (standard input) as well.
inline constexpr std::uint8_t short_reads = 0x10;
inline constexpr std::uint8_t failing_read = 0x20;
inline constexpr std::uint8_t small_spool_flag = 0x40;
inline constexpr std::uint8_t tight_output = 0x80;

inline constexpr std::size_t small_spool = 64;
// No report of a small image comes near it; the limit bounds the harness's memory all the same.
inline constexpr std::uint64_t output_limit = reel::fuzz::output_limit;

// How a run is served: what byte 0's bits 4 to 7 ask for, or what a check puts in their place.
struct Serving {
  std::size_t most_per_read = static_cast<std::size_t>(-1);
  bool fail_at_end = false;
  std::size_t spool_memory = 0;  // 0: reelinfo's own limit
  std::uint64_t out_limit = output_limit;
};

struct Outcome {
  int status = -1;
  std::string out;           // all of standard output (at most the limit)
  std::string err;           // all of standard error
  bool out_refused = false;  // a write to standard output was refused
  // What the run was given, for the rules to check the outcome against:
  std::vector<std::string> args;  // after the program's name
  std::uint64_t image_size = 0;
  bool fail_at_end = false;
};

// Returns how byte 0 of `split` asks for the run of its image to be served.
Serving serving_of(const reel::fuzz::SplitInput& split);

// Runs reelinfo over the arguments and the image of `split` as `serving` says.
Outcome run_split(const reel::fuzz::SplitInput& split, const Serving& serving);

// Splits `input` into arguments and a tape image and runs reelinfo as byte 0 asks.
Outcome run_input(std::span<const std::uint8_t> input);

// Returns which rule of the program's outcomes `outcome` breaks, or "" if it keeps them all.
std::string_view broken_rule(const Outcome& outcome);

// Runs `input` as byte 0 asks, and again in the other size of read; with a small spool or a
// tight output limit, again without. Returns which rule an outcome breaks, or that the runs
// disagree, or "".
std::string_view check_input(std::span<const std::uint8_t> input);

}  // namespace reel::reelinfo::fuzz
