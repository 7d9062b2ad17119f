// reeltext in-process: the text of small images worked out from the arrangement tables, random
// reels there and back byte for byte (every framing, arrangement and kernel, seekable output
// or not, large buffers or tiny ones), each broken image and each bad text with its message
// and status, and the command line.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bcd/arrangement.h"
#include "bcd/kernel.h"
#include "reeltext/run.h"
#include "tape_image/image_builder.h"
#include "tape_image/source.h"
#include "tests/support.h"

namespace reelprint {
namespace {

using bcd::Arrangement;
using tape_image::Framing;
using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;
using testing::operator+;

// Keeps everything written to it.
struct Collect final : OutputSink {
  std::string text;
  int write(const char* data, std::size_t n) override {
    text.append(data, n);
    return 0;
  }
};

// How a run goes about it: what it writes must not depend on any of this.
struct Way {
  bcd::KernelId kernel = bcd::best_kernel();
  bool seekable = false;                                     // the output
  std::size_t most_per_read = static_cast<std::size_t>(-1);  // of the input, as a pipe may
  std::size_t read_size = 0;
  std::size_t buffer_size = reeltext::RecordWriter::default_buffer_size;
  std::size_t hold_memory = Hold::default_memory_limit;
  bool fail_at_end = false;                    // the input's last read fails
  std::size_t fail_after = std::string::npos;  // the output fails past so many bytes
};

// Every way worth trying: each kernel, seekable or not, and tiny buffers, in which records
// outgrow the output buffer, go to the temporary file of the hold, and come a few bytes a read.
std::vector<Way> every_way() {
  std::vector<Way> ways;
  for (const bcd::KernelId kernel : bcd::kernels_here())
    for (const bool seekable : {false, true}) {
      ways.push_back({kernel, seekable});
      ways.push_back({kernel, seekable, 7, 4096, 4096, 100});
    }
  return ways;
}

std::string way_name(const Way& way) {
  return std::string(bcd::name_of(way.kernel)) + (way.seekable ? ", seekable" : ", a pipe") +
         (way.buffer_size < 8192 ? ", tiny buffers" : "");
}

struct Result {
  int status;
  std::string out;
  std::string err;
};

// Runs reeltext with `args` on `input`, named "in" ("-" is the same input).
Result reeltext(std::vector<std::string> args, const std::string& input, const Way& way = {}) {
  args.insert(args.begin(), "reeltext");
  const auto open = [&](const std::string& name) -> std::unique_ptr<tape_image::InputSource> {
    if (name != "in" && name != "-") {
      errno = ENOENT;
      return nullptr;
    }
    return std::make_unique<tape_image::MemorySource>(
        std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()),
        way.most_per_read, way.fail_at_end);
  };
  reeltext::MemoryOutput out(way.seekable, way.fail_after);
  Collect err;
  const int status = reeltext::run(args, open, out, err,
                                   {way.kernel, way.read_size, way.buffer_size, way.hold_memory});
  return {status, out.bytes, err.text};
}

std::string text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

// Returns the characters of `codes` in `table`, worked out from it.
std::string characters(const Bytes& codes, const bcd::CodeTable& table) {
  std::string line;
  for (const std::uint8_t code : codes) line += table[code];
  return line;
}

Bytes all_codes() {
  Bytes every;
  for (int code = 0; code < 64; ++code) every.push_back(static_cast<std::uint8_t>(code));
  return every;
}

TEST(ReeltextText, SmallImagesAsTheirLines) {
  const Bytes every = all_codes();
  struct Case {
    std::vector<std::string> args;
    Bytes image;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{"in"}, {}, ""},
      {{"in"}, ImageBuilder().record(codes("HELLO")).tape_mark().bytes(), "HELLO\n\n"},
      // A blank, a word separator and A: as spaces and the separator's own character.
      {{"in"}, ImageBuilder().record(Bytes{0, 29, 49, 0}).bytes(), " ~A \n"},
      {{"-h", "in"}, ImageBuilder().record(Bytes{0, 29, 11, 12}).bytes(), " ~='\n"},
      {{"--old-simh", "in"}, ImageBuilder().record(Bytes{0, 29, 15, 63}).bytes(), " =(\"\n"},
      {{"in"}, ImageBuilder().record(every).bytes(), characters(every, bcd::bcd_to_ascii_a) + "\n"},
      {{"--fortran", "in"},
       ImageBuilder().record(every).bytes(),
       characters(every, bcd::bcd_to_ascii_h) + "\n"},
      {{"-o", "in"},
       ImageBuilder().record(every).bytes(),
       characters(every, bcd::bcd_to_ascii_old) + "\n"},
      // Tape marks, one after another, and no tape mark at the end.
      {{"in"},
       ImageBuilder()
           .tape_mark()
           .record(codes("A"))
           .tape_mark()
           .tape_mark()
           .record(codes("B"))
           .bytes(),
       "\nA\n\n\nB\n"},
      // An odd-length record: its pad byte in simh, none in E11.
      {{"in"},
       ImageBuilder(Framing::simh).record(codes("ABC")).record(codes("D")).bytes(),
       "ABC\nD\n"},
      {{"-e", "in"},
       ImageBuilder(Framing::e11).record(codes("ABC")).record(codes("D")).bytes(),
       "ABC\nD\n"},
      // Tape files picked.
      {{"-f", "2", "in"},
       ImageBuilder()
           .record(codes("A"))
           .tape_mark()
           .record(codes("B"))
           .tape_mark()
           .record(codes("C"))
           .bytes(),
       "B\n\n"},
      {{"--files=2-", "in"},
       ImageBuilder()
           .record(codes("A"))
           .tape_mark()
           .record(codes("B"))
           .tape_mark()
           .record(codes("C"))
           .bytes(),
       "B\n\nC\n"},
      {{"-f1-2", "in"},
       ImageBuilder()
           .record(codes("A"))
           .tape_mark()
           .tape_mark()
           .record(codes("C"))
           .tape_mark()
           .bytes(),
       "A\n\n\n"},
      {{"-f", "4", "in"}, ImageBuilder().record(codes("A")).tape_mark().bytes(), ""},
      // A byte above 63 by its low six bits: 0xC1 as code 1, 0x40 as the blank.
      {{"-s", "in"}, ImageBuilder().record(Bytes{0xC1, 0x40, 49}).bytes(), "1 A\n"},
  };
  for (const Case& c : cases) {
    for (const Way& way : every_way()) {
      const Result result = reeltext(c.args, text(c.image), way);
      EXPECT_EQ(result.status, 0) << c.args.front() << ", " << way_name(way);
      EXPECT_EQ(result.out, c.text) << c.args.front() << ", " << way_name(way);
      EXPECT_EQ(result.err, "");
    }
  }
}

