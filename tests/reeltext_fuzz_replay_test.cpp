// reeltext's fuzzing harness in the plain build: every input of its committed corpus is run
// again, so a failure the fuzzer once found stays fixed, and the harness itself is checked:
// what it expects of small inputs, worked out here by hand, and the rules it checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/reeltext_harness.h"
#include "tests/support.h"

namespace reelprint::reeltext::fuzz {
namespace {

namespace fs = std::filesystem;
using reelprint::fuzz::make_input;
using reelprint::fuzz::split_input;
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
Bytes bytes(std::string_view chars) { return {chars.begin(), chars.end()}; }

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

TEST(ReeltextHarness, NamesTheInputAndServesItAsByteZeroAsks) {
  const Bytes hello = bytes("HELLO\n");
  EXPECT_EQ(arguments_of(split_input(make_input({"-r"}, hello))),
            (std::vector<std::string>{"-r", "t.txt"}));
  EXPECT_EQ(arguments_of(split_input(make_input({"-e"}, hello))),
            (std::vector<std::string>{"-e", "t.tap"}));
  EXPECT_EQ(arguments_of(split_input(make_input({"-r"}, hello, false))),
            (std::vector<std::string>{"-r"}));

  // 6 bytes: reads of 1 + 6 % 7 = 7 bytes, and 6 % 160 bytes of output.
  const Serving all = serving_of(split_input(
      make_input({}, hello, true, short_reads | failing_read | tiny_buffers | tight_output)));
  EXPECT_EQ(all.most_per_read, 7u);
  EXPECT_TRUE(all.fail_at_end);
  EXPECT_TRUE(all.tiny);
  EXPECT_EQ(all.out_limit, 6u);
  const Serving none = serving_of(split_input(make_input({}, hello)));
  EXPECT_EQ(none.most_per_read, static_cast<std::size_t>(-1));
  EXPECT_FALSE(none.fail_at_end || none.tiny);
  EXPECT_EQ(none.out_limit, output_limit);

  const std::string image = text(ImageBuilder().record(codes("HELLO")).bytes());
  for (const bool seekable : {true, false}) {
    Serving serving;
    serving.seekable = seekable;
    const Outcome built = run_args({"-r", "t.txt"}, hello, serving);
    EXPECT_EQ(built.status, 0);
    EXPECT_EQ(built.out, image);
    EXPECT_EQ(built.err, "");
    EXPECT_EQ(built.fault, "");
    serving.out_limit = 5;  // not even the record's count and its data
    const Outcome refused = run_args({"-r", "t.txt"}, hello, serving);
    EXPECT_EQ(refused.status, 5);
    EXPECT_TRUE(refused.out_refused);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(broken_rule(refused), "");
  }
  const Outcome missing = run_args({"x.tap"}, {}, {});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "reeltext: cannot open x.tap: No such file or directory\n");
}

TEST(ReeltextHarness, ExpectsWhatTheRulesSay) {
  const auto three_files = ImageBuilder()
                               .record(codes("A"))
                               .tape_mark()
                               .record(codes("B"))
                               .tape_mark()
                               .record(codes("C"))
                               .bytes();
  struct Case {
    std::vector<std::string> args;
    Bytes input;
    int status;
    std::string message;
    Bytes out;           // an image, or the text's bytes
    Bytes again = {};    // what the other way makes of it, if the status is 0
  };
  const std::vector<Case> cases = {
      {{"-r"},
       bytes("HELLO\ntape mark\n"),
       0,
       "",
       ImageBuilder().record(codes("HELLO")).tape_mark().bytes(),
       bytes("HELLO\ntape mark\n")},
      {{"-r"},
       bytes("\xEF\xBB\xBF"
             "AB\r\n\r\n  erase gap\tCD"),
       3,
       "line 3, column 3: 'e' is not in print arrangement A",
       ImageBuilder().record(codes("AB")).tape_mark().bytes()},
      {{"-r"},
       bytes("\xEF\xBB\xBF"
             "AB\r\n\r\n  erase gap\t\r\nCD"),
       0,
       "",
       ImageBuilder().record(codes("AB")).tape_mark().count(0xFFFF'FFFE).record(codes("CD")).bytes(),
       bytes("AB\ntape mark\nerase gap\nCD\n")},
      {{"-r", "-e"},
       bytes("bad record\nA\n"),
       0,
       "",
       ImageBuilder(Framing::e11).bad_record(codes("A")).bytes(),
       bytes("bad record\nA\n")},
      {{"-r", "-w", "3"},
       bytes("A\n\n"),
       0,
       "",
       ImageBuilder().record(codes("A  ")).record(codes("   ")).bytes(),
       bytes("A  \n   \n")},
      {{"-r"},
       bytes("A\nxY\n"),
       3,
       "line 2, column 1: 'x' is not in print arrangement A",
       ImageBuilder().record(codes("A")).bytes()},
      {{"-r", "-h"}, bytes("A\tB\n"), 3, "line 1, column 2: byte 0x09 is not in print arrangement H", {}},
      {{"-r", "-o"}, bytes("~\n"), 3, "line 1, column 1: '~' is not in print arrangement 'old simh'", {}},
      {{"-r"}, bytes("bad record\n"), 3, "line 1 says 'bad record', but no record's line follows it", {}},
      {{"-r"},
       bytes("bad record\n\nA\n"),
       3,
       "line 1 says 'bad record', but no record's line follows it",
       {}},
      {{"-r"},
       bytes("end of medium\nA\n"),
       3,
       "line 2 follows the end of the medium (line 1)",
       ImageBuilder().count(0xFFFF'FFFF).bytes()},
      {{"-r", "-w", "16777216"},
       bytes("bad record\nA\n"),
       3,
       "line 2 is longer than 16777215 characters, the most a bad record holds",
       {}},
      {{"-r"},
       bytes(std::string(55, ' ') + "tape mark\n" + std::string(56, ' ') + "tape mark\n"),
       3,
       "line 2, column 57: 't' is not in print arrangement A",
       ImageBuilder().tape_mark().bytes()},
      {{},
       ImageBuilder().record(codes("HELLO")).tape_mark().bytes(),
       0,
       "",
       bytes("HELLO\ntape mark\n"),
       ImageBuilder().record(codes("HELLO")).tape_mark().bytes()},
      // A pad byte that is not 0 comes back as 0.
      {{},
       ImageBuilder().count(1).raw(Bytes{49, 7}).count(1).bytes(),
       0,
       "",
       bytes("A\n"),
       ImageBuilder().record(codes("A")).bytes()},
      // Under -s, 0x7F as code 63 and 0xC1 as code 1.
      {{"-s"},
       ImageBuilder().record(Bytes{49, 0x7F, 0xC1}).bytes(),
       0,
       "",
       bytes("A}1\n"),
       ImageBuilder().record(Bytes{49, 63, 1}).bytes()},
      {{},
       ImageBuilder().record(Bytes{49, 0x7F, 0xC1}).bytes(),
       3,
       "file 1 record 1 at 0: byte 0x7F at offset 5 is above 63: no character (-s writes its "
       "low six bits)",
       {}},
      {{},
       ImageBuilder().record(codes("AB")).count(80).raw(codes("XYZ")).bytes(),
       3,
       "file 1 record 2 at 10: cut short in its data, 3 of 80 bytes there",
       bytes("AB\n")},
      {{"-e"},
       ImageBuilder(Framing::e11).count(2).raw(codes("CD")).count(3).bytes(),
       4,
       "file 1 record 1 at 0: leading count 2, trailing count 3",
       {}},
      {{},
       ImageBuilder().count(0x8000'0002).raw(codes("CD")).count(2).bytes(),
       4,
       "file 1 record 1 at 0, a bad record: leading word 80000002, trailing word 00000002",
       {}},
      {{},
       ImageBuilder().record(codes("A")).count(0xFFFF'FFFF).raw(Bytes{0}).bytes(),
       3,
       "bytes after the end-of-medium marker at offset 10: text has no line for them",
       bytes("A\nend of medium\n")},
      {{}, ImageBuilder().count(0xFFFF'80FF).bytes(), 3, "a half gap (FFFF80FF) at offset 0: text has no line for it", {}},
      {{}, ImageBuilder().count(0x8100'0000).bytes(), 3, "a reserved control word (81000000) at offset 0: text has no line for it", {}},
      {{}, Bytes{1, 2}, 3, "2 stray bytes at offset 0, where a count should begin: text has no line for them", {}},
      {{"-f", "2"},
       three_files,
       0,
       "",
       bytes("B\ntape mark\n"),
       ImageBuilder().record(codes("B")).tape_mark().bytes()},
      {{"-f", "3-5"}, three_files, 0, "the image ends before tape file 4", bytes("C\n"),
       ImageBuilder().record(codes("C")).bytes()},
      {{"-f", "4-"}, three_files, 0, "the image ends before tape file 4", {}, {}},
  };
  for (const Case& c : cases) {
    const Expected expected = expected_of(command(c.args), c.input);
    EXPECT_EQ(expected.status, c.status) << c.message;
    EXPECT_EQ(expected.message, c.message);
    EXPECT_EQ(expected.out, text(c.out)) << c.message;
    EXPECT_TRUE(expected.out_whole);
    if (c.status == 0) {
      EXPECT_EQ(expected.again, text(c.again)) << text(c.input);
    }
  }
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
  for (const Outcome* good : {&refused_char, &missing_file, &piped, &full, &full_after_a_fault,
                              &bad_line, &help})
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
}  // namespace reelprint::reeltext::fuzz
