#include "tape_image/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tape_image/image_builder.h"

namespace reelprint::tape_image {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Reads every data byte of a record of `count` bytes; returns them, fewer if the image ends.
Bytes read_data(TapeReader& reader, std::uint64_t count) {
  Bytes out;
  while (out.size() < count) {
    const std::uint64_t left = count - out.size();
    const auto bytes = reader.data(std::min<std::uint64_t>(left, TapeReader::most_wanted));
    if (bytes.empty()) break;
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(left, bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
    reader.consume(size);
  }
  return out;
}

// What reading one whole record gave.
struct RecordRead {
  std::uint32_t count = 0;
  Bytes data;
  FinishStatus finish = FinishStatus::ok;
  std::uint32_t trailer = 0;
};

// Reads the first record of `source` through to its trailer.
RecordRead read_record(InputSource& source, Framing framing) {
  TapeReader reader(source);
  RecordRead got;
  EXPECT_EQ(reader.read_len(got.count), ReadStatus::ok);
  got.data = read_data(reader, got.count);
  got.finish = reader.finish_record(got.count, framing, got.trailer);
  return got;
}

RecordRead read_record(const Bytes& image, Framing framing = Framing::simh) {
  MemorySource source(image);
  return read_record(source, framing);
}

TEST(ReadLen, ReadsFourBytesLittleEndianWithNoFlagBits) {
  const Bytes image = {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80};
  MemorySource source(image);
  TapeReader reader(source);
  std::uint32_t count = 0;
  ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
  EXPECT_EQ(count, 0x12345678u);
  ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
  EXPECT_EQ(count, 0xFFFFFFFFu);
  ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
  EXPECT_EQ(count, 0x80000000u);
}

TEST(ReadLen, GivesZeroAtTheEndAndForACutShortCountAndEverAfter) {
  const Bytes image = {5, 0, 0};
  MemorySource source(image);
  TapeReader reader(source);
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::uint32_t count = 99;
    ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
    EXPECT_EQ(count, 0u);
  }
}

TEST(ReadLen, ReportsAFailedReadInsteadOfATapeMark) {
  MemorySource source({}, 4, true);
  TapeReader reader(source);
  std::uint32_t count = 0;
  EXPECT_EQ(reader.read_len(count), ReadStatus::io_error);
  EXPECT_TRUE(reader.failed());
}

TEST(Records, OddLengthRecordsCarryAPadByteInSimhFraming) {
  const Bytes data5 = {1, 2, 3, 4, 5};
  const Bytes data4 = {6, 7, 8, 9};
  const auto image = ImageBuilder(Framing::simh).record(data5).record(data4).bytes();
  ASSERT_EQ(image.size(), 4 + 5 + 1 + 4 + 4 + 4 + 4u);
  MemorySource source(image);
  TapeReader reader(source);
  std::uint32_t count = 0;
  std::uint32_t trailer = 0;
  ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
  ASSERT_EQ(count, 5u);
  EXPECT_EQ(read_data(reader, count), data5);
  EXPECT_EQ(reader.finish_record(count, Framing::simh, trailer), FinishStatus::ok);
  ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(read_data(reader, count), data4);
  EXPECT_EQ(reader.finish_record(count, Framing::simh, trailer), FinishStatus::ok);
  ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
  EXPECT_EQ(count, 0u);
}

TEST(Records, E11FramingHasNoPadByte) {
  const Bytes data3 = {1, 2, 3};
  const auto image = ImageBuilder(Framing::e11).record(data3).tape_mark().bytes();
  ASSERT_EQ(image.size(), 4 + 3 + 4 + 4u);
  const RecordRead got = read_record(image, Framing::e11);
  EXPECT_EQ(got.data, data3);
  EXPECT_EQ(got.finish, FinishStatus::ok);
}

TEST(Records, AnE11ImageReadAsSimhLosesATrailerByteToThePadSkip) {
  const Bytes data3 = {1, 2, 3};
  const Bytes data4 = {1, 2, 3, 4};
  const RecordRead got =
      read_record(ImageBuilder(Framing::e11).record(data3).record(data4).bytes());
  EXPECT_EQ(got.finish, FinishStatus::unequal_counts);
  EXPECT_EQ(got.trailer, 67108864u);  // 0, 0, 0 of the trailer, then the 4 of the next count
}

TEST(Records, DataCutShortEndsTheData) {
  const auto image = ImageBuilder().count(10).raw(Bytes{1, 2, 3}).bytes();
  MemorySource source(image);
  TapeReader reader(source);
  std::uint32_t count = 0;
  ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
  EXPECT_EQ(read_data(reader, count).size(), 3u);
  EXPECT_TRUE(reader.data(7).empty());
  EXPECT_FALSE(reader.failed());
}

TEST(Trailers, ADifferentTrailerIsReportedWithItsValue) {
  const RecordRead got =
      read_record(ImageBuilder().count(4).raw(Bytes{1, 2, 3, 4}).count(5).bytes());
  EXPECT_EQ(got.finish, FinishStatus::unequal_counts);
  EXPECT_EQ(got.trailer, 5u);
}

TEST(Trailers, ATrailerCutToTwoBytesReadsAsZero) {
  const RecordRead got = read_record(ImageBuilder().count(2).raw(Bytes{1, 2, 2, 0}).bytes());
  EXPECT_EQ(got.finish, FinishStatus::unequal_counts);
  EXPECT_EQ(got.trailer, 0u);
}

TEST(Trailers, AMissingPadByteShowsAsAnUnequalTrailer) {
  const RecordRead got = read_record(ImageBuilder().count(1).raw(Bytes{7}).count(1).bytes());
  EXPECT_EQ(got.finish, FinishStatus::unequal_counts);
  EXPECT_EQ(got.trailer, 0u);  // the pad skip took the trailer's first byte; three are too few
}

TEST(Trailers, AFailedReadAfterTheDataIsAnIoErrorNotAMismatch) {
  const Bytes image = ImageBuilder().count(2).raw(Bytes{1, 2}).bytes();
  MemorySource source(image, 3, true);
  EXPECT_EQ(read_record(source, Framing::simh).finish, FinishStatus::io_error);
}

// Serves bytes as a pipe does, its size unknown: read `TapeReader::pipe_read` at a time.
class PipeSource final : public InputSource {
 public:
  PipeSource(std::span<const std::uint8_t> bytes, std::size_t most_per_read)
      : bytes_(bytes, most_per_read) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override { return bytes_.read(buf, n); }

