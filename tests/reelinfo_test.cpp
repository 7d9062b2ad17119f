// reelinfo in-process: whole reports for images whose facts are worked out by hand, endings with
// their whole reports and status (the same as reelprint's; the end line of each break is in
// breaks_test), the framing hint both ways, several images, and the parts: the command line,
// the size tally, the spool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "reelinfo/json.h"
#include "reelinfo/options.h"
#include "reelinfo/run.h"
#include "reelinfo/size_tally.h"
#include "tests/json_check.h"
#include "tests/memory_run.h"
#include "tests/support.h"

namespace reel::reelprint {
namespace {

using reelinfo::SizeTally;
using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;
using testing::operator+;
using testing::repeat;

struct Images {
  std::vector<std::pair<std::string, Bytes>> named;
  bool fail_at_end = false;  // each read fails at the end of its bytes
};

// Runs reelinfo with `args` over images in memory; any other name can't be opened.
testing::Outcome reelinfo_run(std::vector<std::string> args, const Images& images,
                              std::size_t spool_memory = Hold::default_memory_limit) {
  args.insert(args.begin(), "reelinfo");
  testing::Collect out;
  testing::Collect err;
  const int status = reelinfo::run(
      args,
      [&](const std::string& name) -> std::unique_ptr<tape_image::InputSource> {
        for (const auto& [known, bytes] : images.named) {
          if (known == name)
            return std::make_unique<tape_image::MemorySource>(bytes, 5, images.fail_at_end);
        }
        errno = ENOENT;
        return nullptr;
      },
      out, err, spool_memory);
  return {status, out.text, err.text};
}

const Bytes two = codes("AB");
const Bytes three = codes("ABC");
const Bytes hello = codes("HELLO, WORLD");

// Two cards, a tape mark, three records of 12, 2 (bytes above 63: shown by their low six bits)
// and 12 codes, two tape marks. Offsets: cards at 0 and 88, a tape mark at 176; then 180, 200
// (12 + 8 bytes on), 210 (2 + 8 on), the tape marks at 230 and 234; 238 bytes in all.
const Bytes two_files = ImageBuilder()
                            .record(repeat(49, 80))
                            .record(repeat(49, 80))
                            .tape_mark()
                            .record(hello)
                            .record(Bytes{49 + 64, 50 + 128})
                            .record(hello)
                            .tape_mark()
                            .tape_mark()
                            .bytes();

TEST(Reelinfo, ReportsTapeFilesTheirSizesAndTheEnd) {
  const testing::Outcome result = reelinfo_run({"t.tap"}, {{{"t.tap", two_files}}});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "t.tap: 238 bytes, simh framing, 2 tape files, 5 records\n"
            "file 1 at 0: 2 records of 80 bytes, 160 data bytes\n"
            "file 2 at 180: 3 records of 2 to 12 bytes, most common 12 (2 records), 26 data bytes\n"
            "end at 238: after two tape marks, the end of the recorded tape\n");
  EXPECT_EQ(result.err, "");
}

TEST(Reelinfo, ListsEveryRecordWithItsFirstFortyCharacters) {
  const std::string forty(40, 'A');
  const std::string expected =
      "t.tap: 238 bytes, simh framing, 2 tape files, 5 records\n"
      "file 1 record 1 at 0: 80 bytes: " +
      forty +
      "\n"
      "file 1 record 2 at 88: 80 bytes: " +
      forty +
      "\n"
      "file 1 at 0: 2 records of 80 bytes, 160 data bytes\n"
      "file 2 record 1 at 180: 12 bytes: HELLO, WORLD\n"
      "file 2 record 2 at 200: 2 bytes: AB\n"
      "file 2 record 3 at 210: 12 bytes: HELLO, WORLD\n"
      "file 2 at 180: 3 records of 2 to 12 bytes, most common 12 (2 records), 26 data bytes\n"
      "end at 238: after two tape marks, the end of the recorded tape\n";
  EXPECT_EQ(reelinfo_run({"-l", "t.tap"}, {{{"t.tap", two_files}}}).out, expected);
  EXPECT_EQ(reelinfo_run({"t.tap", "--records"}, {{{"t.tap", two_files}}}).out, expected);
  // Held in a temporary file past a few bytes of memory: the same report.
  EXPECT_EQ(reelinfo_run({"-l", "t.tap"}, {{{"t.tap", two_files}}}, 16).out, expected);
}

// Code 0 shows as a blank; the blanks that end the characters shown end no line.
TEST(Reelinfo, RecordLinesEndWithoutTrailingBlanks) {
  const Bytes image = ImageBuilder().record(codes("H I  ")).record(repeat(0, 4)).bytes();
  EXPECT_EQ(reelinfo_run({"-l", "t.tap"}, {{{"t.tap", image}}}).out,
            "t.tap: 26 bytes, simh framing, 1 tape file, 2 records\n"
            "file 1 record 1 at 0: 5 bytes: H I\n"
            "file 1 record 2 at 14: 4 bytes\n"
            "file 1 at 0: 2 records of 4 to 5 bytes, 9 data bytes\n"
            "end at 26: after a record, with no tape mark after it\n");
}

// A diagnostics tape ends with a record of the tape mark character, then two tape marks: the
// record has its line, with or without -l. HELLO takes 14 bytes, a record of one 10.
TEST(Reelinfo, ARecordOfTheTapeMarkCharacterIsShownAsARecord) {
  const Bytes image = ImageBuilder()
                          .record(codes("HELLO"))
                          .record(Bytes{15})
                          .count(0x8000'0001)
                          .raw(Bytes{15, 0})
                          .count(0x8000'0001)
                          .tape_mark()
                          .tape_mark()
                          .bytes();
  const std::string first = "t.tap: 42 bytes, simh framing, 1 tape file, 3 records (1 bad)\n";
  const std::string lines =
      "file 1 record 2 at 14: 1 byte: the tape-mark character (code 15), a record, not a tape "
      "mark\n"
      "file 1 record 3 at 24: 1 byte, bad: the tape-mark character (code 15), a record, not a "
      "tape mark\n"
      "file 1 at 0: 3 records of 1 to 5 bytes, most common 1 (2 records), 1 of them bad, 7 data "
      "bytes\n"
      "end at 42: after two tape marks, the end of the recorded tape\n"
      "reelprint reads the bad record's word at 24 (80000001) as a count of 2147483649 and "
      "stops with \"Error reading\" (status 3): file 1 record 3 cut short in its data, 14 of "
      "2147483649 bytes there\n";
  EXPECT_EQ(reelinfo_run({"t.tap"}, {{{"t.tap", image}}}).out, first + lines);
  EXPECT_EQ(reelinfo_run({"-l", "t.tap"}, {{{"t.tap", image}}}).out,
            first + "file 1 record 1 at 0: 5 bytes: HELLO\n" + lines);
}

TEST(Reelinfo, OneOfEachIsSingular) {
  EXPECT_EQ(reelinfo_run({"t.tap"}, {{{"t.tap", ImageBuilder().record(Bytes{1}).bytes()}}}).out,
            "t.tap: 10 bytes, simh framing, 1 tape file, 1 record\n"
            "file 1 at 0: 1 record of 1 byte, 1 data byte\n"
            "end at 10: after a record, with no tape mark after it\n");
}

struct Ended {
  const char* name;
  std::vector<std::string> options;
  Bytes image;
  std::string report;  // less the first line's name
  int status;
  bool as_reelprint;  // reelprint's status is the same
};

TEST(Reelinfo, EndingsInTheirWholeReportsWithTheStatusReelprintGives) {
  const std::vector<Ended> cases = {
      {"empty",
       {},
       {},
       ": 0 bytes, simh framing, 0 tape files, 0 records\nend at 0: the image is empty\n",
       0,
       true},
      // reelprint reads the marker as a count of 4294967295 and finds the image cut short.
      {"end-of-medium marker",
       {},
       ImageBuilder().record(two).count(0xFFFFFFFF).bytes(),
       ": 14 bytes, simh framing, 1 tape file, 1 record\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "end at 10: end-of-medium marker\n"
       "reelprint reads the end-of-medium marker at 10 (FFFFFFFF) as a count of 4294967295 and "
       "stops with \"Error reading\" (status 3)\n",
       0,
       false},
      {"bytes after the marker",
       {},
       ImageBuilder().tape_mark().count(0xFFFFFFFF).raw(three).bytes(),
       ": 11 bytes, simh framing, 1 tape file, 0 records\n"
       "file 1 at 0: empty\n"
       "end at 4: end-of-medium marker, 3 bytes after it\n"
       "reelprint -2 (listing 2 tape files) reads the end-of-medium marker at 4 (FFFFFFFF) as a "
       "count of 4294967295 and stops with \"Error reading\" (status 3)\n",
       0,
       false},
      // Read with a pad byte, the trailing count is 00 00 00 02 (the next record's count).
      {"E11 image without -e",
       {},
       ImageBuilder(tape_image::Framing::e11).record(three).record(two).tape_mark().bytes(),
       ": 25 bytes, simh framing, 1 tape file, 0 records\n"
       "file 1 at 0: 0 records\n"
       "end at 0: file 1 record 1: leading count 3, trailing count 33554432\n"
       "reads cleanly with -e (E11 framing)\n",
       4,
       true},
      {"E11 image with -e",
       {"-e"},
       ImageBuilder(tape_image::Framing::e11).record(three).record(two).tape_mark().bytes(),
       ": 25 bytes, E11 framing, 1 tape file, 2 records\n"
       "file 1 at 0: 2 records of 2 to 3 bytes, 5 data bytes\n"
       "end at 25: after a tape mark\n",
       0,
       true},
      // Read without a pad byte, the trailing count is the pad and 03 00 00: 768.
      {"simh image with -e",
       {"-e"},
       ImageBuilder().record(three).tape_mark().bytes(),
       ": 16 bytes, E11 framing, 1 tape file, 0 records\n"
       "file 1 at 0: 0 records\n"
       "end at 0: file 1 record 1: leading count 3, trailing count 768\n"
       "reads cleanly without -e (simh framing)\n",
       4,
       true},
      // Three cards (88 bytes each), a bad card at 264, two cards, an erase gap at 528, a card,
      // a tape mark at 620. reelprint reads the bad card's word as a count, of which 624 - 268
      // bytes are there.
      {"a bad record and an erase gap",
       {},
       [] {
         ImageBuilder deck;
         for (int k = 0; k < 3; ++k) deck.record(repeat(49, 80));
         deck.count(0x8000'0050).raw(repeat(49, 80)).count(0x8000'0050);
         deck.record(repeat(49, 80)).record(repeat(49, 80)).count(0xFFFF'FFFE);
         return deck.record(repeat(49, 80)).tape_mark().bytes();
       }(),
       ": 624 bytes, simh framing, 1 tape file, 7 records (1 bad), 1 erase gap\n"
       "erase gap at 528, passed over\n"
       "file 1 at 0: 7 records of 80 bytes, 1 of them bad, 560 data bytes\n"
       "end at 624: after a tape mark\n"
       "reelprint reads the bad record's word at 264 (80000050) as a count of 2147483728 and "
       "stops with \"Error reading\" (status 3): file 1 record 4 cut short in its data, 356 "
       "of 2147483728 bytes there\n",
       3,
       true},
      {"a half gap",
       {},
       ImageBuilder().record(two).count(0xFFFE'FFFF).record(two).bytes(),
       ": 24 bytes, simh framing, 1 tape file, 1 record\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "end at 10: a half gap (FFFEFFFF), past which the walk cannot go on safely, 10 bytes "
       "after it\n"
       "reelprint reads the half gap at 10 (FFFEFFFF) as a count of 4294901759 and stops with "
       "\"Error reading\" (status 3): file 1 record 2 cut short in its data, 10 of 4294901759 "
       "bytes there\n",
       3,
       true},
      // Each tape mark a zero count and a zero trailer: an empty tape file between.
      {"tape marks of 8 bytes",
       {},
       ImageBuilder()
           .record(two)
           .tape_mark()
           .tape_mark()
           .record(two)
           .tape_mark()
           .tape_mark()
           .record(two)
           .tape_mark()
           .tape_mark()
           .bytes(),
       ": 54 bytes, simh framing, 5 tape files, 3 records\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "file 2 at 14: empty\n"
       "file 3 at 18: 1 record of 2 bytes, 2 data bytes\n"
       "file 4 at 32: empty\n"
       "file 5 at 36: 1 record of 2 bytes, 2 data bytes\n"
       "end at 54: after two tape marks, the end of the recorded tape\n"
       "its tape marks look 8 bytes long (a zero count and a zero trailer, as some writers "
       "frame them): each shows here as two, and --format=simh-tm8 reads each as one\n",
       0,
       true},
      {"a run of empty tape files",
       {},
       ImageBuilder()
           .tape_mark()
           .tape_mark()
           .tape_mark()
           .tape_mark()
           .tape_mark()
           .record(two)
           .bytes(),
       ": 30 bytes, simh framing, 6 tape files, 1 record\n"
       "files 1 to 5 at 0: empty\n"
       "file 6 at 20: 1 record of 2 bytes, 2 data bytes\n"
       "end at 30: after a record, with no tape mark after it\n",
       0,
       true},
      // Counts of 2 written big-endian read as 33554432.
      {"big-endian counts",
       {},
       ImageBuilder()
           .count(0x0200'0000)
           .raw(two)
           .count(0x0200'0000)
           .count(0x0200'0000)
           .raw(two)
           .count(0x0200'0000)
           .tape_mark()
           .bytes(),
       ": 24 bytes, simh framing, 1 tape file, 0 records\n"
       "file 1 at 0: 0 records\n"
       "end at 0: file 1 record 1 cut short in its data, 20 of 33554432 bytes there\n"
       "reads cleanly with --format=simh-be (big-endian counts)\n",
       3,
       true},
      // "root" is 72 6F 6F 74, a count of 0x746F6F72.
      {"text",
       {},
       [] {
         const std::string text = "root:x:0:0:root:/root:/bin/bash\n";
         return Bytes(text.begin(), text.end());
       }(),
       ": 32 bytes, simh framing, 1 tape file, 0 records\n"
       "file 1 at 0: 0 records\n"
       "end at 0: file 1 record 1 cut short in its data, 28 of 1953460082 bytes there\n"
       "not a tape image, it seems: its first count, 1953460082, is more than the whole image, "
       "and its first bytes are text: \"root:x:0:0:root:\"\n",
       3,
       true},
      {"the start of a program",
       {},
       Bytes{0x7F, 'E', 'L', 'F', 2, 1, 1, 0},
       ": 8 bytes, simh framing, 1 tape file, 0 records\n"
       "file 1 at 0: 0 records\n"
       "end at 0: file 1 record 1 cut short in its data, 4 of 1179403647 bytes there\n"
       "not a tape image, it seems: its first count, 1179403647, is more than the whole image; "
       "its first bytes are 7f 45 4c 46 02 01 01 00\n",
       3,
       true},
      // A card cut short: its count is more than the image, but the bytes after it are codes.
      {"a card cut short",
       {},
       ImageBuilder().count(80).raw(repeat(49, 56)).bytes(),
       ": 60 bytes, simh framing, 1 tape file, 0 records\n"
       "file 1 at 0: 0 records\n"
       "end at 0: file 1 record 1 cut short in its data, 56 of 80 bytes there\n",
       3,
       true},
      // The start of a gzip file: 1F 8B 08 00 is a count of 559903, followed by bytes above 63.
      {"a compressed image",
       {},
       Bytes{0x1F, 0x8B, 8,    0,    0,    0, 0, 0,    0,    3,
             0xCB, 0x48, 0xCD, 0xC9, 0xC9, 7, 0, 0x86, 0xA6, 0x10},
       ": 20 bytes, simh framing, 1 tape file, 0 records\n"
       "file 1 at 0: 0 records\n"
       "end at 0: file 1 record 1 cut short in its data, 16 of 559903 bytes there\n"
       "not a tape image, it seems: its first count, 559903, is more than the whole image; "
       "its first bytes are 1f 8b 08 00 00 00 00 00 00 03 cb 48 cd c9 c9 07\n",
       3,
       true},
      // Judged by its size, 80, not by its word read as a count.
      {"a bad record cut short, its bytes no codes",
       {},
       ImageBuilder().count(0x8000'0050).raw(repeat(0xFF, 20)).bytes(),
       ": 24 bytes, simh framing, 1 tape file, 0 records\n"
       "file 1 at 0: 0 records\n"
       "end at 0: file 1 record 1, a bad record, cut short in its data, 20 of 80 bytes there\n"
       "reelprint reads the bad record's word at 0 (80000050) as a count of 2147483728 and "
       "stops with \"Error reading\" (status 3): file 1 record 1 cut short in its data, 20 of "
       "2147483728 bytes there\n"
       "not a tape image, it seems: its first count, 80 (of a bad record), is more than the "
       "whole image; its first bytes are 50 00 00 80 ff ff ff ff ff ff ff ff ff ff ff ff\n",
       3,
       true},
      {"a bad record whose trailing word lacks the flag",
       {},
       ImageBuilder().count(0x8000'0050).raw(repeat(49, 80)).count(0x50).bytes(),
       ": 88 bytes, simh framing, 1 tape file, 0 records\n"
       "file 1 at 0: 0 records\n"
       "end at 0: file 1 record 1, a bad record: leading word 80000050, trailing word 00000050\n"
       "reelprint reads the bad record's word at 0 (80000050) as a count of 2147483728 and "
       "stops with \"Error reading\" (status 3): file 1 record 1 cut short in its data, 84 of "
       "2147483728 bytes there\n",
       3,
       true},
      // A writer stopped inside its second record: the placeholder and three of its bytes.
      {"a writer stopped in a record",
       {},
       ImageBuilder().record(two).count(0xFFFF'FFFD).raw(three).bytes(),
       ": 17 bytes, simh framing, 1 tape file, 1 record\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "end at 10: a record whose count was never written (FFFFFFFD, left where its writer was "
       "stopped), past which the walk cannot go on safely, 3 bytes after it\n"
       "reelprint reads the placeholder at 10 (FFFFFFFD) as a count of 4294967293 and stops "
       "with \"Error reading\" (status 3): file 1 record 2 cut short in its data, 3 of "
       "4294967293 bytes there\n",
       3,
       true},
      // Three images of two tape files each, one after another: single tape marks between
      // records. Each takes 32 bytes.
      {"images one after another",
       {},
       [] {
         ImageBuilder images;
         for (int k = 0; k < 3; ++k)
           images.record(two).tape_mark().record(two).tape_mark().tape_mark();
         return images.bytes();
       }(),
       ": 96 bytes, simh framing, 8 tape files, 6 records\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "file 2 at 14: 1 record of 2 bytes, 2 data bytes\n"
       "file 3 at 28: empty\n"
       "file 4 at 32: 1 record of 2 bytes, 2 data bytes\n"
       "file 5 at 46: 1 record of 2 bytes, 2 data bytes\n"
       "file 6 at 60: empty\n"
       "file 7 at 64: 1 record of 2 bytes, 2 data bytes\n"
       "file 8 at 78: 1 record of 2 bytes, 2 data bytes\n"
       "end at 96: after two tape marks, the end of the recorded tape\n",
       0,
       true},
      // Tape marks in pairs but the last, alone: single tape marks, and empty tape files.
      {"pairs of tape marks, then one alone",
       {},
       ImageBuilder()
           .record(two)
           .tape_mark()
           .tape_mark()
           .record(two)
           .tape_mark()
           .tape_mark()
           .record(two)
           .tape_mark()
           .bytes(),
       ": 50 bytes, simh framing, 5 tape files, 3 records\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "file 2 at 14: empty\n"
       "file 3 at 18: 1 record of 2 bytes, 2 data bytes\n"
       "file 4 at 32: empty\n"
       "file 5 at 36: 1 record of 2 bytes, 2 data bytes\n"
       "end at 50: after a tape mark\n",
       0,
       true},
      // Two whole zero words and two zero bytes after the tape marks at 10 and 14.
      {"zero fill",
       {},
       ImageBuilder().record(two).tape_mark().tape_mark().raw(repeat(0, 10)).bytes(),
       ": 28 bytes, simh framing, 1 tape file, 1 record\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "10 zero bytes from 18, after the end of the recorded tape\n"
       "end at 18: after two tape marks, the end of the recorded tape\n",
       0,
       true},
      // The recorded tape ends with the pair at 28 and 32; its tape marks all come in pairs.
      {"tape marks of 8 bytes and zero fill",
       {},
       ImageBuilder()
           .record(two)
           .tape_mark()
           .tape_mark()
           .record(two)
           .tape_mark()
           .tape_mark()
           .raw(repeat(0, 8))
           .bytes(),
       ": 44 bytes, simh framing, 3 tape files, 2 records\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "file 2 at 14: empty\n"
       "file 3 at 18: 1 record of 2 bytes, 2 data bytes\n"
       "8 zero bytes from 36, after the end of the recorded tape\n"
       "end at 36: after two tape marks, the end of the recorded tape\n"
       "its tape marks look 8 bytes long (a zero count and a zero trailer, as some writers "
       "frame them): each shows here as two, and --format=simh-tm8 reads each as one\n",
       0,
       true},
  };
  for (const Ended& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.options;
    args.push_back("t.tap");
    const testing::Outcome result = reelinfo_run(args, {{{"t.tap", c.image}}});
    EXPECT_EQ(result.out, "t.tap" + c.report);
    EXPECT_EQ(result.status, c.status);
    // reelprint, listing as many tape files as there can be.
    std::vector<std::string_view> options(c.options.begin(), c.options.end());
    options.push_back("-9");
    const int reelprint_status = testing::list(options, c.image).status;
    if (c.as_reelprint) {
      EXPECT_EQ(reelprint_status, c.status);
    } else {
      EXPECT_NE(reelprint_status, c.status);
    }
  }
}

// Returns the frame of P7B that holds `code` with the parity bit for even parity (odd if `odd`),
// and bit 7 if `first`.
std::uint8_t frame(std::uint8_t code, bool first = false, bool odd = false) {
  bool ones_odd = false;
  for (std::uint8_t bits = code; bits != 0; bits &= static_cast<std::uint8_t>(bits - 1))
    ones_odd = !ones_odd;
  const bool parity_bit = ones_odd != odd;
  return static_cast<std::uint8_t>(code | (parity_bit ? 0x40 : 0) | (first ? 0x80 : 0));
}

// Returns the frames of a record of `codes` (odd parity if `odd`).
Bytes frames(const Bytes& codes, bool odd = false) {
  Bytes out;
  for (std::size_t k = 0; k < codes.size(); ++k) out.push_back(frame(codes[k], k == 0, odd));
  return out;
}

// Returns `frames` with the parity bit of frame `k` (from 0) turned over: a parity error.
Bytes wrong_at(Bytes frames, std::size_t k) {
  frames[k] ^= 0x40;
  return frames;
}

const Bytes mark = {0x8F};  // a tape mark, or the closing record start

// A P7B dump of even parity: AB at 0, ABC at 2, a tape mark at 5, HE at 6, tape marks at 8 and
// 9, the closing record start at 10.
const Bytes dump = frames(two) + frames(three) + mark + frames(codes("HE")) + mark + mark + mark;

// Returns "N noun", or "N nouns" unless `n` is 1.
std::string n_of(std::uint64_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// Writes the report that the JSON object `image` describes as the text report says it, from
// its facts alone.
std::string as_text(const testing::Json& image) {
  const auto num = [](const testing::Json& value) { return std::to_string(value.whole()); };
  std::string text = image["image"].text + ": ";
  if (image.has("error")) return text + "cannot open (" + image["reason"].text + ")\n";
  const std::string& format = image["format"].text;
  const std::string& parity = image["parity"].text;
  text += n_of(image["size"].whole(), "byte") + ", " +
          (format == "simh"   ? "simh framing"
           : format == "e11"  ? "E11 framing"
           : format != "p7b"  ? format + " format"
           : parity == "none" ? "p7b format (parity not checked)"
                              : "p7b format (" + parity + " parity)") +
          ", " + n_of(image["tape_files"].whole(), "tape file") + ", " +
          n_of(image["records"].whole(), "record");
  if (image["bad_records"].whole() > 0) text += " (" + num(image["bad_records"]) + " bad)";
  if (image["erase_gaps"].whole() > 0)
    text += ", " + n_of(image["erase_gaps"].whole(), "erase gap");
  if (image["parity_errors"].whole() > 0)
    text += ", " + n_of(image["parity_errors"].whole(), "parity error");
  text += '\n';
  for (const testing::Json& item : image["items"].items) {
    const std::string& type = item["type"].text;
    if (type == "record") {
      text += "file " + num(item["file"]) + " record " + num(item["record"]) + " at " +
              num(item["at"]) + ": " + n_of(item["size"].whole(), "byte");
      if (item["bad"].truth) text += ", bad";
      if (item["tape_mark_character"].truth) {
        EXPECT_EQ(item["text"].text, "{");
        text += ": the tape-mark character (code 15), a record, not a tape mark\n";
        continue;
      }
      const std::string shown = item["text"].text;
      const std::size_t end = shown.find_last_not_of(' ');
      if (end != std::string::npos) text += ": " + shown.substr(0, end + 1);
    } else if (type == "tape_file") {
      text += "file " + num(item["file"]) + " at " + num(item["at"]) + ": ";
      const std::uint64_t records = item["records"].whole();
      if (records == 0) {
        text += "0 records";
      } else {
        text += n_of(records, "record") + " of ";
        if (item["smallest"].whole() == item["largest"].whole()) {
          text += n_of(item["smallest"].whole(), "byte");
        } else {
          text += num(item["smallest"]) + " to " + num(item["largest"]) + " bytes";
          const testing::Json& common = item["most_common"];
          if (common.is_null()) {
            text += ", most common not known";
          } else if (common["records"].whole() > 1) {
            text += ", most common " + num(common["size"]) + " (" +
                    n_of(common["records"].whole(), "record") + ")";
          }
        }
        if (item["bad"].whole() > 0) text += ", " + num(item["bad"]) + " of them bad";
        text += ", " + n_of(item["data_bytes"].whole(), "data byte");
        if (item["parity_errors"].whole() > 0)
          text += ", " + n_of(item["parity_errors"].whole(), "parity error") + " in " +
                  n_of(item["parity_error_records"].whole(), "record");
      }
    } else if (type == "parity_errors") {
      text += "file " + num(item["file"]) + " record " + num(item["record"]) + ": " +
              n_of(item["count"].whole(), "parity error") + ", the first in frame " +
              num(item["position"]) + " at " + num(item["at"]);
    } else if (type == "unstarted_frames") {
      text += "the first " + n_of(item["frames"].whole(), "frame") +
              " of the dump come before any record start: damage, read as a bad record, file 1 "
              "record 1";
    } else if (type == "empty_tape_files") {
      const bool one = item["first"].whole() == item["last"].whole();
      text += (one ? "file " : "files ") + num(item["first"]) +
              (one ? "" : " to " + num(item["last"])) + " at " + num(item["at"]) + ": empty";
    } else {
      EXPECT_EQ(type, "erase_gaps");
      const bool one = item["count"].whole() == 1;
      text += one ? "erase gap at " + num(item["first"])
                  : num(item["count"]) + " erase gaps at " + num(item["first"]) + " to " +
                        num(item["last"]);
      text += ", passed over";
    }
    text += '\n';
  }
  if (const testing::Json& fill = image["zero_fill"]; !fill.is_null())
    text += n_of(fill["bytes"].whole(), "zero byte") + " from " + num(fill["at"]) +
            ", after the end of the recorded tape\n";
  text += "end at " + num(image["end"]["at"]) + ": " + image["end"]["text"].text + "\n";
  if (image["closing_start"].truth)
    text += "closing record start at " + std::to_string(image["size"].whole() - 1) + "\n";
  if (const testing::Json& failed = image["read_error"]; !failed.is_null())
    text += "read error at " + num(failed["at"]) +
            (failed["reason"].is_null() ? "" : " (" + failed["reason"].text + ")") + "\n";
  if (!image["reelprint"].is_null()) text += image["reelprint"]["text"].text + "\n";
  for (const testing::Json& hint : image["hints"].items) text += hint.text + "\n";
  return text;
}

struct JsonCase {
  const char* name;
  std::vector<std::string> args;  // options and images
  Images images;
  const char* end_kind;  // of the first image, as worked out by hand
};

// The text report is held to the byte by the tests above; the JSON one must tell every fact of
// it, and be JSON.
TEST(Reelinfo, TheJsonReportHoldsEveryFactOfTheTextReport) {
  ImageBuilder deck;  // 3 cards, a bad card at 264, 2 cards, a gap at 528 and one at 532, a card
  for (int k = 0; k < 3; ++k) deck.record(repeat(49, 80));
  deck.count(0x8000'0050).raw(repeat(49, 80)).count(0x8000'0050);
  deck.record(repeat(49, 80)).record(repeat(49, 80)).count(0xFFFF'FFFE).count(0xFFFF'FFFE);
  const Bytes bad_deck = deck.record(repeat(49, 80)).tape_mark().bytes();
  const Bytes quoted = ImageBuilder().record(codes("\"A\\ ")).tape_mark().tape_mark().bytes();
  const Bytes e11 =
      ImageBuilder(tape_image::Framing::e11).record(three).record(two).tape_mark().bytes();
  const Bytes empties = ImageBuilder()
                            .tape_mark()
                            .tape_mark()
                            .count(0xFFFF'FFFE)
                            .tape_mark()
                            .record(two)
                            .tape_mark()
                            .tape_mark()
                            .record(two)
                            .tape_mark()
                            .tape_mark()
                            .raw(repeat(0, 6))
                            .bytes();
  const Bytes swapped =
      ImageBuilder().count(0x0200'0000).raw(two).count(0x0200'0000).tape_mark().bytes();
  // A frame before the first record start; AB with parity errors in both its frames, four
  // times (three named); a tape mark; AB, and no closing record start.
  Bytes p7b_errors = Bytes{frame(49)};
  for (int k = 0; k < 4; ++k) p7b_errors = p7b_errors + wrong_at(wrong_at(frames(two), 0), 1);
  p7b_errors = p7b_errors + mark + frames(two);
  const Bytes mark_character =
      ImageBuilder().record(two).record(Bytes{15}).tape_mark().tape_mark().bytes();
  const std::vector<JsonCase> cases = {
      {"two tape files", {"t.tap"}, {{{"t.tap", two_files}}}, "end_of_recorded_tape"},
      {"every record", {"-l", "t.tap"}, {{{"t.tap", two_files}}}, "end_of_recorded_tape"},
      {"quotes and backslashes shown",
       {"-l", "t.tap"},
       {{{"t.tap", quoted}}},
       "end_of_recorded_tape"},
      {"E11 read as simh", {"t.tap"}, {{{"t.tap", e11}}}, "unequal_counts"},
      {"E11 read as E11", {"-e", "-l", "t.tap"}, {{{"t.tap", e11}}}, "after_tape_mark"},
      {"a bad record and erase gaps", {"-l", "t.tap"}, {{{"t.tap", bad_deck}}}, "after_tape_mark"},
      {"empty tape files, a gap, 8-byte tape marks, zero fill",
       {"t.tap"},
       {{{"t.tap", empties}}},
       "end_of_recorded_tape"},
      {"counts byte-swapped", {"t.tap"}, {{{"t.tap", swapped}}}, "cut_short_in_data"},
      {"the end-of-medium marker",
       {"t.tap"},
       {{{"t.tap", ImageBuilder().record(two).count(0xFFFF'FFFF).raw(three).bytes()}}},
       "end_of_medium"},
      {"a failed read",
       {"t.tap"},
       {{{"t.tap", ImageBuilder().record(two).count(4).raw(two).bytes()}}, true},
       "read_error"},
      {"a failed read after the end",
       {"t.tap"},
       {{{"t.tap", ImageBuilder().count(4).raw(codes("ABCD")).count(5).bytes()}}, true},
       "unequal_counts"},
      {"text", {"t.tap"}, {{{"t.tap", codes("ABCDEFGHIJKLMNOP")}}}, "cut_short_in_data"},
      {"the tape mark character", {"t.tap"}, {{{"t.tap", mark_character}}}, "end_of_recorded_tape"},
      {"the tape mark character, every record",
       {"-l", "t.tap"},
       {{{"t.tap", mark_character}}},
       "end_of_recorded_tape"},
      {"TPC, zero bytes after the recorded tape",
       {"--format=tpc", "t.tap"},
       {{{"t.tap", Bytes{2, 0, 49, 50, 0, 0, 0, 0, 0, 0, 0}}}},
       "end_of_recorded_tape"},
      {"simh read as TPC",
       {"--format=tpc", "t.tap"},
       {{{"t.tap", ImageBuilder().record(two).tape_mark().bytes()}}},
       "cut_short_in_data"},
      {"a P7B dump, every record",
       {"-l", "--format=p7b", "t.tap"},
       {{{"t.tap", dump}}},
       "end_of_recorded_tape"},
      {"a P7B dump's parity errors",
       {"--format=p7b", "t.tap"},
       {{{"t.tap", p7b_errors}}},
       "after_record"},
      {"a P7B dump read as simh", {"t.tap"}, {{{"t.tap", dump}}}, "cut_short_in_data"},
      {"several, one missing",
       {"a.tap", "missing.tap", "t.tap"},
       {{{"a.tap", Bytes{}}, {"t.tap", two_files}}},
       "empty"},
  };
  for (const JsonCase& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::Outcome text = reelinfo_run(c.args, c.images);
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--json");
    const testing::Outcome json = reelinfo_run(args, c.images);
    EXPECT_EQ(json.status, text.status);
    EXPECT_EQ(json.err, "");
    const std::optional<testing::Json> document = testing::JsonReader::read(json.out);
    ASSERT_TRUE(document) << json.out;
    ASSERT_EQ(document->type, testing::Json::Type::array);
    std::string told;
    for (const testing::Json& image : document->items) {
      if (!told.empty()) told += '\n';
      told += as_text(image);
    }
    EXPECT_EQ(told, text.out);
    EXPECT_EQ(document->items.at(0)["end"]["kind"].text, c.end_kind);
    std::uint64_t highest = 0;  // the exit status is the highest of the images'
    for (const testing::Json& image : document->items)
      highest = std::max(highest, image["status"].whole());
    EXPECT_EQ(highest, static_cast<std::uint64_t>(text.status));
  }
}

// Every string is quoted and escaped, and the document is UTF-8 whatever bytes a name holds.
TEST(Reelinfo, JsonStringsAreEscapedAndAlwaysUtf8) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain.tap", R"("plain.tap")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\n\t\r\x01\x1f\x7f", "\"\\n\\t\\r\\u0001\\u001f\x7f\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xbc",
       "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xbc\""},
      {"\xff", R"("\ufffd")"},                                // no UTF-8 lead byte
      {"\xc3", R"("\ufffd")"},                                // a sequence cut short
      {"\xc0\xaf", R"("\ufffd\ufffd")"},                      // an overlong slash
      {"\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},            // a surrogate
      {"\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // past U+10FFFF
      {"\xe2\x82x", R"("\ufffd\ufffdx")"},
  };
  for (const auto& [text, expected] : cases) {
    std::string out;
    reelinfo::append_json_string(out, text);
    EXPECT_EQ(out, expected) << text;
    EXPECT_TRUE(testing::JsonReader::read(out)) << out;
  }
  // An image's name as given, in the report on it.
  const std::string name = "a\"\n\xff.tap";
  const testing::Outcome result = reelinfo_run({"--json", name}, {{{name, two_files}}});
  const std::optional<testing::Json> document = testing::JsonReader::read(result.out);
  ASSERT_TRUE(document) << result.out;
  EXPECT_EQ(document->items.at(0)["image"].text, "a\"\n\xef\xbf\xbd.tap");
}

// Each format with counts, and the tape file where each begins after a tape mark of 2 bytes (TPC)
// or 8 (two zero words, simh-tm8).
TEST(Reelinfo, ReportsAnImageInEachFormatWithCounts) {
  struct FormatCase {
    const char* name;
    const char* format;
    Bytes image;
    std::string report;  // less the first line's name
    int status;
  };
  // TPC: AB (its count 02 00), a tape mark, ABC padded, two tape marks: 16 bytes.
  const Bytes tpc = {2, 0, 49, 50, 0, 0, 3, 0, 49, 50, 51, 0, 0, 0, 0, 0};
  const Bytes mark8 = repeat(0, 8);
  const FormatCase cases[] = {
      {"TPC", "tpc", tpc,
       ": 16 bytes, tpc format, 2 tape files, 2 records\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "file 2 at 6: 1 record of 3 bytes, 3 data bytes\n"
       "end at 16: after two tape marks, the end of the recorded tape\n",
       0},
      // Without the pad, ABC's pad and a tape mark's first byte are a count of 0: tape marks at
      // 11 and 13, and the zero byte left pads the image.
      {"TPC read unpadded", "tpc-nopad", tpc,
       ": 16 bytes, tpc-nopad format, 2 tape files, 2 records\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "file 2 at 6: 1 record of 3 bytes, 3 data bytes\n"
       "1 zero byte from 15, after the end of the recorded tape\n"
       "end at 15: after two tape marks, the end of the recorded tape\n",
       0},
      // Two zero words and three bytes after the tape marks at 4 and 6: the padding.
      {"TPC padded", "tpc", Bytes{2, 0, 49, 50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       ": 15 bytes, tpc format, 1 tape file, 1 record\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "7 zero bytes from 8, after the end of the recorded tape\n"
       "end at 8: after two tape marks, the end of the recorded tape\n",
       0},
      // Read as TPC, AB's count is 2, its data 00 00, and 31 32 a count of 12849.
      {"simh read as TPC", "tpc", ImageBuilder().record(two).tape_mark().bytes(),
       ": 14 bytes, tpc format, 1 tape file, 1 record\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "end at 4: file 1 record 2 cut short in its data, 8 of 12849 bytes there\n"
       "reads cleanly with --format=simh (simh framing)\n",
       3},
      {"TPC read as simh", "simh", tpc,
       ": 16 bytes, simh framing, 1 tape file, 0 records\n"
       "file 1 at 0: 0 records\n"
       "end at 0: file 1 record 1 cut short in its data, 12 of 842072066 bytes there\n"
       "reads cleanly with --format=tpc (TPC: 16-bit counts, odd data padded)\n",
       3},
      // Records of 2 take 10 bytes; the tape marks of 8 at 10, 28 and 36.
      {"8-byte tape marks", "simh-tm8",
       ImageBuilder().record(two).raw(mark8).record(two).raw(mark8).raw(mark8).bytes(),
       ": 44 bytes, simh-tm8 format, 2 tape files, 2 records\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "file 2 at 18: 1 record of 2 bytes, 2 data bytes\n"
       "end at 44: after two tape marks, the end of the recorded tape\n",
       0},
      // Of an image in a format reelprint does not read, no word on what it makes of a bad
      // record; the status is the walk's.
      {"big-endian counts and a bad record", "simh-be",
       Bytes{0, 0, 0, 2, 49, 50, 0, 0, 0, 2, 0x80, 0, 0, 1, 49, 0, 0x80, 0, 0, 1, 0, 0, 0, 0},
       ": 24 bytes, simh-be format, 1 tape file, 2 records (1 bad)\n"
       "file 1 at 0: 2 records of 1 to 2 bytes, 1 of them bad, 3 data bytes\n"
       "end at 24: after a tape mark\n",
       0},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::Outcome result =
        reelinfo_run({std::string("--format=") + c.format, "t.tap"}, {{{"t.tap", c.image}}});
    EXPECT_EQ(result.out, "t.tap" + c.report);
    EXPECT_EQ(result.status, c.status);
  }
}

TEST(Reelinfo, ReportsAP7bDumpWithItsParityErrorsAtTheirPlacesInTheDump) {
  struct DumpCase {
    const char* name;
    std::vector<std::string> options;
    Bytes image;
    std::string report;  // less the first line's name
  };
  // Five records of AB at 0, 2, 4, 6 and 8, four of them with parity errors; a tape mark
  // written with its parity bit at 10; AB at 11, and no closing record start.
  const Bytes ab = frames(two);
  const Bytes errors = wrong_at(ab, 1) + wrong_at(wrong_at(ab, 0), 1) + wrong_at(ab, 1) +
                       wrong_at(ab, 0) + ab + Bytes{0xCF} + ab;
  const Bytes odd = frames(two, true) + Bytes{0xCF} + mark + mark;
  const DumpCase cases[] = {
      {"tape files and the closing record start",
       {},
       dump,
       ": 11 bytes, p7b format (even parity), 2 tape files, 3 records\n"
       "file 1 at 0: 2 records of 2 to 3 bytes, 5 data bytes\n"
       "file 2 at 6: 1 record of 2 bytes, 2 data bytes\n"
       "end at 10: after two tape marks, the end of the recorded tape\n"
       "closing record start at 10\n"},
      {"records at their offsets in the dump",
       {"-l"},
       dump,
       ": 11 bytes, p7b format (even parity), 2 tape files, 3 records\n"
       "file 1 record 1 at 0: 2 bytes: AB\n"
       "file 1 record 2 at 2: 3 bytes: ABC\n"
       "file 1 at 0: 2 records of 2 to 3 bytes, 5 data bytes\n"
       "file 2 record 1 at 6: 2 bytes: HE\n"
       "file 2 at 6: 1 record of 2 bytes, 2 data bytes\n"
       "end at 10: after two tape marks, the end of the recorded tape\n"
       "closing record start at 10\n"},
      // The first three records with parity errors named, the fourth counted.
      {"parity errors",
       {},
       errors,
       ": 13 bytes, p7b format (even parity), 2 tape files, 6 records (4 bad), 5 parity errors\n"
       "file 1 record 1: 1 parity error, the first in frame 2 at 1\n"
       "file 1 record 2: 2 parity errors, the first in frame 1 at 2\n"
       "file 1 record 3: 1 parity error, the first in frame 2 at 5\n"
       "file 1 at 0: 5 records of 2 bytes, 4 of them bad, 10 data bytes, 5 parity errors in 4 "
       "records\n"
       "file 2 at 11: 1 record of 2 bytes, 2 data bytes\n"
       "end at 13: after a record, with no tape mark after it\n"},
      {"odd parity",
       {"--parity=odd"},
       odd,
       ": 5 bytes, p7b format (odd parity), 1 tape file, 1 record\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "end at 4: after two tape marks, the end of the recorded tape\n"
       "closing record start at 4\n"},
      {"odd parity read as even",
       {},
       odd,
       ": 5 bytes, p7b format (even parity), 1 tape file, 1 record (1 bad), 2 parity errors\n"
       "file 1 record 1: 2 parity errors, the first in frame 1 at 0\n"
       "file 1 at 0: 1 record of 2 bytes, 1 of them bad, 2 data bytes, 2 parity errors in 1 "
       "record\n"
       "end at 4: after two tape marks, the end of the recorded tape\n"
       "closing record start at 4\n"},
      {"parity not checked",
       {"--parity=none"},
       odd,
       ": 5 bytes, p7b format (parity not checked), 1 tape file, 1 record\n"
       "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
       "end at 4: after two tape marks, the end of the recorded tape\n"
       "closing record start at 4\n"},
      // Two frames of AB before the first record start: a bad record of their own.
      {"frames before any record start",
       {},
       Bytes{frame(49), frame(50)} + ab + mark + mark + mark,
       ": 7 bytes, p7b format (even parity), 1 tape file, 2 records (1 bad)\n"
       "the first 2 frames of the dump come before any record start: damage, read as a bad "
       "record, file 1 record 1\n"
       "file 1 at 0: 2 records of 2 bytes, 1 of them bad, 4 data bytes\n"
       "end at 6: after two tape marks, the end of the recorded tape\n"
       "closing record start at 6\n"},
  };
  for (const DumpCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--format=p7b", "t.p7b"});
    const testing::Outcome result = reelinfo_run(args, {{{"t.p7b", c.image}}});
    EXPECT_EQ(result.out, "t.p7b" + c.report);
    EXPECT_EQ(result.status, 0);
  }
}

// Read in another format, a dump's first byte begins a record and its frames have one parity.
TEST(Reelinfo, AP7bDumpReadAsSimhHasAHint) {
  // F1 72 F1 72 read as a count: 0x72F172F1, 1928426225, with 7 bytes after it.
  EXPECT_EQ(reelinfo_run({"t.tap"}, {{{"t.tap", dump}}}).out,
            "t.tap: 11 bytes, simh framing, 1 tape file, 0 records\n"
            "file 1 at 0: 0 records\n"
            "end at 0: file 1 record 1 cut short in its data, 7 of 1928426225 bytes there\n"
            "a P7B dump, it seems: a record starts at its first byte, and its frames have even "
            "parity: --format=p7b\n");
  const Bytes odd = frames(codes("HELLO"), true) + frames(codes("WORLD"), true) + mark + mark;
  EXPECT_TRUE(reelinfo_run({"t.tap"}, {{{"t.tap", odd}}})
                  .out.ends_with("its frames have odd parity: --format=p7b --parity=odd\n"));
  // One frame in ten of the other parity: no such hint.
  EXPECT_EQ(reelinfo_run({"t.tap"}, {{{"t.tap", wrong_at(odd, 3)}}}).out.find("P7B"),
            std::string::npos);
}

TEST(Reelinfo, AFailedReadIsStatusThree) {
  Images images{{{"t.tap", ImageBuilder().record(two).count(4).raw(two).bytes()}}, true};
  const testing::Outcome result = reelinfo_run({"t.tap"}, images);
  EXPECT_EQ(result.out,
            "t.tap: 16 bytes, simh framing, 1 tape file, 1 record\n"
            "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
            "end at 10: read error at 16 in file 1 record 2\n");
  EXPECT_EQ(result.status, 3);

  // After the walk has stopped at unequal counts, on the way to the end for the size.
  images.named = {
      {"t.tap", ImageBuilder().count(4).raw(codes("ABCD")).count(5).record(two).bytes()}};
  const testing::Outcome later = reelinfo_run({"t.tap"}, images);
  EXPECT_EQ(later.out,
            "t.tap: 22 bytes, simh framing, 1 tape file, 0 records\n"
            "file 1 at 0: 0 records\n"
            "end at 0: file 1 record 1: leading count 4, trailing count 5\n"
            "read error at 22\n");
  EXPECT_EQ(later.status, 4);
}

TEST(Reelinfo, ATemporaryFileThatCantBeMadeIsStatusFive) {
  const char* const before = std::getenv("TMPDIR");
  const std::string kept = before != nullptr ? before : "";
  ::setenv("TMPDIR", "/nonexistent/folder", 1);
  const testing::Outcome result = reelinfo_run({"-l", "t.tap"}, {{{"t.tap", two_files}}}, 16);
  if (before != nullptr) {
    ::setenv("TMPDIR", kept.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.err,
            "reelinfo: cannot make a temporary file in /nonexistent/folder: No such file or "
            "directory\n");
}

TEST(Reelinfo, SeveralImagesOneAfterAnotherWithTheHighestStatus) {
  const Images images{{{"a.tap", ImageBuilder().tape_mark().bytes()},
                       {"b.tap", ImageBuilder().count(4).raw(codes("ABCD")).count(5).bytes()}}};
  const testing::Outcome result = reelinfo_run({"a.tap", "missing.tap", "b.tap"}, images);
  EXPECT_EQ(result.out,
            "a.tap: 4 bytes, simh framing, 1 tape file, 0 records\n"
            "file 1 at 0: empty\n"
            "end at 4: after a tape mark\n"
            "\n"
            "missing.tap: cannot open (No such file or directory)\n"
            "\n"
            "b.tap: 12 bytes, simh framing, 1 tape file, 0 records\n"
            "file 1 at 0: 0 records\n"
            "end at 0: file 1 record 1: leading count 4, trailing count 5\n");
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(reelinfo_run({"a.tap", "missing.tap"}, images).status, 2);
  EXPECT_EQ(reelinfo_run({"a.tap", "a.tap"}, images).status, 0);
}

TEST(Reelinfo, CommandLine) {
  using reelinfo::CommandLine;
  using Action = CommandLine::Action;
  const auto parse = [](std::vector<std::string> args) {
    args.insert(args.begin(), "reelinfo");
    return reelinfo::parse_command_line(args);
  };
  CommandLine c = parse({"a.tap", "-l", "b.tap", "--e11", "--json"});  // options anywhere
  EXPECT_EQ(c.action, Action::run);
  EXPECT_TRUE(c.options.records);
  EXPECT_TRUE(c.options.json);
  EXPECT_EQ(c.options.format, tape_image::Format::e11);
  EXPECT_EQ(c.options.images, (std::vector<std::string>{"a.tap", "b.tap"}));
  c = parse({"-le", "--", "-l"});
  EXPECT_TRUE(c.options.records);
  EXPECT_EQ(c.options.format, tape_image::Format::e11);
  EXPECT_EQ(c.options.images, std::vector<std::string>{"-l"});
  c = parse({"a.tap"});
  EXPECT_FALSE(c.options.records);
  EXPECT_FALSE(c.options.json);
  EXPECT_TRUE(parse({"-j", "a.tap"}).options.json);
  EXPECT_EQ(c.options.format, tape_image::Format::simh);
  // -e is --format=e11; the last format given counts.
  EXPECT_EQ(parse({"-e", "--format=tpc", "a.tap"}).options.format, tape_image::Format::tpc);
  EXPECT_EQ(parse({"--format", "simh-be", "-e", "a.tap"}).options.format, tape_image::Format::e11);
  EXPECT_EQ(parse({"--form=tpc-nopad", "a.tap"}).options.format, tape_image::Format::tpc_nopad);
  EXPECT_EQ(parse({"--format=simh-tm8", "a.tap"}).options.format, tape_image::Format::simh_tm8);
  c = parse({"--format=p7b", "--parity", "odd", "a.p7b"});
  EXPECT_EQ(c.options.format, tape_image::Format::p7b);
  EXPECT_EQ(c.options.parity, tape_image::Parity::odd);
  EXPECT_EQ(parse({"a.p7b"}).options.parity, tape_image::Parity::even);
  EXPECT_EQ(parse({"a.tap", "--help", "-x"}).action, Action::help);
  EXPECT_EQ(parse({"--version"}).action, Action::version);
  EXPECT_EQ(parse({"--rec", "a.tap"}).options.records, true);  // an unambiguous abbreviation

  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{}, "no tape image named"},
      {{"-l"}, "no tape image named"},
      {{"-h", "a.tap"}, "unknown option '-h'"},
      {{"-lx", "a.tap"}, "unknown option '-x'"},
      {{"--foo=1", "a.tap"}, "unknown option '--foo'"},
      {{"--records=2", "a.tap"}, "option '--records' takes no value"},
      {{"--help=yes"}, "option '--help' takes no value"},
      {{"a.tap", "--format"}, "option '--format' needs a value"},
      {{"--format=simh2", "a.tap"},
       "invalid format 'simh2': give simh, e11, simh-be, simh-tm8, tpc, tpc-nopad or p7b"},
      {{"--parity=even2", "a.tap"}, "invalid parity 'even2': give even, odd or none"},
  };
  for (const auto& [args, complaint] : bad) {
    c = parse(args);
    EXPECT_EQ(c.action, Action::bad) << complaint;
    EXPECT_EQ(c.complaint, complaint);
  }
}

TEST(SizeTally, SmallestLargestMostCommonAndDataBytes) {
  SizeTally tally;
  for (const std::uint32_t size : {80u, 13u, 80u, 25u, 13u, 80u, 70000u, 70000u, 70000u})
    tally.add(size);
  SizeTally::Summary s = tally.summary();
  EXPECT_EQ(s.records, 9u);
  EXPECT_EQ(s.smallest, 13u);
  EXPECT_EQ(s.largest, 70000u);
  EXPECT_EQ(s.data_bytes, 80u * 3 + 13 * 2 + 25 + 70000 * 3);
  // 80 and 70000 three times each: the smaller one.
  EXPECT_EQ(s.most_common, (std::pair<std::uint32_t, std::uint64_t>{80, 3}));
  tally.add(70000, 2);
  EXPECT_EQ(tally.summary().most_common, (std::pair<std::uint32_t, std::uint64_t>{70000, 5}));

  tally.clear();
  EXPECT_EQ(tally.summary().records, 0u);
  EXPECT_FALSE(tally.summary().most_common);
  tally.add(25);
  EXPECT_EQ(tally.summary().most_common, (std::pair<std::uint32_t, std::uint64_t>{25, 1}));
}

TEST(SizeTally, TooManyDifferentLargeSizesLeaveTheMostCommonUnknown) {
  SizeTally tally;
  for (std::uint32_t k = 0; k < SizeTally::most_large_sizes; ++k)
    tally.add(SizeTally::small_limit + k);
  EXPECT_TRUE(tally.summary().most_common);
  tally.add(SizeTally::small_limit + SizeTally::most_large_sizes);
  const SizeTally::Summary s = tally.summary();
  EXPECT_FALSE(s.most_common);
  EXPECT_EQ(s.records, SizeTally::most_large_sizes + 1);
  tally.clear();
  tally.add(1);
  EXPECT_TRUE(tally.summary().most_common);
}

}  // namespace
}  // namespace reel::reelprint
