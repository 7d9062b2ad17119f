#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bcd/arrangement.h"
#include "bcd/line_translation.h"

namespace reelprint::bcd {
namespace {

// Reads a table written as hexadecimal ASCII, code 0 first.
std::string from_hex(const std::string& hex) {
  std::istringstream in(hex);
  std::string chars;
  for (unsigned value = 0; in >> std::hex >> value;) chars.push_back(static_cast<char>(value));
  return chars;
}

std::string as_string(const CodeTable& table) { return {table.begin(), table.end()}; }

TEST(Arrangements, HoldTheirPublishedCharacters) {
  EXPECT_EQ(as_string(bcd_to_ascii_a),
            from_hex("20 31 32 33 34 35 36 37 38 39 30 23 40 3A 3E 7B 5E 2F 53 54 55 56 57 58 59 "
                     "5A 7C 2C 25 7E 5C 22 2D 4A 4B 4C 4D 4E 4F 50 51 52 21 24 2A 5D 3B 5F 26 41 "
                     "42 43 44 45 46 47 48 49 3F 2E 29 5B 3C 7D"));
  EXPECT_EQ(as_string(bcd_to_ascii_h),
            from_hex("20 31 32 33 34 35 36 37 38 39 30 3D 27 3A 3E 7B 5E 2F 53 54 55 56 57 58 59 "
                     "5A 7C 2C 28 7E 5C 22 2D 4A 4B 4C 4D 4E 4F 50 51 52 21 24 2A 5D 3B 5F 2B 41 "
                     "42 43 44 45 46 47 48 49 3F 2E 29 5B 3C 7D"));
  EXPECT_EQ(as_string(bcd_to_ascii_old),
            from_hex("20 31 32 33 34 35 36 37 38 39 30 23 40 3A 3E 28 5E 2F 53 54 55 56 57 58 59 "
                     "5A 27 2C 25 3D 5C 2B 2D 4A 4B 4C 4D 4E 4F 50 51 52 21 24 2A 5D 3B 5F 26 41 "
                     "42 43 44 45 46 47 48 49 3F 2E 29 5B 3C 22"));
}

TEST(Arrangements, MapEveryCodeToADistinctPrintableUpperCaseCharacter) {
  for (const Arrangement arrangement : {Arrangement::a, Arrangement::h, Arrangement::old_simh}) {
    const CodeTable& table = table_of(arrangement);
    EXPECT_EQ(std::set<char>(table.begin(), table.end()).size(), 64u);
    EXPECT_EQ(table[blank_code], ' ');
    for (const char c : table) {
      EXPECT_TRUE(std::isprint(static_cast<unsigned char>(c))) << c;
      EXPECT_FALSE(std::islower(static_cast<unsigned char>(c))) << c;
    }
  }
}

TEST(Arrangements, KnowTheBcdBitsOfLettersAndDigits) {
  EXPECT_EQ(bcd_to_ascii_a[0b110001], 'A');  // B, A and 1
  EXPECT_EQ(bcd_to_ascii_a[0b001010], '0');  // 8 and 2
  EXPECT_EQ(bcd_to_ascii_a[0b011001], 'Z');
  EXPECT_EQ(bcd_to_ascii_a[0b101001], 'R');
}

// Returns the codes where `table` differs from arrangement A, with its characters there.
std::string differences_from_a(const CodeTable& table) {
  std::string found;
  for (std::size_t code = 0; code < 64; ++code)
    if (table[code] != bcd_to_ascii_a[code]) found += std::to_string(code) + table[code] + " ";
  return found;
}

TEST(Arrangements, FortranDiffersFromAAtFourCodes) {
  EXPECT_EQ(differences_from_a(bcd_to_ascii_h), "11= 12' 28( 48+ ");
}

TEST(Arrangements, OldSimhDiffersFromAAtFiveCodes) {
  EXPECT_EQ(differences_from_a(bcd_to_ascii_old), "15( 26' 29= 31+ 63\" ");
}

TEST(Arrangements, ShowTheWordSeparatorAsTildeOrEquals) {
  EXPECT_EQ(bcd_to_ascii_a[word_separator], '~');
  EXPECT_EQ(bcd_to_ascii_h[word_separator], '~');
  EXPECT_EQ(bcd_to_ascii_old[word_separator], '=');
}

TEST(Prepare, ShowsTheBlankCodeAsTheChosenCharacterOnly) {
  const DisplayTable with_b = prepare(Arrangement::a, 'b');
  EXPECT_EQ(with_b[0], 'b');
  EXPECT_EQ(with_b[16], '^');
  for (std::size_t code = 1; code < 64; ++code) EXPECT_EQ(with_b[code], bcd_to_ascii_a[code]);

  const DisplayTable with_caret = prepare(Arrangement::a, '^');
  EXPECT_EQ(with_caret[0], '^');
  EXPECT_EQ(with_caret[16], '^');
}

TEST(Prepare, LeavesTheFixedTablesAlone) {
  prepare(Arrangement::h, 'b');
  EXPECT_EQ(bcd_to_ascii_h[0], ' ');
}

TEST(Prepare, ShowsBytesAbove63ByTheirLowSixBits) {
  const DisplayTable table = prepare(Arrangement::old_simh, 'b');
  EXPECT_EQ(table[64], 'b');
  EXPECT_EQ(table[64 + 29], '=');
  EXPECT_EQ(table[128 + 49], 'A');
  EXPECT_EQ(table[255], '"');
}

TEST(Translate, LooksEveryByteUp) {
  const DisplayTable table = prepare(Arrangement::a, ' ');
  const std::uint8_t bytes[] = {56, 53, 35, 35, 38, 0, 255, 93};
  char out[sizeof bytes];
  translate(table, bytes, sizeof bytes, out);
  EXPECT_EQ(std::string(out, sizeof out), "HELLO }~");
}

// Returns the translations this processor runs, the scalar one first.
std::vector<Translation> translations_here() {
  std::vector<Translation> here = {Translation::scalar};
  if (best_translation() != Translation::scalar) here.push_back(Translation::avx2);
  if (best_translation() == Translation::avx512vbmi) here.push_back(Translation::avx512vbmi);
  return here;
}

TEST(Translate, EveryWayGivesTheSameCharactersForEveryByteAndLength) {
  std::vector<std::uint8_t> bytes(300);
  for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<std::uint8_t>(k * 97 + 13);
  for (const Arrangement arrangement : {Arrangement::a, Arrangement::h, Arrangement::old_simh}) {
    DisplayTable table = prepare(arrangement, '^');
    for (const Translation translation : translations_here()) {
      table.translation = translation;
      for (std::size_t offset : {0, 1, 7}) {
        for (std::size_t n = 0; n + offset <= bytes.size(); ++n) {
          std::string out(n + 2, '!');  // a guard byte each side
          translate(table, bytes.data() + offset, n, out.data() + 1);
          std::string expected = "!";
          for (std::size_t k = 0; k < n; ++k)
            expected += table_of(arrangement)[bytes[offset + k] & 63];
          for (char& c : expected)
            if (c == ' ') c = '^';
          ASSERT_EQ(out, expected + "!") << static_cast<int>(translation) << " n=" << n;
        }
      }
    }
  }
}

TEST(LineTranslation, EveryWayGetsTheLineRightAndWritesNoFurtherThanItsReach) {
  std::vector<std::uint8_t> bytes(widest_translated_line + line_reach);
  for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<std::uint8_t>(k * 151 + 5);
  DisplayTable table = prepare(Arrangement::h, '_');
  for (const Translation translation : translations_here()) {
    table.translation = translation;
    for (std::size_t offset : {0, 3}) {
      for (std::size_t n = 1; n <= widest_translated_line; ++n) {
        std::string out(line_reach + 8, '!');
        with_line_translation(table, LineFrame{}, [&](const auto& translate_line) {
          translate_line(bytes.data() + offset, n, out.data());
        });
        std::string expected;
        for (std::size_t k = 0; k < n; ++k) {
          const char c = table_of(Arrangement::h)[bytes[offset + k] & 63];
          expected += c == ' ' ? '_' : c;
        }
        ASSERT_EQ(out.substr(0, n), expected) << static_cast<int>(translation) << " n=" << n;
        ASSERT_EQ(out.substr(line_reach), "!!!!!!!!")
            << static_cast<int>(translation) << " n=" << n;
      }
    }
  }
}

TEST(LineTranslation, EveryWayWritesTheFrameWithTheLineInItAndReadsNoMoreThanTheLine) {
  LineFrame frame;
  for (std::size_t k = 0; k < frame_size; ++k) frame.bytes[k] = static_cast<char>('a' + k % 26);
  DisplayTable table = prepare(Arrangement::a, '_');
  for (const Translation translation : translations_here()) {
    table.translation = translation;
    for (const std::size_t at : {0, 7, 32}) {
      for (std::size_t n = 1; at + n <= frame_size; ++n) {
        // The line between bytes that show as '?' (code 63 + 128) if translated; the bytes
        // past it may be read, but must not show.
        std::vector<std::uint8_t> bytes(n + line_reach, 63 + 128);
        for (std::size_t k = 0; k < n; ++k) bytes[k] = static_cast<std::uint8_t>(k * 7 % 64);
        std::string out(frame_reach + 8, '!');
        with_line_translation(table, frame, [&](const auto& translate_line) {
          translate_line.put_framed(bytes.data(), n, out.data(), at);
        });
        std::string expected(frame.bytes.data(), frame_size);
        for (std::size_t k = 0; k < n; ++k) {
          const char c = table_of(Arrangement::a)[bytes[k]];
          expected[at + k] = c == ' ' ? '_' : c;
        }
        ASSERT_EQ(out.substr(0, frame_size), expected)
            << static_cast<int>(translation) << " at=" << at << " n=" << n;
        ASSERT_EQ(out.substr(frame_reach), "!!!!!!!!") << static_cast<int>(translation);
      }
    }
  }
}

TEST(LineTranslation, HandsBackWhatTheWorkReturns) {
  const DisplayTable table = prepare(Arrangement::a, ' ');
  const std::uint8_t bytes[line_reach] = {56};
  const char first = with_line_translation(table, LineFrame{}, [&](const auto& translate_line) {
    char out[line_reach];
    translate_line(bytes, 1, out);
    return out[0];
  });
  EXPECT_EQ(first, 'H');
}

TEST(LineTranslation, EveryWayFindsTheFirstSeparatorInTheLineAndNoneJustPastIt) {
  DisplayTable table = prepare(Arrangement::a, ' ');
  for (const Translation translation : translations_here()) {
    table.translation = translation;
    for (std::size_t n = 1; n <= widest_translated_line; ++n) {
      std::vector<std::uint8_t> bytes(line_reach + 1, 28);  // 28 and 30 are near misses
      for (std::size_t k = 1; k < bytes.size(); k += 2) bytes[k] = 30 + 64;
      if (n + 1 < bytes.size()) bytes[n + 1] = 29;  // past the line: not the line's
      with_line_translation(table, LineFrame{}, [&](const auto& line) {
        ASSERT_EQ(line.until_separator(bytes.data(), n), n) << static_cast<int>(translation);
        for (const std::size_t spot : {std::size_t{0}, n / 2, n - 1}) {
          auto marked = bytes;
          marked[spot] = static_cast<std::uint8_t>(29 + 64 * (spot % 4));
          if (spot + 3 < n) marked[spot + 3] = 29;  // a later one does not count
          ASSERT_EQ(line.until_separator(marked.data(), n), spot)
              << static_cast<int>(translation) << " n=" << n;
        }
      });
    }
  }
}

TEST(UntilWordSeparator, FindsTheFirstByteWithCode29InItsLowSixBitsEveryWay) {
  DisplayTable table = prepare(Arrangement::a, ' ');
  for (const Translation translation : translations_here()) {
    table.translation = translation;
    for (const std::uint8_t separator : {29, 93, 157, 221}) {
      for (std::size_t n = 0; n <= 150; ++n) {
        std::vector<std::uint8_t> bytes(n, 28);  // 28 and 30 are near misses
        for (std::size_t k = 1; k < n; k += 2) bytes[k] = 30 + 64;
        EXPECT_EQ(until_word_separator(table, bytes.data(), n), n);
        for (std::size_t spot = 0; spot < n; spot += 13) {
          auto marked = bytes;
          marked[spot] = separator;
          if (spot + 5 < n) marked[spot + 5] = 29;
          ASSERT_EQ(until_word_separator(table, marked.data(), n), spot)
              << static_cast<int>(translation) << " n=" << n;
        }
      }
    }
  }
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

TEST(CodeOf, FindsTheCodeOfACharacter) {
  EXPECT_EQ(code_of(Arrangement::a, 'A'), 49);
  EXPECT_EQ(code_of(Arrangement::h, '+'), 48);
  EXPECT_FALSE(code_of(Arrangement::a, 'a').has_value());
}

}  // namespace
}  // namespace reelprint::bcd