TEST(ReeltextImage, LinesBuildTheirRecords) {
  struct Case {
    std::vector<std::string> args;
    std::string text;
    Bytes image;
  };
  const std::vector<Case> cases = {
      {{"-r", "in"}, "", {}},
      {{"-r", "in"},
       "HELLO\n\nA B~\n",
       ImageBuilder().record(codes("HELLO")).tape_mark().record(Bytes{49, 0, 50, 29}).bytes()},
      // A last line without a newline; carriage returns before newlines dropped.
      {{"-r", "in"},
       "AB\r\n\r\nCD",
       ImageBuilder().record(codes("AB")).tape_mark().record(codes("CD")).bytes()},
      {{"-r", "-e", "in"}, "ABC\n", ImageBuilder(Framing::e11).record(codes("ABC")).bytes()},
      {{"-r", "in"}, "ABC\n", ImageBuilder(Framing::simh).record(codes("ABC")).bytes()},
      {{"-rh", "in"}, "='\n", ImageBuilder().record(Bytes{11, 12}).bytes()},
      {{"-r", "-o", "in"}, "=(\"\n", ImageBuilder().record(Bytes{29, 15, 63}).bytes()},
      // Padded with blanks to the width; a longer line and an empty one as they are.
      {{"-r", "-w", "5", "in"},
       "AB\n\nABCDEF\nABCDE",
       ImageBuilder()
           .record(codes("AB   "))
           .tape_mark()
           .record(codes("ABCDEF"))
           .record(codes("ABCDE"))
           .bytes()},
      {{"-r", "--width=9000", "in"},
       "A\n",
       ImageBuilder().record(codes("A") + Bytes(8999, 0)).bytes()},
  };
  for (const Case& c : cases) {
    for (const Way& way : every_way()) {
      const Result result = reeltext(c.args, c.text, way);
      EXPECT_EQ(result.status, 0) << c.text << ", " << way_name(way);
      EXPECT_EQ(result.out, text(c.image)) << c.text << ", " << way_name(way);
      EXPECT_EQ(result.err, "");
    }
  }
}

