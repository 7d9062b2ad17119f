#include "tape_image/p7b.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tape_image/image_builder.h"
#include "tape_image/reader.h"

namespace reel::tape_image {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What the listener was told.
struct Told : DumpListener {
  void parity_errors(const ParityErrors& errors) override { parity.push_back(errors); }
  void unstarted_frames(std::uint64_t frames) override { unstarted.push_back(frames); }
  std::vector<ParityErrors> parity;
  std::vector<std::uint64_t> unstarted;
};

// How a dump was read: what the source served, and how its reads ended.
struct Decoded {
  Bytes simh;
  std::ptrdiff_t last = 0;  // the last read's result: 0 at the end, -1 on a failure
  int error = 0;            // errno after a failed read
  bool closing = false;
  std::uint64_t dump_size = 0;
};

// The knobs of one decoding: how the dump hands out its bytes and the output is asked for.
struct Way {
  std::size_t per_dump_read = static_cast<std::size_t>(-1);
  std::size_t per_read = 64 * 1024;
  bcd::KernelId kernel = bcd::best_kernel();
  P7bLimits limits{};
  std::size_t hold_memory = Hold::default_memory_limit;
};

Decoded decode(InputSource& dump, Parity parity, const Way& way, DumpListener* listener) {
  Hold hold("p7b_test", way.hold_memory);
  P7bSource source(dump, parity, hold, listener, way.limits, way.kernel);
  Decoded got;
  Bytes buf(way.per_read);
  for (;;) {
    errno = 0;
    got.last = source.read(buf.data(), buf.size());
    if (got.last <= 0) break;
    got.simh.insert(got.simh.end(), buf.begin(), buf.begin() + got.last);
  }
  got.error = errno;
  got.closing = source.closing_start();
  got.dump_size = source.dump_size();
  return got;
}

Decoded decode(const Bytes& dump, Parity parity, const Way& way = {},
               DumpListener* listener = nullptr) {
  MemorySource memory(dump, way.per_dump_read);
  return decode(memory, parity, way, listener);
}

// Every way of reading worth trying: each kernel here, the dump a byte at a time or all at
// once, the output a byte, a few or many at a time, and the smallest window.
std::vector<Way> every_way() {
  std::vector<Way> ways;
  for (const bcd::KernelId kernel : bcd::kernels_here())
    for (const std::size_t per_dump_read : {std::size_t{1}, static_cast<std::size_t>(-1)})
      for (const std::size_t per_read : {1, 7, 64 * 1024})
        for (const std::size_t window : {std::size_t{1}, P7bLimits{}.window})
          ways.push_back({per_dump_read, per_read, kernel, {window, largest_record}, 100});
  return ways;
}

std::string named(const Way& way) {
  return std::string(bcd::name_of(way.kernel)) + " dump read " + std::to_string(way.per_dump_read) +
         ", read " + std::to_string(way.per_read) + ", window " + std::to_string(way.limits.window);
}

Bytes image(ImageBuilder builder) { return builder.bytes(); }

// Frames of each code by hand: even parity sets bit 6 where the code has an odd number of ones
// (1 = 000001: 0x41, 2: 0x42, 3 = 000011: 0x03, 15: 0x0F, 16 = 010000: 0x50, 17 = 010001: 0x11,
// 63: 0x3F), odd parity where it has an even number (1: 0x01, 2: 0x02, 3: 0x43, 15: 0x4F,
// 16: 0x10, 63: 0x7F); bit 7 on a record's first frame.
struct Case {
  const char* what;
  Parity parity;
  Bytes dump;
  Bytes simh;
  bool closing;
};

TEST(P7bSource, DecodesEachDumpIntoItsSimhFormEveryWay) {
  const std::vector<Case> cases = {
      {"records, a tape mark and a closing start",
       Parity::even,
       {0xC1, 0x42, 0x03, 0xD0, 0x8F, 0x83, 0x03, 0x80},
       image(ImageBuilder().record({{1, 2, 3}}).record({{16}}).tape_mark().record({{3, 3}})),
       true},
      {"no closing start",
       Parity::even,
       {0xC1, 0x42, 0x03, 0xD0, 0x11},
       image(ImageBuilder().record({{1, 2, 3}}).record({{16, 17}})),
       false},
      {"tape marks with and without the parity bit",
       Parity::even,
       {0x8F, 0xCF, 0x8F},
       image(ImageBuilder().tape_mark().tape_mark()),
       true},
      {"tape marks on an odd-parity tape",
       Parity::odd,
       {0xCF, 0x8F, 0xCF},
       image(ImageBuilder().tape_mark().tape_mark()),
       true},
      {"odd parity",
       Parity::odd,
       {0x81, 0x02, 0x43, 0x90, 0xCF, 0xC3, 0x7F},
       image(ImageBuilder().record({{1, 2, 3}}).record({{16}}).tape_mark().record({{3, 63}})),
       false},
      {"a parity error",
       Parity::even,
       {0xC1, 0x02, 0x03, 0x8F, 0xD0, 0x50},
       image(ImageBuilder().bad_record({{1, 2, 3}}).tape_mark().record({{16, 16}})),
       false},
      {"parity not checked",
       Parity::none,
       {0xC1, 0x02, 0x03, 0x8F, 0xD0, 0x50},
       image(ImageBuilder().record({{1, 2, 3}}).tape_mark().record({{16, 16}})),
       false},
      {"even frames on an odd-parity tape",
       Parity::odd,
       {0xC1, 0x42, 0x83},
       image(ImageBuilder().bad_record({{1, 2}})),
       true},
      {"frames before any record start",
       Parity::even,
       {0x42, 0x03, 0xC1, 0x42, 0x80},
       image(ImageBuilder().bad_record({{2, 3}}).record({{1, 2}})),
       true},
      {"a lone tape mark code with no start",
       Parity::even,
       {0x0F},
       image(ImageBuilder().bad_record({{15}})),
       false},
      {"a one-frame record of code 15 with more frames is no tape mark",
       Parity::even,
       {0x8F, 0x50, 0x8F},
       image(ImageBuilder().record({{15, 16}})),
       true},
      {"nothing", Parity::even, {}, {}, false},
      {"a closing start alone", Parity::even, {0x80}, {}, true},
      {"a tape mark byte alone closes the dump", Parity::even, {0x8F}, {}, true},
  };
  for (const Way& way : every_way()) {
    for (const Case& c : cases) {
      const Decoded got = decode(c.dump, c.parity, way);
      ASSERT_EQ(got.simh, c.simh) << c.what << ", " << named(way);
      ASSERT_EQ(got.last, 0) << c.what << ", " << named(way);
      ASSERT_EQ(got.closing, c.closing) << c.what << ", " << named(way);
      ASSERT_EQ(got.dump_size, c.dump.size()) << c.what << ", " << named(way);
    }
  }
}

// Returns the even-parity frames of `codes`, made by hand: the parity bit counted bit by bit.
Bytes even_frames(const Bytes& codes, bool first = true) {
  Bytes frames;
  for (const std::uint8_t code : codes) {
    int ones = 0;
    for (int bit = 0; bit < 6; ++bit) ones += (code >> bit) & 1;
    frames.push_back(static_cast<std::uint8_t>(code | (ones % 2 == 1 ? 0x40 : 0)));
  }
  if (first) frames[0] |= 0x80;
  return frames;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes counted(std::size_t n, std::size_t from = 0) {
  Bytes codes(n);
  for (std::size_t k = 0; k < n; ++k) codes[k] = static_cast<std::uint8_t>((from + k) % 63 + 1);
  return codes;
}

TEST(P7bSource, TellsEachParityErrorWhereItIsAndMakesTheRecordBad) {
  // File 1: a good record of 4, one of 6 with its 3rd and 5th frames wrong (dump offsets 6 and
  // 8); a tape mark; file 2: a record of 2 with its first frame wrong (offset 11).
  Bytes second = even_frames(counted(6));
  second[2] ^= 0x40;
  second[4] ^= 0x40;
  Bytes third = even_frames({5, 6});
  third[0] ^= 0x40;
  const Bytes dump = even_frames(counted(4)) + second + Bytes{p7b_tape_mark} + third;
  for (const Way& way : every_way()) {
    Told told;
    const Decoded got = decode(dump, Parity::even, way, &told);
    EXPECT_EQ(got.simh, image(ImageBuilder()
                                  .record(counted(4))
                                  .bad_record(counted(6))
                                  .tape_mark()
                                  .bad_record({{5, 6}})))
        << named(way);
    ASSERT_EQ(told.parity.size(), 2u) << named(way);
    EXPECT_EQ(told.parity[0], (ParityErrors{1, 2, 3, 6, 2})) << named(way);
    EXPECT_EQ(told.parity[1], (ParityErrors{2, 1, 1, 11, 1})) << named(way);
    EXPECT_TRUE(told.unstarted.empty());
  }
}

TEST(P7bSource, TellsFramesBeforeAnyRecordStart) {
  Told told;
  const Decoded got = decode(Bytes{0x42, 0x03, 0x02, 0xC1}, Parity::even, {}, &told);
  EXPECT_EQ(got.simh, image(ImageBuilder().bad_record({{2, 3, 2}})));
  EXPECT_EQ(told.unstarted, std::vector<std::uint64_t>{3});
  ASSERT_EQ(told.parity.size(), 1u);  // the frame 0x02 besides
  EXPECT_EQ(told.parity[0], (ParityErrors{1, 1, 3, 2, 1}));
}

// Records longer than the window wait in the hold, in memory or in its file: with parity
// errors in the part held and in the part still in the window, and shorter records around.
TEST(P7bSource, ServesRecordsLongerThanTheWindowThroughTheHold) {
  Bytes long_one = even_frames(counted(1000));
  long_one[699] ^= 0x40;
  long_one[949] ^= 0x40;
  const Bytes dump = even_frames(counted(3)) + long_one + Bytes{p7b_tape_mark} +
                     even_frames(counted(5000, 7)) + even_frames(counted(2)) + Bytes{0x80};
  const Bytes simh = image(ImageBuilder()
                               .record(counted(3))
                               .bad_record(counted(1000))
                               .tape_mark()
                               .record(counted(5000, 7))
                               .record(counted(2)));
  for (const std::size_t hold_memory : {0, 100, 1 << 20}) {
    for (Way way : every_way()) {
      if (way.limits.window == 1) way.limits.window = 128;
      way.hold_memory = hold_memory;
      Told told;
      const Decoded got = decode(dump, Parity::even, way, &told);
      ASSERT_EQ(got.simh, simh) << named(way) << ", hold " << hold_memory;
      ASSERT_EQ(told.parity.size(), 1u);
      EXPECT_EQ(told.parity[0], (ParityErrors{1, 2, 700, 702, 2}));
      EXPECT_TRUE(got.closing);
    }
  }
}

// Records on either side of a block of 64 frames and of 64 blocks, one-frame records and tape
// marks among them, over several windows' worth of dump, a few with a parity error, some after
// the window has been filled and moved on: each found past the blocks with no record start, and
// the bad ones told where they are.
TEST(P7bSource, DecodesRecordsOfManySizesAcrossAWindowMovingOn) {
  const std::size_t sizes[] = {2, 3, 63, 64, 65, 1, 100, 1000, 4095, 4096, 4097, 9000};
  Bytes dump;
  ImageBuilder simh;
  std::vector<ParityErrors> errors;
  std::uint64_t file = 1;
  std::uint64_t number = 0;
  for (std::size_t k = 0; k < 300; ++k) {
    if (k % 13 == 12) {
      dump.push_back(p7b_tape_mark);
      simh.tape_mark();
      ++file;
      number = 0;
      continue;
    }
    const std::size_t size = sizes[k % std::size(sizes)];
    const Bytes codes = size == 1 ? Bytes{16} : counted(size, k);  // a lone 15 is a tape mark
    Bytes frames = even_frames(codes);
    ++number;
    if (k % 29 == 28) {  // its last frame wrong
      frames.back() ^= 0x40;
      errors.push_back({file, number, size, dump.size() + size - 1, 1});
      simh.bad_record(codes);
    } else {
      simh.record(codes);
    }
    dump = dump + frames;
  }
  dump.push_back(0x80);
  ASSERT_GT(dump.size(), 2 * P7bLimits{}.window);
  for (const bcd::KernelId kernel : bcd::kernels_here()) {
    for (const std::size_t per_dump_read : {std::size_t{4103}, static_cast<std::size_t>(-1)}) {
      for (const std::size_t per_read :
           {std::size_t{7}, std::size_t{1} << 16, std::size_t{1} << 20}) {
        for (const std::size_t window : {std::size_t{128}, std::size_t{8192}, P7bLimits{}.window}) {
          const Way way{per_dump_read, per_read, kernel, {window, largest_record}};
          Told told;
          const Decoded got = decode(dump, Parity::even, way, &told);
          ASSERT_EQ(got.simh, simh.bytes()) << named(way);
          EXPECT_EQ(told.parity, errors) << named(way);
          EXPECT_TRUE(got.closing) << named(way);
        }
      }
    }
  }
}

// Makes a dump of one record of `frames` frames on the fly: code 1, then code 2 (even parity),
// the frame at `wrong` (from 0) without its parity bit, and a closing start.
class LongDump final : public InputSource {
 public:
  LongDump(std::uint64_t frames, std::uint64_t wrong) : frames_(frames), wrong_(wrong) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override {
    std::size_t k = 0;
    for (; k < n && at_ <= frames_; ++k, ++at_)
      buf[k] = at_ == frames_ ? 0x80 : at_ == 0 ? 0xC1 : at_ == wrong_ ? 0x02 : 0x42;
    return static_cast<std::ptrdiff_t>(k);
  }
  std::uint64_t given() const { return at_; }

 private:
  std::uint64_t frames_, wrong_, at_ = 0;
};

// The reader of a dump reads a window's worth of its simh form at a time, or a smaller dump's
// size (rounded up to pages): what is served stays in the cache beside the window it comes
// from. A dump of a size not known beforehand, as a pipe's, is read a window's worth at a time.
TEST(P7bSource, IsReadAWindowsWorthAtATime) {
  struct Case {
    std::size_t dump_size;  // 0: not known
    std::size_t window;
    std::size_t read;
  };
  for (const Case& c :
       {Case{3 << 20, P7bLimits{}.window, P7bLimits{}.window}, Case{3 << 20, 8192, 8192},
        Case{5000, P7bLimits{}.window, 8192}, Case{0, P7bLimits{}.window, P7bLimits{}.window}}) {
    const Bytes dump(c.dump_size, 0x41);
    MemorySource memory(dump);
    LongDump piped(1, 1);
    Hold hold("p7b_test");
    P7bSource source(c.dump_size != 0 ? static_cast<InputSource&>(memory) : piped, Parity::even,
                     hold, nullptr, {c.window, largest_record});
    EXPECT_EQ(TapeReader::read_size_for(source), c.read) << c.dump_size << ", " << c.window;
  }
}

// A bad record's size has 24 bits: one longer is left a good record, and told all the same.
TEST(P7bSource, MakesABadRecordOnlyOfASizeABadRecordCanHave) {
  for (const std::uint64_t frames :
       {std::uint64_t{largest_bad_record}, largest_bad_record + std::uint64_t{1}}) {
    LongDump dump(frames, 4);
    Told told;
    const Decoded got = decode(dump, Parity::even, {}, &told);
    const std::uint32_t word =
        static_cast<std::uint32_t>(frames) | (frames <= largest_bad_record ? bad_record_flag : 0);
    ASSERT_EQ(got.simh.size(), 8 + frames + frames % 2);
    const Bytes head(got.simh.begin(), got.simh.begin() + 4);
    const Bytes tail(got.simh.end() - 4, got.simh.end());
    const Bytes word_bytes{static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                           static_cast<std::uint8_t>(word >> 16),
                           static_cast<std::uint8_t>(word >> 24)};
    EXPECT_EQ(head, word_bytes);
    EXPECT_EQ(tail, word_bytes);
    EXPECT_EQ(got.simh[4], 1);
    EXPECT_EQ(static_cast<std::uint64_t>(
                  std::count(got.simh.begin() + 5, got.simh.begin() + 4 + frames, 2)),
              frames - 1);
    ASSERT_EQ(told.parity.size(), 1u);
    EXPECT_EQ(told.parity[0], (ParityErrors{1, 1, 5, 4, 1}));
  }
}

TEST(P7bSource, FailsWithEfbigAtARecordLongerThanACountHolds) {
  for (const std::size_t window : {std::size_t{128}, P7bLimits{}.window}) {
    const Way way{static_cast<std::size_t>(-1), 64 * 1024, bcd::best_kernel(), {window, 300}};
    const Decoded fits = decode(even_frames(counted(300)) + Bytes{0x80}, Parity::even, way);
    EXPECT_EQ(fits.simh, image(ImageBuilder().record(counted(300))));
    EXPECT_EQ(fits.last, 0);
    const Decoded over =
        decode(even_frames(counted(10)) + even_frames(counted(301)), Parity::even, way);
    EXPECT_EQ(over.simh, image(ImageBuilder().record(counted(10))));
    EXPECT_EQ(over.last, -1);
    EXPECT_EQ(over.error, EFBIG);
    // As soon as it is known: a longer record is not read to its end.
    LongDump longer(10 * P7bLimits{}.window, 0);
    const Decoded cut = decode(longer, Parity::even, way, nullptr);
    EXPECT_TRUE(cut.simh.empty());
    EXPECT_EQ(cut.error, EFBIG);
    EXPECT_LE(longer.given(), 300 + 2 * window);
  }
}

// Hands out `bytes`, then fails with `error`.
class FailingDump final : public InputSource {
 public:
  FailingDump(Bytes bytes, int error) : bytes_(std::move(bytes)), error_(error) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override {
    if (given_) {
      errno = error_;
      return -1;
    }
    given_ = true;
    const std::size_t count = std::min(n, bytes_.size());
    std::copy(bytes_.begin(), bytes_.begin() + count, buf);
    return static_cast<std::ptrdiff_t>(count);
  }

 private:
  Bytes bytes_;
  int error_;
  bool given_ = false;
};

TEST(P7bSource, FailsAtAReadErrorOfTheDumpWithItsErrno) {
  // The first record ends within the blocks scanned; the second's end waits for more.
  FailingDump dump(even_frames(counted(100)) + even_frames(counted(30)), ENXIO);
  const Decoded got = decode(dump, Parity::even, {}, nullptr);
  EXPECT_EQ(got.simh, image(ImageBuilder().record(counted(100))));
  EXPECT_EQ(got.last, -1);
  EXPECT_EQ(got.error, ENXIO);
}

TEST(P7bSource, FailsInTheHoldWhenItsFileCannotBeMade) {
  const char* was = std::getenv("TMPDIR");
  const std::string kept = was != nullptr ? was : "";
  ::setenv("TMPDIR", "/nonexistent-p7b-test", 1);
  {
    const Bytes dump = even_frames(counted(1000));
    MemorySource memory(dump);
    Hold hold("p7b_test", 0);
    P7bSource source(memory, Parity::even, hold, nullptr, {128, largest_record});
    Bytes buf(4096);
    errno = 0;
    EXPECT_EQ(source.read(buf.data(), buf.size()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(source.failed_in_hold());
  }
  if (was != nullptr)
    ::setenv("TMPDIR", kept.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}

TEST(P7bSource, NamesTheDumpOffsetOfEachItemAskedInOrder) {
  // Items at dump offsets 0, 3, 4 and 5; in the simh form at 0, 12 (4 + 3 + a pad + 4), 22
  // (12 + 4 + 1 + a pad + 4) and 26.
  const Bytes dump{0xC1, 0x42, 0x03, 0xD0, 0x8F, 0x83, 0x03, 0x80};
  MemorySource memory(dump);
  Hold hold("p7b_test");
  P7bSource source(memory, Parity::even, hold);
  Bytes buf(4096);
  while (source.read(buf.data(), buf.size()) > 0) {
  }
  const std::uint64_t none = ~std::uint64_t{0};
  EXPECT_EQ(source.dump_offset_of(0), 0u);
  EXPECT_EQ(source.dump_offset_of(5), none);  // within the first record
  EXPECT_EQ(source.dump_offset_of(12), 3u);
  EXPECT_EQ(source.dump_offset_of(22), 4u);
  EXPECT_EQ(source.dump_offset_of(26), 5u);
  EXPECT_EQ(source.dump_offset_of(12), none);  // asked again, after a later one: forgotten
}

TEST(P7bSource, ForgetsTheOldestItemsPastItsWindowOfThem) {
  // 100,000 tape marks and one-frame records in turn: each its own run of items. A record of
  // one frame is 10 bytes of simh (4, 1, a pad, 4), a tape mark 4.
  Bytes dump;
  for (int k = 0; k < 50'000; ++k) dump.insert(dump.end(), {0x8F, 0xD0});
  dump.push_back(0x80);
  MemorySource memory(dump);
  Hold hold("p7b_test");
  P7bSource source(memory, Parity::even, hold);
  Bytes buf(1 << 16);
  while (source.read(buf.data(), buf.size()) > 0) {
  }
  EXPECT_EQ(source.dump_offset_of(0), ~std::uint64_t{0});
  EXPECT_EQ(source.dump_offset_of(49'999 * 14), 99'998u);
  EXPECT_EQ(source.dump_offset_of(49'999 * 14 + 4), 99'999u);
}

// However many items a read serves, each can still be named after it: the runs remembered
// reach back over the reader's bytes.
TEST(P7bSource, NamesEveryItemOfItsLatestReadHoweverMany) {
  // 20,000 tape marks and one-frame records in turn: 40,000 runs in 280,000 bytes of simh, the
  // tape mark of pair k at 14k (dump offset 2k), its record at 14k + 4 (2k + 1).
  Bytes dump;
  for (int k = 0; k < 20'000; ++k) dump.insert(dump.end(), {0x8F, 0xD0});
  dump.push_back(0x80);
  MemorySource memory(dump);
  Hold hold("p7b_test");
  P7bSource source(memory, Parity::even, hold);
  Bytes buf(1 << 20);
  ASSERT_EQ(source.read(buf.data(), buf.size()), 20'000 * 14);
  EXPECT_EQ(source.dump_offset_of(0), 0u);
  EXPECT_EQ(source.dump_offset_of(4), 1u);
  EXPECT_EQ(source.dump_offset_of(14 * 10'000), 20'000u);
  EXPECT_EQ(source.dump_offset_of(14 * 19'999 + 4), 39'999u);
}

TEST(PutFrames, GivesEachCodeItsParityBitAndTheFirstItsStart) {
  const Bytes codes{0, 1, 2, 3, 15, 16, 63, 0xC1};
  struct Expected {
    Parity parity;
    bool first;
    Bytes frames;
    std::size_t zeros;
  };
  const std::vector<Expected> table = {
      {Parity::even, true, {0x80, 0x41, 0x42, 0x03, 0x0F, 0x50, 0x3F, 0x41}, 1},
      {Parity::even, false, {0x00, 0x41, 0x42, 0x03, 0x0F, 0x50, 0x3F, 0x41}, 1},
      {Parity::odd, true, {0xC0, 0x01, 0x02, 0x43, 0x4F, 0x10, 0x7F, 0x01}, 0},
      {Parity::none, false, {0x00, 0x41, 0x42, 0x03, 0x0F, 0x50, 0x3F, 0x41}, 0},
  };
  for (const Expected& row : table) {
    Bytes frames(codes.size());
    EXPECT_EQ(put_frames(codes.data(), codes.size(), frames.data(), row.parity, row.first),
              row.zeros);
    EXPECT_EQ(frames, row.frames);
  }
}

// Records of every length up to 300 and tape marks, written frame by frame and read back: the
// same records, and no parity error. (A one-frame record of code 15 would read back as a tape
// mark, and code 0 cannot be written at even parity: neither is made.)
TEST(PutFrames, WritesWhatTheSourceReadsBack) {
  for (const Parity parity : {Parity::even, Parity::odd}) {
    ImageBuilder simh;
    Bytes dump;
    std::uint32_t state = 7;
    for (std::size_t n = 1; n <= 300; ++n) {
      Bytes codes(n);
      for (std::uint8_t& code : codes) {
        state = state * 1103515245 + 12345;
        code = static_cast<std::uint8_t>((state >> 24) % 64);
        if (code == 0 && parity == Parity::even) code = 16;
      }
      if (n == 1 && codes[0] == 15) codes[0] = 14;
      Bytes frames(n);
      put_frames(codes.data(), n, frames.data(), parity, true);
      dump = dump + frames;
      simh.record(codes);
      if (n % 50 == 0) {
        dump.push_back(p7b_tape_mark);
        simh.tape_mark();
      }
    }
    dump.push_back(p7b_closing_start);
    Told told;
    EXPECT_EQ(decode(dump, parity, {}, &told).simh, simh.bytes());
    EXPECT_TRUE(told.parity.empty());
  }
}

TEST(ParityNamed, NamesTheThreeAndNoOther) {
  EXPECT_EQ(parity_named("even"), Parity::even);
  EXPECT_EQ(parity_named("odd"), Parity::odd);
  EXPECT_EQ(parity_named("none"), Parity::none);
  EXPECT_EQ(parity_named("Even"), std::nullopt);
  EXPECT_EQ(parity_named(""), std::nullopt);
}

}  // namespace
}  // namespace reel::tape_image
