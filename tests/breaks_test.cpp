// One table of broken images through all three programs, each run in process through its run():
// how reelprint's listing ends, the line on which reelinfo's report ends its walk, and what
// reeltext says as it writes the image as text, each with its exit status. Every expectation is
// worked out from the framing and from the programs' own wording, in each framing where that
// matters, and holds however the bytes come: whole, a byte a read, or a few at a time into small
// buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "reelinfo/run.h"
#include "reeltext/run.h"
#include "tests/memory_run.h"
#include "tests/support.h"

namespace reel::reelprint {
namespace {

using tape_image::Framing;
using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;
using testing::operator+;
using testing::repeat;

// How reelprint's listing of every tape file ends: its last line, and its status.
struct Listed {
  std::string last_line;
  int status;
};

const Listed error_reading{"Error reading t.tap", 3};
// Listed to its end with no message: the last line is the ruler of the last tape file asked for.
const Listed lists_to_the_end{testing::ruler_100.substr(0, testing::ruler_100.size() - 1), 0};

// Both counts as reelprint prints them: signed 32-bit numbers.
Listed unequal(std::int32_t leading, std::int32_t trailing) {
  return {"Unequal starting and ending record sizes: " + std::to_string(leading) +
              " != " + std::to_string(trailing),
          4};
}

// The line of reelinfo's report that tells how its walk ended, and its status.
struct Reported {
  std::string end_line;
  int status;
};

// What reeltext writes as text, what it says on standard error after "reeltext: t.tap: ", and
// its status.
struct Written {
  std::string text;
  std::string message;
  int status;
};

enum class Read { simh, e11, both };  // the framings a row is read in

struct Row {
  std::string name;
  Read read;
  Bytes image;
  Listed reelprint;
  Reported reelinfo;
  Written reeltext;
  bool fails = false;  // the read after the image's last byte fails (EIO)
};

// A card of two codes, 10 bytes in either framing: the whole record before each break, at 10.
ImageBuilder card() {
  ImageBuilder image;
  image.record(codes("AB"));
  return image;
}

const Bytes cd = codes("CD");
const Bytes xyz = codes("XYZ");
const Bytes abc = codes("ABC");

std::vector<Row> rows() {
  std::vector<Row> table = {
      // The image ends in a record's data.
      {"a one-byte record cut short before its byte",
       Read::both,
       card().count(1).bytes(),
       error_reading,
       {"end at 10: file 1 record 2 cut short in its data, 0 of 1 byte there", 3},
       {"AB\n", "file 1 record 2 at 10: cut short in its data, 0 of 1 byte there", 3}},
      {"data cut short",
       Read::both,
       card().count(80).raw(xyz).bytes(),
       error_reading,
       {"end at 10: file 1 record 2 cut short in its data, 3 of 80 bytes there", 3},
       {"AB\n", "file 1 record 2 at 10: cut short in its data, 3 of 80 bytes there", 3}},
      {"data cut short before its first byte",
       Read::both,
       card().count(80).bytes(),
       error_reading,
       {"end at 10: file 1 record 2 cut short in its data, 0 of 80 bytes there", 3},
       {"AB\n", "file 1 record 2 at 10: cut short in its data, 0 of 80 bytes there", 3}},
      {"a long record cut short",
       Read::both,
       card().count(10'000).raw(repeat(49, 9'000)).bytes(),
       error_reading,
       {"end at 10: file 1 record 2 cut short in its data, 9000 of 10000 bytes there", 3},
       {"AB\n", "file 1 record 2 at 10: cut short in its data, 9000 of 10000 bytes there", 3}},
      {"the first record cut short",
       Read::both,
       ImageBuilder().count(80).raw(xyz).bytes(),
       error_reading,
       {"end at 0: file 1 record 1 cut short in its data, 3 of 80 bytes there", 3},
       {"", "file 1 record 1 at 0: cut short in its data, 3 of 80 bytes there", 3}},
      {"a record after a tape mark cut short",
       Read::both,
       card().tape_mark().count(80).raw(xyz).bytes(),
       error_reading,
       {"end at 14: file 2 record 1 cut short in its data, 3 of 80 bytes there", 3},
       {"AB\ntape mark\n", "file 2 record 1 at 14: cut short in its data, 3 of 80 bytes there", 3}},

      // The image ends after odd-length data: where simh has the pad byte, or after it. reelprint
      // passes over a missing pad byte, and reads a trailing count cut short as 0.
      {"cut short before the pad byte",
       Read::simh,
       card().count(3).raw(abc).bytes(),
       unequal(3, 0),
       {"end at 10: file 1 record 2 cut short before its pad byte", 4},
       {"AB\n", "file 1 record 2 at 10: cut short before its pad byte", 4}},
      {"cut short after odd data, in E11",
       Read::e11,
       card().count(3).raw(abc).bytes(),
       unequal(3, 0),
       {"end at 10: file 1 record 2 cut short in its trailing count, 0 of 4 bytes there", 4},
       {"AB\n", "file 1 record 2 at 10: cut short in its trailing count, 0 of 4 bytes there", 4}},
      {"cut short after the pad byte",
       Read::simh,
       card().count(3).raw(abc + Bytes{0}).bytes(),
       unequal(3, 0),
       {"end at 10: file 1 record 2 cut short in its trailing count, 0 of 4 bytes there", 4},
       {"AB\n", "file 1 record 2 at 10: cut short in its trailing count, 0 of 4 bytes there", 4}},
      // E11 reads the pad byte as the trailing count's first.
      {"cut short after the pad byte, in E11",
       Read::e11,
       card().count(3).raw(abc + Bytes{0}).bytes(),
       unequal(3, 0),
       {"end at 10: file 1 record 2 cut short in its trailing count, 1 of 4 bytes there", 4},
       {"AB\n", "file 1 record 2 at 10: cut short in its trailing count, 1 of 4 bytes there", 4}},
      {"cut short in the trailing count after the pad byte",
       Read::simh,
       card().count(3).raw(abc + Bytes{0, 3, 0}).bytes(),
       unequal(3, 0),
       {"end at 10: file 1 record 2 cut short in its trailing count, 2 of 4 bytes there", 4},
       {"AB\n", "file 1 record 2 at 10: cut short in its trailing count, 2 of 4 bytes there", 4}},
      {"cut short in the trailing count after odd data, in E11",
       Read::e11,
       card().count(3).raw(abc + Bytes{0, 3, 0}).bytes(),
       unequal(3, 0),
       {"end at 10: file 1 record 2 cut short in its trailing count, 3 of 4 bytes there", 4},
       {"AB\n", "file 1 record 2 at 10: cut short in its trailing count, 3 of 4 bytes there", 4}},

      // The trailing count differs from the leading one.
      {"unequal counts",
       Read::both,
       card().count(2).raw(cd).count(3).bytes(),
       unequal(2, 3),
       {"end at 10: file 1 record 2: leading count 2, trailing count 3", 4},
       {"AB\n", "file 1 record 2 at 10: leading count 2, trailing count 3", 4}},
      {"a trailing count with bit 31 set",
       Read::both,
       card().count(2).raw(cd).count(0xFFFF'FFFF).bytes(),
       unequal(2, -1),
       {"end at 10: file 1 record 2: leading count 2, trailing count 4294967295", 4},
       {"AB\n", "file 1 record 2 at 10: leading count 2, trailing count 4294967295", 4}},
      {"a long record's counts unequal",
       Read::both,
       card().count(10'000).raw(repeat(49, 10'000)).count(3).bytes(),
       unequal(10'000, 3),
       {"end at 10: file 1 record 2: leading count 10000, trailing count 3", 4},
       {"AB\n", "file 1 record 2 at 10: leading count 10000, trailing count 3", 4}},
      // Records of 2, 3 and 2 codes with no pad byte. As simh, the pad byte is the first byte of
      // the 3's trailing count, whose other three and the next count's first make 00 00 00 02.
      {"an E11 image read as simh",
       Read::simh,
       ImageBuilder(Framing::e11).record(codes("AB")).record(abc).record(cd).bytes(),
       unequal(3, 0x0200'0000),
       {"end at 10: file 1 record 2: leading count 3, trailing count 33554432", 4},
       {"AB\n", "file 1 record 2 at 10: leading count 3, trailing count 33554432", 4}},
      {"an E11 image read as E11",
       Read::e11,
       ImageBuilder(Framing::e11).record(codes("AB")).record(abc).record(cd).bytes(),
       lists_to_the_end,
       {"end at 31: after a record, with no tape mark after it", 0},
       {"AB\nABC\nCD\n", "", 0}},
      // As E11, the trailing count is the pad byte and 03 00 00: 768.
      {"a simh image read as E11",
       Read::e11,
       card().record(abc).bytes(),
       unequal(3, 768),
       {"end at 10: file 1 record 2: leading count 3, trailing count 768", 4},
       {"AB\n", "file 1 record 2 at 10: leading count 3, trailing count 768", 4}},

      // Bad records break as any other record. reelprint reads their words as counts of 2^31 and
      // more, which the image does not hold, and reelinfo gives reelprint's status.
      {"a bad record cut short",
       Read::both,
       card().count(0x8000'0050).raw(xyz).bytes(),
       error_reading,
       {"end at 10: file 1 record 2, a bad record, cut short in its data, 3 of 80 bytes there", 3},
       {"AB\n", "file 1 record 2 at 10, a bad record: cut short in its data, 3 of 80 bytes there",
        3}},
      {"a bad record's trailing word without the flag",
       Read::both,
       card().count(0x8000'0002).raw(cd).count(2).bytes(),
       error_reading,
       {"end at 10: file 1 record 2, a bad record: leading word 80000002, trailing word 00000002",
        3},
       {"AB\n",
        "file 1 record 2 at 10, a bad record: leading word 80000002, trailing word 00000002", 4}},
      {"a bad record cut short in its trailing word",
       Read::both,
       card().count(0x8000'0002).raw(cd + Bytes{2, 0}).bytes(),
       error_reading,
       {"end at 10: file 1 record 2, a bad record, cut short in its trailing count, 2 of 4 bytes "
        "there",
        3},
       {"AB\n",
        "file 1 record 2 at 10, a bad record: cut short in its trailing count, 2 of 4 bytes there",
        4}},

      // Too few bytes for a count: the end of the image to reelprint.
      {"1 stray byte",
       Read::both,
       card().raw(Bytes{1}).bytes(),
       lists_to_the_end,
       {"end at 10: 1 stray byte where a count should begin", 0},
       {"AB\n", "1 stray byte at offset 10, where a count should begin: text has no line for them",
        3}},
      {"2 stray bytes",
       Read::both,
       card().raw(Bytes{1, 2}).bytes(),
       lists_to_the_end,
       {"end at 10: 2 stray bytes where a count should begin", 0},
       {"AB\n", "2 stray bytes at offset 10, where a count should begin: text has no line for them",
        3}},
      {"3 stray bytes",
       Read::both,
       card().raw(Bytes{1, 2, 3}).bytes(),
       lists_to_the_end,
       {"end at 10: 3 stray bytes where a count should begin", 0},
       {"AB\n", "3 stray bytes at offset 10, where a count should begin: text has no line for them",
        3}},

      // A read that fails: between records, in a record's data, in its trailing count.
      {"a read error where a count should begin",
       Read::both,
       card().bytes(),
       error_reading,
       {"end at 10: read error at 10 (Input/output error)", 3},
       {"AB\n", "read error at offset 10 (Input/output error)", 3},
       true},
      {"a read error in a record's data",
       Read::both,
       card().count(4).raw(cd).bytes(),
       error_reading,
       {"end at 10: read error at 16 in file 1 record 2 (Input/output error)", 3},
       {"AB\n", "read error at offset 16 (Input/output error)", 3},
       true},
      {"a read error in a trailing count",
       Read::both,
       card().count(2).raw(cd + Bytes{2, 0}).bytes(),
       error_reading,
       {"end at 10: read error at 18 in file 1 record 2 (Input/output error)", 3},
       {"AB\n", "read error at offset 18 (Input/output error)", 3},
       true},
      {"a read error in a count",
       Read::both,
       card().raw(Bytes{1, 2}).bytes(),
       error_reading,
       {"end at 10: read error at 12 (Input/output error)", 3},
       {"AB\n", "read error at offset 12 (Input/output error)", 3},
       true},
      // A read that fails after the walk has ended, as reelinfo reads on for the size: status 3.
      {"a read error after the end-of-medium marker",
       Read::both,
       card().count(0xFFFF'FFFF).bytes(),
       error_reading,
       {"end at 10: end-of-medium marker", 3},
       {"AB\nend of medium\n", "read error at offset 14 (Input/output error)", 3},
       true},

      // simh's control words that end the walk; reelprint reads each as a count, of more bytes
      // than follow it.
      {"a half gap",
       Read::both,
       card().count(0xFFFE'FFFF).bytes(),
       error_reading,
       {"end at 10: a half gap (FFFEFFFF), past which the walk cannot go on safely", 3},
       {"AB\n", "a half gap (FFFEFFFF) at offset 10: text has no line for it", 3}},
      {"a half gap and a record after it",
       Read::both,
       card().count(0xFFFF'8012).record(cd).bytes(),
       error_reading,
       {"end at 10: a half gap (FFFF8012), past which the walk cannot go on safely, 10 bytes "
        "after it",
        3},
       {"AB\n", "a half gap (FFFF8012) at offset 10: text has no line for it", 3}},
      {"a reserved word",
       Read::both,
       card().count(0x8000'0000).bytes(),
       error_reading,
       {"end at 10: a reserved control word (80000000), past which the walk cannot go on safely",
        3},
       {"AB\n", "a reserved control word (80000000) at offset 10: text has no line for it", 3}},
      {"a reserved word above the bad records'",
       Read::both,
       card().count(0x8100'0000).raw(cd).bytes(),
       error_reading,
       {"end at 10: a reserved control word (81000000), past which the walk cannot go on safely, "
        "2 bytes after it",
        3},
       {"AB\n", "a reserved control word (81000000) at offset 10: text has no line for it", 3}},
      {"the placeholder",
       Read::both,
       card().count(0xFFFF'FFFD).raw(cd).bytes(),
       error_reading,
       {"end at 10: a record whose count was never written (FFFFFFFD, left where its writer was "
        "stopped), past which the walk cannot go on safely, 2 bytes after it",
        3},
       {"AB\n",
        "a record whose count was never written, its writer stopped (FFFFFFFD) at offset 10: text "
        "has no line for it",
        3}},
      // The end-of-medium marker ends reelinfo's walk cleanly and reeltext's text, whatever
      // reelprint makes of it.
      {"the end-of-medium marker",
       Read::both,
       card().count(0xFFFF'FFFF).bytes(),
       error_reading,
       {"end at 10: end-of-medium marker", 0},
       {"AB\nend of medium\n", "", 0}},
      {"bytes after the end-of-medium marker",
       Read::both,
       card().count(0xFFFF'FFFF).raw(Bytes{0}).bytes(),
       error_reading,
       {"end at 10: end-of-medium marker, 1 byte after it", 0},
       {"AB\nend of medium\n",
        "bytes after the end-of-medium marker at offset 10: text has no line for them", 3}},
      // An erase gap is passed over, and counts in no record's number; reelprint reads it as a
      // count.
      {"unequal counts after an erase gap",
       Read::both,
       card().count(0xFFFF'FFFE).count(2).raw(cd).count(3).bytes(),
       error_reading,
       {"end at 14: file 1 record 2: leading count 2, trailing count 3", 3},
       {"AB\nerase gap\n", "file 1 record 2 at 14: leading count 2, trailing count 3", 4}},
  };
  // Cut short in the trailing count of an even-length record, 0 to 3 of its bytes there.
  for (std::size_t there = 0; there < 4; ++there) {
    const std::string what =
        "cut short in its trailing count, " + std::to_string(there) + " of 4 bytes there";
    table.push_back({"trailing count cut to " + std::to_string(there),
                     Read::both,
                     card().count(2).raw(cd + Bytes{2, 0, 0, 0}).bytes(),
                     unequal(2, 0),
                     {"end at 10: file 1 record 2 " + what, 4},
                     {"AB\n", "file 1 record 2 at 10: " + what, 4}});
    table.back().image.resize(16 + there);  // 10 of the card, 6 of the count and data
  }
  return table;
}

// Serves an image `piece` bytes a read at most; past its end, a read that fails with EIO if
// `fails`.
class Image final : public tape_image::InputSource {
 public:
  Image(const Bytes& bytes, std::size_t piece, bool fails) : bytes_(bytes, piece, fails) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override {
    const std::ptrdiff_t got = bytes_.read(buf, n);
    if (got < 0) errno = EIO;
    return got;
  }
  std::uint64_t known_size() const override { return bytes_.known_size(); }
  std::uint64_t skip(std::uint64_t n) override { return bytes_.skip(n); }

 private:
  tape_image::MemorySource bytes_;
};

// How the bytes come, and where reeltext's text goes.
struct Way {
  std::size_t piece;  // the most bytes a read hands over
  bool small;         // reads and output of 4 KiB, and a record held past 100 bytes in a file
  bool seekable;
};

const Way ways[] = {{static_cast<std::size_t>(-1), false, false},
                    {1, false, true},
                    {7, true, false},
                    {7, true, true}};

// Returns the last line of `out`, without its newline.
std::string last_line(const std::string& out) {
  if (out.size() < 2 || out.back() != '\n') return "no last line: " + out;
  const std::size_t before = out.rfind('\n', out.size() - 2);
  const std::size_t from = before == std::string::npos ? 0 : before + 1;
  return out.substr(from, out.size() - 1 - from);
}

// Returns the line of `report` that begins "end at ", without its newline.
std::string end_line(const std::string& report) {
  const std::size_t at = report.rfind("\nend at ");
  if (at == std::string::npos) return "no end line: " + report;
  return report.substr(at + 1, report.find('\n', at + 1) - at - 1);
}

TEST(Breaks, EachBrokenImageEndsEachProgramAsItsRulesSay) {
  for (const Row& row : rows()) {
    for (const Framing framing : {Framing::simh, Framing::e11}) {
      if (row.read != Read::both && (row.read == Read::e11) != (framing == Framing::e11)) continue;
      const bool e11 = framing == Framing::e11;
      for (const Way& way : ways) {
        SCOPED_TRACE(row.name + (e11 ? ", -e" : "") + ", reads of " +
                     std::to_string(std::min<std::size_t>(way.piece, 1 << 20)) +
                     (way.small ? ", small buffers" : "") + (way.seekable ? ", seekable" : ""));
        const auto open = [&](const std::string& name) -> std::unique_ptr<tape_image::InputSource> {
          if (name != "t.tap") {
            errno = ENOENT;
            return nullptr;
          }
          return std::make_unique<Image>(row.image, way.piece, row.fails);
        };

        std::vector<std::string_view> options = {"-9"};  // as far as the image goes
        if (e11) options.push_back("-e");
        const testing::Outcome listed =
            testing::list_with(options, open, "t.tap", bcd::best_kernel(), way.small ? 4096 : 0);
        EXPECT_EQ(last_line(listed.out), row.reelprint.last_line);
        EXPECT_EQ(listed.status, row.reelprint.status);

        std::vector<std::string> args = {"reelinfo", "t.tap"};
        if (e11) args.insert(args.begin() + 1, "-e");
        testing::Collect report;
        testing::Collect report_err;
        const int report_status = reelinfo::run(args, open, report, report_err);
        EXPECT_EQ(end_line(report.text), row.reelinfo.end_line);
        EXPECT_EQ(report_status, row.reelinfo.status);
        EXPECT_EQ(report_err.text, "");

        args[0] = "reeltext";
        testing::Collect text({.seekable = way.seekable});
        testing::Collect said;
        reeltext::Tuning tuning;
        if (way.small) tuning = {bcd::best_kernel(), 4096, 4096, 100};
        const int text_status = reeltext::run(args, open, text, said, tuning);
        EXPECT_EQ(text.text, row.reeltext.text);
        EXPECT_EQ(said.text, row.reeltext.message.empty()
                                 ? ""
                                 : "reeltext: t.tap: " + row.reeltext.message + "\n");
        EXPECT_EQ(text_status, row.reeltext.status);
      }
    }
  }
}

}  // namespace
}  // namespace reel::reelprint
