// reeltext's fuzzing harness in the plain build: every input of its committed corpus is run
// again, so a failure the fuzzer once found stays fixed, and the harness's checks are shown to
// fail on what breaks their rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/reeltext_harness.h"
#include "tests/support.h"

namespace reel::reeltext::fuzz {
namespace {

namespace fs = std::filesystem;
using reel::fuzz::make_input;
using reel::fuzz::split_input;
using tape_image::Framing;
using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;
using testing::operator+;

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

CommandLine command(std::vector<std::string> args) {
  args.insert(args.begin(), "reeltext");
  return parse_command_line(args);
}

TEST(ReeltextCorpus, EveryCommittedInputKeepsEveryRule) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(REELTEXT_FUZZ_CORPUS_DIR))
    if (entry.is_regular_file()) files.push_back(entry.path());
  ASSERT_GE(files.size(), 40u) << "the corpus at " REELTEXT_FUZZ_CORPUS_DIR " is missing";
  for (const fs::path& file : files) EXPECT_EQ(check_input(read_file(file)), "") << file;
}

TEST(ReeltextHarness, ChecksTheOutputAsItIs) {
  const Options image = command({"-r"}).options;
  const Options e11 = command({"-r", "-e"}).options;
  const Options lines = command({}).options;
  const std::string placeholder = text(ImageBuilder().count(0xFFFF'FFFD).raw(codes("AB")).bytes());
  const std::string good = text(ImageBuilder()
                                    .record(codes("A"))
                                    .bad_record(codes("B"))
                                    .tape_mark()
                                    .count(0xFFFF'FFFE)
                                    .count(0xFFFF'FFFF)
                                    .bytes());
  constexpr Moment ended = Moment::ended;
  constexpr Moment seekable = Moment::seekable;
  constexpr Moment piped = Moment::piped;
  const std::string record_ab = text(ImageBuilder().record(codes("AB")).bytes());
  struct Case {
    const Options& options;
    std::string bytes;
    Moment moment;
    bool good;
  };
  const std::vector<Case> cases = {
      {image, good, ended, true},
      {image, "", ended, true},
      {image, good + text(ImageBuilder().tape_mark().bytes()), ended, false},  // after the end
      {image, placeholder, seekable, true},
      {image, placeholder, ended, false},
      {image, placeholder, piped, false},
      {image, record_ab + placeholder, seekable, true},
      {image, record_ab.substr(0, 9), piped, true},  // all but the last byte
      {image, record_ab.substr(0, 3), piped, true},
      {image, record_ab.substr(0, 9), seekable, false},
      {image, record_ab.substr(0, 9), ended, false},
      {image, record_ab.substr(0, 9) + '\3', piped, false},  // the words differ
      {image, text(ImageBuilder().record(Bytes{64}).bytes()), ended, false},
      {image, text(ImageBuilder().count(1).raw(Bytes{1, 1}).count(1).bytes()), ended, false},
      {e11, text(ImageBuilder(Framing::e11).record(Bytes{1}).bytes()), ended, true},
      {image, text(ImageBuilder(Framing::e11).record(Bytes{1}).bytes()), ended, false},
      {image, text(ImageBuilder().count(2).raw(Bytes{1, 1}).count(3).bytes()), ended, false},
      {image, text(ImageBuilder().count(0x8000'0000).bytes()), piped, false},
      {image, text(ImageBuilder().count(0x8100'0000).raw(Bytes(3, 0)).bytes()), piped, false},
      {image, text(ImageBuilder().count(0xFFFE'FFFF).bytes()), piped, false},
      {image, std::string(3, '\0'), ended, false},
      {lines, "A\nbad record\nB\nerase gap\ntape mark\nend of medium\n", ended, true},
      {lines, "A", ended, false},
      {lines, "A", seekable, true},
      {lines, "A", piped, true},
      {lines, "bad record\nAB", seekable, true},
      {lines, "bad record\n", ended, false},
      {lines, "\n", piped, false},
      {lines, "a\n", piped, false},
      {lines, "A\t\n", piped, false},
      {lines, "bad record\ntape mark\n", piped, false},
      {lines, "end of medium\nA\n", piped, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(output_fault(c.options, c.bytes, c.moment).empty(), c.good)
        << (c.options.reverse ? "image " : "text ") << c.bytes.size() << " bytes, " << c.bytes;
}

TEST(ReeltextHarness, NamesTheRuleThatAnOutcomeBreaks) {
  Outcome refused_char;
  refused_char.status = 3;
  refused_char.command = command({"-r", "t.txt"});
  refused_char.err = "reeltext: t.txt: line 1, column 1: 'x' is not in print arrangement A\n";
  Outcome missing_file = refused_char;
  missing_file.status = 0;
  missing_file.command = command({"-f", "4", "t.tap"});
  missing_file.err = "reeltext: t.tap: the image ends before tape file 4\n";
  Outcome piped = refused_char;
  piped.status = 4;
  piped.command = command({});
  piped.err = "reeltext: standard input: file 1 record 1 at 0: leading count 2, trailing count 3\n";
  Outcome full = refused_char;
  full.status = 5;
  full.out_refused = true;
  full.err = "reeltext: error writing standard output: No space left on device\n";
  Outcome full_after_a_fault = refused_char;
  full_after_a_fault.out_refused = true;
  full_after_a_fault.err += full.err;
  Outcome bad_line;
  bad_line.status = 1;
  bad_line.command = command({"-x"});
  bad_line.err = "reeltext: unknown option '-x'\nTry 'reeltext --help' for more information.\n";
  Outcome help;
  help.status = 0;
  help.command = command({"--help"});
  help.out = help_text();
  for (const Outcome* good :
       {&refused_char, &missing_file, &piped, &full, &full_after_a_fault, &bad_line, &help})
    EXPECT_EQ(broken_rule(*good), "") << good->err;

  const auto breaks = [](Outcome outcome, auto change) {
    change(outcome);
    return !broken_rule(outcome).empty();
  };
  EXPECT_TRUE(breaks(refused_char, [](Outcome& o) { o.status = 4; }));  // 4 from a text
  EXPECT_TRUE(breaks(refused_char, [](Outcome& o) { o.status = 6; }));
  EXPECT_TRUE(breaks(refused_char, [](Outcome& o) { o.err += o.err; }));
  EXPECT_TRUE(breaks(refused_char, [](Outcome& o) { o.err = "reeltext: t.tap: oops\n"; }));
  EXPECT_TRUE(breaks(refused_char, [](Outcome& o) { o.status = 0; }));
  EXPECT_TRUE(breaks(refused_char, [](Outcome& o) { o.fault = "the image ends inside a record"; }));
  EXPECT_TRUE(breaks(missing_file, [](Outcome& o) { o.command = command({"t.tap"}); }));
  EXPECT_TRUE(breaks(missing_file, [](Outcome& o) {
    o.command = command({"t.tap"});
    o.err = "";
    o.serving.fail_at_end = true;
  }));
  EXPECT_TRUE(breaks(piped, [](Outcome& o) { o.err.pop_back(); }));
  EXPECT_TRUE(breaks(full, [](Outcome& o) { o.out_refused = false; }));
  EXPECT_TRUE(breaks(full, [](Outcome& o) { o.err = ""; }));
  EXPECT_TRUE(breaks(full_after_a_fault, [](Outcome& o) { o.status = 0; }));
  EXPECT_TRUE(breaks(bad_line, [](Outcome& o) { o.status = 3; }));
  EXPECT_TRUE(breaks(bad_line, [](Outcome& o) { o.out = "x"; }));
  EXPECT_TRUE(breaks(help, [](Outcome& o) { o.out.pop_back(); }));
  EXPECT_TRUE(breaks(help, [](Outcome& o) { o.command = command({"--version"}); }));
  EXPECT_TRUE(breaks(refused_char, [](Outcome& o) {
    o.command = command({"-r", "x.txt"});
    o.status = 2;
  }));  // and not said so
}

}  // namespace
}  // namespace reel::reeltext::fuzz
