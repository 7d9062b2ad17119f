// Bad input, in one place: the example tape stopped at every byte, corrupted trailers, huge
// counts, bytes beyond the six-bit codes, files that are no tape image, pipes, output that
// can't be written, and odd arguments. Each case has its exit status and message, worked out
// from the rules of the listing and the framing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tape_image/source.h"
#include "tests/binary_run.h"
#include "tests/memory_run.h"
#include "tests/support.h"

namespace reel::reelprint {
namespace {

namespace fs = std::filesystem;
using tape_image::ImageBuilder;
using tape_image::InputSource;
using testing::Bytes;
using testing::codes;
using testing::Collect;
using testing::list;
using testing::list_with;
using testing::Outcome;
using testing::repeat;
using testing::ruler_100;
using testing::operator+;

const fs::path deck_path = fs::path(EXAMPLE_DIR) / "deck.tap";

Bytes deck_bytes() {
  const std::string text = testing::read_file(deck_path);
  return {text.begin(), text.end()};
}

std::string spaces(std::size_t n) { return std::string(n, ' '); }

const std::string error_reading = "Error reading t.tap\n";

std::string unequal(std::int64_t leading, std::int64_t trailing) {
  return "Unequal starting and ending record sizes: " + std::to_string(leading) +
         " != " + std::to_string(trailing) + "\n";
}

// --- The example tape stopped at every byte -------------------------------------------------

// The first `stop` bytes of `image`, handed out a few at a time.
Outcome list_stopped(const std::vector<std::string_view>& options, const Bytes& image,
                     std::size_t stop, bool fail) {
  return list_with(options, [&](const std::string&) {
    const std::size_t step = 1 + stop % 7;  // reads of 1 to 7 bytes split counts every way
    return std::make_unique<tape_image::MemorySource>(std::span(image).first(stop), step, fail);
  });
}

// One item of a simh image: a tape mark, or a record's leading count, data, pad byte after
// odd data, and trailing count.
struct Item {
  std::size_t start;    // offset of the (leading) count
  std::uint32_t count;  // 0 for a tape mark
  std::size_t data;     // offset of the first data byte
  std::size_t end;      // one past the item's last byte
  int file;             // the tape file it belongs to, from 1
  int record;           // its record number in that file, from 1; 0 for a tape mark
};

std::uint32_t count_at(const Bytes& image, std::size_t at) {
  return image[at] | image[at + 1] << 8 | image[at + 2] << 16 |
         static_cast<std::uint32_t>(image[at + 3]) << 24;
}

std::vector<Item> items_of(const Bytes& image) {
  std::vector<Item> items;
  int file = 1;
  int record = 0;
  for (std::size_t at = 0; at + 4 <= image.size();) {
    const std::uint32_t count = count_at(image, at);
    if (count == 0) {
      items.push_back({at, 0, at + 4, at + 4, file++, 0});
      record = 0;
    } else {
      items.push_back({at, count, at + 4, at + 4 + count + count % 2 + 4, file, ++record});
    }
    at = items.back().end;
  }
  return items;
}

const Item& item_at(const std::vector<Item>& items, std::size_t offset) {
  for (const Item& item : items)
    if (offset < item.end) return item;
  return items.back();
}

// A full listing, taken apart into headers, rulers and the lines of each record.
class Listing {
 public:
  explicit Listing(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find('\n', at) + 1;
      const std::string line = text.substr(at, end - at);
      at = end;
      lines_.push_back(line);
      const std::size_t index = lines_.size();  // one past this line
      if (line.starts_with("File ")) continue;
      if (line.starts_with("       .")) {  // a ruler: the records of the next file follow
        files_.push_back({index, {}});
        if (ruler_.empty()) ruler_ = line;
      } else if (line.find("  Record ") != std::string::npos) {
        files_.back().records.push_back({index - 1, index});
      } else {
        files_.back().records.back().second = index;  // a later line or a word-mark line
      }
    }
  }

  std::string text() const { return join(0, lines_.size()); }
  const std::string& ruler() const { return ruler_; }
  int records_in(int file) const { return static_cast<int>(files_.at(file - 1).records.size()); }

  // Everything up to the ruler of `file` and its first `records` records.
  std::string upto(int file, int records) const {
    const File& f = files_.at(file - 1);
    return join(0, records == 0 ? f.ruler_end : f.records.at(records - 1).second);
  }

