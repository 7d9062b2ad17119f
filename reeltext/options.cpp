#include "reeltext/options.h"

#include <optional>
#include <string_view>

#include "common/gnu_options.h"
#include "tape_image/control_word.h"

namespace reel::reeltext {
namespace {

enum LongOnly : int { format_option = first_own_long_only, parity_option };

constexpr option own_options[] = {
    {"reverse", no_argument, nullptr, 'r'},
    {"e11", no_argument, nullptr, 'e'},
    {"fortran", no_argument, nullptr, 'h'},
    {"old-simh", no_argument, nullptr, 'o'},
    {"files", required_argument, nullptr, 'f'},
    {"six-bits", no_argument, nullptr, 's'},
    {"width", required_argument, nullptr, 'w'},
    {"format", required_argument, nullptr, format_option},
    {"parity", required_argument, nullptr, parity_option},
};

}  // namespace

std::string help_text() {
  return "Usage: reeltext [OPTION]... [IMAGE]\n"
         "  or:  reeltext -r [OPTION]... [TEXT]\n"
         "Write a tape image of IBM 1401 BCD characters as plain text: a line for each\n"
         "record, the line 'tape mark' for each tape mark. With -r, build the image from\n"
         "such text. With no IMAGE or TEXT, or when it is -, read standard input.\n"
         "\n"
         "  -r, --reverse      build a tape image from text\n"
         "      --format=NAME  the image's format, read or with -r written: simh\n"
         "                     (default), e11, simh-be, simh-tm8 (read only), tpc,\n"
         "                     tpc-nopad or p7b\n"
         "  -e, --e11          the same as --format=e11: no pad after odd-length data\n"
         "      --parity=P     a P7B dump's frames' parity: even (default), odd, none\n"
         "  -h, --fortran      the H (Fortran) print arrangement (default A)\n"
         "  -o, --old-simh     the 'old simh' print arrangement\n"
         "  -f, --files=N[-M]  only tape files N to M (from 1; N- to the end)\n"
         "  -s, --six-bits     write a byte above 63 by its low six bits\n"
         "  -w, --width=N      with -r: pad shorter lines, empty ones too, with blanks\n"
         "                     to N characters\n"
         "      --help         print this help and exit\n"
         "      --version      print the version and exit\n"
         "\n"
         "Exit status: 0 done, 1 a bad command line, 2 the input can't be opened,\n"
         "3 it ends inside a record, can't be read, or holds a byte (above 63) or a\n"
         "character (not in the arrangement) that has no counterpart, or a line the\n"
         "format can't carry, 4 a trailing count differs or is cut short, 5 the output\n"
         "can't be written.\n";
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
  std::string image_only;    // an option that reads images, if one was given
  std::string width_option;  // -w or --width, if given
  const auto take = [&](Options& options, const GivenOption& given) -> std::string {
    if (given.letter == 'r') options.reverse = true;
    if (given.letter == 'e') options.format = tape_image::Format::e11;
    if (given.letter == format_option) {
      const auto format = tape_image::format_named(given.value);
      if (!format)
        return "invalid format '" + std::string(given.value) +
               "': give simh, e11, simh-be, simh-tm8, tpc, tpc-nopad or p7b";
      options.format = *format;
    }
    if (given.letter == parity_option) {
      const auto parity = tape_image::parity_named(given.value);
      if (!parity)
        return "invalid parity '" + std::string(given.value) + "': give even, odd or none";
      options.parity = *parity;
    }
    if (given.letter == 'h' || given.letter == 'o')
      options.arrangement = bcd::arrangement_named(given.letter);
    if (given.letter == 's') {
      options.six_bits = true;
      image_only = given.name;
    }
    if (given.letter == 'f') {
      if (!read_file_range(given.value, options.first_file, options.last_file))
        return "invalid tape files '" + std::string(given.value) + "': give N, N-M or N- (from 1)";
      image_only = given.name;
    }
    if (given.letter == 'w') {
      const auto width = read_number(given.value, tape_image::largest_record);
      if (!width || *width == 0)
        return "invalid width '" + std::string(given.value) + "': give 1 to 2147483647 characters";
      options.width = static_cast<std::uint32_t>(*width);
      width_option = given.name;
    }
    return {};
  };
  const auto finish = [&](Options& options,
                          const std::vector<std::string>& operands) -> std::string {
    if (!operands.empty()) options.input = operands[0];
    if (operands.size() > 1) return "extra operand '" + operands[1] + "'";
    if (options.reverse && !tape_image::writable(options.format))
      return "with -r, " + std::string(tape_image::name_of(options.format)) +
             " is read only: give simh, e11, simh-be, tpc, tpc-nopad or p7b";
    if (options.reverse && !image_only.empty())
      return "option '" + image_only + "' reads images: not with -r";
    if (!options.reverse && !width_option.empty())
      return "option '" + width_option + "' builds images: only with -r";
    return {};
  };
  return read_command_line<Options>(args, "reeltext", own_options, take, finish);
}

}  // namespace reel::reeltext
