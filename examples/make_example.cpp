// Writes the example tape: a short 1401 Autocoder deck on cards, then its machine code with
// word marks. Usage: make_example OUTPUT
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bcd/arrangement.h"
#include "tape_image/image_builder.h"

namespace {

using reel::bcd::Arrangement;
using reel::bcd::code_of;

// Returns the codes of `text` in arrangement A ("~" is the word separator), or nothing if a
// character has no code there.
std::vector<std::uint8_t> codes_of(std::string_view text, bool& ok) {
  std::vector<std::uint8_t> codes;
  for (const char c : text) {
    const auto code = code_of(Arrangement::a, c);
    ok = ok && code.has_value();
    codes.push_back(code.value_or(0));
  }
  return codes;
}

// Lays out one Autocoder card: sequence, label, operation, operand, deck name; 80 columns.
std::string card(std::string_view sequence, std::string_view label, std::string_view operation,
                 std::string_view operand) {
  const auto field = [](std::string_view text, std::size_t width) {
    std::string out(text.substr(0, width));
    out.resize(width, ' ');
    return out;
  };
  return field(sequence, 5) + field(label, 10) + field(operation, 5) + field(operand, 52) +
         "   HELLO";
}

// Lays out a comment card: an asterisk in column 6, then the text.
std::string comment(std::string_view sequence, std::string_view text) {
  std::string line = card(sequence, "", "", "");
  line.replace(5, 1, "*");
  line.replace(6, std::min<std::size_t>(text.size(), 66), text.substr(0, 66));
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: make_example OUTPUT\n", stderr);
    return 1;
  }
  const std::vector<std::string> source_deck = {
      card("00010", "", "JOB", "PRINT A GREETING ON THE 1403"),
      card("00020", "", "CTL", "6611"),
      comment("00030", "  CLEAR THE PRINT AREA, SET A WORD MARK, MOVE THE TEXT IN"),
      card("00040", "", "ORG", "333"),
      card("00050", "START", "CS", "332"),
      card("00060", "", "SW", "201"),
      card("00070", "", "MCW", "MSG,213"),
      card("00080", "", "W", ""),
      card("00090", "", "H", "START"),
      card("00100", "MSG", "DCW", "@HELLO, WORLD@"),
      card("00110", "", "END", "START"),
  };
  // The same program as the loader leaves it in core: a separator before each character
  // that carries a word mark (each instruction's operation code, the constant's first one).
  const std::vector<std::string> object_deck = {
      card("00001", "HELLO", "CORE", "333-360, 201-213"),
      "~/332~,201~M360213~2~.333",
      "~HELLO, WORLD",
      card("00002", "HELLO", "END", "333"),
  };

  reel::tape_image::ImageBuilder image;
  bool ok = true;
  for (const std::string& text : source_deck) image.record(codes_of(text, ok));
  image.tape_mark();
  for (const std::string& text : object_deck) image.record(codes_of(text, ok));
  image.tape_mark().tape_mark();
  if (!ok) {
    std::fputs("make_example: a character has no code in arrangement A\n", stderr);
    return 1;
  }

  std::FILE* out = std::fopen(argv[1], "wb");
  const auto& bytes = image.bytes();
  if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
