// The lines of words that stand in a text for what a tape holds besides its records: no print
// arrangement has a lower-case letter, so no record's line is ever one of them, and no edit of
// the blanks around them makes or unmakes one.
#pragma once

#include <optional>
#include <string_view>

namespace reel::reeltext {

enum class Item {
  tape_mark,      // "tape mark"
  bad_record,     // "bad record": the next line is a record read with an error
  erase_gap,      // "erase gap"
  end_of_medium,  // "end of medium": nothing after it is tape
};

// Returns the words of `item`.
constexpr std::string_view words_of(Item item) {
  switch (item) {
    case Item::bad_record:
      return "bad record";
    case Item::erase_gap:
      return "erase gap";
    case Item::end_of_medium:
      return "end of medium";
    case Item::tape_mark:
      break;
  }
  return "tape mark";
}

// Returns the item whose words `line` holds, blanks (spaces, tabs) around them and a carriage
// return after them aside; nothing if it holds none.
constexpr std::optional<Item> item_of_words(std::string_view line) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  for (const Item item : {Item::tape_mark, Item::bad_record, Item::erase_gap, Item::end_of_medium})
    if (line == words_of(item)) return item;
  return std::nullopt;
}

}  // namespace reel::reeltext
