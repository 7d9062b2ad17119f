// The whole listing, run in memory: each expected text is worked out from the layout rules.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "listing/line_writer.h"
#include "reelprint/run.h"
#include "tape_image/source.h"
#include "tests/memory_run.h"
#include "tests/support.h"

namespace reel::reelprint {
namespace {

using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;
using testing::Collect;
using testing::list;
using testing::Outcome;
using testing::repeat;
using testing::ruler_100;
using testing::operator+;

std::string spaces(std::size_t n) { return std::string(n, ' '); }

Bytes one_record(const Bytes& data) { return ImageBuilder().record(data).bytes(); }

// --- Lines, positions and record tags ------------------------------------------------------

TEST(Lines, AShortRecordIsOneTaggedLineWithTheTagInItsColumn) {
  const Outcome result = list({}, one_record(codes("HELLO")));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, ruler_100 + "    1: HELLO" + spaces(96) + "  Record 1\n");
  EXPECT_EQ(result.err, "");
}

TEST(Lines, ALongRecordGoesOnInLinesNumberedByPosition) {
  const Outcome result = list({}, one_record(repeat(49, 100) + repeat(50, 30)));
  EXPECT_EQ(result.out, ruler_100 + "    1: " + std::string(100, 'A') + " " + "  Record 1\n" +
                            "  101: " + std::string(30, 'B') + "\n");
}

TEST(Lines, ARecordOfExactlyOneLineWidthIsOneLineAndOneMoreByteMakesTwo) {
  const auto image = ImageBuilder().record(repeat(51, 10)).record(repeat(51, 11)).bytes();
  EXPECT_EQ(list({"-r10"}, image).out,
            "       ....5...10\n"
            "    1: CCCCCCCCCC   Record 1\n"
            "    1: CCCCCCCCCC   Record 2\n"
            "   11: C\n");
}

TEST(Lines, PositionsWidenPastFiveDigits) {
  const Outcome result = list({"-r100"}, one_record(repeat(1, 100'001)));
  const std::string tail = "99901: " + std::string(100, '1') + "\n100001: 1\n";
  ASSERT_GT(result.out.size(), tail.size());
  EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
}

// Returns what printf makes of `format` with `value`: an oracle of the layout independent of
// the program's own number formatting.
std::string printf_of(const char* format, unsigned long long value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

TEST(Lines, EveryLineOfALongRecordCarriesItsPosition) {
  const Outcome result = list({"-r3"}, one_record(repeat(49, 3 * 1500 + 1)));
  std::string expected = "       ...\n    1: AAA   Record 1\n";
  for (unsigned long long nb = 4; nb <= 3 * 1500; nb += 3)
    expected += printf_of("%5llu: AAA\n", nb);
  expected += " 4501: A\n";
  EXPECT_EQ(result.out, expected);
}

TEST(Lines, EveryCharacterOfARecordLongerThanManyBuffersLandsInItsPlace) {
  // Digits in a random order, so that a character shifted, lost or doubled anywhere shows;
  // codes 1 to 10 show as 1 to 9 and 0.
  Bytes data(300'007);
  std::uint32_t state = 12345;
  for (auto& byte : data) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(1 + (state >> 16) % 10);
  }
  const auto digit = [](std::uint8_t code) { return static_cast<char>('0' + code % 10); };
  for (const unsigned long long recl : {100ull, 7ull}) {
    const std::string option = "-r" + std::to_string(recl);
    const Outcome result = list({option}, one_record(data));
    std::string expected;
    for (unsigned long long nb = 1; nb <= data.size(); nb += recl) {
      expected += printf_of("%5llu: ", nb);
      for (std::size_t k = nb - 1; k < std::min<std::size_t>(nb - 1 + recl, data.size()); ++k)
        expected += digit(data[k]);
      if (nb == 1) expected += "   Record 1";
      expected += "\n";
    }
    ASSERT_EQ(result.status, 0);
    // The ruler line comes first; the rest is compared whole.
    const std::string lines = result.out.substr(result.out.find('\n') + 1);
    EXPECT_TRUE(lines == expected) << option;
  }
}

TEST(Lines, RecordNumbersCountOnThroughEveryCarry) {
  ImageBuilder image;
  for (int record = 0; record < 1001; ++record) image.record(codes("A"));
  const Outcome result = list({"-r1"}, image.bytes());
  std::string expected = "       .\n";
  for (unsigned long long nr = 1; nr <= 1001; ++nr)
    expected += printf_of("    1: A   Record %llu\n", nr);
  EXPECT_EQ(result.out, expected);
}

TEST(Lines, RecordNumbersRestartInEveryTapeFile) {
  const auto image = ImageBuilder()
                         .record(codes("A"))
                         .record(codes("B"))
                         .tape_mark()
                         .record(codes("C"))
                         .tape_mark()
                         .tape_mark()
                         .bytes();
  EXPECT_EQ(list({"-3", "-r5"}, image).out,
            "File 1\n"
            "       ....5\n"
            "    1: A       Record 1\n"
            "    1: B       Record 2\n"
            "File 2\n"
            "       ....5\n"
            "    1: C       Record 1\n"
            "File 3\n"
            "       ....5\n");
}

TEST(Lines, OneTapeFileByDefaultWithNoHeader) {
  const auto image = ImageBuilder().record(codes("A")).tape_mark().record(codes("B")).bytes();
  EXPECT_EQ(list({"-r5"}, image).out, "       ....5\n    1: A       Record 1\n");
}

TEST(Lines, AnImageWithoutAClosingTapeMarkListsLikeOneWithIt) {
  const auto bare = ImageBuilder().record(codes("AB")).bytes();
  const auto marked = ImageBuilder().record(codes("AB")).tape_mark().bytes();
  EXPECT_EQ(list({"-2"}, bare).out, list({"-2"}, marked).out);
  EXPECT_EQ(list({"-2"}, bare).status, 0);
}

TEST(TapeFiles, AnEmptyImageGivesOnlyTheRuler) {
  const Outcome result = list({}, {});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, ruler_100);
}

TEST(TapeFiles, EachFileAskedForPastTheEndIsEmpty) {
  const Outcome result = list({"-5", "-r3"}, {});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "File 1\n       ...\nFile 2\n       ...\nFile 3\n       ...\n"
            "File 4\n       ...\nFile 5\n       ...\n");
}

TEST(TapeFiles, ZeroFilesPrintsNothing) {
  const Outcome result = list({"-0"}, one_record(codes("A")));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
}

// --- Print arrangements -------------------------------------------------------------------

Bytes all_codes() {
  Bytes bytes;
  for (std::uint8_t code = 0; code < 64; ++code) bytes.push_back(code);
  return bytes;
}

// Returns the 64 characters of the first data line that lists all_codes().
std::string characters_of_all_codes(std::vector<std::string_view> options) {
  const std::string out = list(options, one_record(all_codes())).out;
  return out.substr(out.find("    1: ") + 7, 64);
}

TEST(Arrangements, ArrangementAShowsEveryCodeInOrder) {
  EXPECT_EQ(characters_of_all_codes({}),
            " 1234567890#@:>{^/STUVWXYZ|,%~\\\"-JKLMNOPQR!$*];_&ABCDEFGHI?.)[<}");
  const std::string out = list({}, one_record(all_codes())).out;
  EXPECT_EQ(out.substr(ruler_100.size() + 7 + 64), spaces(37) + "  Record 1\n");
}

TEST(Arrangements, FortranAndOldSimhShowTheirOwnCharacters) {
  EXPECT_EQ(characters_of_all_codes({"-h"}),
            " 1234567890=':>{^/STUVWXYZ|,(~\\\"-JKLMNOPQR!$*];_+ABCDEFGHI?.)[<}");
  EXPECT_EQ(characters_of_all_codes({"-o"}),
            " 1234567890#@:>(^/STUVWXYZ',%=\\+-JKLMNOPQR!$*];_&ABCDEFGHI?.)[<\"");
}

TEST(Arrangements, TheBlankOptionsChangeCodeZeroAndNothingElse) {
  const std::string with_b = characters_of_all_codes({"-b"});
  EXPECT_EQ(with_b[0], 'b');
  EXPECT_EQ(with_b[16], '^');
  const std::string with_caret = characters_of_all_codes({"-c"});
  EXPECT_EQ(with_caret[0], '^');
  EXPECT_EQ(with_caret[16], '^');
  const Outcome result = list({"-b"}, one_record(codes("A A")));
  EXPECT_EQ(result.out, ruler_100 + "    1: AbA" + spaces(98) + "  Record 1\n");
}

// --- Framing --------------------------------------------------------------------------------

TEST(Framing, AnE11ImageListsWithDashE) {
  const auto image =
      ImageBuilder(tape_image::Framing::e11).record(codes("ABC")).record(codes("DEFG")).bytes();
  EXPECT_EQ(list({"-e", "-r5"}, image).out,
            "       ....5\n"
            "    1: ABC     Record 1\n"
            "    1: DEFG    Record 2\n");
  EXPECT_EQ(list({"-e", "-r5"}, image).status, 0);
}

TEST(Framing, DataCutShortPrintsNoLineOfItsRecord) {
  const auto image = ImageBuilder().record(codes("A")).count(10).raw(codes("XYZ")).bytes();
  const Outcome result = list({"-r5"}, image);
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "       ....5\n    1: A       Record 1\nError reading t.tap\n");
}

TEST(Framing, DataCutShortKeepsTheLinesAlreadyFull) {
  const auto image = ImageBuilder().count(10).raw(codes("ABCDEFG")).bytes();
  const Outcome result = list({"-r5"}, image);
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "       ....5\n    1: ABCDE   Record 1\nError reading t.tap\n");
}

TEST(Framing, ADifferentTrailerIsReportedAfterTheRecordsLines) {
  const auto image = ImageBuilder().count(4).raw(codes("ABCD")).count(5).bytes();
  const Outcome result = list({"-r5"}, image);
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out,
            "       ....5\n    1: ABCD    Record 1\n"
            "Unequal starting and ending record sizes: 4 != 5\n");
}