  // The lines of a record whose characters all lie among its first `characters`: each data
  // line whose position is at most `characters`, with its word-mark line.
  std::string complete_lines(int file, int record, std::size_t characters) const {
    const auto [begin, end] = files_.at(file - 1).records.at(record - 1);
    std::string out;
    bool taken = false;
    for (std::size_t k = begin; k < end; ++k) {
      const std::string& line = lines_[k];
      if (!line.starts_with("       ")) taken = std::stoul(line) <= characters;
      if (taken) out += line;
    }
    return out;
  }

 private:
  struct File {
    std::size_t ruler_end;
    std::vector<std::pair<std::size_t, std::size_t>> records;  // [first line, end)
  };
  std::string join(std::size_t begin, std::size_t end) const {
    std::string out;
    for (std::size_t k = begin; k < end; ++k) out += lines_[k];
    return out;
  }
  std::vector<std::string> lines_;
  std::vector<File> files_;
  std::string ruler_;
};

struct Options {
  std::vector<std::string_view> args;
  int files;         // tape files asked for
  std::size_t recl;  // characters per line
  bool word_marks;   // -w
};

const std::vector<Options> option_sets = {
    {{}, 1, 100, false},
    {{"-2", "-w"}, 2, 100, true},
    {{"-3", "-a", "-r7"}, 3, 7, false},
    {{"-2", "-w", "-r9"}, 2, 9, true},
};

std::string describe(const Options& options, std::size_t stop) {
  std::string text = "stopped at byte " + std::to_string(stop) + ", options:";
  for (const std::string_view arg : options.args) text.append(" ").append(arg);
  return text;
}

struct Expected {
  int status;
  std::string out;
};

// What listing `image` must give when its input stops after `stop` bytes: at its end, or
// with a failed read if `fail`. A count that is missing or cut short reads as a tape mark;
// data cut short is a read error; a trailer that is missing or cut short reads as 0.
Expected expected_stop(const Bytes& image, const std::vector<Item>& items, const Listing& full,
                       const Options& options, std::size_t stop, bool fail) {
  const Item& item = item_at(items, stop);
  if (item.file > options.files) return {0, full.text()};  // all asked for was there
  const int whole = item.count == 0 ? full.records_in(item.file) : item.record - 1;
  std::string out = full.upto(item.file, whole);

  if (stop < item.start + 4) {  // where a count should be
    if (fail) return {3, out + error_reading};
    for (int file = item.file + 1; file <= options.files; ++file)
      out += "File " + std::to_string(file) + "\n" + full.ruler();
    return {0, out};
  }
  if (stop < item.data + item.count) {  // inside the data: the lines already full are out
    std::size_t characters = 0;
    for (std::size_t at = item.data; at < stop; ++at)
      characters += options.word_marks && image[at] % 64 == 29 ? 0 : 1;
    out += full.complete_lines(item.file, item.record, characters / options.recl * options.recl);
    return {3, out + error_reading};
  }
  out = full.upto(item.file, item.record);  // the pad byte or the trailer is missing
  if (fail) return {3, out + error_reading};
  return {4, out + unequal(item.count, 0)};
}

class StoppedDeck : public ::testing::Test {
 protected:
  void SetUp() override {
    // The example tape: eleven cards, a tape mark, four records, two tape marks.
    ASSERT_EQ(items_.size(), 18u);
    ASSERT_EQ(items_.back().end, deck_.size());
    ASSERT_EQ(items_[11].count, 0u);
    ASSERT_EQ(items_[16].count, 0u);
    ASSERT_EQ(items_[17].count, 0u);
  }

  // Lists the deck stopped at every byte, under every option set, against expected_stop.
  void check_every_stop(bool fail) {
    for (const Options& options : option_sets) {
      const Outcome whole = list(options.args, deck_);
      ASSERT_EQ(whole.status, 0);
      const Listing full(whole.out);
      for (std::size_t stop = 0; stop < deck_.size(); ++stop) {
        const Expected expected = expected_stop(deck_, items_, full, options, stop, fail);
        const Outcome result = list_stopped(options.args, deck_, stop, fail);
        EXPECT_EQ(result.status, expected.status) << describe(options, stop);
        EXPECT_EQ(result.out, expected.out) << describe(options, stop);
        EXPECT_EQ(result.err, "");
        if (HasFailure()) return;  // one offset tells the story
      }
    }
  }