// A reel of random records of every code, most short, some past the tiny buffers, one past the
// default one, with tape marks among them, in `framing`; and its text, worked out from `table`.
struct Reel {
  Bytes image;
  std::string text;
};
Reel random_reel(std::mt19937_64& random, Framing framing, const bcd::CodeTable& table) {
  ImageBuilder reel(framing);
  std::string lines;
  std::uniform_int_distribution<int> kind(0, 19);
  std::uniform_int_distribution<int> code(0, 63);
  for (int item = 0; item < 120; ++item) {
    const int k = item == 60 ? -1 : kind(random);
    if (k == 0) {
      reel.tape_mark();
      lines += '\n';
      continue;
    }
    const std::size_t most = k < 0 ? 300'000 : k < 3 ? 20'000 : 200;
    Bytes data(std::uniform_int_distribution<std::size_t>(k < 0 ? most : 1, most)(random));
    for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(code(random));
    reel.record(data);
    lines += characters(data, table) + '\n';
  }
  return {reel.bytes(), lines};
}

TEST(ReeltextRoundTrip, RandomReelsComeBackByteForByte) {
  std::mt19937_64 random(1401);
  struct Choice {
    std::vector<std::string> options;
    const bcd::CodeTable& table;
  };
  const std::vector<Choice> arrangements = {{{}, bcd::bcd_to_ascii_a},
                                            {{"--fortran"}, bcd::bcd_to_ascii_h},
                                            {{"-o"}, bcd::bcd_to_ascii_old}};
  for (const Framing framing : {Framing::simh, Framing::e11}) {
    for (const Choice& arrangement : arrangements) {
      const Reel reel = random_reel(random, framing, arrangement.table);
      std::vector<std::string> args = arrangement.options;
      if (framing == Framing::e11) args.push_back("--e11");
      args.push_back("in");
      std::vector<std::string> back_args = args;
      back_args.insert(back_args.begin(), "-r");
      for (const Way& way : every_way()) {
        const std::string name = way_name(way) + ", " + back_args[1];
        const Result there = reeltext(args, text(reel.image), way);
        ASSERT_EQ(there.status, 0) << there.err << name;
        ASSERT_TRUE(there.out == reel.text) << name;
        const Result back = reeltext(back_args, there.out, way);
        ASSERT_EQ(back.status, 0) << back.err << name;
        ASSERT_TRUE(back.out == text(reel.image)) << name;
      }
    }
  }
}

