#include "tape_image/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tape_image/format.h"
#include "tape_image/image_builder.h"
#include "tape_image/walk.h"

namespace reel::tape_image {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What a walk told, and how it ended.
struct Walked {
  std::vector<Bytes> records;  // the data of each record, in order
  std::uint64_t marks = 0;     // tape marks
  Ending ending;
};

// Walks the image `source` serves in `reading`, taking each record a piece at a time, or the
// records that lie whole in the bytes loaded at once if `whole`.
Walked walk(InputSource& source, Reading reading, bool whole = false) {
  struct Recording {
    bool records(Run& run) {
      if (whole)
        run.take(largest_record, [&](const std::uint8_t* data, std::uint32_t size) {
          got.records.emplace_back(data, data + size);
          return true;
        });
      return true;
    }
    std::uint64_t begin_record(const Record& record) {
      data.clear();
      return record.size;
    }
    bool piece(std::span<const std::uint8_t> bytes, std::size_t& used) {
      data.insert(data.end(), bytes.begin(), bytes.end());
      used = bytes.size();
      return true;
    }
    std::size_t want(std::uint64_t) const { return 1; }
    bool end_record(const Record&) {
      got.records.push_back(data);
      return true;
    }
    bool tape_mark(const Place&) { return ++got.marks, true; }
    bool erase_gap(const Place&) { return true; }
    bool whole;
    Walked got;
    Bytes data;  // of the record read a piece at a time
  } recording{whole, {}, {}};
  TapeReader reader(source);
  Walk walk(reading);
  walk_image(reader, walk, recording);
  recording.got.ending = walk.ending();
  return recording.got;
}

// Returns the ending's kind, where, and its counts, in a few words.
std::string describe(const Ending& e) {
  return std::to_string(static_cast<int>(e.kind)) + " at " + std::to_string(e.at) + " size " +
         std::to_string(e.size) + " trailer " + std::to_string(e.trailer) + " bytes " +
         std::to_string(e.bytes);
}

Ending ends(EndKind kind, std::uint64_t at, std::uint32_t size = 0, std::uint64_t bytes = 0,
            std::uint32_t trailer = 0) {
  Ending e;
  e.kind = kind;
  e.at = at;
  e.size = size;
  e.bytes = bytes;
  e.trailer = trailer;
  return e;
}

TEST(Walk, EndsWhereTheImageEndsOrBreaksAndSaysHow) {
  const Bytes data3 = {1, 2, 3};
  const Bytes data4 = {1, 2, 3, 4};
  const Bytes data5 = {1, 2, 3, 4, 5};
  struct Case {
    const char* name;
    Bytes image;
    Framing framing;
    std::vector<Bytes> records;
    Ending ending;
  };
  const Case cases[] = {
      {"a count is four bytes, little-endian, every bit counting",
       ImageBuilder().count(0x8234'5678).raw(Bytes{1, 2}).bytes(),
       Framing::simh,
       {},
       ends(EndKind::in_data, 0, 0x8234'5678, 2)},
      {"fewer than four bytes where a count begins",
       {5, 0, 0},
       Framing::simh,
       {},
       ends(EndKind::stray_bytes, 0, 0, 3)},
      {"odd-length data has a pad byte in simh framing",
       ImageBuilder(Framing::simh).record(data5).record(data4).bytes(),
       Framing::simh,
       {data5, data4},
       ends(EndKind::after_record, 26)},
      {"and none in E11 framing",
       ImageBuilder(Framing::e11).record(data3).tape_mark().bytes(),
       Framing::e11,
       {data3},
       ends(EndKind::after_tape_mark, 15)},
      {"an E11 image read as simh loses a trailer byte to the pad",
       ImageBuilder(Framing::e11).record(data3).record(data4).bytes(),
       Framing::simh,
       {},
       ends(EndKind::unequal_counts, 0, 3, 0, 0x0400'0000)},  // 0, 0, 0, then the next count
      {"data cut short",
       ImageBuilder().count(10).raw(data3).bytes(),
       Framing::simh,
       {},
       ends(EndKind::in_data, 0, 10, 3)},
      {"a trailer that differs",
       ImageBuilder().count(4).raw(data4).count(5).bytes(),
       Framing::simh,
       {},
       ends(EndKind::unequal_counts, 0, 4, 0, 5)},
      {"a trailer cut to two bytes",
       ImageBuilder().count(2).raw(Bytes{1, 2, 2, 0}).bytes(),
       Framing::simh,
       {},
       ends(EndKind::in_trailer, 0, 2, 2)},
      {"a missing pad byte",
       ImageBuilder().count(1).raw(Bytes{7}).count(1).bytes(),
       Framing::simh,
       {},
       ends(EndKind::in_trailer, 0, 1, 3)},
      {"odd data ending where its pad byte should be",
       ImageBuilder().count(1).raw(Bytes{7}).bytes(),
       Framing::simh,
       {},
       ends(EndKind::before_pad, 0, 1)},
  };
  for (const Case& c : cases) {
    for (const bool whole : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (whole ? ", whole" : ", in pieces"));
      for (const std::size_t step : {std::size_t{1}, std::size_t{3}, ~std::size_t{0}}) {
        MemorySource source(c.image, step);
        const Walked got = walk(source, Reading{c.framing}, whole);
        EXPECT_EQ(got.records, c.records);
        EXPECT_EQ(describe(got.ending), describe(c.ending));
      }
    }
  }
}

TEST(Walk, ReadsEveryContainerWithCountsByItsLayout) {
  const Bytes data3 = {1, 2, 3};
  const Bytes data2 = {4, 5};
  struct Case {
    const char* name;
    Format format;
    Bytes image;
    std::vector<Bytes> records;
    std::uint64_t marks;
    Ending ending;
  };
  const Case cases[] = {
      {"TPC: a 16-bit count, the data, a pad after odd data, no trailer",
       Format::tpc,
       {3, 0, 1, 2, 3, 0, 2, 0, 4, 5, 0, 0},
       {data3, data2},
       1,
       ends(EndKind::after_tape_mark, 12)},
      {"TPC unpadded: no pad either",
       Format::tpc_nopad,
       {3, 0, 1, 2, 3, 2, 0, 4, 5},
       {data3, data2},
       0,
       ends(EndKind::after_record, 9)},
      {"TPC: a count running past the end is damage",
       Format::tpc,
       {2, 0, 4, 5, 9, 0, 1, 2},
       {data2},
       0,
       ends(EndKind::in_data, 4, 9, 2)},
      {"TPC: so is one of even length, with no pad after it",
       Format::tpc,
       {2, 0, 4, 5, 8, 0, 1, 2},
       {data2},
       0,
       ends(EndKind::in_data, 4, 8, 2)},
      {"TPC unpadded: and one of odd length",
       Format::tpc_nopad,
       {2, 0, 4, 5, 3, 0, 1, 2},
       {data2},
       0,
       ends(EndKind::in_data, 4, 3, 2)},
      {"TPC unpadded: a record that ends with the image is whole",
       Format::tpc_nopad,
       {2, 0, 4, 5, 3, 0, 1, 2, 3},
       {data2, data3},
       0,
       ends(EndKind::after_record, 9)},
      {"TPC: odd data ending before its pad",
       Format::tpc,
       {3, 0, 1, 2, 3},
       {},
       0,
       ends(EndKind::before_pad, 0, 3)},
      {"TPC: one byte where a count begins",
       Format::tpc,
       {2, 0, 4, 5, 7},
       {data2},
       0,
       ends(EndKind::stray_bytes, 4, 0, 1)},
      {"simh with big-endian counts",
       Format::simh_be,
       {0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 0, 3, 0, 0, 0, 0},
       {data3},
       1,
       ends(EndKind::after_tape_mark, 16)},
      {"simh with 8-byte tape marks: two zero words are one mark",
       Format::simh_tm8,
       {2, 0, 0, 0, 4, 5, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {data2},
       2,
       ends(EndKind::after_tape_mark, 26)},
      {"and a mark of one word among them is still one",
       Format::simh_tm8,
       {0, 0, 0, 0, 2, 0, 0, 0, 4, 5, 2, 0, 0, 0},
       {data2},
       1,
       ends(EndKind::after_record, 14)},
      {"a zero word after a record is a mark of its own, not the second word of one before",
       Format::simh_tm8,
       {0, 0, 0, 0, 2, 0, 0, 0, 4, 5, 2, 0, 0, 0, 0, 0, 0, 0},
       {data2},
       2,
       ends(EndKind::after_tape_mark, 18)},
  };
  for (const Case& c : cases) {
    for (const bool whole : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (whole ? ", whole" : ", in pieces"));
      for (const std::size_t step : {std::size_t{1}, ~std::size_t{0}}) {
        MemorySource source(c.image, step);
        const Walked got = walk(source, reading_of(c.format), whole);
        EXPECT_EQ(got.records, c.records);
        EXPECT_EQ(got.marks, c.marks);
        EXPECT_EQ(describe(got.ending), describe(c.ending));
      }
    }
    // A walk that wants no data byte ends alike: the data must be there all the same.
    MemorySource source(c.image);
    TapeReader reader(source);
    Walk passing_walk(reading_of(c.format));
    PassingVisitor passing;
    walk_image(reader, passing_walk, passing);
    EXPECT_EQ(describe(passing_walk.ending()), describe(c.ending)) << c.name;
  }
}

TEST(Walk, AFailedReadIsAReadErrorNotAnEndOrAMismatch) {
  MemorySource nothing({}, 4, true);
  EXPECT_EQ(walk(nothing, Reading{}).ending.kind, EndKind::read_error);
  const Bytes image = ImageBuilder().count(2).raw(Bytes{1, 2}).bytes();
  MemorySource after_data(image, 3, true);
  const Ending ending = walk(after_data, Reading{}).ending;
  EXPECT_EQ(ending.kind, EndKind::read_error);
  EXPECT_TRUE(ending.in_record);
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
    std::size_t first_read;     // what the first read asks for
    std::size_t preferred = 0;  // what the source prefers, if anything
  };
  for (const Case& c :
       {Case{0, true, TapeReader::pipe_read}, Case{1, true, TapeReader::page},
        Case{5000, true, 2 * TapeReader::page}, Case{3 << 20, true, TapeReader::largest_read},
        Case{5000, false, TapeReader::pipe_read},
        // A source's preference, in whole pages up to a mebibyte, rules over its size.
        Case{3 << 20, true, 3 * TapeReader::page, 2 * TapeReader::page + 1},
        Case{5000, false, 64 * TapeReader::page, 64 * TapeReader::page},
        Case{0, false, TapeReader::largest_read, 3 << 20}}) {
    // Records the size of each read asked for.
    struct Asked final : InputSource {
      explicit Asked(const Case& c) : c(c) {}
      std::ptrdiff_t read(std::uint8_t*, std::size_t n) override {
        asked.push_back(n);
        return 0;
      }
      std::uint64_t known_size() const override { return c.sized ? c.image_size : 0; }
      std::size_t preferred_read() const override { return c.preferred; }
      const Case& c;
      std::vector<std::size_t> asked;
    } source(c);
    TapeReader reader(source);
    EXPECT_TRUE(reader.data(4).empty());
    ASSERT_FALSE(source.asked.empty());
    EXPECT_EQ(source.asked.front(), c.first_read) << c.image_size << ", " << c.preferred;
  }
}

TEST(Buffering, RecordsLongerThanTheBufferAndCountsAcrossReadsComeThroughWhole) {
  Bytes big(TapeReader::pipe_read * 2 + 3);
  for (std::size_t k = 0; k < big.size(); ++k) big[k] = static_cast<std::uint8_t>(k * 7);
  const Bytes small = {9, 8, 7};
  const auto image = ImageBuilder().record(big).record(small).bytes();
  for (const std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
    for (const bool whole : {false, true}) {
      PipeSource source(image, step);
      const Walked got = walk(source, Reading{}, whole);
      EXPECT_EQ(got.records, (std::vector<Bytes>{big, small})) << step;
      EXPECT_EQ(got.ending.kind, EndKind::after_record);
    }
  }
}

TEST(Buffering, CountsAndTrailersSplitByTheEndOfAFullBufferReadWhole) {
  // The first record's end moves across the end of the first buffer load byte by byte, so
  // its pad byte, its trailer and the next count each get split there in every way.
  for (std::size_t size = TapeReader::pipe_read - 14; size < TapeReader::pipe_read; ++size) {
    const Bytes first(size, 5);
    const Bytes second = {1, 2, 3, 4, 5};
    const auto image = ImageBuilder().record(first).record(second).bytes();
    for (const bool whole : {false, true}) {
      PipeSource source(image, std::size_t{1} << 20);
      const Walked got = walk(source, Reading{}, whole);
      EXPECT_EQ(got.records, (std::vector<Bytes>{first, second})) << size;
      EXPECT_EQ(got.ending.kind, EndKind::after_record) << size;
    }
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
  return take_whole_records(reader.loaded(), max_size, framing,
                            [&](const std::uint8_t* data, std::uint32_t size) {
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
      {"like the others",
       [](ImageBuilder& deck, std::size_t) { deck.record(Bytes(5, 1)); },
       {5, 5, 5, 5, 5, 5}},
      {"of another size",
       [](ImageBuilder& deck, std::size_t) { deck.record(Bytes(7, 1)); },
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
       {5, 5, 5},
       true},
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
}  // namespace reel::tape_image