  const Bytes deck_ = deck_bytes();
  const std::vector<Item> items_ = items_of(deck_);
};

TEST_F(StoppedDeck, ACutImageListsTheWholeRecordsBeforeTheCutThenEndsAsTheFramingSays) {
  check_every_stop(false);
}

TEST_F(StoppedDeck, AReadErrorAnywhereEndsTheListingWithErrorReading) { check_every_stop(true); }

TEST_F(StoppedDeck, ACutInsideACardShowsNoLineOfItAndACutInItsTrailerShowsZero) {
  // Spot checks by hand: the first card is 80 bytes, at offsets 4 to 83, trailer 84 to 87.
  EXPECT_EQ(list_stopped({"-r50"}, deck_, 4 + 60, false).out,
            "       ....5...10...15...20...25...30...35...40...45...50\n"
            "    1: 00010          JOB  PRINT A GREETING ON THE 1403     Record 1\n"
            "Error reading t.tap\n");
  const Outcome in_trailer = list_stopped({"-r50"}, deck_, 86, false);
  EXPECT_EQ(in_trailer.status, 4);
  EXPECT_TRUE(in_trailer.out.ends_with("   51: " + spaces(25) + "HELLO\n" + unequal(80, 0)));
  EXPECT_EQ(list_stopped({"-r50"}, deck_, 86, true).status, 3);
}

// --- Trailers with one bit flipped ------------------------------------------------------------

TEST_F(StoppedDeck, EveryFlippedBitOfATrailerStopsTheListingWithBothCounts) {
  const Listing full(list({"-2"}, deck_).out);
  for (const Item& item : items_) {
    if (item.count == 0) continue;
    for (int bit = 0; bit < 32; ++bit) {
      Bytes image = deck_;
      image[item.end - 4 + bit / 8] ^= static_cast<std::uint8_t>(1 << bit % 8);
      const auto trailer = static_cast<std::int32_t>(item.count ^ (1u << bit));
      const Outcome result = list({"-2"}, image);
      EXPECT_EQ(result.status, 4) << "record at " << item.start << ", bit " << bit;
      EXPECT_EQ(result.out, full.upto(item.file, item.record) + unequal(item.count, trailer))
          << "record at " << item.start << ", bit " << bit;
    }
  }
}

TEST_F(StoppedDeck, TheCountsOfAFlippedTrailerShowAsSignedNumbers) {
  const auto first_card_with = [this](std::size_t byte, std::uint8_t bit) {
    Bytes image = deck_;
    image[84 + byte] ^= bit;  // the first card's trailer
    return list({}, image).out;
  };
  EXPECT_TRUE(first_card_with(0, 1).ends_with(unequal(80, 81)));
  EXPECT_TRUE(first_card_with(1, 1).ends_with(unequal(80, 336)));
  EXPECT_TRUE(first_card_with(2, 1).ends_with(unequal(80, 65616)));
  EXPECT_TRUE(first_card_with(3, 0x80).ends_with(unequal(80, -2147483568)));
}

TEST_F(StoppedDeck, WhatAPadByteHoldsChangesNothing) {
  const std::string full = list({"-2", "-w"}, deck_).out;
  int pads = 0;
  for (const Item& item : items_) {
    if (item.count % 2 == 0) continue;
    ++pads;
    for (int bit = 0; bit < 8; ++bit) {
      Bytes image = deck_;
      image[item.data + item.count] ^= static_cast<std::uint8_t>(1 << bit);
      const Outcome result = list({"-2", "-w"}, image);
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.out, full);
    }
  }
  EXPECT_GT(pads, 0);
}

// --- Counts with too little data ---------------------------------------------------------------

TEST(Counts, AnyCountWithTooLittleDataEndsWithErrorReadingNeverALoop) {
  for (const std::uint32_t count : {1u, 0x80000000u, 0xFFFFFFFFu}) {
    const Outcome bare = list({"-r5"}, ImageBuilder().count(count).bytes());
    EXPECT_EQ(bare.status, 3) << count;
    EXPECT_EQ(bare.out, "       ....5\nError reading t.tap\n") << count;
  }
  for (const std::uint32_t count : {0x80000000u, 0xFFFFFFFFu}) {
    const Outcome some =
        list({"-r5"}, ImageBuilder().count(count).raw(codes("ABCDEFGHIJKL")).bytes());
    EXPECT_EQ(some.status, 3) << count;
    EXPECT_EQ(some.out,
              "       ....5\n"
              "    1: ABCDE   Record 1\n"
              "    6: FGHIJ\n"
              "Error reading t.tap\n")
        << count;
  }
}

