// Positions and record numbers as the listing writes them; std::to_string is the oracle.
#include "listing/decimal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace reel::reelprint {
namespace {

// Returns what `nr.put` writes, checking that it writes nothing more than eight bytes past.
std::string shown(const RecordNumber& nr) {
  std::string room(40, '#');
  const char* end = nr.put(room.data());
  const auto size = static_cast<std::size_t>(end - room.data());
  EXPECT_EQ(room.substr(size + 8), std::string(40 - size - 8, '#'));
  return room.substr(0, size);
}

TEST(RecordNumber, CountsUpThroughEveryCarryOfTheFirstMillion) {
  RecordNumber nr(1);
  for (std::uint64_t value = 1; value <= 1'000'000; ++value, nr.next())
    ASSERT_EQ(shown(nr), std::to_string(value));
}

TEST(RecordNumber, CountsOnPastEightDigitsAndStartsAnywhere) {
  for (const std::uint64_t start :
       {std::uint64_t{0}, std::uint64_t{9}, std::uint64_t{12'345'678}, std::uint64_t{99'999'990},
        std::uint64_t{999'999'999'990}, std::numeric_limits<std::uint64_t>::max() - 20}) {
    RecordNumber nr(start);
    for (std::uint64_t k = 0; k <= 20; ++k, nr.next()) {
      const std::uint64_t value = start + k;
      ASSERT_EQ(nr.value(), value);
      ASSERT_EQ(shown(nr), std::to_string(value)) << start;
    }
  }
}

TEST(PutPosition, RightAlignsInFiveColumnsAndWidensBeyond) {
  for (const std::uint64_t value : {std::uint64_t{1}, std::uint64_t{101}, std::uint64_t{99'999},
                                    std::uint64_t{100'001}, std::uint64_t{4'294'967'295}}) {
    std::string room(40, '#');
    const char* end = put_position(room.data(), value);
    std::string number = std::to_string(value);
    if (number.size() < 5) number.insert(0, 5 - number.size(), ' ');
    EXPECT_EQ(room.substr(0, static_cast<std::size_t>(end - room.data())), number + ": ");
  }
}

}  // namespace
}  // namespace reel::reelprint
