// One whole run of reeltext on one fuzzer input, in memory, both ways (image to text, and text
// to image with -r): shared by the libFuzzer target reeltext_fuzzer and the replay test, so an
// input that once broke the program is run again by every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bcd/kernel.h"
#include "fuzz/harness.h"
#include "reeltext/options.h"

namespace reel::reeltext::fuzz {

// An input is laid out as reelprint's harness reads it (fuzz/harness.h): byte 0 gives the
// number of arguments and whether the input's name follows them, the NUL-ended arguments
// follow, and the rest is the input: an image, or a text when the arguments ask for -r. The
// name put after the arguments is `image_name`, or `text_name` under -r; both, and "-"
// (standard input, which a left-out name means), serve the input; any other name can't be
// opened (ENOENT). The free bits of byte 0 choose how the run is served:
//   bit 4  the input is read 1 + (its size % 7) bytes at a time, as from a pipe;
//   bit 5  the read after the input's last byte fails (EIO), as a failing disk would;
//   bit 6  tiny buffers: reads of a page, an output buffer of 4096 bytes, and 64 bytes of
//          memory for a record held, past which it goes to a temporary file;
//   bit 7  standard output refuses writes past (the input's size % 160) bytes, as a full disk
//          would, rather than past `output_limit`.
// Each input runs with its output both seekable (a regular file, written over and cut back)
// and not (a pipe), and with each kernel of bcd::kernels_here().
inline constexpr std::string_view image_name = reel::fuzz::image_name;  // "t.tap"
inline constexpr std::string_view text_name = "t.txt";
inline constexpr std::uint8_t short_reads = 0x10;
inline constexpr std::uint8_t failing_read = 0x20;
inline constexpr std::uint8_t tiny_buffers = 0x40;
inline constexpr std::uint8_t tight_output = 0x80;

// Past it, writes are refused as on a full disk (status 5): -w asks for lines of up to 2^31 - 1
// blanks, which a run would otherwise write in full. Under -w past it the output is only ever
// seekable, as one not seekable would hold each record whole, in a temporary file, first.
inline constexpr std::uint64_t output_limit = reel::fuzz::output_limit;

// How a run is served: what byte 0's bits 4 to 7 ask for, or what a check puts in their place.
struct Serving {
  std::size_t most_per_read = static_cast<std::size_t>(-1);
  bool fail_at_end = false;
  bool tiny = false;
  std::uint64_t out_limit = output_limit;
  bool seekable = true;
  bcd::KernelId kernel = bcd::best_kernel();
};

struct Outcome {
  int status = -1;
  std::string out;           // all of standard output that the sink holds at the end
  std::string err;           // all of standard error
  bool out_refused = false;  // a write to standard output was refused
  std::string_view fault;    // the first moment standard output was no good output, or ""
  // What the run was given, for the rules to check the outcome against:
  CommandLine command;  // as reeltext reads the arguments
  std::uint64_t input_size = 0;
  Serving serving;
};

// Returns the arguments of `split` (after the program's name), the input's name put after
// them as `text_name` when they ask for -r.
std::vector<std::string> arguments_of(const reel::fuzz::SplitInput& split);

// Returns how byte 0 of `split` asks for the run to be served.
Serving serving_of(const reel::fuzz::SplitInput& split);

// When standard output is checked: when the run has ended (whole items or lines only), or
// while it runs, seekable (then it may end in the placeholder FFFFFFFD and part of the record
// it stands for, or in part of a line) or not (then in part of a record, after its count, or
// of a line: a record held until its end goes out in more than one write).
enum class Moment { ended, seekable, piped };

// Runs reeltext over `args` (after the program's name) with `input` served as `serving` says.
// Standard output is checked after every change, and when the run has ended: a good image
// (whole items: records whose words agree, bit 31 flagging a bad record of 1 to 0xFFFFFF
// bytes, the others of 1 to 0x7FFFFFFF bytes, of codes 0 to 63 and pad bytes of 0; tape marks
// 00000000, erase gaps FFFFFFFE, and the end-of-medium marker FFFFFFFF, nothing after it), or
// good text (whole lines, each one of the four lines of words or characters of the
// arrangement, "bad record" before a record's line, "end of medium" the last), with what
// `Moment` allows at its end. A pipe refused a write may be left in the middle of a record.
Outcome run_args(const std::vector<std::string>& args, std::span<const std::uint8_t> input,
                 const Serving& serving);

// Returns the rule that `bytes`, standard output of reeltext with `options`, breaks at
// `moment`, as `run_args` checks it, or "".
std::string_view output_fault(const Options& options, std::string_view bytes, Moment moment);

// Returns which rule of the program's outcomes `outcome` breaks, or "" if it keeps them all:
// the status is 0 to 5; 1 exactly when the command line is bad, with its complaint; the help
// and the version whole with status 0; 2 exactly when the input can't be opened, said in one
// line; 5 exactly when a write was refused, said in one line, unless a fault of the input
// came first (3 or 4, said in the line before); 3 and 4 say one line "reeltext: NAME: ...",
// 4 only for an image; status 0 says nothing, or under -f the one tape file asked for that
// the image ends before; a failed read never gives 0 but where -f stopped at a tape mark; and
// standard output was good at every moment.
std::string_view broken_rule(const Outcome& outcome);

// The expected outcome, worked out by the harness itself from the rules of reeltext(1): the
// items the input holds (each line of a text; each record, tape mark and control word of an
// image, in the tape files asked for), the status and the message of the first fault, if any,
// and what the program must write of the items before it.
struct Expected {
  int status = 0;
  std::string message;    // the line on standard error after "reeltext: NAME: ", or ""
  std::string out;        // what the run writes (up to a little more than any run may)
  bool out_whole = true;  // `out` is all of it
  std::string again;      // what the other way makes of `out` whole (likewise)
  bool again_whole = true;
};

// Works out what reeltext with `command` (a conversion) must give for `input`.
Expected expected_of(const CommandLine& command, std::span<const std::uint8_t> input);

// Runs `input` as byte 0 asks, then seekable and not, with every kernel in the other size of
// read, and in the plain way (one read, default buffers, no failure, the usual limit): each
// outcome keeps the rules, and all agree byte for byte with the plain one, which agrees with
// the expected outcome; where a failed read or a refused write stopped a run, what it wrote
// is the start of the plain output. Then the round trip, when the plain run ends with status
// 0: the text written, read back with -r (same framing and arrangement), gives the image of
// the items in the tape files asked for: the image with its pad bytes zeroed and, under -s,
// each data byte cut to its low six bits; and the image built from a text, written as text
// again, gives the text as reeltext writes it: no byte-order mark, each line ended by a bare
// newline, a line of words exactly its words, an empty line "tape mark" (under -w a line of
// blanks), a record's line padded with blanks to the width of -w. A text already so written,
// built without -w, so comes back byte for byte. Returns the rule broken, or "".
std::string_view check_input(std::span<const std::uint8_t> input);

}  // namespace reel::reeltext::fuzz
