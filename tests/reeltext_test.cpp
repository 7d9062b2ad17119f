// reeltext in-process: the text of small images worked out from the arrangement tables, random
// reels there and back byte for byte (every framing, arrangement and kernel, seekable output
// or not, large buffers or tiny ones), bytes above 63 and each bad text with its message and
// status, and the command line. Broken images are in breaks_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
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

namespace reel::reelprint {
namespace {

using bcd::Arrangement;
using tape_image::Framing;
using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;
using testing::Collect;
using testing::good_image;
using testing::operator+;

// How a run goes about it: what it writes must not depend on any of this.
struct Way {
  bcd::KernelId kernel = bcd::best_kernel();
  bool seekable = false;                                     // the output
  std::size_t most_per_read = static_cast<std::size_t>(-1);  // of the input, as a pipe may
  std::size_t read_size = 0;
  std::size_t buffer_size = RecordWriter::default_buffer_size;
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
  bool ever_bad = false;  // an image written was not a good one at some moment
};

// Runs reeltext with `args` on `input`, named "in" ("-" is the same input), from `source` if
// given.
Result reeltext(std::vector<std::string> args, const std::string& input, const Way& way = {},
                std::unique_ptr<tape_image::InputSource> source = nullptr) {
  const bool to_image = std::find(args.begin(), args.end(), "-r") != args.end();
  const bool e11 = std::find(args.begin(), args.end(), "-e") != args.end();
  // good_image reads simh and E11 alone: an image of another format is checked once written.
  const bool other_format = std::any_of(args.begin(), args.end(), [](const std::string& arg) {
    return arg.starts_with("--format=");
  });
  args.insert(args.begin(), "reeltext");
  const auto open = [&](const std::string& name) -> std::unique_ptr<tape_image::InputSource> {
    if (name != "in" && name != "-") {
      errno = ENOENT;
      return nullptr;
    }
    if (source) return std::move(source);
    return std::make_unique<tape_image::MemorySource>(
        std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()),
        way.most_per_read, way.fail_at_end);
  };
  std::function<bool(const std::string&)> good;  // an image that can be cut, after every change
  if (to_image && way.seekable && !other_format)
    good = [framing = e11 ? Framing::e11 : Framing::simh](const std::string& bytes) {
      return good_image(bytes, framing);
    };
  Collect out({.seekable = way.seekable, .limit = way.fail_after, .good = good});
  Collect err;
  const int status = reeltext::run(args, open, out, err,
                                   {way.kernel, way.read_size, way.buffer_size, way.hold_memory});
  return {status, out.text, err.text, out.ever_bad};
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
  const auto three_files = [] {
    return ImageBuilder()
        .record(codes("A"))
        .tape_mark()
        .record(codes("B"))
        .tape_mark()
        .record(codes("C"));
  };
  struct Case {
    std::vector<std::string> args;
    Bytes image;
    std::string text;
    std::string err = "";
  };
  const std::vector<Case> cases = {
      {{"in"}, {}, ""},
      {{"in"}, ImageBuilder().record(codes("HELLO")).tape_mark().bytes(), "HELLO\ntape mark\n"},
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
       "tape mark\nA\ntape mark\ntape mark\nB\n"},
      // An odd-length record: its pad byte in simh, none in E11.
      {{"in"},
       ImageBuilder(Framing::simh).record(codes("ABC")).record(codes("D")).bytes(),
       "ABC\nD\n"},
      {{"-e", "in"},
       ImageBuilder(Framing::e11).record(codes("ABC")).record(codes("D")).bytes(),
       "ABC\nD\n"},
      // simh's control words: a bad record after the line that says so, an erase gap, the
      // end-of-medium marker.
      {{"in"},
       ImageBuilder()
           .bad_record(codes("ABC"))
           .count(0xFFFF'FFFE)
           .record(codes("D"))
           .tape_mark()
           .count(0xFFFF'FFFF)
           .bytes(),
       "bad record\nABC\nerase gap\nD\ntape mark\nend of medium\n"},
      {{"-e", "in"},
       ImageBuilder(Framing::e11).bad_record(codes("ABC")).bytes(),
       "bad record\nABC\n"},
      // Tape files picked; erase gaps and bad records of the others passed over.
      {{"-f", "2", "in"}, three_files().bytes(), "B\ntape mark\n"},
      {{"--files=2-", "in"}, three_files().bytes(), "B\ntape mark\nC\n"},
      {{"-f2", "in"},
       ImageBuilder()
           .bad_record(codes("A"))
           .count(0xFFFF'FFFE)
           .tape_mark()
           .count(0xFFFF'FFFE)
           .bad_record(codes("B"))
           .tape_mark()
           .bytes(),
       "erase gap\nbad record\nB\ntape mark\n"},
      {{"-f1-2", "in"},
       ImageBuilder()
           .record(codes("A"))
           .tape_mark()
           .tape_mark()
           .record(codes("C"))
           .tape_mark()
           .bytes(),
       "A\ntape mark\ntape mark\n"},
      // Past the tape files there are: said, and nothing written.
      {{"-f", "4", "in"}, three_files().bytes(), "", "the image ends before tape file 4"},
      {{"-f", "3-5", "in"}, three_files().bytes(), "C\n", "the image ends before tape file 4"},
      {{"-f", "3", "in"},
       ImageBuilder().record(codes("A")).tape_mark().tape_mark().bytes(),
       "",
       "the image ends before tape file 3"},
      {{"-f", "4-", "in"}, three_files().bytes(), "", "the image ends before tape file 4"},
      // A byte above 63 by its low six bits: 0xC1 as code 1, 0x40 as the blank.
      {{"-s", "in"}, ImageBuilder().record(Bytes{0xC1, 0x40, 49}).bytes(), "1 A\n"},
  };
  for (const Case& c : cases) {
    for (const Way& way : every_way()) {
      const Result result = reeltext(c.args, text(c.image), way);
      EXPECT_EQ(result.status, 0) << c.text << ", " << way_name(way);
      EXPECT_EQ(result.out, c.text) << c.args.front() << ", " << way_name(way);
      EXPECT_EQ(result.err, c.err.empty() ? "" : "reeltext: in: " + c.err + "\n");
    }
  }
}

// The tape files before those asked for are passed over by seeking in the input: a record of
// 2 GiB costs no reading.
TEST(ReeltextText, TapeFilesBeforeThoseAskedForAreSoughtOver) {
  constexpr std::uint64_t size = 0x7FFF'FFFE;
  // Serves an image of one record of 2 GiB, a tape mark and a card; counts the bytes read.
  class LongRecord final : public tape_image::InputSource {
   public:
    explicit LongRecord(std::uint64_t& read) : read_(read) {
      head_ = ImageBuilder().count(size).bytes();
      tail_ = ImageBuilder().count(size).tape_mark().record(codes("AB")).bytes();
    }
    std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override {
      std::size_t k = 0;
      for (; k < n && at_ < known_size(); ++k, ++at_)
        buf[k] = at_ < 4 ? head_[at_] : at_ < 4 + size ? 49 : tail_[at_ - 4 - size];
      read_ += k;
      return static_cast<std::ptrdiff_t>(k);
    }
    std::uint64_t known_size() const override { return 4 + size + tail_.size(); }
    std::uint64_t skip(std::uint64_t n) override {
      const std::uint64_t step = std::min(n, known_size() - at_);
      at_ += step;
      return step;
    }

   private:
    std::uint64_t& read_;
    Bytes head_, tail_;
    std::uint64_t at_ = 0;
  };
  std::uint64_t read = 0;
  const Result result = reeltext({"-f", "2", "in"}, "", {}, std::make_unique<LongRecord>(read));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "AB\n");
  EXPECT_LT(read, std::uint64_t{4} << 20);
}

TEST(ReeltextImage, LinesBuildTheirRecords) {
  const auto blanks = [](std::size_t n) { return Bytes(n, 0); };
  struct Case {
    std::vector<std::string> args;
    std::string text;
    Bytes image;
  };
  const std::vector<Case> cases = {
      {{"-r", "in"}, "", {}},
      {{"-r", "in"},
       "HELLO\ntape mark\nA B~\n",
       ImageBuilder().record(codes("HELLO")).tape_mark().record(Bytes{49, 0, 50, 29}).bytes()},
      // An empty line is a tape mark still, as texts have had it.
      {{"-r", "in"},
       "HELLO\n\nA\n",
       ImageBuilder().record(codes("HELLO")).tape_mark().record(codes("A")).bytes()},
      // A last line without a newline; carriage returns before newlines dropped; a byte-order
      // mark at the start passed over.
      {{"-r", "in"},
       "\xEF\xBB\xBF"
       "AB\r\ntape mark\r\nCD",
       ImageBuilder().record(codes("AB")).tape_mark().record(codes("CD")).bytes()},
      // The lines of words, blanks around them, the last without a newline.
      {{"-r", "in"},
       "  tape mark \t\r\n\terase gap\nbad record\nABC\nbad record \n \nend of medium",
       ImageBuilder()
           .tape_mark()
           .count(0xFFFF'FFFE)
           .bad_record(codes("ABC"))
           .bad_record(blanks(1))
           .count(0xFFFF'FFFF)
           .bytes()},
      // A line of words across two blocks of the scan.
      {{"-r", "in"},
       std::string(60, 'A') + "\n  tape mark\n",
       ImageBuilder().record(codes(std::string(60, 'A'))).tape_mark().bytes()},
      {{"-r", "-e", "in"},
       "ABC\nbad record\nD\n",
       ImageBuilder(Framing::e11).record(codes("ABC")).bad_record(codes("D")).bytes()},
      {{"-r", "in"}, "ABC\n", ImageBuilder(Framing::simh).record(codes("ABC")).bytes()},
      {{"-rh", "in"}, "='\n", ImageBuilder().record(Bytes{11, 12}).bytes()},
      {{"-r", "-o", "in"}, "=(\"\n", ImageBuilder().record(Bytes{29, 15, 63}).bytes()},
      // Padded with blanks to the width, an empty line too; a longer line as it is; a line of
      // words stays one.
      {{"-r", "-w", "5", "in"},
       "AB\n\nABCDEF\ntape mark\nbad record\nC\nABCDE",
       ImageBuilder()
           .record(codes("AB   "))
           .record(blanks(5))
           .record(codes("ABCDEF"))
           .tape_mark()
           .bad_record(codes("C    "))
           .record(codes("ABCDE"))
           .bytes()},
      // Blank cards an editor stripped stay cards under -w.
      {{"-r", "-w", "80", "in"},
       "     JOB  X\n\n     END  X\n\n\n",
       ImageBuilder()
           .record(codes("     JOB  X") + blanks(69))
           .record(blanks(80))
           .record(codes("     END  X") + blanks(69))
           .record(blanks(80))
           .record(blanks(80))
           .bytes()},
      {{"-r", "--width=9000", "in"},
       "A\n",
       ImageBuilder().record(codes("A") + Bytes(8999, 0)).bytes()},
  };
  for (const Case& c : cases) {
    for (const Way& way : every_way()) {
      const Result result = reeltext(c.args, c.text, way);
      EXPECT_EQ(result.status, 0) << c.text << ", " << way_name(way) << result.err;
      EXPECT_EQ(result.out, text(c.image)) << c.text << ", " << way_name(way);
      EXPECT_EQ(result.err, "");
      EXPECT_FALSE(result.ever_bad) << c.text;
    }
  }
}

// A reel of random records of every code, most short, some past the tiny buffers, one past the
// default one, with tape marks, bad records and erase gaps among them and at times the
// end-of-medium marker at the end, in `framing`; and its text, worked out from `table`. Of
// them, only what `carried` says a format carries.
struct Reel {
  Bytes image;
  std::string text;
  std::uint64_t zero_codes = 0;  // the codes 0 in its records
};
struct Carried {
  bool control_words = true;  // erase gaps and the end-of-medium marker
  bool bad_records = true;
  std::size_t longest = 300'000;  // the longest record, which one record is
  bool lone_code_15 = true;       // a record of code 15 alone (else it is code 16)
};
Reel random_reel(std::mt19937_64& random, Framing framing, const bcd::CodeTable& table,
                 const Carried& carried = {}) {
  ImageBuilder reel(framing);
  std::string lines;
  std::uint64_t zero_codes = 0;
  std::uniform_int_distribution<int> kind(0, 19);
  std::uniform_int_distribution<int> code(0, 63);
  for (int item = 0; item < 120; ++item) {
    const int k = item == 60 ? -1 : kind(random);
    if (k == 0) {
      reel.tape_mark();
      lines += "tape mark\n";
      continue;
    }
    if (k == 1 && carried.control_words) {
      reel.count(0xFFFF'FFFE);
      lines += "erase gap\n";
      continue;
    }
    const std::size_t most = std::min<std::size_t>(k < 0   ? 300'000
                                                   : k < 4 ? 20'000
                                                           : 200,
                                                   carried.longest);
    Bytes data(std::uniform_int_distribution<std::size_t>(k < 0 ? most : 1, most)(random));
    for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(code(random));
    if (data == Bytes{15} && !carried.lone_code_15) data[0] = 16;
    zero_codes += static_cast<std::uint64_t>(std::count(data.begin(), data.end(), 0));
    if (k == 2 && carried.bad_records) {
      reel.bad_record(data);
      lines += "bad record\n";
    } else {
      reel.record(data);
    }
    lines += characters(data, table) + '\n';
  }
  if (kind(random) < 10 && carried.control_words) {
    reel.count(0xFFFF'FFFF);
    lines += "end of medium\n";
  }
  return {reel.bytes(), lines, zero_codes};
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
      if (framing == Framing::e11) args.push_back("-e");
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
        ASSERT_FALSE(back.ever_bad) << name;
      }
    }
  }
}

// What reeltext says after writing `n` codes 0 to an even-parity dump.
std::string zero_note(std::uint64_t n) {
  return "reeltext: in: " + std::to_string(n) + (n == 1 ? " frame" : " frames") +
         " of code 0 written to an even-parity dump, which no tape in BCD mode can carry (a "
         "1401 tape holds the blank as code 16)\n";
}

// Text to each format and back through reeltext --format: the same text, of what the format
// carries.
TEST(ReeltextRoundTrip, TextComesBackThroughEveryFormat) {
  std::mt19937_64 random(1402);
  const Carried counts_alone{false, false, 65'535, true};
  const Carried frames{false, true, 300'000, false};
  const std::vector<std::pair<std::vector<std::string>, Carried>> formats = {
      {{"--format=simh"}, {}},
      {{"--format=e11"}, {}},
      {{"--format=simh-be"}, {}},
      {{"--format=tpc"}, counts_alone},
      {{"--format=tpc-nopad"}, counts_alone},
      {{"--format=p7b"}, frames},
      {{"--format=p7b", "--parity=odd"}, frames},
      {{"--format=p7b", "--parity=none"}, {false, false, 300'000, false}},
  };
  for (const auto& [options, carried] : formats) {
    const Reel reel = random_reel(random, Framing::simh, bcd::bcd_to_ascii_a, carried);
    std::vector<std::string> back = options;
    back.push_back("in");
    std::vector<std::string> there = back;
    there.insert(there.begin(), "-r");
    // Even parity is the default.
    const bool even_dump = options == std::vector<std::string>{"--format=p7b"};
    for (const Way& way : every_way()) {
      const std::string name = way_name(way) + ", " + options.back();
      const Result image = reeltext(there, reel.text, way);
      ASSERT_EQ(image.status, 0) << image.err << name;
      ASSERT_EQ(image.err, even_dump ? zero_note(reel.zero_codes) : "") << name;
      const Result text = reeltext(back, image.out, way);
      ASSERT_EQ(text.status, 0) << text.err << name;
      ASSERT_TRUE(text.out == reel.text) << name;
    }
  }
}

// A byte above 63 ends the run as a break does: the lines of the whole records before it, its
// message, status 3. (Breaks of the framing are in breaks_test.)
TEST(ReeltextText, AByteAbove63StopsAfterTheWholeRecordsBeforeIt) {
  const auto after_card = [] { return ImageBuilder().record(codes("AB")); };
  struct Case {
    Bytes image;
    std::string err;
    std::string before;  // the text written
  };
  const std::vector<Case> cases = {
      {after_card().record(Bytes{49, 0x7F, 50}).bytes(),
       "file 1 record 2 at 10: byte 0x7F at offset 15 is above 63: no character "
       "(-s writes its low six bits)",
       "AB\n"},
      {after_card().tape_mark().record(Bytes(9'000, 49) + Bytes{0x80}).bytes(),
       "file 2 record 1 at 14: byte 0x80 at offset 9018 is above 63: no character "
       "(-s writes its low six bits)",
       "AB\ntape mark\n"},
  };
  for (const Case& c : cases) {
    for (const Way& way : every_way()) {
      const Result result = reeltext({"in"}, text(c.image), way);
      EXPECT_EQ(result.status, 3) << c.err << ", " << way_name(way);
      EXPECT_EQ(result.out, c.before) << c.err << ", " << way_name(way);
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

// A record cut short that holds a byte above 63 in the data there is told by that byte, however
// the data comes: in one read, or a few bytes at a time, the end of the input found first.
TEST(ReeltextText, AByteAbove63InARecordCutShortIsToldHoweverTheDataComes) {
  for (const std::size_t at : {0, 100, 190}) {
    Bytes data(200, 49);  // of 300
    data[at] = 0x40;
    const Bytes image = ImageBuilder().count(300).raw(data).bytes();
    for (const Way& way : every_way()) {
      const Result result = reeltext({"in"}, text(image), way);
      EXPECT_EQ(result.status, 3) << way_name(way);
      EXPECT_EQ(result.err, "reeltext: in: file 1 record 1 at 0: byte 0x40 at offset " +
                                std::to_string(4 + at) +
                                " is above 63: no character (-s writes its low six bits)\n")
          << at << ", " << way_name(way);
    }
  }
}

// A text whose read fails (an image's: breaks_test).
TEST(ReeltextImage, AReadThatFailsStopsAfterTheWholeRecordsRead) {
  const Bytes image = ImageBuilder().record(codes("AB")).record(codes("CD")).bytes();
  for (Way way : every_way()) {
    way.fail_at_end = true;
    const Result result = reeltext({"-r", "in"}, "AB\nCD\nEF", way);
    EXPECT_EQ(result.status, 3) << way_name(way);
    // The last line without a newline is not known to be whole.
    EXPECT_EQ(result.out, text(image)) << way_name(way);
    const std::string said = "reeltext: in: read error at offset 8";
    EXPECT_EQ(result.err.substr(0, said.size()), said) << result.err << way_name(way);
  }
}

TEST(ReeltextImage, ABadLineStopsAfterTheWholeRecordsBeforeIt) {
  const auto before = [] { return ImageBuilder().record(codes("AB")).tape_mark(); };
  const std::string long_a(10'000, 'A');
  struct Case {
    std::vector<std::string> args;
    std::string text;  // after "AB" and a tape mark
    std::string err;
    Bytes image = {};  // what is written, if not "AB" and a tape mark
  };
  const std::vector<Case> cases = {
      {{}, "xY\n", "line 3, column 1: 'x' is not in print arrangement A"},
      {{}, "A\xC3\xA9\n", "line 3, column 2: byte 0xC3 is not in print arrangement A"},
      {{}, "A\tB\n", "line 3, column 2: byte 0x09 is not in print arrangement A"},
      {{}, "A\rB\n", "line 3, column 2: byte 0x0D is not in print arrangement A"},
      {{}, "AB\r", "line 3, column 3: byte 0x0D is not in print arrangement A"},
      {{"-h"}, "#\n", "line 3, column 1: '#' is not in print arrangement H"},
      {{"-o"}, "~\n", "line 3, column 1: '~' is not in print arrangement 'old simh'"},
      {{}, long_a + "a\n", "line 3, column 10001: 'a' is not in print arrangement A"},
      {{"-w", "9000"},
       std::string(100, 'A') + "\n" + long_a + "a\n",
       "line 4, column 10001: 'a' is not in print arrangement A",
       ImageBuilder()
           .record(codes("AB" + std::string(8998, ' ')))
           .tape_mark()
           .record(codes(std::string(100, 'A') + std::string(8900, ' ')))
           .bytes()},
      // Lines that are no lines of words.
      {{}, "tape marks\n", "line 3, column 1: 't' is not in print arrangement A"},
      {{}, " A tape mark\n", "line 3, column 4: 't' is not in print arrangement A"},
      {{}, "Tape mark\n", "line 3, column 2: 'a' is not in print arrangement A"},
      {{},
       std::string(60, ' ') + "tape mark\n",
       "line 3, column 61: 't' is not in print arrangement A"},
      // Lines of words out of place.
      {{}, "bad record\n", "line 3 says 'bad record', but no record's line follows it"},
      {{}, "bad record\ntape mark\n", "line 3 says 'bad record', but no record's line follows it"},
      {{},
       "bad record\nbad record\nA\n",
       "line 3 says 'bad record', but no record's line follows it"},
      {{}, "bad record\n\n", "line 3 says 'bad record', but no record's line follows it"},
      {{},
       "end of medium\nCD\n",
       "line 4 follows the end of the medium (line 3)",
       before().count(0xFFFF'FFFF).bytes()},
      {{},
       "end of medium\ntape mark\n",
       "line 4 follows the end of the medium (line 3)",
       before().count(0xFFFF'FFFF).bytes()},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-r"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("in");
    for (const Way& way : every_way()) {
      const Result result = reeltext(args, "AB\ntape mark\n" + c.text, way);
      EXPECT_EQ(result.status, 3) << c.err << ", " << way_name(way);
      EXPECT_TRUE(result.out == text(c.image.empty() ? before().bytes() : c.image))
          << c.err << ", " << way_name(way);
      EXPECT_EQ(result.err, "reeltext: in: " + c.err + "\n") << way_name(way);
      EXPECT_FALSE(result.ever_bad) << c.err;
    }
  }
}

// A line that outgrew the output room, its record handed to the writer, then a byte of no
// character: refused at its column, as in a short line, and nothing of the record kept.
TEST(ReeltextImage, AByteOfNoCharacterAfterALongLineIsRefused) {
  for (const std::size_t length : {3'000, 200'000}) {
    const std::string line = std::string(length, 'A') + "x\n";
    for (const Way& way : every_way()) {
      const Result result = reeltext({"-r", "in"}, "AB\n" + line, way);
      EXPECT_EQ(result.status, 3) << length << ", " << way_name(way);
      EXPECT_TRUE(result.out == text(ImageBuilder().record(codes("AB")).bytes()))
          << length << ", " << way_name(way);
      EXPECT_EQ(result.err, "reeltext: in: line 2, column " + std::to_string(length + 1) +
                                ": 'x' is not in print arrangement A\n");
      EXPECT_FALSE(result.ever_bad);
    }
  }
}

// Each format's bytes laid out by hand. In arrangement A, A is code 0x31, B 0x32, C 0x33 and
// '{' 0x0F. A P7B frame is its code with bit 6 set where that makes the seven bits' ones even
// (odd under --parity=odd; none frames as even), bit 7 on a record's first frame, and 0x8F a
// tape mark and the closing record start after the last record.
TEST(ReeltextImage, EachFormatLaysOutTheItemsOfItsText) {
  const std::string cards = "AB\nC\ntape mark\n";
  struct Case {
    std::vector<std::string> args;
    std::string text;
    Bytes image;
    std::string err = "";
  };
  const std::vector<Case> cases = {
      {{"--format=simh"}, cards, {2, 0, 0,    0, 0x31, 0x32, 2, 0, 0, 0, 1, 0,
                                  0, 0, 0x33, 0, 1,    0,    0, 0, 0, 0, 0, 0}},
      {{"--format=e11"}, cards, {2, 0, 0,    0, 0x31, 0x32, 2, 0, 0, 0, 1, 0,
                                 0, 0, 0x33, 1, 0,    0,    0, 0, 0, 0, 0}},
      // Most significant byte first, simh's control words too.
      {{"--format=simh-be"},
       cards + "bad record\nC\nerase gap\nend of medium\n",
       {0,    0, 0,    2, 0x31, 0x32, 0,    0,    0,    2,    0,    0,    0,    1,
        0x33, 0, 0,    0, 0,    1,    0,    0,    0,    0,    0x80, 0,    0,    1,
        0x33, 0, 0x80, 0, 0,    1,    0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF}},
      // A 16-bit count before the data and none after.
      {{"--format=tpc"}, cards, {2, 0, 0x31, 0x32, 1, 0, 0x33, 0, 0, 0}},
      {{"--format=tpc-nopad"}, cards, {2, 0, 0x31, 0x32, 1, 0, 0x33, 0, 0}},
      {{"--format=tpc"},
       std::string(65'535, 'A') + "\n",
       Bytes{0xFF, 0xFF} + Bytes(65'535, 0x31) + Bytes{0}},
      {{"--format=p7b"}, cards, {0xF1, 0x72, 0xB3, 0x8F, 0x8F}},
      {{"--format=p7b", "--parity=none"}, cards, {0xF1, 0x72, 0xB3, 0x8F, 0x8F}},
      {{"--format=p7b", "--parity=odd"}, cards, {0xB1, 0x32, 0xF3, 0x8F, 0x8F}},
      {{"--format=p7b"}, "", {0x8F}},
      // A bad record: its first frame's parity bit turned over.
      {{"--format=p7b"}, "bad record\nC\n", {0xF3, 0x8F}},
      {{"--format=p7b", "--parity=odd"}, "bad record\nC\n", {0xB3, 0x8F}},
      {{"--format=p7b"},
       std::string(20'000, 'A') + "\n",
       Bytes{0xF1} + Bytes(19'999, 0x71) + Bytes{0x8F}},
      // Blanks, code 0, which an even-parity tape cannot carry: written, and counted.
      {{"--format=p7b"},
       "A B\n" + std::string(20'000, ' ') + "\n",
       Bytes{0xF1, 0x00, 0x72, 0x80} + Bytes(19'999, 0) + Bytes{0x8F},
       zero_note(20'001)},
      {{"--format=p7b", "--parity=odd"}, "A B\n", {0xB1, 0x40, 0x32, 0x8F}},
      // '{' padded is a record of two frames, no tape mark.
      {{"--format=p7b", "-w", "2"}, "{\n", {0x8F, 0x00, 0x8F}, zero_note(1)},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-r"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("in");
    for (const Way& way : every_way()) {
      const Result result = reeltext(args, c.text, way);
      EXPECT_EQ(result.status, 0) << c.args[0] << ", " << way_name(way) << result.err;
      EXPECT_TRUE(result.out == text(c.image)) << c.args[0] << ", " << way_name(way);
      EXPECT_EQ(result.err, c.err) << c.args[0];
    }
  }
}

// A line the format written cannot carry stops the run after the whole items before it (a
// dump then closed), as any bad line does.
TEST(ReeltextImage, ALineTheFormatCannotCarryIsRefused) {
  const Bytes tpc = {2, 0, 0x31, 0x32, 0, 0};  // "AB" and a tape mark
  const Bytes p7b = {0xF1, 0x72, 0x8F, 0x8F};
  struct Case {
    std::vector<std::string> args;
    std::string text;  // after "AB" and a tape mark
    std::string err;
    Bytes image;
  };
  const std::vector<Case> cases = {
      {{"--format=tpc"},
       std::string(65'536, 'A') + "\n",
       "line 3 is longer than 65535 characters, the most a TPC record holds",
       tpc},
      {{"--format=tpc-nopad"},
       "bad record\nC\n",
       "line 3 says 'bad record', which TPC cannot mark (its counts have no flag)",
       tpc},
      {{"--format=tpc"},
       "erase gap\n",
       "line 3 says 'erase gap', which TPC cannot carry (it has no control words)",
       tpc},
      {{"--format=tpc"},
       "end of medium\n",
       "line 3 says 'end of medium', which TPC cannot carry (it has no control words)",
       tpc},
      {{"--format=p7b"},
       "{\n",
       "line 3 is '{' alone, code 15, which a P7B dump reads as a tape mark",
       p7b},
      {{"--format=p7b", "--parity=odd"},
       "bad record\n{\n",
       "line 4 is '{' alone, code 15, which a P7B dump reads as a tape mark",
       {0xB1, 0x32, 0x8F, 0x8F}},
      {{"--format=p7b"},
       "erase gap\n",
       "line 3 says 'erase gap', which P7B cannot carry (it has no control words)",
       p7b},
      {{"--format=p7b"},
       "end of medium\n",
       "line 3 says 'end of medium', which P7B cannot carry (it has no control words)",
       p7b},
      {{"--format=p7b", "--parity=none"},
       "bad record\nC\n",
       "line 3 says 'bad record', which a dump without parity cannot mark",
       p7b},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-r"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("in");
    for (const Way& way : every_way()) {
      const Result result = reeltext(args, "AB\ntape mark\n" + c.text, way);
      EXPECT_EQ(result.status, 3) << c.err << ", " << way_name(way);
      EXPECT_TRUE(result.out == text(c.image)) << c.err << ", " << way_name(way);
      EXPECT_EQ(result.err, "reeltext: in: " + c.err + "\n") << way_name(way);
    }
  }
}

// TPC reserves no count: the placeholder of a long line's record is the largest, 65535. A line
// longer than that, refused, never stands in a regular file as a whole record of its first
// 65535 codes, wherever the blocks of the text and the output fall.
TEST(ReeltextImage, ALineTooLongForTpcNeverStandsAsAWholeRecord) {
  for (const std::size_t buffer : {4096, 6000}) {
    for (std::size_t before = 1; before <= 64; ++before) {
      const std::string input = std::string(before, 'A') + "\n" + std::string(70'000, 'B') + "\n";
      // The line before as a record, then the placeholder and 65535 codes.
      const std::size_t shorter_whole = 2 + before + 2 + 65'535;
      Collect out({.seekable = true, .good = [&](const std::string& bytes) {
                     return bytes.size() != shorter_whole;
                   }});
      Collect err;
      const auto open = [&](const std::string&) {
        return std::make_unique<tape_image::MemorySource>(
            std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()));
      };
      const int status = reeltext::run({"reeltext", "-r", "--format=tpc-nopad", "in"}, open, out,
                                       err, {bcd::best_kernel(), 4096, buffer, 100});
      EXPECT_EQ(status, 3);
      EXPECT_EQ(out.text.size(), 2 + before);
      EXPECT_FALSE(out.ever_bad) << before << " before, a buffer of " << buffer;
    }
  }
}

// A line of 2^31 characters would need a count that reads as a control word: refused, and
// nothing of it kept.
TEST(ReeltextImage, ALineTooLongForACountIsRefused) {
  if (REELPRINT_SANITIZED) GTEST_SKIP() << "2 GiB through the sanitizers take most of a minute";
  class Line final : public tape_image::InputSource {
   public:
    std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override {
      auto k = static_cast<std::size_t>(std::min<std::uint64_t>(n, left_));
      std::memset(buf, 'A', k);
      left_ -= k;
      if (left_ == 0 && k < n) buf[k++] = '\n';
      return static_cast<std::ptrdiff_t>(k);
    }

   private:
    std::uint64_t left_ = std::uint64_t{1} << 31;
  };
  Collect out({.seekable = true, .keep = false});  // only how long it is
  Collect err;
  const int status = reeltext::run(
      {"reeltext", "-r", "in"}, [](const std::string&) { return std::make_unique<Line>(); }, out,
      err);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(out.size, 0u);
  EXPECT_EQ(err.text,
            "reeltext: in: line 1 is longer than 2147483647 characters, the most a record holds\n");
}

// Whatever fails, an output that can be cut ends after its last whole record (or line).
TEST(ReeltextOutput, AFailedWriteIsStatusFiveAndLeavesWholeRecords) {
  ImageBuilder image;
  std::string lines;
  for (int k = 0; k < 5'000; ++k) {
    image.record(codes("ABCDEFGHI"));
    lines += "ABCDEFGHI\n";
  }
  const std::string long_line(20'000, 'A');
  const Bytes long_image = ImageBuilder().record(codes("AB")).record(Bytes(20'000, 49)).bytes();
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string whole;  // the whole output, of which a failed one keeps whole items
    std::size_t item;   // the bytes of each item
  };
  for (Way way : every_way()) {
    for (const std::size_t fail_after : {1000, 5000, 15'000}) {
      way.fail_after = fail_after;
      for (const Case& c : {Case{{"in"}, text(image.bytes()), lines, 10},
                            Case{{"-r", "in"}, lines, text(image.bytes()), 18},
                            Case{{"-r", "in"}, "AB\n" + long_line, text(long_image), 0},
                            Case{{"--help"}, "", "", 0}}) {
        if (c.args[0] == "--help" && fail_after > 1000) continue;  // the help is shorter
        const Result result = reeltext(c.args, c.input, way);
        EXPECT_EQ(result.status, 5) << way_name(way);
        EXPECT_EQ(result.err, "reeltext: error writing standard output: No space left on device\n");
        if (!way.seekable || c.whole.empty()) continue;
        EXPECT_EQ(c.whole.compare(0, result.out.size(), result.out), 0) << way_name(way);
        if (c.item != 0)
          EXPECT_EQ(result.out.size() % c.item, 0u) << way_name(way) << fail_after;
        else
          EXPECT_TRUE(result.out.empty() || result.out.size() == 10) << result.out.size();
      }
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
    EXPECT_EQ(result.err,
              "reeltext: cannot make a temporary file in /nonexistent-reeltext-test: No such file "
              "or directory\n");
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
      {{"-r", "-w", "0"}, "invalid width '0': give 1 to 2147483647 characters"},
      {{"-r", "--width=2147483648"}, "invalid width '2147483648': give 1 to 2147483647 characters"},
      {{"-r", "-w", "8x"}, "invalid width '8x': give 1 to 2147483647 characters"},
      {{"-f", "0"}, "invalid tape files '0': give N, N-M or N- (from 1)"},
      {{"-f", "3-2"}, "invalid tape files '3-2': give N, N-M or N- (from 1)"},
      {{"-f", "-2"}, "invalid tape files '-2': give N, N-M or N- (from 1)"},
      {{"-w", "5", "in"}, "option '-w' builds images: only with -r"},
      {{"-r", "--format=simh-tm8"},
       "with -r, simh-tm8 is read only: give simh, e11, simh-be, tpc, tpc-nopad or p7b"},
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
        "-s, --six-bits", "-w, --width=N", "--format=NAME", "--parity=P", "--help", "--version"})
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

}  // namespace
}  // namespace reel::reelprint
