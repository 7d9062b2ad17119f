// The same images listed every way their bytes can reach the listing: in one read, in reads of
// every size from 1 to 7 bytes (so that records, lines and counts are split everywhere), into a
// buffer of one page (so that records lie across its refills), and with every kernel this
// processor runs. Every way must give the same bytes and status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench/random.h"
#include "tape_image/reader.h"
#include "tests/memory_run.h"
#include "tests/support.h"

namespace reel::reelprint {
namespace {

using tape_image::ImageBuilder;
using testing::Bytes;
using testing::list;
using testing::Outcome;

constexpr std::uint8_t separator = 29;

// `n` codes of every kind: one in `separators_in` a word separator (0: none), runs of blanks
// (code 0) and of code 16, which shows as the blank does under -c, and bytes above 63.
Bytes codes(Random& random, std::size_t n, std::size_t separators_in, bool blank_runs) {
  Bytes out;
  while (out.size() < n) {
    if (blank_runs && random.below(3) == 0) {
      out.insert(out.end(), 1 + random.below(250), random.below(4) == 0 ? 16 : 0);
    } else if (separators_in != 0 && random.below(separators_in) == 0) {
      out.insert(out.end(), 1 + random.below(random.below(6) == 0 ? 200 : 2), separator);
    } else {
      out.push_back(static_cast<std::uint8_t>(random.below(256)));
    }
  }
  out.resize(n);
  return out;
}

// A reel of five tape files: a card deck longer than the read buffer, now and then a record
// as long as two cards and their framing (so that records counted as if all were cards come
// out one short); an object deck with separators at the starts and ends of lines and records;
// records of blank runs; long records, one of them past the read buffer; and an empty file.
Bytes reel(tape_image::Framing framing) {
  Random random(7);
  ImageBuilder image(framing);
  for (int card = 0; card < 1800; ++card)
    image.record(codes(random, card % 97 == 50 ? 80 + 88 : 80, 0, false));
  image.tape_mark();
  for (int card = 0; card < 400; ++card) {
    Bytes deck = codes(random, 80, 7, false);
    if (card % 5 == 0) deck.front() = separator;
    if (card % 7 == 0) deck.back() = separator;
    if (card % 11 == 0) deck[random.below(80)] = separator + 64;
    image.record(deck);
  }
  image.tape_mark();
  for (int record = 0; record < 60; ++record)
    image.record(codes(random, 1 + random.below(2000), record % 3 == 0 ? 40 : 0, true));
  image.tape_mark();
  image.record(codes(random, 150'001, 30, true));
  for (int record = 0; record < 20; ++record)
    image.record(codes(random, 1 + random.below(700), 9, random.below(2) == 0));
  image.tape_mark();
  image.tape_mark();
  return image.bytes();
}

// Damaged endings after a few whole records: data cut short, a trailer that differs, a trailer
// cut short, a count cut short; and a trailer that differs amid a run of cards.
std::vector<Bytes> damaged() {
  Random random(11);
  const auto front = [&] {
    ImageBuilder image;
    for (int record = 0; record < 40; ++record)
      image.record(codes(random, 1 + random.below(300), 6, true));
    return image;
  };
  const Bytes some = codes(random, 500, 6, true);
  return {
      front().count(500).raw(std::span(some).first(333)).bytes(),
      front().count(500).raw(some).count(499).bytes(),
      front().count(500).raw(some).raw(Bytes{0xF4, 0x01}).bytes(),
      front().raw(Bytes{7, 0}).bytes(),
      [&] {
        ImageBuilder cards;
        for (int card = 0; card < 40; ++card) cards.record(codes(random, 80, 6, false));
        cards.count(80).raw(codes(random, 80, 6, false)).count(81);
        for (int card = 0; card < 10; ++card) cards.record(codes(random, 80, 6, false));
        return cards.bytes();
      }(),
  };
}

const std::vector<std::vector<std::string_view>> option_sets = {
    {"-6"},
    {"-6", "-w"},
    {"-6", "-a"},
    {"-6", "-w", "-a"},
    {"-6", "-w", "-c", "-r10"},
    {"-6", "-c", "-r20"},
    {"-6", "-w", "-r1"},
    {"-6", "-b", "-r7"},
    {"-6", "-h", "-r64", "-w"},
    {"-6", "-o", "-r99", "-a", "-w"},
};

// How the bytes are read: at most `most_per_read` at a time, into a buffer of `read_size`
// (0: as suits the image, all of it at once).
struct Reading {
  std::size_t most_per_read;
  std::size_t read_size = 0;
};

// Lists `image` with each option set in one read with the portable kernel, then every other
// way with every kernel, and expects the same.
void expect_every_route_alike(const Bytes& image, std::vector<std::string_view> extra = {}) {
  const std::size_t whole = image.size() + 1;
  for (std::vector<std::string_view> options : option_sets) {
    options.insert(options.end(), extra.begin(), extra.end());
    const Outcome expected = list(options, image, whole, bcd::KernelId::portable);
    ASSERT_FALSE(expected.out.empty());
    for (const bcd::KernelId kernel : bcd::kernels_here()) {
      for (const Reading reading :
           {Reading{whole}, Reading{1}, Reading{2}, Reading{3}, Reading{4}, Reading{5}, Reading{6},
            Reading{7}, Reading{whole, tape_image::TapeReader::page}}) {
        const Outcome result =
            list(options, image, reading.most_per_read, kernel, reading.read_size);
        std::string way = std::string(bcd::name_of(kernel)) + ", reads of " +
                          std::to_string(reading.most_per_read) + " into " +
                          std::to_string(reading.read_size) + ", options";
        for (const std::string_view option : options) way.append(" ").append(option);
        ASSERT_EQ(result.status, expected.status) << way;
        if (result.out != expected.out) {
          std::size_t at = 0;
          while (at < result.out.size() && result.out[at] == expected.out[at]) ++at;
          const std::size_t line = expected.out.rfind('\n', at) + 1;
          FAIL() << way << ": the listings part at byte " << at
                 << "\nexpected: " << expected.out.substr(line, 160)
                 << "\n     got: " << result.out.substr(line, 160);
        }
      }
    }
  }
}

TEST(Routes, AReelOfEveryKindOfRecordListsAlikeEveryWay) {
  expect_every_route_alike(reel(tape_image::Framing::simh));
}

TEST(Routes, AnE11ReelListsAlikeEveryWayWithOrWithoutDashE) {
  const Bytes image = reel(tape_image::Framing::e11);
  expect_every_route_alike(image, {"-e"});
  expect_every_route_alike(image);
}

TEST(Routes, DamagedEndingsListAlikeEveryWay) {
  for (const Bytes& image : damaged()) expect_every_route_alike(image);
}

}  // namespace
}  // namespace reel::reelprint
