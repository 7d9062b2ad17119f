#include "reelinfo/options.h"

#include <optional>
#include <utility>

#include "common/gnu_options.h"

namespace reel::reelinfo {
namespace {

enum : int { format_option = first_own_long_only, parity_option };

constexpr option own_options[] = {
    {"e11", no_argument, nullptr, 'e'},
    {"records", no_argument, nullptr, 'l'},
    {"json", no_argument, nullptr, 'j'},
    {"format", required_argument, nullptr, format_option},
    {"parity", required_argument, nullptr, parity_option},
};

}  // namespace

std::string help_text() {
  return "Usage: reelinfo [OPTION]... IMAGE...\n"
         "Tell what is on each tape image: its tape files, their records and sizes, and\n"
         "exactly how and where the image ends.\n"
         "\n"
         "  -e, --e11          read the E11 framing: no pad byte after odd-length data\n"
         "      --format=NAME  read the format NAME: simh (the default), e11 (as -e),\n"
         "                     simh-be (big-endian counts), simh-tm8 (8-byte tape marks),\n"
         "                     tpc (16-bit counts, odd data padded), tpc-nopad (not),\n"
         "                     p7b (a seven-track dump, a byte a frame)\n"
         "      --parity=P     a P7B dump's frames' parity: even (default), odd, none\n"
         "  -l, --records      a line for every record too: place, size, first characters\n"
         "  -j, --json         the report as JSON: an array of one object for each image\n"
         "      --help         print this help and exit\n"
         "      --version      print the version and exit\n"
         "\n"
         "An IMAGE of - is standard input.\n"
         "\n"
         "Exit status: 0 the images read cleanly, 1 a bad command line, 2 an image\n"
         "can't be opened, 3 one ends inside a record's data or can't be read, 4 a\n"
         "trailing count differs or is cut short, 5 the report can't be written; with\n"
         "several images, the highest.\n";
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
  const auto take = [](Options& options, const GivenOption& given) -> std::string {
    if (given.letter == 'e') options.format = tape_image::Format::e11;
    if (given.letter == format_option) {
      const std::optional<tape_image::Format> format = tape_image::format_named(given.value);
      if (!format)
        return "invalid format '" + std::string(given.value) +
               "': give simh, e11, simh-be, simh-tm8, tpc, tpc-nopad or p7b";
      options.format = *format;
    }
    if (given.letter == parity_option) {
      const std::optional<tape_image::Parity> parity = tape_image::parity_named(given.value);
      if (!parity)
        return "invalid parity '" + std::string(given.value) + "': give even, odd or none";
      options.parity = *parity;
    }
    if (given.letter == 'l') options.records = true;
    if (given.letter == 'j') options.json = true;
    return {};
  };
  const auto finish = [](Options& options, std::vector<std::string> operands) -> std::string {
    options.images = std::move(operands);
    return options.images.empty() ? "no tape image named" : "";
  };
  return read_command_line<Options>(args, "reelinfo", own_options, take, finish);
}

}  // namespace reel::reelinfo
