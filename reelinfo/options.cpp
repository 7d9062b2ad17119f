#include "reelinfo/options.h"

#include <string_view>

#include "common/gnu_options.h"

namespace reelprint::reelinfo {
namespace {

enum LongOnly : int { help_option = 256, version_option };

constexpr option long_options[] = {
    {"e11", no_argument, nullptr, 'e'},
    {"records", no_argument, nullptr, 'l'},
    {"help", no_argument, nullptr, help_option},
    {"version", no_argument, nullptr, version_option},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& args) {
  GetoptArgs getopt_args(args, "reelinfo");
  const int argc = getopt_args.argc();
  char** const argv = getopt_args.argv();
  CommandLine command;
  for (;;) {
    const int option = getopt_long(argc, argv, "el", long_options, nullptr);
    if (option == -1) break;
    switch (option) {
      case 'e':
        command.options.framing = tape_image::Framing::e11;
        break;
      case 'l':
        command.options.records = true;
        break;
      case help_option:
        command.action = CommandLine::Action::help;
        return command;
      case version_option:
        command.action = CommandLine::Action::version;
        return command;
      default:
        command.complaint = complaint_about(optopt, argv[optind - 1], "el", help_option);
        return command;
    }
  }
  for (int k = optind; k < argc; ++k) command.options.images.emplace_back(argv[k]);
  if (command.options.images.empty()) {
    command.complaint = "no tape image named";
    return command;
  }
  command.action = CommandLine::Action::run;
  return command;
}

std::string help_text() {
  return "Usage: reelinfo [OPTION]... IMAGE...\n"
         "Tell what is on each tape image: its tape files, their records and sizes, and\n"
         "exactly how and where the image ends.\n"
         "\n"
         "  -e, --e11      read the E11 framing: no pad byte after odd-length data\n"
         "  -l, --records  a line for every record too: place, size, first characters\n"
         "      --help     print this help and exit\n"
         "      --version  print the version and exit\n"
         "\n"
         "An IMAGE of - is standard input.\n"
         "\n"
         "Exit status: 0 the images read cleanly, 1 a bad command line, 2 an image\n"
         "can't be opened, 3 one ends inside a record's data or can't be read, 4 a\n"
         "trailing count differs or is cut short, 5 the report can't be written; with\n"
         "several images, the highest.\n";
}

std::string version_text() { return "reelinfo (reelprint) " REELPRINT_VERSION "\n"; }

}  // namespace reelprint::reelinfo
