// reelcopy's fuzzing harness in the plain build: every input of its committed corpus is run
// again, so a failure the fuzzer once found stays fixed, and the harness's own parts are
// checked against inputs and images worked out by hand.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/reelcopy_harness.h"
#include "tests/support.h"

namespace reel::reelcopy::fuzz {
namespace {

namespace fs = std::filesystem;
using tape_image::Format;
using tape_image::ImageBuilder;
using testing::Bytes;

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(ReelcopyCorpus, EveryCommittedInputKeepsEveryRule) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(REELCOPY_FUZZ_CORPUS_DIR))
    if (entry.is_regular_file()) files.push_back(entry.path());
  ASSERT_GE(files.size(), 40u) << "the corpus at " REELCOPY_FUZZ_CORPUS_DIR " is missing";
  for (const fs::path& file : files) EXPECT_EQ(check_input(read_file(file)), "") << file;
}

TEST(ReelcopyHarness, ReadsTheCommandLineFromTheFirstSixBytes) {
  struct Case {
    Bytes input;
    std::vector<std::string> args;
    std::size_t image;  // bytes of it
  };
  const Case cases[] = {
      {{}, {"--from=simh", "--to=simh", "--parity=even", "t.tap"}, 0},
      // p7b (6) to e11 (1 of the writable), even; -f 3-5, --data, joined at 1.
      {{0x0E, 0x31, 0x22, 0x00, 0x01, 0x00, 7, 8},
       {"--from=p7b", "--to=e11", "--parity=even", "-f", "3-5", "--data", "a.tap", "b.tap"},
       2},
      // simh-tm8 (3) to p7b (5), none; -f 2-, --keep-going, --drop-gaps, --repair=zero-fill.
      {{0xAB, 0x0F, 0x09},
       {"--from=simh-tm8", "--to=p7b", "--parity=none", "-f", "2-", "--keep-going", "--drop-gaps",
        "--repair=zero-fill", "t.tap"},
       0},
      // 7 and 6 and 7 name simh; -f 4 alone.
      {{0xF7, 0x01, 0x03, 0x1F, 0, 0, 1}, {"--from=simh", "--to=simh", "-f", "4", "t.tap"}, 1},
  };
  for (const Case& c : cases) {
    std::span<const std::uint8_t> image;
    const Choice choice = choice_of(c.input, image);
    EXPECT_EQ(arguments_of(choice), c.args);
    EXPECT_EQ(image.size(), c.image);
    std::span<const std::uint8_t> again;
    EXPECT_EQ(arguments_of(choice_of(input_of(choice, image), again)), c.args);
  }
}

TEST(ReelcopyHarness, TakesTheDataOfASimhImageApartOrSaysItCannot) {
  const Bytes a = {1, 2, 3}, b = {4, 5};
  struct Case {
    Bytes image;
    std::string data;
    bool whole;
  };
  const Case cases[] = {
      {ImageBuilder().record(a).tape_mark().bad_record(b).count(0xFFFF'FFFE).bytes(), "\1\2\3\4\5",
       true},
      {ImageBuilder().record(a).count(0xFFFF'FFFF).bytes(), "\1\2\3", true},
      {ImageBuilder().count(3).raw(a).raw(Bytes{0}).count(4).bytes(), "", false},  // unequal
      {ImageBuilder().count(3).raw(a).bytes(), "", false},                         // cut short
      {ImageBuilder().count(0x8000'0000).bytes(), "", false},  // a bad record of nothing
      {ImageBuilder().record(a).raw(Bytes{0, 0}).bytes(), "", false},
  };
  for (const Case& c : cases) {
    bool whole = !c.whole;
    EXPECT_EQ(records_data(text(c.image), whole), c.data);
    EXPECT_EQ(whole, c.whole);
  }
}

TEST(ReelcopyHarness, HoldsAnOutcomeToTheRulesOfEveryRun) {
  const auto outcome = [](int status, std::string err, std::vector<std::uint64_t> wholes = {}) {
    Outcome o;
    o.status = status;
    o.out = "12345678";
    o.err = std::move(err);
    o.wholes = std::move(wholes);
    return o;
  };
  Outcome refused = outcome(0, "");
  refused.refused = true;
  Outcome misused = outcome(0, "");
  misused.fault = "written over past its end";
  EXPECT_EQ(broken_rule(outcome(0, "", {0, 4, 8})), "");
  EXPECT_EQ(broken_rule(outcome(3, "reelcopy: t.tap: stray\n")), "");
  EXPECT_NE(broken_rule(outcome(1, "reelcopy: no\n")), "");
  EXPECT_NE(broken_rule(outcome(2, "reelcopy: cannot open\n")), "");
  EXPECT_NE(broken_rule(outcome(4, "")), "");
  EXPECT_NE(broken_rule(outcome(3, "reelcopy: t.tap: stray")), "");
  EXPECT_NE(broken_rule(outcome(3, "reelcopy: a\nb\n")), "");
  EXPECT_NE(broken_rule(outcome(0, "", {4, 0})), "");
  EXPECT_NE(broken_rule(outcome(0, "", {9})), "");
  EXPECT_NE(broken_rule(refused), "");
  EXPECT_NE(broken_rule(misused), "");
}

TEST(ReelcopyHarness, RunsACopyWithTheImagesNamedAndNoOthers) {
  const Bytes image = ImageBuilder().record(Bytes{1, 2, 3}).tape_mark().bytes();
  const Outcome ran = run_copy({"--to=tpc", "t.tap"}, {{"t.tap", image}}, {.most_per_read = 1});
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(text(Bytes(ran.out.begin(), ran.out.end())), text({3, 0, 1, 2, 3, 0, 0, 0}));
  EXPECT_EQ(run_copy({"u.tap"}, {{"t.tap", image}}).status, 2);
}

}  // namespace
}  // namespace reel::reelcopy::fuzz
