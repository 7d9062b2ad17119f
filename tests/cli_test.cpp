// End-to-end runs of the real binary: exact standard output and exit status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/binary_run.h"
#include "tests/support.h"

namespace reel::reelprint {
namespace {

namespace fs = std::filesystem;
using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;
using testing::repeat;
using testing::operator+;

using Outcome = testing::BinaryOutcome;
using testing::read_file;

class Cli : public testing::BinaryTest {};

TEST_F(Cli, ZeroFilesStillOpensTheFile) {
  EXPECT_EQ(reelprint({"-0", "missing.tap"}).status, 2);
  image({});
  const Outcome result = reelprint({"-0", "t.tap"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
}

TEST_F(Cli, ListsTwoTapeFilesWithWordMarksAndBlankLinesLeftOut) {
  image(ImageBuilder()
            .record(codes("~MCW~HELLO"))
            .record(repeat(0, 30) + codes("X"))
            .tape_mark()
            .record(codes("A"))
            .bytes());
  const Outcome result = reelprint({"-2", "-w", "-r10", "t.tap", "-a"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "File 1\n"
            "       ....5...10\n"
            "    1: MCWHELLO     Record 1\n"
            "       1  1\n"
            "    1:           "
            "   Record 2\n"
            "       \n"
            "   31: X\n"
            "       \n"
            "File 2\n"
            "       ....5...10\n"
            "    1: A            Record 1\n"
            "       \n");
  EXPECT_EQ(result.err, "");
}

TEST_F(Cli, SeparateAndJoinedLineWidthsListAlike) {
  image(ImageBuilder().record(repeat(49, 45)).bytes());
  const Outcome joined = reelprint({"-r40", "t.tap"});
  EXPECT_EQ(joined.out,
            "       ....5...10...15...20...25...30...35...40\n"
            "    1: " +
                std::string(40, 'A') +
                "   Record 1\n"
                "   41: AAAAA\n");
  EXPECT_EQ(reelprint({"-r", "40", "t.tap"}).out, joined.out);
  EXPECT_EQ(reelprint({"-r", "", "-r40", "t.tap"}).out, joined.out);
}

TEST_F(Cli, TheExampleTapeIsMadeByItsBuilderAndListsCleanly) {
  const fs::path made = dir_ / "deck.tap";
  const std::string command =
      std::string(REELPRINT_EMULATOR) + " " + MAKE_EXAMPLE_BINARY + " " + made.string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(read_file(made), read_file(fs::path(EXAMPLE_DIR) / "deck.tap"));

  const Outcome result = reelprint({"-2", "-w", made.string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("\n    1: 00010          JOB  PRINT A GREETING ON THE 1403"),
            std::string::npos);
  EXPECT_NE(result.out.find("\n    1: /332,201M3602132.333"), std::string::npos);
}

}  // namespace
}  // namespace reel::reelprint