TEST(Framing, ThousandsOfShortAndLongRecordsInEitherFramingListEachInItsPlace) {
  // Sizes from 1 to a few past a line, odd and even, in random digits: a record listed in the
  // wrong place, with the wrong number, or with its framing read wrong shows. The image is
  // longer than the read buffer, and ends with a record whose trailer differs.
  std::uint32_t state = 777;
  const auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 16; };
  for (const auto framing : {tape_image::Framing::simh, tape_image::Framing::e11}) {
    for (const std::size_t recl : {std::size_t{100}, std::size_t{13}}) {
      ImageBuilder image(framing);
      std::string expected;
      std::size_t number = 0;
      for (std::size_t total = 0; total < 200'000;) {
        Bytes data(1 + next() % (recl + 3));
        std::string chars;
        for (auto& byte : data) {
          byte = static_cast<std::uint8_t>(1 + next() % 10);
          chars += static_cast<char>('0' + byte % 10);
        }
        image.record(data);
        total += data.size() + 9;
        ++number;
        for (std::size_t nb = 1; nb <= data.size(); nb += recl) {
          const std::string line = chars.substr(nb - 1, recl);
          expected += printf_of("%5llu: ", nb) + line;
          if (nb == 1)
            expected += spaces(recl - line.size() + 1) + "  Record " + std::to_string(number);
          expected += "\n";
        }
      }
      image.count(3).raw(codes("ABC"));
      if (framing == tape_image::Framing::simh) image.raw(Bytes{0});
      image.count(4);
      expected += "    1: ABC" + spaces(recl - 3 + 1) + "  Record " + std::to_string(number + 1) +
                  "\nUnequal starting and ending record sizes: 3 != 4\n";

      std::vector<std::string_view> options = {"-r13"};
      if (recl == 100) options.clear();
      if (framing == tape_image::Framing::e11) options.push_back("-e");
      const Outcome result = list(options, image.bytes());
      EXPECT_EQ(result.status, 4);
      const std::string lines = result.out.substr(result.out.find('\n') + 1);
      EXPECT_TRUE(lines == expected) << recl << (framing == tape_image::Framing::e11 ? " e11" : "");
    }
  }
}

