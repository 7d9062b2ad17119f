// The fuzzing harness in the plain build: every input of the committed corpus is run again,
// so a failure the fuzzer once found stays fixed, and the harness itself is checked.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "tests/support.h"

namespace reel::fuzz {
namespace {

namespace fs = std::filesystem;
using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Corpus, EveryCommittedInputKeepsEveryRule) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(FUZZ_CORPUS_DIR))
    if (entry.is_regular_file()) files.push_back(entry.path());
  ASSERT_GE(files.size(), 20u) << "the corpus at " FUZZ_CORPUS_DIR " is missing";
  for (const fs::path& file : files) EXPECT_EQ(check_input(read_file(file)), "") << file;
}

TEST(Harness, SplitsArgumentsAtNulBytesAndServesTheRestAsTheImage) {
  const Outcome outcome =
      run_input(make_input({"-w", "-r5"}, ImageBuilder().record(codes("~HELLO")).bytes()));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out_head, "       ....5\n    1: HELLO   Record 1\n       1\n");
  EXPECT_EQ(outcome.out_bytes, outcome.out_head.size());
  EXPECT_EQ(outcome.out_tail, outcome.out_head);
  EXPECT_EQ(outcome.err_bytes, 0u);
}

TEST(Harness, TakesAnArgumentThatRunsToTheEndAsTheLastWithAnEmptyImage) {
  const Bytes input = {2, '-', 'r', '3'};  // two arguments asked for, one given
  const Outcome outcome = run_input(input);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out_head, "       ...\n");
}

TEST(Harness, CanLeaveOutTheImageName) {
  const Outcome outcome = run_input(make_input({"-w"}, {}, false));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(outcome.out_head.starts_with("Usage: reelprint [options] <input_file>\n"));
  EXPECT_EQ(run_input({}).status, 0);  // no byte at all: the image's name alone
}

TEST(Harness, OpensNoOtherName) {
  const Outcome outcome = run_input(make_input({"other.tap"}, {}));
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out_head, "Unable to open other.tap\n");
}

TEST(Harness, StopsAListingThatOutgrowsTheLimitAsAFullDiskWould) {
  const Outcome outcome = run_input(make_input({"-2147483647"}, {}));
  EXPECT_EQ(outcome.status, 5);
  EXPECT_TRUE(outcome.out_refused);
  EXPECT_LE(outcome.out_bytes, output_limit);
  EXPECT_TRUE(outcome.out_head.starts_with("File 1\n       ....5"));
  EXPECT_GT(outcome.err_bytes, 0u);
  EXPECT_EQ(broken_rule(outcome), "");
}

TEST(Harness, NamesTheRuleThatAnOutcomeBreaks) {
  Outcome good;
  good.status = 3;
  good.out_bytes = 40;
  good.out_tail = "    1: AB\nError reading t.tap\n";
  EXPECT_EQ(broken_rule(good), "");

  Outcome bad = good;
  bad.status = 6;
  EXPECT_NE(broken_rule(bad), "");
  bad = good;
  bad.out_tail = "Error reading t.tap\n    1: AB\n";  // the message is not last
  EXPECT_NE(broken_rule(bad), "");
  bad = good;
  bad.out_tail.pop_back();
  EXPECT_NE(broken_rule(bad), "");
  bad = good;
  bad.err_bytes = 1;
  EXPECT_NE(broken_rule(bad), "");
  bad = good;
  bad.status = 5;
  EXPECT_NE(broken_rule(bad), "");  // status 5 though no write was refused
  bad = good;
  bad.status = 4;
  EXPECT_NE(broken_rule(bad), "");
  bad.out_tail = "    1: AB\nUnequal starting and ending record sizes: 2 != 0\n";
  EXPECT_EQ(broken_rule(bad), "");
}

}  // namespace
}  // namespace reel::fuzz