// --- Bytes 64 to 255 in data --------------------------------------------------------------------

const std::string arrangement_a =
    " 1234567890#@:>{^/STUVWXYZ|,%~\\\"-JKLMNOPQR!$*];_&ABCDEFGHI?.)[<}";

TEST(HighBytes, ShowAsTheirLowSixBits) {
  Bytes record;
  for (int value = 64; value < 256; ++value) record.push_back(static_cast<std::uint8_t>(value));
  const Outcome result = list({"-r64"}, ImageBuilder().record(record).bytes());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "       ....5...10...15...20...25...30...35...40...45...50...55...60....\n"
            "    1: " +
                arrangement_a + "   Record 1\n" + "   65: " + arrangement_a + "\n" +
                "  129: " + arrangement_a + "\n");
}

TEST(HighBytes, WhoseLowSixBitsAre29AreWordSeparators) {
  const Bytes record = {93, 49, 157, 50, 221, 51, 29, 52};
  EXPECT_EQ(list({"-w", "-r8"}, ImageBuilder().record(record).bytes()).out,
            "       ....5...\n"
            "    1: ABCD       Record 1\n"
            "       1111\n");
  EXPECT_EQ(list({"-r8"}, ImageBuilder().record(record).bytes()).out,
            "       ....5...\n"
            "    1: ~A~B~C~D   Record 1\n");
}

// --- Files that are no tape image ---------------------------------------------------------------

class Files : public testing::BinaryTest {};