TEST(Framing, TheOddRecordsPadByteIsSkippedWhateverItHolds) {
  const auto image = ImageBuilder()
                         .count(3)
                         .raw(codes("ABC"))
                         .raw(Bytes{0xEE})
                         .count(3)
                         .record(codes("DE"))
                         .bytes();
  const Outcome result = list({"-r5"}, image);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "       ....5\n    1: ABC     Record 1\n    1: DE      Record 2\n");
}

// --- Column ruler ---------------------------------------------------------------------------

TEST(Ruler, NumbersEveryFifthColumnAtTheWidthAskedFor) {
  EXPECT_EQ(list({}, {}).out,
            "       ....5...10...15...20...25...30...35...40...45...50...55...60...65...70...75."
            "..80...85...90...95..100\n");
  EXPECT_EQ(list({"-r40"}, {}).out, "       ....5...10...15...20...25...30...35...40\n");
  EXPECT_EQ(list({"-r7"}, {}).out, "       ....5..\n");
  EXPECT_EQ(list({"-r3"}, {}).out, "       ...\n");
  EXPECT_EQ(list({"-r12"}, {}).out, "       ....5...10..\n");
}

TEST(Ruler, UsesDotsWhateverTheBlankCharacter) {
  EXPECT_EQ(list({"-c", "-r10"}, {}).out, "       ....5...10\n");
  EXPECT_EQ(list({"-b", "-r10"}, {}).out, "       ....5...10\n");
}

