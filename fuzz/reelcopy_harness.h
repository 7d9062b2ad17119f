// One whole run of reelcopy on one fuzzer input, in memory, with the copy read back: shared by
// the libFuzzer target reelcopy_fuzzer and the replay test, so an input that once broke the
// program is run again by every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tape_image/format.h"
#include "tape_image/p7b.h"

namespace reel::reelcopy::fuzz {

// An input is laid out as:
//   byte 0     bits 0-2: --from, a format by its place in all_formats() (7: simh);
//              bits 3-5: --to, a writable format by its place among them (6 and 7: simh);
//              bits 6-7: --parity even, odd or none (3: no --parity, which is even);
//   byte 1     bit 0 -f (byte 2 gives the files), bit 1 --keep-going, bit 2 --drop-gaps,
//              bit 3 --repair=zero-fill, bit 4 --data, bit 5 two images joined (bytes 4 and 5
//              say where the second begins), bit 6 a seekable output, bit 7 an output that
//              refuses writes, as a full disk does, past eighths of the image's size (byte 3);
//   byte 2     -f's files: the first is 1 + bits 0-2; with bit 3 to the end (N-), else to the
//              first + bits 4-7 (N, or N-M);
//   byte 3     bits 0-3: the image read that many bytes at a time (0: in one read); bit 4:
//              tiny buffers (reads of a page, an output buffer of 4096 bytes, 64 bytes of
//              memory for a record held, past which it goes to a temporary file); bits 5-7:
//              the eighths of the image's size an output refusing writes takes;
//   bytes 4-5  where the second image begins, little-endian (past the end: it is empty);
//   the rest   the image: "t.tap", or "a.tap" and "b.tap" joined.
// A missing byte of the six counts as 0.
inline constexpr std::size_t header_size = 6;

// What an input asks for.
struct Choice {
  tape_image::Format from = tape_image::Format::simh;
  tape_image::Format to = tape_image::Format::simh;
  int parity = 3;  // 0 even, 1 odd, 2 none, 3 not given
  bool files = false;
  std::uint8_t range = 0;  // byte 2
  bool keep_going = false;
  bool drop_gaps = false;
  bool zero_fill = false;
  bool data = false;
  bool joined = false;
  bool seekable = false;
  bool tight = false;
  std::uint8_t eighths = 0;   // of the image's size, taken before writes are refused
  std::uint8_t per_read = 0;  // bytes a read, 0: one read
  bool tiny = false;
  std::uint16_t second_at = 0;
};

// Returns what `input` asks for, and in `image` its image bytes.
Choice choice_of(std::span<const std::uint8_t> input, std::span<const std::uint8_t>& image);

// Lays out an input asking for `choice` with `image`: the inverse of `choice_of`.
std::vector<std::uint8_t> input_of(const Choice& choice, std::span<const std::uint8_t> image);

// Returns the arguments `choice` makes, after the program's name: --from, --to, --parity, the
// options, and the images' names.
std::vector<std::string> arguments_of(const Choice& choice);

// An image served by name.
struct Image {
  std::string name;
  std::span<const std::uint8_t> bytes;
};

// How a run is served.
struct Serving {
  std::size_t most_per_read = static_cast<std::size_t>(-1);
  bool tiny = false;
  bool seekable = true;
  std::uint64_t out_limit = UINT64_MAX;
};

struct Outcome {
  int status = -1;
  std::string out;  // standard output when the run ended
  std::string err;
  bool refused = false;  // a write to standard output was refused
  // Where the output was said to end after a whole record, each time it was said.
  std::vector<std::uint64_t> wholes;
  std::string_view fault;  // how standard output was misused, or ""
};

// Runs reelcopy over `args` (after the program's name), the images in `images` served as
// `serving` says; other names can't be opened (ENOENT).
Outcome run_copy(const std::vector<std::string>& args, const std::vector<Image>& images,
                 const Serving& serving = {});

// Returns the rule of a run's outcome that `outcome` breaks, or "": the status is 0, 3, 4 or
// 5; standard output was not misused; every line on standard error begins "reelcopy: ", and
// one is there with every status but 0; a refused write gives status 3, 4 or 5; the places of
// whole records never go back, nor past the output's end.
std::string_view broken_rule(const Outcome& outcome);

// Returns the data of the records of the simh image `simh`, end to end, pad bytes left out;
// "" after an item it can't take apart, with `whole` false.
std::string records_data(std::string_view simh, bool& whole);

// Runs `input` as it asks, in the plain way (one read, the usual buffers, seekable, no limit),
// and once more served otherwise (the other kind of output, the other size of read and of
// buffers): all agree, byte for byte, but where a write was refused, when what was written is
// the start of the plain output. The plain output, unless --data, is a good image in the
// format written: read back --from=TO --to=TO it gives status 0 and itself, and so does every
// start of it up to a place where it was said to end after a whole record (where a signal
// would cut it). Under --data it is the data of the records that the same copy to simh holds,
// with the same status. And with status 0, not --data, -f, --keep-going nor a repair, the copy
// is a fixed point of the way back and forth: copied TO to FROM' (FROM, or simh for
// simh-tm8) and then back to TO, it is itself. Returns the rule broken, or "".
std::string_view check_input(std::span<const std::uint8_t> input);

}  // namespace reel::reelcopy::fuzz
