#include "reelprint/args.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support.h"

namespace reel::reelprint {
namespace {

std::optional<CommandLine> scan(std::vector<std::string_view> args) {
  args.insert(args.begin(), "reelprint");
  return scan_args(args);
}

Settings settings_of(std::vector<std::string_view> args) {
  const auto command = scan(std::move(args));
  EXPECT_TRUE(command.has_value());
  return command ? command->settings : Settings{};
}

TEST(ScanArgs, NeedsAnInputFile) {
  EXPECT_FALSE(scan_args(std::vector<std::string_view>{"reelprint"}));
  EXPECT_FALSE(scan_args(std::vector<std::string_view>{}));
  EXPECT_FALSE(scan({"-w", "-a"}));
}

TEST(ScanArgs, DefaultsToOneFileOfAHundredCharacterLinesInArrangementA) {
  const auto command = scan({"t.tap"});
  ASSERT_TRUE(command);
  EXPECT_EQ(command->input_name, "t.tap");
  const Settings& s = command->settings;
  EXPECT_EQ(s.recl, 100);
  EXPECT_EQ(s.blank, ' ');
  EXPECT_FALSE(s.dowm);
  EXPECT_FALSE(s.all);
  EXPECT_EQ(s.framing, tape_image::Framing::simh);
  EXPECT_EQ(s.arrangement, bcd::Arrangement::a);
  EXPECT_EQ(s.nf, 1);
}

TEST(ScanArgs, SetsEachLetterOption) {
  EXPECT_TRUE(settings_of({"-w", "t"}).dowm);
  EXPECT_TRUE(settings_of({"-a", "t"}).all);
  EXPECT_EQ(settings_of({"-b", "t"}).blank, 'b');
  EXPECT_EQ(settings_of({"-c", "t"}).blank, '^');
  EXPECT_EQ(settings_of({"-e", "t"}).framing, tape_image::Framing::e11);
  EXPECT_EQ(settings_of({"-h", "t"}).arrangement, bcd::Arrangement::h);
  EXPECT_EQ(settings_of({"-o", "t"}).arrangement, bcd::Arrangement::old_simh);
}

TEST(ScanArgs, LooksAtTheSecondCharacterOnly) {
  const Settings wa = settings_of({"-wa", "t"});
  EXPECT_TRUE(wa.dowm);
  EXPECT_FALSE(wa.all);
  EXPECT_TRUE(settings_of({"-all", "t"}).all);
  EXPECT_FALSE(scan({"-W", "t"}));  // upper case is no option: it is read as a number and fails
}

TEST(ScanArgs, LetsTheLastOfSeveralSettingsWin) {
  EXPECT_EQ(settings_of({"-h", "-o", "t"}).arrangement, bcd::Arrangement::old_simh);
  EXPECT_EQ(settings_of({"-o", "-h", "t"}).arrangement, bcd::Arrangement::h);
  EXPECT_EQ(settings_of({"-b", "-c", "t"}).blank, '^');
  EXPECT_EQ(settings_of({"-r10", "-r20", "t"}).recl, 20);
}

TEST(ScanArgs, TakesTheLineWidthJoinedOrFromTheNextArgument) {
  EXPECT_EQ(settings_of({"-r40", "t"}).recl, 40);
  EXPECT_EQ(settings_of({"-r", "40", "t"}).recl, 40);
  EXPECT_EQ(settings_of({"-r", " +40xyz", "t"}).recl, 40);
  EXPECT_EQ(settings_of({"-r200", "t"}).recl, 100);
  EXPECT_EQ(settings_of({"-r99999999999", "t"}).recl, 100);
  EXPECT_EQ(settings_of({"-r99999999999999999999999", "t"}).recl, 100);
  EXPECT_EQ(settings_of({"-r1", "t"}).recl, 1);
}

TEST(ScanArgs, WithASpaceAfterRTakesTheCountFromTheNextArgument) {
  EXPECT_EQ(settings_of({"-r 7", "40", "t"}).recl, 40);
  EXPECT_FALSE(scan({"-r 40", "t.tap"}));  // the file name is no count
}

TEST(ScanArgs, SkipsATabBeforeAJoinedCountButIsNotSentOnByIt) {
  EXPECT_EQ(settings_of({"-r\t40", "t"}).recl, 40);
  const auto command = scan({"-r\t", "40", "t"});  // a count of white space alone is no count
  ASSERT_TRUE(command);
  EXPECT_EQ(command->settings.recl, 100);
  EXPECT_EQ(command->input_name, "40");
}

TEST(ScanArgs, KeepsTheWidthWhenTheCountArgumentIsEmpty) {
  const auto command = scan({"-r30", "-r", "", "-w", "t"});
  ASSERT_TRUE(command);
  EXPECT_EQ(command->settings.recl, 30);
  EXPECT_TRUE(command->settings.dowm);
  EXPECT_EQ(settings_of({"-r", " \t", "t"}).recl, 100);
}

TEST(ScanArgs, RefusesWidthsBelowOneOrUnreadable) {
  EXPECT_FALSE(scan({"-r0", "t"}));
  EXPECT_FALSE(scan({"-r-5", "t"}));
  EXPECT_FALSE(scan({"-r", "-5", "t"}));
  EXPECT_FALSE(scan({"-rx", "t"}));
}

TEST(ScanArgs, RefusesRAsTheLastArgument) {
  EXPECT_FALSE(scan({"-r"}));
  EXPECT_FALSE(scan({"-r "}));
  EXPECT_FALSE(scan({"-w", "-r"}));
}

TEST(ScanArgs, ReadsAMinusAndANumberAsTheCountOfTapeFiles) {
  EXPECT_EQ(settings_of({"-3", "t"}).nf, 3);
  EXPECT_EQ(settings_of({"-5x", "t"}).nf, 5);
  EXPECT_EQ(settings_of({"-0", "t"}).nf, 0);
  EXPECT_EQ(settings_of({"-2147483647", "t"}).nf, 2147483647);
}

TEST(ScanArgs, RefusesFileCountsThatAreNoNumberOrTooMany) {
  EXPECT_FALSE(scan({"-x", "t"}));
  EXPECT_FALSE(scan({"-", "t"}));
  EXPECT_FALSE(scan({"--5", "t"}));
  EXPECT_FALSE(scan({"-2147483648", "t"}));
  EXPECT_FALSE(scan({"-99999999999999999999", "t"}));
}

TEST(ScanArgs, StopsAtTheFirstArgumentThatIsNoOption) {
  const auto command = scan({"-w", "t.tap", "-a", "-x", "-r"});
  ASSERT_TRUE(command);
  EXPECT_EQ(command->input_name, "t.tap");
  EXPECT_TRUE(command->settings.dowm);
  EXPECT_FALSE(command->settings.all);
}

TEST(ScanArgs, TakesAnEmptyArgumentAsTheFileName) {
  const auto command = scan({"-w", ""});
  ASSERT_TRUE(command);
  EXPECT_EQ(command->input_name, "");
}

TEST(Usage, NamesTheProgramAndEndsWithTheVersion) {
  testing::Collect sink;
  OutputBuffer out(sink);
  usage("./rp", out);
  out.flush();
  EXPECT_TRUE(
      sink.text.starts_with("Usage: ./rp [options] <input_file>\n"
                            " Options: -w to print word marks on a separate line\n"));
  EXPECT_TRUE(sink.text.ends_with(
      "          -r[ ]# print # characters per line, max 100\n"
      "          reelprint " REELPRINT_VERSION ", written by the reelprint authors\n"));
  EXPECT_EQ(std::count(sink.text.begin(), sink.text.end(), '\n'), 12);
}

}  // namespace
}  // namespace reel::reelprint