// --- Word marks -----------------------------------------------------------------------------

TEST(WordMarks, SeparatorsBecomeMarksUnderTheCharacterAfterThem) {
  const Outcome result = list({"-w"}, one_record(codes("~A~BC D~E   ")));
  EXPECT_EQ(result.out,
            ruler_100 + "    1: ABC DE   " + spaces(92) + "  Record 1\n" + "       11   1\n");
}

TEST(WordMarks, AMarkFollowsItsCharacterOntoTheNextLine) {
  const Outcome result = list({"-w", "-r10"}, one_record(codes("CCCCCCCCCC~D")));
  EXPECT_EQ(result.out,
            "       ....5...10\n"
            "    1: CCCCCCCCCC   Record 1\n"
            "       \n"
            "   11: D\n"
            "       1\n");
}

TEST(WordMarks, ALoneSeparatorIsAnEmptyTaggedLine) {
  const Outcome result = list({"-w"}, one_record(codes("~")));
  EXPECT_EQ(result.out, ruler_100 + "    1: " + spaces(101) + "  Record 1\n" + "       \n");
}

TEST(WordMarks, ASeparatorAtTheEndOfARecordIsNeitherShownNorMarked) {
  EXPECT_EQ(list({"-w"}, one_record(codes("AB~"))).out,
            ruler_100 + "    1: AB" + spaces(99) + "  Record 1\n" + "       \n");
  EXPECT_EQ(list({}, one_record(codes("AB~"))).out,
            ruler_100 + "    1: AB~" + spaces(98) + "  Record 1\n");
}

TEST(WordMarks, ASeparatorEndingARecordAfterAFullLineLeavesAnEmptyLastLine) {
  const Outcome result = list({"-w", "-r10"}, one_record(codes("CCCCCCCCCC~")));
  EXPECT_EQ(result.out,
            "       ....5...10\n"
            "    1: CCCCCCCCCC   Record 1\n"
            "       \n"
            "   11: \n"
            "       \n");
}

TEST(WordMarks, RunsOfSeparatorsGiveOneMarkAndTakeNoPosition) {
  EXPECT_EQ(list({"-w", "-r5"}, one_record(codes("A~~~B~~C"))).out,
            "       ....5\n"
            "    1: ABC     Record 1\n"
            "        11\n");
}

TEST(WordMarks, OldSimhSeparatorsShowAsEqualsWithoutDashW) {
  EXPECT_EQ(list({"-o", "-r5"}, one_record(codes("~A"))).out,
            "       ....5\n    1: =A      Record 1\n");
  EXPECT_EQ(list({"-o", "-w", "-r5"}, one_record(codes("~A"))).out,
            "       ....5\n    1: A       Record 1\n       1\n");
}

TEST(WordMarks, PositionsCountCharactersNotBytes) {
  EXPECT_EQ(list({"-w", "-r3"}, one_record(codes("~A~B~C~D~E"))).out,
            "       ...\n"
            "    1: ABC   Record 1\n"
            "       111\n"
            "    4: DE\n"
            "       11\n");
}

