// End-to-end runs of the reelinfo binary (built with REELPRINT_BINARY naming it): --help and
// --version, bad command lines, files that can't be opened, the example tape, an image past
// 4 GiB, a pipe, what it says reelprint does, held to the reelprint binary (LISTER_BINARY),
// and output that can't be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "tests/binary_run.h"
#include "tests/support.h"

namespace reel::reelprint {
namespace {

using tape_image::ImageBuilder;
using testing::BinaryOutcome;
using testing::Bytes;

class ReelinfoCli : public testing::BinaryTest {
 protected:
  // The fixture runs REELPRINT_BINARY, which this test names reelinfo.
  BinaryOutcome reelinfo(const std::vector<std::string>& args, const std::string& stdout_path = "",
                         const Bytes* input = nullptr) {
    return reelprint(args, stdout_path, input);
  }
  BinaryOutcome lister(const std::vector<std::string>& args) {
    return reelprint(args, "", nullptr, -1, LISTER_BINARY);
  }
};

TEST_F(ReelinfoCli, HelpAndVersionGoToStandardOutputWithStatusZero) {
  const BinaryOutcome help = reelinfo({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind("Usage: reelinfo [OPTION]... IMAGE...\n", 0), 0u);
  for (const char* option : {"-e, --e11", "--format=NAME", "--parity=P", "-l, --records",
                             "-j, --json", "--help", "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  std::istringstream lines(help.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;

  const BinaryOutcome version = reelinfo({"--version", "missing.tap"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "reelinfo (reelprint) " REELPRINT_VERSION "\n");
  EXPECT_EQ(version.err, "");
}

TEST_F(ReelinfoCli, ABadCommandLineSaysSoOnStandardErrorWithStatusOne) {
  const std::string hint = "Try 'reelinfo --help' for more information.\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{}, "no tape image named"},
      {{"-h", "t.tap"}, "unknown option '-h'"},
      {{"--wide", "t.tap"}, "unknown option '--wide'"},
      {{"--version=2"}, "option '--version' takes no value"},
  };
  for (const auto& [args, complaint] : bad) {
    const BinaryOutcome result = reelinfo(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "reelinfo: " + complaint + "\n" + hint);
  }
}

TEST_F(ReelinfoCli, AnImageThatCantBeOpenedIsStatusTwo) {
  std::filesystem::create_directory(dir_ / "folder");
  const BinaryOutcome result = reelinfo({"missing.tap", "folder"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out,
            "missing.tap: cannot open (No such file or directory)\n"
            "\n"
            "folder: cannot open (Is a directory)\n");
  EXPECT_EQ(result.err, "");
}

// The example deck: eleven 80-column cards (88 bytes each), a tape mark at 968; from 972 the
// object deck, records of 80, 25, 13 and 80 codes (88, 34, 22 and 88 bytes), a tape mark at
// 1204 and another at 1208.
TEST_F(ReelinfoCli, TheExampleTape) {
  const BinaryOutcome result = reelinfo({std::string(EXAMPLE_DIR) + "/deck.tap"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            std::string(EXAMPLE_DIR) +
                "/deck.tap: 1212 bytes, simh framing, 2 tape files, 15 records\n"
                "file 1 at 0: 11 records of 80 bytes, 880 data bytes\n"
                "file 2 at 972: 4 records of 13 to 80 bytes, most common 80 (2 records), 198 data "
                "bytes\n"
                "end at 1212: after two tape marks, the end of the recorded tape\n");
}

// A sparse file of 6 GiB: three records of 2147483632 bytes (the most a count holds, less a
// little) of holes, then a card and a tape mark. It is surveyed by seeking past the long
// records; offsets need 64 bits.
TEST_F(ReelinfoCli, AnImagePastFourGibibytes) {
  const std::uint64_t size = 0x7FFF'FFF0;
  const int fd = ::open((dir_ / "big.tap").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const auto put = [&](const Bytes& bytes, std::uint64_t at) {
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)),
              static_cast<ssize_t>(bytes.size()));
  };
  const auto count = [](std::uint64_t value) {
    return ImageBuilder().count(static_cast<std::uint32_t>(value)).bytes();
  };
  for (std::uint64_t at = 0; at < 3 * (size + 8); at += size + 8) {
    put(count(size), at);
    put(count(size), at + 4 + size);
  }
  put(ImageBuilder().record(Bytes(80, 49)).tape_mark().bytes(), 3 * (size + 8));
  ::close(fd);

  const BinaryOutcome result = reelinfo({"-l", "big.tap"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "big.tap: 6442451012 bytes, simh framing, 1 tape file, 4 records\n"
            "file 1 record 1 at 0: 2147483632 bytes\n"
            "file 1 record 2 at 2147483640: 2147483632 bytes\n"
            "file 1 record 3 at 4294967280: 2147483632 bytes\n"
            "file 1 record 4 at 6442450920: 80 bytes: " +
                std::string(40, 'A') +
                "\n"
                "file 1 at 0: 4 records of 80 to 2147483632 bytes, most common 2147483632 (3 "
                "records), 6442450976 data bytes\n"
                "end at 6442451012: after a tape mark\n");
}

// Standard input named as GNU tools name it, or as a file.
TEST_F(ReelinfoCli, AnImageThroughAPipe) {
  const Bytes image = ImageBuilder().record(Bytes{1, 2}).count(7).raw(Bytes{1, 2, 3}).bytes();
  for (const std::string name : {"-", "/dev/stdin"}) {
    const BinaryOutcome result = reelinfo({name}, "", &image);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out,
              name +
                  ": 17 bytes, simh framing, 1 tape file, 1 record\n"
                  "file 1 at 0: 1 record of 2 bytes, 2 data bytes\n"
                  "end at 10: file 1 record 2 cut short in its data, 3 of 7 bytes there\n");
  }
}

// The line on a control word names the reelprint command that reaches it: the plain one lists
// tape file 1 only. Run as the line says, reelprint stops as it promises.
TEST_F(ReelinfoCli, TheLineOnAControlWordSaysWhatReelprintDoes) {
  struct Case {
    const char* name;
    Bytes image;
    std::string line;
    int plain_status;  // of plain reelprint
  };
  const Bytes two = {49, 50};
  const std::string marker = " reads the end-of-medium marker at ";
  const std::string error = " and stops with \"Error reading\" (status 3)";
  // Records of 2 bytes take 10, tape marks and control words 4.
  const Case cases[] = {
      {"the marker in tape file 1", ImageBuilder().record(two).count(0xFFFF'FFFF).bytes(),
       "reelprint" + marker + "10 (FFFFFFFF) as a count of 4294967295" + error, 3},
      {"the marker in tape file 2",
       ImageBuilder().record(two).tape_mark().count(0xFFFF'FFFF).bytes(),
       "reelprint -2 (listing 2 tape files)" + marker + "14 (FFFFFFFF) as a count of 4294967295" +
           error,
       0},
      {"an erase gap in tape file 2",
       ImageBuilder()
           .record(two)
           .tape_mark()
           .record(two)
           .count(0xFFFF'FFFE)
           .record(two)
           .tape_mark()
           .bytes(),
       "reelprint -2 (listing 2 tape files) reads the erase gap at 24 (FFFFFFFE) as a count of "
       "4294967294" +
           error +
           ": file 2 record 2 cut short in its data, 14 of 4294967294 bytes "
           "there",
       0},
      {"the placeholder in tape file 2",
       ImageBuilder().record(two).tape_mark().count(0xFFFF'FFFD).raw(Bytes{49, 50, 51}).bytes(),
       "reelprint -2 (listing 2 tape files) reads the placeholder at 14 (FFFFFFFD) as a count of "
       "4294967293" +
           error +
           ": file 2 record 1 cut short in its data, 3 of 4294967293 bytes "
           "there",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    image(c.image);
    const std::string report = reelinfo({"t.tap"}).out;
    const std::size_t at = report.find("\nreelprint");
    ASSERT_NE(at, std::string::npos) << report;
    const std::string line = report.substr(at + 1, report.find('\n', at + 1) - at - 1);
    EXPECT_EQ(line, c.line);
    // The command as the line gives it: "reelprint", then an option if it names one.
    std::vector<std::string> args;
    if (line.starts_with("reelprint -")) args.push_back(line.substr(10, line.find(' ', 10) - 10));
    args.push_back("t.tap");
    const BinaryOutcome listed = lister(args);
    EXPECT_EQ(listed.status, 3);
    EXPECT_TRUE(listed.out.ends_with("\nError reading t.tap\n")) << listed.out;
    const BinaryOutcome plain = lister({"t.tap"});
    EXPECT_EQ(plain.status, c.plain_status);
    EXPECT_EQ(plain.out.ends_with("\nError reading t.tap\n"), c.plain_status == 3) << plain.out;
  }
}

TEST_F(ReelinfoCli, AReportThatCantBeWrittenIsStatusFive) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{std::string(EXAMPLE_DIR) + "/deck.tap"},
        std::vector<std::string>{"--help"}}) {
    const BinaryOutcome result = reelinfo(args, "/dev/full");
    EXPECT_EQ(result.status, 5);
    EXPECT_EQ(result.err, "reelinfo: error writing standard output: No space left on device\n");
  }
}

}  // namespace
}  // namespace reel::reelprint
