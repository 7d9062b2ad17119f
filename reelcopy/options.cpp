#include "reelcopy/options.h"

#include <string_view>

#include "common/gnu_options.h"

namespace reel::reelcopy {
namespace {

using tape_image::Format;

enum LongOnly : int {
  from_option = first_own_long_only,
  to_option,
  parity_option,
  split_option,
  data_option,
  drop_gaps_option,
  repair_option
};

constexpr option own_options[] = {
    {"output", required_argument, nullptr, 'o'},
    {"e11", no_argument, nullptr, 'e'},
    {"files", required_argument, nullptr, 'f'},
    {"keep-going", no_argument, nullptr, 'k'},
    {"from", required_argument, nullptr, from_option},
    {"to", required_argument, nullptr, to_option},
    {"parity", required_argument, nullptr, parity_option},
    {"split", required_argument, nullptr, split_option},
    {"data", no_argument, nullptr, data_option},
    {"drop-gaps", no_argument, nullptr, drop_gaps_option},
    {"repair", required_argument, nullptr, repair_option},
};

// Returns the formats' names, "simh, e11, ...", for complaints.
std::string format_names(bool written) {
  std::string names;
  for (const Format format : tape_image::all_formats()) {
    if (written && !tape_image::writable(format)) continue;
    if (!names.empty()) names += ", ";
    names += tape_image::name_of(format);
  }
  return names;
}

// Takes the repair named `name`: the formats it reads from, or the fill it drops.
bool take_repair(std::string_view name, Options& options) {
  if (name == "big-endian")
    options.from = Format::simh_be;
  else if (name == "tape-marks")
    options.from = Format::simh_tm8;
  else if (name == "e11")
    options.from = Format::e11;
  else if (name == "zero-fill")
    options.zero_fill = true;
  else
    return false;
  return true;
}

}  // namespace

std::string help_text() {
  return "Usage: reelcopy [OPTION]... [IMAGE]...\n"
         "Copy tape images of IBM 1401 tapes, converting between the containers they\n"
         "come in; several images are joined into one reel. With no IMAGE, or when it\n"
         "is -, read standard input. Write standard output, or the file given by -o.\n"
         "\n"
         "  -o, --output=FILE    write FILE instead of standard output\n"
         "      --from=FORMAT    the images' format (default simh)\n"
         "      --to=FORMAT      the output's format (default simh)\n"
         "  -e, --e11            the same as --from=e11\n"
         "      --parity=PARITY  P7B frames' parity: even (default, BCD mode), odd\n"
         "                       (binary mode) or none\n"
         "  -f, --files=N[-M]    only tape files N to M (from 1; N- to the end)\n"
         "      --split=PREFIX   each tape file to an image of its own: PREFIX.001, ...\n"
         "      --data           with --split or alone: the records' data end to end\n"
         "      --drop-gaps      write no erase gaps\n"
         "      --repair=NAME    big-endian, tape-marks (8-byte tape marks) or e11: read\n"
         "                       that form, to write simh; zero-fill: drop the zero bytes\n"
         "                       after the end of the recorded tape\n"
         "  -k, --keep-going     write a damaged record as a bad record and go on\n"
         "      --help           print this help and exit\n"
         "      --version        print the version and exit\n"
         "\n"
         "FORMAT is one of: simh, e11, simh-be, simh-tm8 (read only), tpc, tpc-nopad,\n"
         "p7b.\n"
         "\n"
         "Exit status: 0 done, 1 a bad command line, 2 an image can't be opened, 3 one\n"
         "ends inside a record or can't be read, 4 a trailing count differs or is cut\n"
         "short, 5 the output can't be written or can't carry a record.\n";
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
  const auto take = [&](Options& options, const GivenOption& given) -> std::string {
    const std::string value(given.value);
    switch (given.letter) {
      case 'o':
        options.output = value;
        break;
      case 'e':
        options.from = Format::e11;
        break;
      case 'k':
        options.keep_going = true;
        break;
      case 'f':
        if (!read_file_range(given.value, options.first_file, options.last_file))
          return "invalid tape files '" + value + "': give N, N-M or N- (from 1)";
        options.files_chosen = true;
        break;
      case from_option:
      case to_option: {
        const auto format = tape_image::format_named(given.value);
        const bool to = given.letter == to_option;
        if (!format || (to && !tape_image::writable(*format)))
          return "invalid format '" + value + "' for " + given.name + ": give one of " +
                 format_names(to);
        (to ? options.to : options.from) = *format;
        break;
      }
      case parity_option: {
        const auto parity = tape_image::parity_named(given.value);
        if (!parity) return "invalid parity '" + value + "': give even, odd or none";
        options.parity = *parity;
        break;
      }
      case split_option:
        if (value.empty()) return "option '" + given.name + "' needs a prefix";
        options.split = value;
        break;
      case data_option:
        options.data = true;
        break;
      case drop_gaps_option:
        options.drop_gaps = true;
        break;
      case repair_option:
        if (!take_repair(given.value, options))
          return "invalid repair '" + value + "': give big-endian, tape-marks, e11 or zero-fill";
        break;
      default:
        break;
    }
    return {};
  };
  const auto finish = [&](Options& options,
                          const std::vector<std::string>& operands) -> std::string {
    options.images = operands;
    if (options.images.empty()) options.images.push_back("-");
    if (!options.split.empty() && options.output != "-")
      return "options '--split' and '--output' name the output twice: give one";
    return {};
  };
  return read_command_line<Options>(args, "reelcopy", own_options, take, finish);
}

}  // namespace reel::reelcopy