TEST_F(Files, AnEmptyFileIsAnEmptyReel) {
  image({});
  const auto result = reelprint({"t.tap"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, ruler_100);
  EXPECT_EQ(reelprint({"-2", "-r3", "t.tap"}).out, "File 1\n       ...\nFile 2\n       ...\n");
}

TEST_F(Files, AMissingFileIsNamedWithStatusTwo) {
  const auto result = reelprint({"missing.tap"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "Unable to open missing.tap\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(Files, ADirectoryCannotBeOpened) {
  fs::create_directory(dir_ / "reel");
  const auto result = reelprint({"reel"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "Unable to open reel\n");
}

TEST_F(Files, AFileThatFailsToReadEndsWithErrorReading) {
  // Reading a process's memory at offset 0 fails: nothing is mapped there.
  const auto result = reelprint({"-r5", "/proc/self/mem"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "       ....5\nError reading /proc/self/mem\n");
}

TEST(FilesInMemory, AFileThatCannotBeOpenedIsNamedEvenWhenNoFileIsAskedFor) {
  const Outcome result = list_with(
      {"-0"}, [](const std::string&) { return nullptr; }, "missing.tap");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "Unable to open missing.tap\n");
}

// --- Pipes: read straight through, never rewound ------------------------------------------------

class Pipes : public testing::BinaryTest {};

TEST_F(Pipes, StandardInputCarriesATapeImage) {
  const Bytes big = repeat(49, 300'000);
  const Bytes tape = ImageBuilder().record(big).record(codes("B")).bytes();
  const auto result = reelprint({"/dev/stdin"}, "", &tape);
  EXPECT_EQ(result.status, 0);
  // 3000 lines of the first record, the last 2000 of them at six-digit positions.
  EXPECT_EQ(result.out.size(), ruler_100.size() + (7 + 100 + 1 + 10 + 1) + 2999 * (7 + 100 + 1) +
                                   2000 + (7 + 1 + 100 + 10 + 1));
  EXPECT_TRUE(result.out.ends_with("299901: " + std::string(100, 'A') + "\n    1: B" +
                                   std::string(100, ' ') + "  Record 2\n"));
}

TEST_F(Pipes, StandardInputCutShortOrWithAWrongTrailerFailsAsAFileWould) {
  const Bytes cut = ImageBuilder().count(10).raw(codes("ABCDEFG")).bytes();
  const auto cut_result = reelprint({"-r5", "/dev/stdin"}, "", &cut);
  EXPECT_EQ(cut_result.status, 3);
  EXPECT_EQ(cut_result.out, "       ....5\n    1: ABCDE   Record 1\nError reading /dev/stdin\n");

  const Bytes wrong =
      ImageBuilder().count(4).raw(codes("ABCD")).count(5).bytes() + repeat(0, 100'000);
  const auto wrong_result = reelprint({"-r5", "/dev/stdin"}, "", &wrong);
  EXPECT_EQ(wrong_result.status, 4);
  EXPECT_EQ(wrong_result.out, "       ....5\n    1: ABCD    Record 1\n" + unequal(4, 5));
}

TEST_F(Pipes, AFifoListsExactlyAsTheFileItCarries) {
  const fs::path fifo = dir_ / "reel.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const Bytes deck = deck_bytes();
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    for (std::size_t done = 0; fd >= 0 && done < deck.size();) {
      const ssize_t n = ::write(fd, deck.data() + done, deck.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (fd >= 0) ::close(fd);
  });
  const auto from_fifo = reelprint({"-2", "-w", "reel.fifo"});
  const int unblock = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // had the child not opened it
  writer.join();
  ::close(unblock);

  const auto from_file = reelprint({"-2", "-w", deck_path.string()});
  EXPECT_EQ(from_file.status, 0);
  EXPECT_EQ(from_fifo.status, 0);
  EXPECT_EQ(from_fifo.out, from_file.out);
}

// --- Output that can't be written ---------------------------------------------------------------

const std::string write_failed =
    "reelprint: error writing standard output: No space left on device\n";

class Output : public testing::BinaryTest {};

TEST_F(Output, AFullDiskEndsWithStatusFiveAndOneLineOnStandardError) {
  image(ImageBuilder().record(repeat(49, 10'000)).bytes());
  const auto result = reelprint({"t.tap"}, "/dev/full");
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.err, write_failed);
}

TEST_F(Output, AFullDiskFailsEvenAListingOfOneLine) {
  image({});
  const auto result = reelprint({"t.tap"}, "/dev/full");
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.err, write_failed);
}

// The failure was found first; that its message could not be written is said as well.
TEST_F(Output, AMessageThatCannotBeWrittenKeepsTheStatusOfItsFailure) {
  image(ImageBuilder().count(10).raw(repeat(49, 3)).bytes());  // cut short in its data
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {{{"missing.tap"}, 2}, {{"-x", "t.tap"}, 1}, {{"t.tap"}, 3}};
  for (const auto& c : cases) {
    const auto result = reelprint(c.args, "/dev/full");
    EXPECT_EQ(result.status, c.status) << c.args.front();
    EXPECT_EQ(result.err, write_failed) << c.args.front();
  }
}

TEST_F(Output, AClosedPipeEndsTheRunQuietly) {
  image(ImageBuilder().record(repeat(49, 1'000'000)).bytes());
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ::close(pipe_fds[0]);  // nobody will read
  const auto result = reelprint({"t.tap"}, "", nullptr, pipe_fds[1]);
  ::close(pipe_fds[1]);
  EXPECT_NE(result.status, 0);
  EXPECT_EQ(result.err, "");
}

TEST(OutputInMemory, AFailedWriteEndsWithStatusFiveAndIsReportedUnlessThePipeClosed) {
  const auto image = ImageBuilder().record(repeat(49, 1'000'000)).bytes();
  const std::vector<std::string_view> args = {"reelprint", "t.tap"};
  const tape_image::Opener open = [&image](const std::string&) {
    return std::make_unique<tape_image::MemorySource>(image);
  };
  Collect full({.limit = 0});
  Collect err;
  EXPECT_EQ(run(args, open, full, err, bcd::best_kernel()), 5);
  EXPECT_EQ(err.text, write_failed);

  Collect closed({.limit = 0, .error = EPIPE});
  Collect quiet;
  EXPECT_EQ(run(args, open, closed, quiet, bcd::best_kernel()), 5);
  EXPECT_EQ(quiet.text, "");
}

// --- Odd arguments ------------------------------------------------------------------------------

const std::string usage_text =
    "Usage: reelprint [options] <input_file>\n"
    " Options: -w to print word marks on a separate line\n"
    "          -# number of 'files' to print (default 1)\n"
    "          -a print all of each record, including blank lines,\n"
    "             which are otherwise suppressed (except for the last one)\n"
    "          -b use 'b' for blank, default is blank\n"
    "          -c use '^' for blank, default is blank\n"
    "          -e E11 format, i.e., don't require even-length records\n"
    "          -h Use the H (Fortran) print arrangement (default A)\n"
    "          -o Use the 'old simh' print arrangement\n"
    "          -r[ ]# print # characters per line, max 100\n"
    "          reelprint " REELPRINT_VERSION ", written by the reelprint authors\n";

class Arguments : public testing::BinaryTest {
 protected:
  void expect(const std::vector<std::string>& args, int status, const std::string& out) {
    std::string shown;
    for (const std::string& arg : args) shown += " [" + arg + "]";
    const auto result = reelprint(args);
    EXPECT_EQ(result.status, status) << "arguments:" << shown;
    EXPECT_EQ(result.out, out) << "arguments:" << shown;
    EXPECT_EQ(result.err, "") << "arguments:" << shown;
  }
};

TEST_F(Arguments, WithoutAFileNameGiveTheUsageText) {
  expect({}, 1, usage_text);
  expect({"-w", "-r", "40"}, 1, usage_text);
  expect({"-r"}, 1, usage_text);  // -r last: no count
  expect({"-w", "-r"}, 1, usage_text);
  expect({"-r "}, 1, usage_text);  // the space sends -r to the next argument: there is none
}

TEST_F(Arguments, ThatAreEmptyNameAFileOrKeepTheWidth) {
  image({});
  expect({""}, 2, "Unable to open \n");
  expect({"-w", ""}, 2, "Unable to open \n");
  expect({"-r", "", "-r", "", "t.tap"}, 0, ruler_100);
}

TEST_F(Arguments, WithUnreadableNumbersGiveTheUsageText) {
  image({});
  for (const std::string bad : {"-x", "-", "--5", "-+5", "-W", "- 5"})
    expect({bad, "t.tap"}, 1, usage_text);
  expect({"-r 40", "t.tap"}, 1, usage_text);  // the count would be "t.tap"
  expect({"-rx", "t.tap"}, 1, usage_text);
}

TEST_F(Arguments, WithWidthsBelowOneGiveTheUsageText) {
  image({});
  for (const std::string width : {"0", "-1", "-2147483648", "-99999999999999999999"}) {
    expect({"-r" + width, "t.tap"}, 1, usage_text);
    expect({"-r", width, "t.tap"}, 1, usage_text);
  }
}

TEST_F(Arguments, WithHugeWidthsListAHundredCharactersALine) {
  image(ImageBuilder().record(repeat(49, 101)).bytes());
  const std::string hundred =
      ruler_100 + "    1: " + std::string(100, 'A') + "   Record 1\n" + "  101: A\n";
  for (const std::string width : {"101", "2147483647", "2147483648", "99999999999999999999"})
    expect({"-r" + width, "t.tap"}, 0, hundred);
}

TEST_F(Arguments, WithFileCountsOf2To31OrMoreGiveTheUsageText) {
  image({});
  expect({"-2147483648", "t.tap"}, 1, usage_text);
  expect({"-4294967297", "t.tap"}, 1, usage_text);  // would wrap to 1 in 32 bits
  expect({"-99999999999999999999", "t.tap"}, 1, usage_text);
}

TEST_F(Arguments, NameAFileBeginningWithAMinusSignThroughItsPath) {
  image(ImageBuilder().record(codes("A")).bytes(), "-x");
  expect({"-r5", "./-x"}, 0, "       ....5\n    1: A       Record 1\n");
}

TEST(ArgumentsInMemory, TheLargestFileCountListsEmptyFilesUntilTheOutputStops) {
  // 2147483647 empty files would take hours; a disk that fills after 1 MiB stops them.
  const std::vector<std::string_view> args = {"reelprint", "-2147483647", "-r3", "t.tap"};
  const Bytes empty;
  Collect out({.limit = 1 << 20});
  Collect err;
  const int status = run(
      args, [&](const std::string&) { return std::make_unique<tape_image::MemorySource>(empty); },
      out, err, bcd::best_kernel());
  EXPECT_EQ(status, 5);
  EXPECT_EQ(err.text, write_failed);
  std::string expected;
  for (int file = 1; expected.size() < out.text.size(); ++file)
    expected += "File " + std::to_string(file) + "\n       ...\n";
  ASSERT_GT(out.text.size(), 100'000u);
  EXPECT_EQ(out.text, expected.substr(0, out.text.size()));
}

}  // namespace
}  // namespace reel::reelprint