 private:
  MemorySource bytes_;
};

TEST(Buffering, ReadsARegularFileWholeUpToAMebibyteAtATimeAndAPipeInSmallerBlocks) {
  struct Case {
    std::size_t image_size;
    bool sized;
    std::size_t first_read;  // what the first read asks for
  };
  for (const Case& c : {Case{0, true, TapeReader::pipe_read}, Case{1, true, TapeReader::page},
                        Case{5000, true, 2 * TapeReader::page},
                        Case{3 << 20, true, TapeReader::largest_read},
                        Case{5000, false, TapeReader::pipe_read}}) {
    // Records the size of each read asked for.
    struct Asked final : InputSource {
      explicit Asked(std::size_t size, bool sized) : size(size), sized(sized) {}
      std::ptrdiff_t read(std::uint8_t*, std::size_t n) override {
        asked.push_back(n);
        return 0;
      }
      std::uint64_t known_size() const override { return sized ? size : 0; }
      std::size_t size;
      bool sized;
      std::vector<std::size_t> asked;
    } source(c.image_size, c.sized);
    TapeReader reader(source);
    std::uint32_t count = 1;
    ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
    EXPECT_EQ(count, 0u);
    ASSERT_FALSE(source.asked.empty());
    EXPECT_EQ(source.asked.front(), c.first_read) << c.image_size;
  }
}

TEST(Buffering, RecordsLongerThanTheBufferAndCountsAcrossReadsComeThroughWhole) {
  Bytes big(TapeReader::pipe_read * 2 + 3);
  for (std::size_t k = 0; k < big.size(); ++k) big[k] = static_cast<std::uint8_t>(k * 7);
  const Bytes small = {9, 8, 7};
  const auto image = ImageBuilder().record(big).record(small).bytes();
  for (const std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
    PipeSource source(image, step);
    TapeReader reader(source);
    std::uint32_t count = 0;
    std::uint32_t trailer = 0;
    ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
    ASSERT_EQ(count, big.size());
    EXPECT_EQ(read_data(reader, count), big);
    EXPECT_EQ(reader.finish_record(count, Framing::simh, trailer), FinishStatus::ok);
    ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
    EXPECT_EQ(read_data(reader, count), small);
    EXPECT_EQ(reader.finish_record(count, Framing::simh, trailer), FinishStatus::ok) << step;
  }
}

TEST(Buffering, CountsAndTrailersSplitByTheEndOfAFullBufferReadWhole) {
  // The first record's end moves across the end of the first buffer load byte by byte, so
  // its pad byte, its trailer and the next count each get split there in every way.
  for (std::size_t size = TapeReader::pipe_read - 14; size < TapeReader::pipe_read; ++size) {
    const Bytes first(size, 5);
    const Bytes second = {1, 2, 3, 4, 5};
    const auto image = ImageBuilder().record(first).record(second).bytes();
    PipeSource source(image, std::size_t{1} << 20);
    TapeReader reader(source);
    std::uint32_t count = 0;
    std::uint32_t trailer = 0;
    ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
    EXPECT_EQ(read_data(reader, count), first);
    EXPECT_EQ(reader.finish_record(count, Framing::simh, trailer), FinishStatus::ok) << size;
    ASSERT_EQ(reader.read_len(count), ReadStatus::ok);
    ASSERT_EQ(count, second.size()) << size;
    EXPECT_EQ(read_data(reader, count), second);
    EXPECT_EQ(reader.finish_record(count, Framing::simh, trailer), FinishStatus::ok) << size;
  }
}

// A record `take_whole_records` offered: the offset of its data from the image's front, and
// its size.
struct Taken {
  std::size_t data;
  std::uint32_t size;
  bool operator==(const Taken&) const = default;
};

// Loads the front of `image` and takes the whole records there into `taken`, refusing any past
// the first `max_count`, or that would bring the data taken past `max_data_bytes`. Returns the
// bytes taken.
std::size_t take_from(const Bytes& image, std::vector<Taken>& taken, std::uint32_t max_size,
                      Framing framing = Framing::simh, std::size_t max_count = 100,
                      std::size_t max_data_bytes = 1000) {
  MemorySource source(image);
  TapeReader reader(source);
  EXPECT_FALSE(reader.data(1).empty());  // loads what the buffer holds
  const std::uint8_t* const front = reader.data(1).data();
  taken.clear();
  std::size_t data_bytes = 0;
  return take_whole_records(
      reader.loaded(), max_size, framing, [&](const std::uint8_t* data, std::uint32_t size) {
        if (taken.size() == max_count) return false;
        if (data_bytes + size > max_data_bytes) return false;
        data_bytes += size;
        taken.push_back({static_cast<std::size_t>(data - front), size});
        return true;
      });
}

TEST(TakeWholeRecords, OffersEachRecordsDataUpToATapeMark) {
  const Bytes simh = ImageBuilder()
                         .record(Bytes(3, 1))
                         .record(Bytes(4, 2))
                         .tape_mark()
                         .record(Bytes(2, 3))
                         .bytes();
  std::vector<Taken> taken;
  EXPECT_EQ(take_from(simh, taken, 100), 24u);
  EXPECT_EQ(taken, (std::vector<Taken>{{4, 3}, {16, 4}}));  // the second past the pad byte

  const Bytes e11 = ImageBuilder(Framing::e11).record(Bytes(3, 1)).record(Bytes(4, 2)).bytes();
  EXPECT_EQ(take_from(e11, taken, 100, Framing::e11), e11.size());
  EXPECT_EQ(taken, (std::vector<Taken>{{4, 3}, {15, 4}}));
}

TEST(TakeWholeRecords, StopsBeforeARecordThatIsBadTooLongOrCutShort) {
  std::vector<Taken> taken;
  const Bytes unequal =
      ImageBuilder().record(Bytes(5, 1)).count(6).raw(Bytes(6, 1)).count(7).bytes();
  EXPECT_EQ(take_from(unequal, taken, 100), 14u);
  EXPECT_EQ(taken.size(), 1u);

  const Bytes two = ImageBuilder().record(Bytes(5, 1)).record(Bytes(5, 1)).bytes();
  EXPECT_EQ(take_from(two, taken, 4), 0u);  // longer than max_size
  EXPECT_TRUE(taken.empty());
  EXPECT_EQ(take_from(two, taken, 5), two.size());

  Bytes cut = two;
  cut.pop_back();  // the second trailer lacks a byte
  EXPECT_EQ(take_from(cut, taken, 100), 14u);
  EXPECT_EQ(take_from(ImageBuilder().count(0x8000'0000).raw(Bytes(10, 1)).bytes(), taken,
                      ~std::uint32_t{0}),
            0u);  // a count far past the loaded bytes
  EXPECT_EQ(take_from(ImageBuilder().tape_mark().tape_mark().bytes(), taken, ~std::uint32_t{0}),
            0u);  // a tape mark, whatever the longest record
}

// A deck of six records of five bytes, in both framings, its fourth record put in by `fourth`:
// every record is offered as long as its framing holds, whichever place of a run it has.
TEST(TakeWholeRecords, EveryRecordOfARunOfOneSizeIsCheckedInItsPlace) {
  struct Case {
    const char* fourth;
    void (*put)(ImageBuilder& deck, std::size_t pad);  // writes the fourth record
    std::vector<std::uint32_t> sizes;                  // of the records offered
    bool deck_ends = false;                            // nothing follows the fourth
  };
  const Case cases[] = {
      {"like the others", [](ImageBuilder& deck, std::size_t) { deck.record(Bytes(5, 1)); },
       {5, 5, 5, 5, 5, 5}},
      {"of another size", [](ImageBuilder& deck, std::size_t) { deck.record(Bytes(7, 1)); },
       {5, 5, 5, 7, 5, 5}},
      {"ending in another count",
       [](ImageBuilder& deck, std::size_t pad) { deck.count(5).raw(Bytes(5 + pad, 1)).count(6); },
       {5, 5, 5}},
      {"ending in a count off in its top byte",
       [](ImageBuilder& deck, std::size_t pad) {
         deck.count(5).raw(Bytes(5 + pad, 1)).count(5 | 1u << 24);
       },
       {5, 5, 5}},
      {"starting with a count off in its top byte",
       [](ImageBuilder& deck, std::size_t pad) {
         deck.count(5 | 1u << 24).raw(Bytes(5 + pad, 1)).count(5);
       },
       {5, 5, 5}},
      {"a tape mark", [](ImageBuilder& deck, std::size_t) { deck.tape_mark(); }, {5, 5, 5}},
      {"cut short in its trailer",
       [](ImageBuilder& deck, std::size_t pad) { deck.count(5).raw(Bytes(5 + pad + 3, 1)); },
       {5, 5, 5}, true},
  };
  for (const Framing framing : {Framing::simh, Framing::e11}) {
    const bool even = framing == Framing::simh;  // a pad byte after odd-length data
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.fourth) + (even ? ", simh" : ", e11"));
      ImageBuilder deck(framing);
      for (int k = 0; k < 3; ++k) deck.record(Bytes(5, 1));
      c.put(deck, even ? 1 : 0);
      for (int k = 0; k < 2 && !c.deck_ends; ++k) deck.record(Bytes(5, 1));
      // Each record's data starts past the counts, data and pad bytes of those before it.
      std::vector<Taken> expected;
      std::size_t at = 0;
      for (const std::uint32_t size : c.sizes) {
        expected.push_back({at + 4, size});
        at += 8 + size + (even ? size % 2 : 0);
      }
      std::vector<Taken> taken;
      EXPECT_EQ(take_from(deck.bytes(), taken, 100, framing), at);
      EXPECT_EQ(taken, expected);
    }
  }
}

TEST(TakeWholeRecords, ARefusedRecordEndsTheRunAndIsLeftUnread) {
  const Bytes three =
      ImageBuilder().record(Bytes(5, 1)).record(Bytes(5, 2)).record(Bytes(5, 3)).bytes();
  std::vector<Taken> taken;
  EXPECT_EQ(take_from(three, taken, 100, Framing::simh, 1), 14u);
  EXPECT_EQ(taken, (std::vector<Taken>{{4, 5}}));
  // The second would pass the data limit; then no limit is reached.
  EXPECT_EQ(take_from(three, taken, 100, Framing::simh, 100, 9), 14u);
  EXPECT_EQ(take_from(three, taken, 100, Framing::simh, 100, 15), three.size());
  EXPECT_EQ(taken.size(), 3u);
}

}  // namespace
}  // namespace reelprint::tape_image
