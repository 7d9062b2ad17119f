#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>
#include <string>

#include "bcd/arrangement.h"

namespace reel::bcd {
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

TEST(CodeOf, FindsTheCodeOfACharacter) {
  EXPECT_EQ(code_of(Arrangement::a, 'A'), 49);
  EXPECT_EQ(code_of(Arrangement::h, '+'), 48);
  EXPECT_FALSE(code_of(Arrangement::a, 'a').has_value());
}

}  // namespace
}  // namespace reel::bcd
