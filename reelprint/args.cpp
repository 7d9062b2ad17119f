#include "reelprint/args.h"

#include <algorithm>
#include <cstdint>

namespace reel::reelprint {
namespace {

struct Number {
  enum Kind {
    read,     // a number was read
    none,     // the text does not start with a number
    no_text,  // the text is empty or only white space
  } kind;
  std::int64_t value;  // held within +-10^12, so larger magnitudes stay large without overflow
};

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads a decimal number the way scanf's "%d" does: white space, an optional sign, digits,
// and anything after them ignored.
Number read_number(std::string_view text) {
  std::size_t k = 0;
  while (k < text.size() && is_space(text[k])) ++k;
  if (k == text.size()) return {Number::no_text, 0};
  bool negative = false;
  if (text[k] == '+' || text[k] == '-') negative = text[k++] == '-';
  if (k == text.size() || text[k] < '0' || text[k] > '9') return {Number::none, 0};
  constexpr std::int64_t ceiling = 1'000'000'000'000;
  std::int64_t value = 0;
  for (; k < text.size() && text[k] >= '0' && text[k] <= '9'; ++k)
    value = std::min(ceiling, value * 10 + (text[k] - '0'));
  return {Number::read, negative ? -value : value};
}

}  // namespace

std::optional<CommandLine> scan_args(std::span<const std::string_view> args) {
  if (args.size() < 2) return std::nullopt;
  Settings settings;
  std::size_t cl = 1;  // the argument being scanned
  for (; cl < args.size() && args[cl].starts_with('-'); ++cl) {
    const std::string_view arg = args[cl];
    // Only the second character counts: -all is -a, and letters don't combine.
    switch (arg.size() > 1 ? arg[1] : '\0') {
      case 'w':
        settings.dowm = true;
        break;
      case 'a':
        settings.all = true;
        break;
      case 'b':
        settings.blank = 'b';
        break;
      case 'c':
        settings.blank = '^';
        break;
      case 'e':
        settings.framing = tape_image::Framing::e11;
        break;
      case 'h':
      case 'o':
        settings.arrangement = bcd::arrangement_named(arg[1]);
        break;
      case 'r': {
        std::string_view count_text = arg.substr(2);
        if (count_text.empty() || count_text.front() == ' ') {
          if (++cl == args.size()) return std::nullopt;
          count_text = args[cl];
        }
        const Number count = read_number(count_text);
        if (count.kind == Number::none) return std::nullopt;
        if (count.kind == Number::read) {
          if (count.value < 1) return std::nullopt;  // a line must hold at least one character
          settings.recl =
              static_cast<int>(std::min<std::int64_t>(count.value, std::int64_t{widest_line}));
        }
        break;
      }
      default: {  // -# : the minus sign and a number of tape files
        const Number files = read_number(arg);
        if (files.kind != Number::read || files.value <= -2'147'483'648) return std::nullopt;
        settings.nf = static_cast<std::int32_t>(-files.value);
        break;
      }
    }
  }
  if (cl == args.size()) return std::nullopt;
  return CommandLine{settings, args[cl]};
}

void usage(std::string_view program_name, OutputBuffer& out) {
  out.append("Usage: ");
  out.append(program_name);
  out.append(
      " [options] <input_file>\n"
      " Options: -w to print word marks on a separate line\n"
      "          -# number of 'files' to print (default 1)\n"
      "          -a print all of each record, including blank lines,\n"
      "             which are otherwise suppressed (except for the last one)\n"
      "          -b use 'b' for blank, default is blank\n"
      "          -c use '^' for blank, default is blank\n"
      "          -e E11 format, i.e., don't require even-length records\n"
      "          -h Use the H (Fortran) print arrangement (default A)\n"
      "          -o Use the 'old simh' print arrangement\n"
      "          -r[ ]# print # characters per line, max 100\n"
      "          reelprint " REELPRINT_VERSION ", written by the reelprint authors\n");
}

}  // namespace reel::reelprint
