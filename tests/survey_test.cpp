// The survey of a tape image: the items it tells and how it says the image ends, for a table
// of images whose offsets and endings are worked out from the framing by hand; the same
// whatever pieces the input comes in, and whether it can skip or not.
#include "reelinfo/survey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support.h"

namespace reel::reelprint {
namespace {

using reelinfo::Ending;
using reelinfo::EndKind;
using tape_image::Format;
using tape_image::Framing;
using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;
using testing::operator+;
using testing::repeat;

// Writes down every item told, a run of records as each of its records: "T<file>@<offset>"
// for a tape mark, "R<file>.<number>@<offset>:<size>" for a record ("B..." for a bad one),
// "!" after it for one of the tape mark character, "=<codes shown>" when data bytes are asked for,
// "G@<offset>" for an erase gap.
struct Items final : reelinfo::SurveyListener {
  explicit Items(Framing framing = Framing::simh) : framing(framing) {}
  Framing framing;
  std::vector<std::string> told;
  void records(const reelinfo::SurveyRecord& run) override {
    const std::uint64_t pad = framing == Framing::simh ? run.size % 2 : 0;
    const std::uint64_t stride = 8 + run.size + pad;
    for (std::uint64_t k = 0; k < run.count; ++k) {
      std::ostringstream item;
      item << (run.bad ? "B" : "R") << run.file << "." << run.number + k << "@"
           << run.offset + k * stride << ":" << run.size;
      if (run.tape_mark_character) item << "!";
      if (!run.first.empty()) item << "=" << std::string(run.first.begin(), run.first.end());
      told.push_back(item.str());
    }
  }
  void tape_mark(std::uint64_t file, std::uint64_t offset) override {
    std::ostringstream item;
    item << "T" << file << "@" << offset;
    told.push_back(item.str());
  }
  void erase_gap(std::uint64_t offset) override {
    std::ostringstream item;
    item << "G@" << offset;
    told.push_back(item.str());
  }
};

// Hands out the bytes of another source and can't skip, as a pipe.
struct NoSkip final : tape_image::InputSource {
  explicit NoSkip(tape_image::InputSource& inner) : inner(inner) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override { return inner.read(buf, n); }
  tape_image::InputSource& inner;
};

// An ending as a line, to compare whole.
std::string describe(const Ending& e) {
  std::ostringstream text;
  text << "kind " << static_cast<int>(e.kind) << " at " << e.at;
  if (e.in_record) text << " in " << e.file << "." << e.record << " size " << e.size;
  if (e.bad) text << " bad";
  if (e.word != 0) text << " word " << std::hex << e.word << std::dec;
  text << " trailer " << e.trailer << " bytes " << e.bytes;
  return text.str();
}

Ending ending(EndKind kind, std::uint64_t at, std::uint64_t bytes = 0) {
  Ending e;
  e.kind = kind;
  e.at = at;
  e.bytes = bytes;
  return e;
}

Ending in_record(EndKind kind, std::uint64_t at, std::uint64_t file, std::uint64_t record,
                 std::uint32_t size, std::uint64_t bytes = 0, std::uint32_t trailer = 0) {
  Ending e = ending(kind, at, bytes);
  e.in_record = true;
  e.file = file;
  e.record = record;
  e.size = size;
  e.trailer = trailer;
  return e;
}

struct Case {
  const char* name;
  Bytes image;
  Framing framing;
  std::vector<std::string> items;
  Ending ending;
  std::optional<Ending> other;  // the walk in the other framing, where it parts
};

const Bytes two = codes("AB");
const Bytes three = codes("ABC");
const Bytes card = repeat(49, 80);
const std::uint32_t long_size = 400001;  // passed over by seeking: more than two read buffers

std::vector<Case> cases() {
  return {
      {"empty", {}, Framing::simh, {}, ending(EndKind::empty, 0), {}},
      {"tape mark alone",
       ImageBuilder().tape_mark().bytes(),
       Framing::simh,
       {"T1@0"},
       ending(EndKind::after_tape_mark, 4),
       {}},
      // 88 bytes a card; a record of 2 takes 10.
      {"two files and an empty one",
       ImageBuilder()
           .record(card)
           .record(card)
           .tape_mark()
           .record(two)
           .tape_mark()
           .tape_mark()
           .bytes(),
       Framing::simh,
       {"R1.1@0:80", "R1.2@88:80", "T1@176", "R2.1@180:2", "T2@190", "T3@194"},
       ending(EndKind::after_tape_mark, 198),
       {}},
      // The E11 walk reads the pad byte and three bytes of the count 3 as its trailing count:
      // 00 03 00 00, 768; 13 bytes follow it.
      {"no tape mark at the end",
       ImageBuilder().record(three).record(codes("ABCD")).bytes(),
       Framing::simh,
       {"R1.1@0:3", "R1.2@12:4"},
       ending(EndKind::after_record, 24),
       in_record(EndKind::unequal_counts, 0, 1, 1, 3, 13, 768)},
      {"end-of-medium marker",
       ImageBuilder().record(two).count(0xFFFFFFFF).raw(two + three).bytes(),
       Framing::simh,
       {"R1.1@0:2"},
       ending(EndKind::end_of_medium, 10, 5),
       {}},
      // The E11 walk wants the trailing count right after the data, where the image ends.
      {"pad byte missing",
       ImageBuilder().record(two).count(3).raw(three).bytes(),
       Framing::simh,
       {"R1.1@0:2"},
       in_record(EndKind::before_pad, 10, 1, 2, 3),
       in_record(EndKind::in_trailer, 10, 1, 2, 3, 0)},
      {"trailing count cut short after the pad byte",
       ImageBuilder().count(3).raw(three).raw(Bytes{0, 3}).bytes(),
       Framing::simh,
       {},
       in_record(EndKind::in_trailer, 0, 1, 1, 3, 1),
       in_record(EndKind::in_trailer, 0, 1, 1, 3, 2)},
      // 03 00 00 00 C1 C2 C3 03 00 00 00 | 02 00 00 00 ...: read with a pad byte, the trailing
      // count is 00 00 00 02, 33554432; 25 - 12 bytes follow it.
      {"E11 image read without -e",
       ImageBuilder(tape_image::Framing::e11).record(three).record(two).tape_mark().bytes(),
       Framing::simh,
       {},
       in_record(EndKind::unequal_counts, 0, 1, 1, 3, 13, 33554432),
       ending(EndKind::after_tape_mark, 25)},
      {"simh image read with -e",
       ImageBuilder().record(three).tape_mark().bytes(),
       Framing::e11,
       {},
       in_record(EndKind::unequal_counts, 0, 1, 1, 3, 5, 768),
       ending(EndKind::after_tape_mark, 16)},
      {"E11 image read with -e",
       ImageBuilder(tape_image::Framing::e11).record(three).record(two).tape_mark().bytes(),
       Framing::e11,
       {"R1.1@0:3", "R1.2@11:2", "T1@21"},
       ending(EndKind::after_tape_mark, 25),
       in_record(EndKind::unequal_counts, 0, 1, 1, 3, 13, 33554432)},
      // 400001 is 81 1A 06 00; the E11 walk's trailing count is 00 81 1A 06, 102400256, and 15
      // bytes follow it.
      {"a record longer than two read buffers",
       ImageBuilder().record(repeat(1, long_size)).record(two).tape_mark().bytes(),
       Framing::simh,
       {"R1.1@0:400001", "R1.2@400010:2", "T1@400020"},
       ending(EndKind::after_tape_mark, 400024),
       in_record(EndKind::unequal_counts, 0, 1, 1, long_size, 15, 102400256)},
      // Past the tape marks at 10 and 14, two zero words and two zero bytes: the padding of a
      // copied image, told as no tape marks.
      {"zero fill",
       ImageBuilder().record(two).tape_mark().tape_mark().raw(repeat(0, 10)).bytes(),
       Framing::simh,
       {"R1.1@0:2", "T1@10", "T2@14"},
       ending(EndKind::zero_fill, 18, 10),
       {}},
      // Tape marks past the first two in a row are told once a record follows them.
      {"tape marks in a row, then a record",
       ImageBuilder()
           .record(two)
           .tape_mark()
           .tape_mark()
           .tape_mark()
           .tape_mark()
           .record(two)
           .bytes(),
       Framing::simh,
       {"R1.1@0:2", "T1@10", "T2@14", "T3@18", "T4@22", "R5.1@26:2"},
       ending(EndKind::after_record, 36),
       {}},
      {"long record cut short",
       ImageBuilder().count(long_size).raw(repeat(1, 300000)).bytes(),
       Framing::simh,
       {},
       in_record(EndKind::in_data, 0, 1, 1, long_size, 300000),
       in_record(EndKind::in_data, 0, 1, 1, long_size, 300000)},
  };
}

// Surveys `image` in `format` every way its bytes may come, whole or in pieces of 1 to 7,
// skippable or not, and hands each survey and the items told to `check`.
template <class Check>
void survey_every_way(const Bytes& image, Format format, Check check) {
  const Framing framing = tape_image::reading_of(format).framing;
  for (const std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3},
                                  std::size_t{5}, std::size_t{7}}) {
    for (const bool skippable : {true, false}) {
      SCOPED_TRACE("pieces of " + std::to_string(piece) + (skippable ? ", skippable" : ""));
      tape_image::MemorySource memory(image, piece == 0 ? static_cast<std::size_t>(-1) : piece);
      NoSkip pipe(memory);
      Items items(framing);
      const reelinfo::Survey s = reelinfo::survey(
          skippable ? static_cast<tape_image::InputSource&>(memory) : pipe, format, 0, items);
      EXPECT_EQ(s.size, image.size());
      EXPECT_FALSE(s.read_failed);
      check(s, items.told);
    }
  }
}