TEST(WordMarks, LinesWithAndWithoutSeparatorsTogetherAndBlankLinesLeftOut) {
  EXPECT_EQ(list({"-w", "-r5"}, one_record(codes("ABCDEFGHIJ     K~LMNOPQ"))).out,
            "       ....5\n"
            "    1: ABCDE   Record 1\n"
            "       \n"
            "    6: FGHIJ\n"
            "       \n"
            "   16: KLMNO\n"
            "        1\n"
            "   21: PQ\n"
            "       \n");
}

TEST(WordMarks, ALongRecordWithOneSeparatorInTheMiddleListsEveryLine) {
  // 3000 letters A to I and a separator after the first 1500: 600 lines of five, the mark
  // under the first character of line 301.
  Bytes data;
  for (std::size_t k = 0; k < 3000; ++k) {
    if (k == 1500) data.push_back(29);
    data.push_back(static_cast<std::uint8_t>(49 + k % 9));
  }
  std::string expected = "       ....5\n";
  for (std::size_t line = 0; line < 600; ++line) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%5zu: ", 1 + 5 * line);
    expected += prefix;
    for (std::size_t k = 5 * line; k < 5 * line + 5; ++k)
      expected += static_cast<char>('A' + k % 9);
    expected += line == 0 ? "   Record 1\n" : "\n";
    expected += line == 300 ? "       1\n" : "       \n";
  }
  EXPECT_EQ(list({"-w", "-r5"}, one_record(data)).out, expected);
}

TEST(WordMarks, EveryCharacterAndMarkOfARecordLongerThanManyBuffersLandsInItsPlace) {
  // Digits in a random order with a separator before about one in eight; the listing is
  // worked out here a byte at a time, straight from the rules.
  Bytes data(300'007);
  std::uint32_t state = 54321;
  for (auto& byte : data) {
    state = state * 1103515245u + 12345u;
    const std::uint32_t draw = (state >> 16) % 80;
    byte = static_cast<std::uint8_t>(draw < 10 ? 29 : 1 + draw % 10);
  }
  for (const std::size_t recl : {std::size_t{100}, std::size_t{7}}) {
    std::string expected;
    std::size_t position = 1;
    for (std::size_t at = 0; at < data.size();) {
      std::string chars, marks;
      bool marked = false;
      while (chars.size() < recl && at < data.size()) {
        const std::uint8_t byte = data[at++];
        if (byte == 29) {
          marked = true;
          continue;
        }
        if (marked) marks.resize(chars.size(), ' '), marks += '1';
        marked = false;
        chars += static_cast<char>('0' + byte % 10);
      }
      expected += printf_of("%5llu: ", position) + chars;
      if (position == 1) expected += std::string(recl - chars.size() + 1, ' ') + "  Record 1";
      expected += "\n       " + marks + "\n";
      position += chars.size();
    }
    const Outcome result = list({"-w", "-r" + std::to_string(recl)}, one_record(data));
    ASSERT_EQ(result.status, 0);
    const std::string lines = result.out.substr(result.out.find('\n') + 1);
    EXPECT_TRUE(lines == expected) << recl;
  }
}

TEST(WordMarks, EveryCardOfAMarkedDeckListsAsTheRulesSay) {
  // Cards of 1 to 100 bytes, some with no separator, some with one in seven, some with one in
  // two, in a random order; each card's line is worked out here a byte at a time.
  ImageBuilder image;
  std::string expected = ruler_100;
  std::uint32_t state = 2718;
  const auto draw = [&state](std::uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % n;
  };
  for (unsigned nr = 1; nr <= 3000; ++nr) {
    const std::uint32_t size = 1 + draw(100);
    const std::uint32_t one_in = std::array<std::uint32_t, 3>{1000, 7, 2}[draw(3)];
    Bytes data;
    std::string chars, marks;
    bool marked = false;
    while (data.size() < size) {
      if (draw(one_in) == 0) {
        data.push_back(29);
        marked = true;
        continue;
      }
      const auto code = static_cast<std::uint8_t>(1 + draw(10));
      data.push_back(code);
      if (marked) marks.resize(chars.size(), ' '), marks += '1';
      marked = false;
      chars += static_cast<char>('0' + code % 10);
    }
    image.record(data);
    expected += "    1: " + chars + spaces(101 - chars.size()) + "  Record " + std::to_string(nr) +
                "\n       " + marks + "\n";
  }
  const Outcome result = list({"-w"}, image.bytes());
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out == expected);
}

