// reelinfo's fuzzing harness in the plain build: every input of its committed corpus is run
// again, so a failure the fuzzer once found stays fixed, and the harness itself is checked.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/reelinfo_harness.h"
#include "reelinfo/options.h"
#include "tests/support.h"

namespace reel::reelinfo::fuzz {
namespace {

namespace fs = std::filesystem;
using reel::fuzz::make_input;
using tape_image::ImageBuilder;
using testing::Bytes;

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(ReelinfoCorpus, EveryCommittedInputKeepsEveryRule) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(REELINFO_FUZZ_CORPUS_DIR))
    if (entry.is_regular_file()) files.push_back(entry.path());
  ASSERT_GE(files.size(), 30u) << "the corpus at " REELINFO_FUZZ_CORPUS_DIR " is missing";
  for (const fs::path& file : files) EXPECT_EQ(check_input(read_file(file)), "") << file;
}

// A record of two bytes and a tape mark: 14 bytes.
const Bytes image = ImageBuilder().record(Bytes{49, 50}).tape_mark().bytes();

TEST(ReelinfoHarness, ServesTheImageAsByteZeroAsks) {
  const Outcome plain = run_input(make_input({"-l"}, image));
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.args, (std::vector<std::string>{"-l", "t.tap"}));
  EXPECT_TRUE(plain.out.starts_with("t.tap: 14 bytes, ")) << plain.out;
  EXPECT_EQ(plain.err, "");

  const Outcome failing = run_input(make_input({}, image, true, failing_read));
  EXPECT_EQ(failing.status, 3);
  EXPECT_NE(failing.out.find("read error at 14"), std::string::npos) << failing.out;

  // Standard output takes 14 % 160 bytes: not even the first line.
  const Outcome full = run_input(make_input({}, image, true, tight_output));
  EXPECT_EQ(full.status, 5);
  EXPECT_TRUE(full.out_refused);
  EXPECT_EQ(full.out, "");
  EXPECT_TRUE(full.err.starts_with("reelinfo: ")) << full.err;

  const Outcome missing = run_input(make_input({"other.tap"}, {}, false));
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "other.tap: cannot open (No such file or directory)\n");

  const Bytes served = make_input({}, image, true, short_reads | small_spool_flag);
  const Serving serving = serving_of(reel::fuzz::split_input(served));
  EXPECT_EQ(serving.most_per_read, 1u);  // 1 + 14 % 7
  EXPECT_EQ(serving.spool_memory, small_spool);
  EXPECT_FALSE(serving.fail_at_end);
  EXPECT_EQ(serving.out_limit, output_limit);
  for (const Bytes& input : {served, make_input({"-l"}, image, true, failing_read)})
    EXPECT_EQ(check_input(input), "");
}

TEST(ReelinfoHarness, NamesTheRuleThatAnOutcomeBreaks) {
  Outcome good;
  good.status = 4;
  good.args = {"t.tap"};
  good.image_size = 24;
  good.out =
      "t.tap: 24 bytes, simh framing, 1 tape file, 0 records\n"
      "file 1 at 0: 0 records\n"
      "end at 0: file 1 record 1: leading count 4, trailing count 5\n";
  EXPECT_EQ(broken_rule(good), "");
  Outcome hinted = good;  // lines after the end
  hinted.out += "a hint\n";
  EXPECT_EQ(broken_rule(hinted), "");
  Outcome two = good;  // a report on an image that can't be opened first
  two.args = {"x.tap", "t.tap"};
  two.out = "x.tap: cannot open (No such file or directory)\n\n" + good.out;
  EXPECT_EQ(broken_rule(two), "");
  Outcome failed = good;
  failed.fail_at_end = true;
  failed.out += "read error at 24\n";
  EXPECT_EQ(broken_rule(failed), "");
  Outcome help;
  help.status = 0;
  help.args = {"--help"};
  help.out = help_text();
  EXPECT_EQ(broken_rule(help), "");
  Outcome bad_line;
  bad_line.status = 1;
  bad_line.args = {"-x", "t.tap"};
  bad_line.err = "reelinfo: unknown option '-x'\nTry 'reelinfo --help' for more information.\n";
  EXPECT_EQ(broken_rule(bad_line), "");

  const auto breaks = [](Outcome outcome, auto change) {
    change(outcome);
    return !broken_rule(outcome).empty();
  };
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.status = 6; }));
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.out_refused = true; }));
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.err = "reelinfo: oops\n"; }));
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.out.pop_back(); }));
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.image_size = 25; }));
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.out += "end at 24: after a tape mark\n"; }));
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.out.resize(o.out.find("end at ")); }));
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.out += "\n"; }));
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.status = 2; }));          // every image opened
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.fail_at_end = true; }));  // and no read error
  EXPECT_TRUE(breaks(failed, [](Outcome& o) { o.fail_at_end = false; }));
  EXPECT_TRUE(breaks(failed, [](Outcome& o) { o.status = 0; }));
  EXPECT_TRUE(breaks(good, [](Outcome& o) { o.args = {"t.tap", "t.tap"}; }));  // one report
  EXPECT_TRUE(breaks(two, [](Outcome& o) { o.status = 0; }));
  EXPECT_TRUE(breaks(two, [](Outcome& o) { o.args = {"y.tap", "t.tap"}; }));
  EXPECT_TRUE(breaks(help, [](Outcome& o) { o.status = 3; }));
  EXPECT_TRUE(breaks(help, [](Outcome& o) { o.args = {"t.tap"}; }));  // not asked for
  EXPECT_TRUE(breaks(bad_line, [](Outcome& o) { o.status = 0; }));
  EXPECT_TRUE(breaks(bad_line, [](Outcome& o) { o.out = "t.tap: "; }));
  EXPECT_TRUE(breaks(bad_line, [](Outcome& o) { o.err.resize(o.err.find('\n') + 1); }));

  // In JSON: an array of an object for each image named, in order.
  Outcome json = two;
  json.args = {"-j", "x.tap", "t.tap"};
  json.out =
      "[\n{\"image\":\"x.tap\",\"status\":2,\"error\":\"cannot open\",\"reason\":\"No such file "
      "or directory\"},\n{\"image\":\"t.tap\",\"size\":24,\"items\":[\n]}\n]\n";
  EXPECT_EQ(broken_rule(json), "");
  EXPECT_TRUE(breaks(json, [](Outcome& o) { o.args = {"--json", "t.tap", "x.tap"}; }));
  EXPECT_TRUE(breaks(json, [](Outcome& o) { o.image_size = 25; }));
  EXPECT_TRUE(breaks(json, [](Outcome& o) { o.fail_at_end = true; }));
  EXPECT_TRUE(breaks(json, [](Outcome& o) { o.out.erase(o.out.size() - 2); }));
}

}  // namespace
}  // namespace reel::reelinfo::fuzz