TEST(Survey, TableOfImagesInEveryPieceSize) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    survey_every_way(c.image, c.framing == Framing::simh ? Format::simh : Format::e11,
                     [&](const reelinfo::Survey& s, const auto& told) {
                       EXPECT_EQ(told, c.items);
                       EXPECT_EQ(describe(s.ending), describe(c.ending));
                       EXPECT_FALSE(s.as_listed.has_value());
                       ASSERT_EQ(s.other.has_value(), c.other.has_value());
                       if (c.other) {
                         EXPECT_EQ(describe(*s.other), describe(*c.other));
                       }
                     });
  }
}

TEST(Survey, TellsWhatEachControlWordIs) {
  using tape_image::WordKind;
  const std::pair<std::uint32_t, WordKind> words[] = {
      {0x7FFF'FFFF, WordKind::count},       {0x8000'0000, WordKind::reserved},
      {0x8000'0001, WordKind::bad_record},  {0x80FF'FFFF, WordKind::bad_record},
      {0x8100'0000, WordKind::reserved},    {0xFFFE'FFFF, WordKind::half_gap},
      {0xFFFF'0000, WordKind::half_gap},    {0xFFFF'00FF, WordKind::half_gap},
      {0xFFFF'0100, WordKind::reserved},    {0xFFFF'8000, WordKind::half_gap},
      {0xFFFF'80FF, WordKind::half_gap},    {0xFFFF'8100, WordKind::reserved},
      {0xFFFF'FFFE, WordKind::erase_gap},   {0xFFFF'FFFF, WordKind::end_of_medium},
      {0xFFFF'FFFD, WordKind::placeholder},
  };
  for (const auto& [word, kind] : words) EXPECT_EQ(tape_image::kind_of(word), kind) << word;
}

// Bad records are walked as records, erase gaps passed over, half gaps and reserved words end
// the walk; reelprint's reading parts at the first of them, reading it as a count.
TEST(Survey, ReadsControlWordsAndReelprintsReadingPartsAtTheFirst) {
  const Bytes bad_card = ImageBuilder().count(0x8000'0050).raw(card).count(0x8000'0050).bytes();
  const Bytes gap = ImageBuilder().count(0xFFFF'FFFE).bytes();
  struct WordCase {
    const char* name;
    Bytes image;
    std::vector<std::string> items;
    Ending ending;
    std::uint64_t parted_at;
    Ending as_listed;
  };
  // A card takes 88 bytes, a record of 2 takes 10; reelprint reads the word as a count far
  // past the image's end.
  const WordCase cases[] = {
      {"a bad record",
       ImageBuilder().record(card).bytes() + bad_card +
           ImageBuilder().record(two).tape_mark().bytes(),
       {"R1.1@0:80", "B1.2@88:80", "R1.3@176:2", "T1@186"},
       ending(EndKind::after_tape_mark, 190),
       88,
       in_record(EndKind::in_data, 88, 1, 2, 0x8000'0050, 98)},
      {"erase gaps",
       ImageBuilder().record(two).bytes() + gap + gap + ImageBuilder().record(two).bytes(),
       {"R1.1@0:2", "G@10", "G@14", "R1.2@18:2"},
       ending(EndKind::after_record, 28),
       10,
       in_record(EndKind::in_data, 10, 1, 2, 0xFFFF'FFFE, 14)},
      {"a half gap",
       ImageBuilder().record(two).count(0xFFFE'FFFF).record(two).bytes(),
       {"R1.1@0:2"},
       [] {
         Ending e = ending(EndKind::half_gap, 10, 10);
         e.word = 0xFFFE'FFFF;
         return e;
       }(),
       10,
       in_record(EndKind::in_data, 10, 1, 2, 0xFFFE'FFFF, 10)},
      {"a reserved word",
       ImageBuilder().count(0x9A00'0000).bytes(),
       {},
       [] {
         Ending e = ending(EndKind::reserved_word, 0);
         e.word = 0x9A00'0000;
         return e;
       }(),
       0,
       in_record(EndKind::in_data, 0, 1, 1, 0x9A00'0000, 0)},
      // 2 data bytes, no pad; the trailer lacks the flag. 80000001: 1 byte, its pad, and a
      // trailer of four data bytes.
      {"a bad record whose trailer lacks the flag",
       ImageBuilder().count(0x8000'0002).raw(two).count(2).bytes(),
       {},
       [] {
         Ending e = in_record(EndKind::unequal_counts, 0, 1, 1, 2, 0, 2);
         e.bad = true;
         return e;
       }(),
       0,
       in_record(EndKind::in_data, 0, 1, 1, 0x8000'0002, 6)},
      {"a bad record of odd length",
       ImageBuilder().count(0x8000'0001).raw(repeat(1, 6)).bytes(),
       {},
       [] {
         Ending e = in_record(EndKind::unequal_counts, 0, 1, 1, 1, 0, 0x0101'0101);
         e.bad = true;
         return e;
       }(),
       0,
       in_record(EndKind::in_data, 0, 1, 1, 0x8000'0001, 6)},
  };
  for (const WordCase& c : cases) {
    SCOPED_TRACE(c.name);
    survey_every_way(c.image, Format::simh, [&](const reelinfo::Survey& s, const auto& told) {
      EXPECT_EQ(told, c.items);
      EXPECT_EQ(describe(s.ending), describe(c.ending));
      ASSERT_TRUE(s.as_listed.has_value());
      EXPECT_EQ(s.parted_at, c.parted_at);
      EXPECT_EQ(describe(*s.as_listed), describe(c.as_listed));
    });
  }
}

// Hints: the walks of the whole image in the other formats with counts, and its first bytes.
TEST(Survey, WalksTheImageFromItsStartInTheOtherFormatsWithCounts) {
  // TPC: AB (2 bytes, its 16-bit count), ABC (3 bytes, padded), AB, a tape mark: 16 bytes.
  const Bytes tpc = {2, 0, 49, 50, 3, 0, 49, 50, 51, 0, 2, 0, 49, 50, 0, 0};
  // simh with big-endian counts: AB twice (10 bytes each), a tape mark: 24 bytes.
  ImageBuilder big_endian;
  for (int k = 0; k < 2; ++k) big_endian.count(0x0200'0000).raw(two).count(0x0200'0000);
  const Bytes be = big_endian.tape_mark().bytes();
  struct Walked {
    Format format;
    Ending ending;
    std::uint64_t records;
  };
  struct FormatCase {
    const char* name;
    Format asked;
    Bytes image;
    std::vector<std::string> items;
    Ending ending;
    std::vector<Walked> walked;  // every walk from the start, in the order of the formats
  };
  const FormatCase cases[] = {
      // Read as simh, 02 00 31 32 is a count of 0x32310002; big-endian, 0x02003132. Without a
      // pad, the TPC walk reads the pad and the next count's low byte as a count, 00 02: 512.
      {"TPC read as simh",
       Format::simh,
       tpc,
       {},
       in_record(EndKind::in_data, 0, 1, 1, 0x3231'0002, 12),
       {{Format::simh_be, in_record(EndKind::in_data, 0, 1, 1, 0x0200'3132, 12), 0},
        {Format::tpc, ending(EndKind::after_tape_mark, 16), 3},
        {Format::tpc_nopad, in_record(EndKind::in_data, 9, 1, 3, 512, 5), 2}}},
      // Read as TPC, 00 00 is a tape mark and 00 02 a count of 512.
      {"big-endian counts read as TPC",
       Format::tpc,
       be,
       {"T1@0"},
       in_record(EndKind::in_data, 2, 2, 1, 512, 20),
       {{Format::simh, in_record(EndKind::in_data, 0, 1, 1, 0x0200'0000, 20), 0},
        {Format::e11, in_record(EndKind::in_data, 0, 1, 1, 0x0200'0000, 20), 0},
        {Format::simh_be, ending(EndKind::after_tape_mark, 24), 2}}},
      {"big-endian counts read as such",
       Format::simh_be,
       be,
       {"R1.1@0:2", "R1.2@10:2", "T1@20"},
       ending(EndKind::after_tape_mark, 24),
       {{Format::simh, in_record(EndKind::in_data, 0, 1, 1, 0x0200'0000, 20), 0},
        {Format::e11, in_record(EndKind::in_data, 0, 1, 1, 0x0200'0000, 20), 0},
        {Format::tpc, in_record(EndKind::in_data, 2, 2, 1, 512, 20), 0},
        {Format::tpc_nopad, in_record(EndKind::in_data, 2, 2, 1, 512, 20), 0}}},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    survey_every_way(c.image, c.asked, [&](const reelinfo::Survey& s, const auto& told) {
      EXPECT_EQ(told, c.items);
      EXPECT_EQ(describe(s.ending), describe(c.ending));
      EXPECT_FALSE(s.other.has_value());
      std::size_t next = 0;  // in `c.walked`
      for (const Format format : tape_image::all_formats()) {
        const std::optional<Ending>& walked = s.walked_as[static_cast<std::size_t>(format)];
        const bool expected = next < c.walked.size() && c.walked[next].format == format;
        ASSERT_EQ(walked.has_value(), expected) << tape_image::name_of(format);
        if (!expected) continue;
        EXPECT_EQ(describe(*walked), describe(c.walked[next].ending));
        EXPECT_EQ(walked->records, c.walked[next].records);
        ++next;
      }
      EXPECT_EQ(Bytes(s.head.begin(), s.head.begin() + static_cast<std::ptrdiff_t>(s.head_size)),
                Bytes(c.image.begin(), c.image.begin() + static_cast<std::ptrdiff_t>(s.head_size)));
      EXPECT_GE(s.head_size, 4u);
    });
  }
}

TEST(Survey, ShowsTheFirstDataBytesAskedFor) {
  const Bytes image =
      ImageBuilder().record(codes("HELLO")).record(two).record(codes("WORLD")).bytes();
  for (const std::size_t piece : {std::size_t{1}, std::size_t{4}, static_cast<std::size_t>(-1)}) {
    tape_image::MemorySource source(image, piece);
    Items items;
    reelinfo::survey(source, Format::simh, 3, items);
    const auto shown = [](const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); };
    EXPECT_EQ(items.told, (std::vector<std::string>{"R1.1@0:5=" + shown(codes("HEL")),
                                                    "R1.2@14:2=" + shown(two),
                                                    "R1.3@24:5=" + shown(codes("WOR"))}));
  }
}

// A record of one byte of code 15 (or 15 in its low six bits) is told alone and so, read whole or
// piece by piece, bad or not; one of code 14, or of two bytes of 15, is not.
TEST(Survey, TellsARecordOfTheTapeMarkCharacterAsSuch) {
  // Records of 2 bytes and of 1 (with its pad byte) take 10 bytes each.
  const Bytes image = ImageBuilder()
                          .record(two)
                          .record(Bytes{15})
                          .record(Bytes{0x4F})
                          .record(Bytes{14})
                          .record(Bytes{15, 15})
                          .count(0x8000'0001)
                          .raw(Bytes{15, 0})
                          .count(0x8000'0001)
                          .tape_mark()
                          .tape_mark()
                          .bytes();
  const std::vector<std::string> told = {"R1.1@0:2",  "R1.2@10:1!", "R1.3@20:1!", "R1.4@30:1",
                                         "R1.5@40:2", "B1.6@50:1!", "T1@60",      "T2@64"};
  survey_every_way(image, Format::simh, [&](const reelinfo::Survey& s, const auto& items) {
    EXPECT_EQ(items, told);
    EXPECT_EQ(describe(s.ending), describe(ending(EndKind::after_tape_mark, 68)));
  });
  // Asked for its data bytes, it shows its one.
  tape_image::MemorySource source(image, 3);
  Items items;
  reelinfo::survey(source, Format::simh, 2, items);
  EXPECT_EQ(items.told.at(1), "R1.2@10:1!=\x0f");
}

// An image of 6 GiB, mostly the zeros of three long records, served without being made: only
// the bytes asked for are filled in.
struct SparseImage final : tape_image::InputSource {
  std::vector<std::pair<std::uint64_t, Bytes>> pieces;  // at an offset, these bytes; else 0
  std::uint64_t size = 0;
  std::uint64_t at = 0;
  std::uint64_t read_bytes = 0;
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(n, size - at));
    std::memset(buf, 0, count);
    for (const auto& [offset, bytes] : pieces) {
      for (std::size_t k = 0; k < bytes.size(); ++k)
        if (offset + k >= at && offset + k < at + count) buf[offset + k - at] = bytes[k];
    }
    at += count;
    read_bytes += count;
    return static_cast<std::ptrdiff_t>(count);
  }
  std::uint64_t skip(std::uint64_t n) override {
    const std::uint64_t count = std::min(n, size - at);
    at += count;
    return count;
  }
};

TEST(Survey, OffsetsPastFourGibibytesAndLongRecordsPassedOver) {
  const std::uint64_t size = 0x7FFF'FFF0;  // data bytes of each long one, the most a count holds
  SparseImage image;
  const Bytes counts = ImageBuilder().count(size).count(size).bytes();
  // Each long record takes 2147483632 + 8 = 2147483640 bytes.
  image.pieces = {{0, ImageBuilder().count(size).bytes()},
                  {4 + size, counts},
                  {12 + 2 * size, counts},
                  {20 + 3 * size, ImageBuilder().count(size).record(card).tape_mark().bytes()}};
  image.size = 24 + 3 * size + 88 + 4;  // 6442451012
  Items items;
  const reelinfo::Survey s = reelinfo::survey(image, Format::simh, 0, items);
  EXPECT_EQ(items.told, (std::vector<std::string>{"R1.1@0:2147483632", "R1.2@2147483640:2147483632",
                                                  "R1.3@4294967280:2147483632",
                                                  "R1.4@6442450920:80", "T1@6442451008"}));
  EXPECT_EQ(describe(s.ending), describe(ending(EndKind::after_tape_mark, 6442451012ull)));
  EXPECT_EQ(s.size, 6442451012ull);
  EXPECT_LT(image.read_bytes, 1u << 20);  // the long records' data was not read
}

}  // namespace
}  // namespace reel::reelprint