// Each break ends the run: the lines of the whole records before it, its message, its status.
TEST(ReeltextText, ABrokenImageStopsAfterTheWholeRecordsBeforeIt) {
  // A card of 10 bytes, and what follows it.
  const auto after_card = [] { return ImageBuilder().record(codes("AB")); };
  const Bytes long_data(10'000, 49);
  struct Case {
    std::vector<std::string> args;
    Bytes image;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{},
       after_card().count(80).raw(codes("XYZ")).bytes(),
       3,
       "file 1 record 2 at 10: cut short in its data, 3 of 80 bytes there"},
      {{},
       after_card().count(10'000).raw(Bytes(9'000, 49)).bytes(),
       3,
       "file 1 record 2 at 10: cut short in its data, 9000 of 10000 bytes there"},
      {{},
       after_card().count(3).raw(codes("ABC")).bytes(),
       4,
       "file 1 record 2 at 10: cut short before its pad byte"},
      {{},
       after_card().count(2).raw(codes("CD")).raw(Bytes{2, 0}).bytes(),
       4,
       "file 1 record 2 at 10: cut short in its trailing count, 2 of 4 bytes there"},
      {{},
       after_card().count(2).raw(codes("CD")).count(3).bytes(),
       4,
       "file 1 record 2 at 10: leading count 2, trailing count 3"},
      {{},
       after_card().count(10'000).raw(long_data).count(3).bytes(),
       4,
       "file 1 record 2 at 10: leading count 10000, trailing count 3"},
      // simh's framing read as E11: the pad byte taken for the trailing count's first.
      {{"-e"},
       after_card().record(codes("ABC")).bytes(),
       4,
       "file 1 record 2 at 10: leading count 3, trailing count 768"},
      {{},
       after_card().raw(Bytes{1, 2}).bytes(),
       3,
       "2 stray bytes at offset 10, where a count should begin: text has no line for them"},
      {{},
       after_card().count(0xFFFFFFFF).bytes(),
       3,
       "an end-of-medium marker at offset 10: text has no line for it"},
      {{},
       after_card().record(Bytes{49, 0x7F, 50}).bytes(),
       3,
       "file 1 record 2 at 10: byte 0x7F at offset 15 is above 63: no character "
       "(-s writes its low six bits)"},
      {{},
       after_card().tape_mark().record(Bytes(9'000, 49) + Bytes{0x80}).bytes(),
       3,
       "file 2 record 1 at 14: byte 0x80 at offset 9018 is above 63: no character "
       "(-s writes its low six bits)"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("in");
    // The text before the break: the first card, and the tape mark after it if there is one.
    const std::string before = c.image[10] == 0 && c.image[11] == 0 ? "AB\n\n" : "AB\n";
    for (const Way& way : every_way()) {
      const Result result = reeltext(args, text(c.image), way);
      EXPECT_EQ(result.status, c.status) << c.err << ", " << way_name(way);
      EXPECT_EQ(result.out, before) << c.err << ", " << way_name(way);
      EXPECT_EQ(result.err, "reeltext: in: " + c.err + "\n") << way_name(way);
    }
  }
}

// Wherever it stands in a record, in a block, a word or the bytes after them.
TEST(ReeltextText, EveryByteAbove63IsFound) {
  for (std::size_t at = 0; at < 200; ++at) {
    Bytes data(200, 63);
    data[at] = static_cast<std::uint8_t>(64 << (at % 2));
    const Bytes image = ImageBuilder().record(data).bytes();
    for (const bcd::KernelId kernel : bcd::kernels_here()) {
      const Result result = reeltext({"in"}, text(image), {kernel});
      EXPECT_EQ(result.status, 3) << at;
      EXPECT_EQ(result.err, "reeltext: in: file 1 record 1 at 0: byte 0x" +
                                std::string(at % 2 == 0 ? "40" : "80") + " at offset " +
                                std::to_string(4 + at) +
                                " is above 63: no character (-s writes its low six bits)\n");
    }
  }
}

TEST(ReeltextText, AReadThatFailsStopsAfterTheWholeRecordsRead) {
  const Bytes image = ImageBuilder().record(codes("AB")).record(codes("CD")).bytes();
  for (Way way : every_way()) {
    way.fail_at_end = true;
    for (const bool reverse : {false, true}) {
      const Result result =
          reverse ? reeltext({"-r", "in"}, "AB\nCD\nEF", way) : reeltext({"in"}, text(image), way);
      EXPECT_EQ(result.status, 3) << way_name(way);
      // The last line without a newline is not known to be whole.
      EXPECT_EQ(result.out, reverse ? text(image) : "AB\nCD\n") << way_name(way);
      const std::string said = reverse ? "reeltext: in: read error at offset 8"
                                       : "reeltext: in: read error at offset 20";
      EXPECT_EQ(result.err.substr(0, said.size()), said) << result.err << way_name(way);
    }
  }
}

TEST(ReeltextImage, ABadCharacterStopsAfterTheWholeRecordsBeforeIt) {
  struct Case {
    std::vector<std::string> args;
    std::string text;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{}, "AB\n\nxY\n", "line 3, column 1: 'x' is not in print arrangement A"},
      {{}, "AB\n\nA\xC3\xA9\n", "line 3, column 2: byte 0xC3 is not in print arrangement A"},
      {{}, "AB\n\nA\tB\n", "line 3, column 2: byte 0x09 is not in print arrangement A"},
      {{}, "AB\n\nA\rB\n", "line 3, column 2: byte 0x0D is not in print arrangement A"},
      {{}, "AB\n\nAB\r", "line 3, column 3: byte 0x0D is not in print arrangement A"},
      {{"-h"}, "AB\n\n#\n", "line 3, column 1: '#' is not in print arrangement H"},
      {{"-o"}, "AB\n\n~\n", "line 3, column 1: '~' is not in print arrangement 'old simh'"},
      {{},
       "AB\n\n" + std::string(10'000, 'A') + "a\n",
       "line 3, column 10001: 'a' is not in print arrangement A"},
      {{"-w", "9000"},
       "AB\n\n" + std::string(100, 'A') + "\n" + std::string(10'000, 'A') + "a\n",
       "line 4, column 10001: 'a' is not in print arrangement A"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-r"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("in");
    ImageBuilder before;
    before.record(codes(c.args.empty() || c.args[0] != "-w" ? "AB" : "AB" + std::string(8998, ' ')))
        .tape_mark();
    if (!c.args.empty() && c.args[0] == "-w")
      before.record(codes(std::string(100, 'A') + std::string(8900, ' ')));
    for (const Way& way : every_way()) {
      const Result result = reeltext(args, c.text, way);
      EXPECT_EQ(result.status, 3) << c.err << ", " << way_name(way);
      EXPECT_TRUE(result.out == text(before.bytes())) << c.err << ", " << way_name(way);
      EXPECT_EQ(result.err, "reeltext: in: " + c.err + "\n") << way_name(way);
    }
  }
}

TEST(ReeltextCommandLine, ABadOneSaysSoWithStatusOne) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"-x"}, "unknown option '-x'"},
      {{"--wide"}, "unknown option '--wide'"},
      {{"--help=1"}, "option '--help' takes no value"},
      {{"--reverse=yes"}, "option '--reverse' takes no value"},
      {{"-r", "-w"}, "option '-w' needs a value"},
      {{"--files"}, "option '--files' needs a value"},
      {{"-r", "-w", "0"}, "invalid width '0': give 1 to 4294967295 characters"},
      {{"-r", "--width=4294967296"}, "invalid width '4294967296': give 1 to 4294967295 characters"},
      {{"-r", "-w", "8x"}, "invalid width '8x': give 1 to 4294967295 characters"},
      {{"-f", "0"}, "invalid tape files '0': give N, N-M or N- (from 1)"},
      {{"-f", "3-2"}, "invalid tape files '3-2': give N, N-M or N- (from 1)"},
      {{"-f", "-2"}, "invalid tape files '-2': give N, N-M or N- (from 1)"},
      {{"-w", "5", "in"}, "option '-w' builds images: only with -r"},
      {{"-r", "-s", "in"}, "option '-s' reads images: not with -r"},
      {{"--files=2", "-r", "in"}, "option '--files' reads images: not with -r"},
      {{"in", "out"}, "extra operand 'out'"},
  };
  for (const auto& [args, complaint] : bad) {
    const Result result = reeltext(args, "");
    EXPECT_EQ(result.status, 1) << complaint;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "reeltext: " + complaint + "\nTry 'reeltext --help' for more information.\n");
  }
}