// --- Blank lines ----------------------------------------------------------------------------

TEST(BlankLines, AreLeftOutExceptARecordsFirstAndLast) {
  const Outcome result = list({"-r10"}, one_record(repeat(0, 250)));
  EXPECT_EQ(result.out,
            "       ....5...10\n"
            "    1:           "
            "   Record 1\n"
            "  241:           \n");
}

TEST(BlankLines, AreAllPrintedWithDashA) {
  const Outcome result = list({"-a", "-r10"}, one_record(repeat(0, 250)));
  std::string expected =
      "       ....5...10\n    1:           "
      "   Record 1\n";
  for (int nb = 11; nb <= 241; nb += 10)
    expected += (nb < 100 ? "   " : "  ") + std::to_string(nb) + ":           \n";
  EXPECT_EQ(result.out, expected);
}

TEST(BlankLines, CodeSixteenCountsAsBlankWhenItLooksLikeOne) {
  const Bytes record = repeat(49, 20) + repeat(16, 20) +
                       Bytes{0, 16, 0, 16, 0, 16, 0, 16, 0, 16, 0, 16, 0, 16, 0, 16, 0, 16, 0, 16} +
                       codes("Z");
  EXPECT_EQ(list({"-c", "-r20"}, one_record(record)).out,
            "       ....5...10...15...20\n"
            "    1: AAAAAAAAAAAAAAAAAAAA   Record 1\n"
            "   61: Z\n");
  EXPECT_EQ(list({"-r20"}, one_record(record)).out,
            "       ....5...10...15...20\n"
            "    1: AAAAAAAAAAAAAAAAAAAA   Record 1\n"
            "   21: ^^^^^^^^^^^^^^^^^^^^\n"
            "   41:  ^ ^ ^ ^ ^ ^ ^ ^ ^ ^\n"
            "   61: Z\n");
}

TEST(BlankLines, TheBlankCharacterChosenIsWhatCounts) {
  EXPECT_EQ(list({"-b", "-r3"}, one_record(codes("A      B"))).out,
            "       ...\n"
            "    1: Abb   Record 1\n"
            "    7: bB\n");
}

TEST(BlankLines, ALeftOutLineHasNoWordMarkLine) {
  EXPECT_EQ(list({"-w", "-r10"}, one_record(repeat(0, 25))).out,
            "       ....5...10\n"
            "    1:           "
            "   Record 1\n"
            "       \n"
            "   21:      \n"
            "       \n");
}

TEST(BlankLines, ABlankLineCarryingAMarkIsPrinted) {
  const Outcome result = list({"-w", "-r10"}, one_record(codes("AAAAAAAAAA   ~       B")));
  EXPECT_EQ(result.out,
            "       ....5...10\n"
            "    1: AAAAAAAAAA   Record 1\n"
            "       \n"
            "   11:           \n"
            "          1\n"
            "   21: B\n"
            "       \n");
}

TEST(AllBlank, IsTrueOnlyWhenEveryCharacterIsTheBlank) {
  EXPECT_TRUE(all_blank("", 0, ' '));
  EXPECT_TRUE(all_blank("^^^^", 4, '^'));
  EXPECT_FALSE(all_blank("   x", 4, ' '));
  EXPECT_FALSE(all_blank("x   ", 4, ' '));
  for (std::size_t n = 1; n <= 100; ++n) {
    const std::string line(n, ' ');
    EXPECT_TRUE(all_blank(line.data(), n, ' ')) << n;
    for (std::size_t spot = 0; spot < n; ++spot) {
      std::string marked = line;
      marked[spot] = '^';
      EXPECT_FALSE(all_blank(marked.data(), n, ' ')) << n << " " << spot;
    }
  }
}

}  // namespace
}  // namespace reel::reelprint