TEST(ReeltextCommandLine, HelpAndVersion) {
  const Result help = reeltext({"-r", "--help", "-x"}, "");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: reeltext [OPTION]... [IMAGE]\n", 0), 0u);
  for (const char* option :
       {"-r, --reverse", "-e, --e11", "-h, --fortran", "-o, --old-simh", "-f, --files=N[-M]",
        "-s, --six-bits", "-w, --width=N", "--help", "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  std::istringstream lines(help.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  const Result version = reeltext({"--version"}, "");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "reeltext (reelprint) " REELPRINT_VERSION "\n");
}

TEST(ReeltextCommandLine, AnInputThatCantBeOpenedIsStatusTwo) {
  const Result result = reeltext({"-r", "missing.txt"}, "");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "reeltext: cannot open missing.txt: No such file or directory\n");
}

TEST(ReeltextOutput, AFailedWriteIsStatusFive) {
  ImageBuilder image;
  std::string lines;
  for (int k = 0; k < 5'000; ++k) {
    image.record(codes("ABCDEFGHI"));
    lines += "ABCDEFGHI\n";
  }
  for (Way way : every_way()) {
    way.fail_after = 1000;
    for (const auto& [args, input] :
         {std::pair{std::vector<std::string>{"in"}, text(image.bytes())},
          {{"-r", "in"}, lines},
          {{"-r", "in"}, std::string(20'000, 'A')},
          {{"--help"}, ""}}) {
      const Result result = reeltext(args, input, way);
      EXPECT_EQ(result.status, 5) << way_name(way);
      EXPECT_EQ(result.err, "reeltext: error writing standard output: No space left on device\n");
    }
  }
}

TEST(ReeltextOutput, AFailedTemporaryFileIsStatusFive) {
  const char* const was = std::getenv("TMPDIR");
  const std::string kept = was != nullptr ? was : "";
  ::setenv("TMPDIR", "/nonexistent-reeltext-test", 1);
  const Way way{bcd::best_kernel(), false, static_cast<std::size_t>(-1), 0, 4096, 100};
  const Result to_image = reeltext({"-r", "in"}, std::string(20'000, 'A') + "\n", way);
  const Result to_text =
      reeltext({"in"}, text(ImageBuilder().record(Bytes(20'000, 49)).bytes()), way);
  if (was != nullptr)
    ::setenv("TMPDIR", kept.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  for (const Result& result : {to_image, to_text}) {
    EXPECT_EQ(result.status, 5);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "reeltext: error writing a temporary file: No such file or directory\n");
  }
}

}  // namespace
}  // namespace reelprint
