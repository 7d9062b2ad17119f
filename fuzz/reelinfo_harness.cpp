#include "fuzz/reelinfo_harness.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>

#include "reelinfo/json.h"
#include "reelinfo/options.h"
#include "reelinfo/run.h"
#include "tape_image/source.h"

namespace reel::reelinfo::fuzz {
namespace {

using reel::fuzz::CountingSink;
using reel::fuzz::SplitInput;

constexpr std::string_view try_help = "\nTry 'reelinfo --help' for more information.\n";

// Returns the images that `args` name, as getopt_long leaves them once it has taken the
// options out: every argument but "-x..." and "--x...", and all after "--". Only --format and
// --parity, as far as given, take a value from the next argument, when it has no "=".
std::vector<std::string_view> images_named(const std::vector<std::string>& args) {
  std::vector<std::string_view> images;
  bool options_ended = false;
  bool value_next = false;  // the argument before was --format, its value apart
  for (const std::string& arg : args) {
    if (value_next) {
      value_next = false;
    } else if (!options_ended && arg == "--") {
      options_ended = true;
    } else if (options_ended || arg.size() < 2 || arg[0] != '-') {
      images.emplace_back(arg);
    } else {
      const std::string_view name = std::string_view(arg).substr(2);
      value_next = (arg.starts_with("--f") && std::string_view("format").starts_with(name)) ||
                   (arg.starts_with("--p") && std::string_view("parity").starts_with(name));
    }
  }
  return images;
}

// Returns whether an argument before "--" begins with `prefix`.
bool option_begins(const std::vector<std::string>& args, std::string_view prefix) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg.starts_with(prefix)) return true;
  }
  return false;
}

// Returns whether a short option other than -e, -l and -j comes before "--" and before any
// long option, which might end the scan first (--help).
bool unknown_short_option_first(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg.starts_with("--")) return false;
    if (arg.size() > 1 && arg[0] == '-' && arg.find_first_not_of("elj", 1) != std::string::npos)
      return true;
  }
  return false;
}

// Returns whether the run, which read its command line well, was asked for JSON: -j, or
// --json as far as given, before "--".
bool json_asked(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg.starts_with("--j")) return true;
    if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-' && arg.find('j') != std::string::npos)
      return true;
  }
  return false;
}

// Returns which rule the JSON `out` on `images` breaks, or "": an array, each object on lines
// of its own (no string holds a newline), begun with the image's name, and of t.tap its size;
// an image that can't be opened given so; a failed read at the end of t.tap told.
std::string_view broken_json_rule(std::string_view out, const std::vector<std::string_view>& images,
                                  const Outcome& outcome) {
  if (!out.starts_with("[\n") || !out.ends_with("\n]\n")) return "the JSON is no array";
  std::string_view rest = out.substr(2, out.size() - 5);
  for (std::size_t k = 0; k < images.size(); ++k) {
    std::string name;
    append_json_string(name, images[k]);
    const std::string start = "{\"image\":" + name + ",";
    const std::string_view separator = k + 1 < images.size() ? ",\n{\"image\":" : "";
    const std::size_t end = separator.empty() ? rest.size() : rest.find(separator);
    if (end == std::string_view::npos) return "fewer JSON objects than images named";
    const std::string_view object = rest.substr(0, end);
    rest.remove_prefix(std::min(rest.size(), end + 2));
    if (!object.starts_with(start) || !object.ends_with('}'))
      return "a JSON object does not begin with its image's name";
    if (images[k] != image_name) {
      if (object != start +
                        "\"status\":2,\"error\":\"cannot open\",\"reason\":\"No such "
                        "file or directory\"}")
        return "an image that can't be opened is not given so in JSON";
      continue;
    }
    if (!object.substr(start.size())
             .starts_with("\"size\":" + std::to_string(outcome.image_size) + ","))
      return "a JSON object does not give the image's size";
    const bool failed = object.find("\"kind\":\"read_error\"") != std::string_view::npos ||
                        object.find("\"read_error\":{") != std::string_view::npos;
    if (failed != outcome.fail_at_end) return "a failed read is not told in JSON where it was";
  }
  return rest.empty() ? "" : "the JSON goes on past the objects of the images named";
}

// Returns which rule the status of `outcome` breaks, of a run of reports on `reports` images
// that opened and `not_opened` that did not, or "".
std::string_view broken_status_rule(const Outcome& outcome, std::ptrdiff_t reports,
                                    std::ptrdiff_t not_opened) {
  const int status = outcome.status;
  if (not_opened > 0 && status < 2) return "an image can't be opened, yet the status is below 2";
  if (not_opened == 0 && status == 2) return "status 2, yet every image opened";
  if (reports == 0 && status != 2) return "no image opened, yet the status is not 2";
  if (reports > 0 && outcome.fail_at_end && status < 3)
    return "a failed read with a status below 3";
  return "";
}

// Returns the number in decimal that `text` begins with, or -1 if it begins with no digit.
std::int64_t leading_number(std::string_view text) {
  std::int64_t value = -1;
  for (const char c : text) {
    if (c < '0' || c > '9' || value > (std::int64_t{1} << 56)) break;
    value = (value < 0 ? 0 : value * 10) + (c - '0');
  }
  return value;
}

// Returns which rule `report`, the lines reelinfo gives the image t.tap, breaks, or "".
std::string_view broken_report_rule(std::string_view report, const Outcome& outcome) {
  const std::string size = std::to_string(outcome.image_size);
  if (!report.starts_with(std::string(image_name) + ": " + size + " byte"))
    return "the report does not begin with the image's name and size";
  std::size_t end_lines = 0;
  bool read_error_told = false;  // at the image's size
  bool other_read_error = false;
  const std::string at_size = "read error at " + size;
  std::string_view last_end_line;
  std::string fill_end_line;  // the end line that the zero bytes padding the image call for
  for (std::string_view rest = report.substr(report.find('\n') + 1); !rest.empty();) {
    const std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(line.size() + 1);
    if (line.empty()) return "a blank line inside the report on one image";
    if (line.ends_with(' ')) return "a line of the report ends in a blank";
    // "K zero bytes from O, after the end of the recorded tape": from where the recorded tape
    // ends, as the end line says, to the end of the image.
    const std::int64_t zeros = leading_number(line);
    const std::string_view after =
        line.substr(std::min(line.size(), line.find_first_not_of("0123456789")));
    if (zeros > 0 &&
        (after.starts_with(" zero byte from ") || after.starts_with(" zero bytes from ")) &&
        after.ends_with(", after the end of the recorded tape")) {
      const std::int64_t at = leading_number(after.substr(after.find("from ") + 5));
      if (at < 0 || static_cast<std::uint64_t>(at + zeros) != outcome.image_size)
        return "the zero bytes that pad the image do not reach its end";
      fill_end_line =
          "end at " + std::to_string(at) + ": after two tape marks, the end of the recorded tape";
      continue;
    }
    // Where the end, and a failed read after it, are told: lines of the image's own bytes
    // (the first characters of records, a hint that it is text) come under neither.
    const bool end_line = line.starts_with("end at ");
    if (!end_line && !line.starts_with("read error at ")) continue;
    if (end_line) {
      ++end_lines;
      last_end_line = line;
      const std::int64_t at = leading_number(line.substr(7));
      if (at < 0 || static_cast<std::uint64_t>(at) > outcome.image_size)
        return "the report ends the image past its size";
    }
    for (std::size_t at = line.find("read error"); at != std::string_view::npos;
         at = line.find("read error", at + 1)) {
      const std::string_view from = line.substr(at);
      const bool told = from.starts_with(at_size) &&
                        (from.size() == at_size.size() || from[at_size.size()] == ' ');
      (told ? read_error_told : other_read_error) = true;
    }
  }
  if (end_lines != 1) return "the report on one image has no single line of its end";
  if (!fill_end_line.empty() && last_end_line != fill_end_line)
    return "the zero bytes that pad the image are not after the end of the recorded tape";
  // The read after the image's last byte fails, and reelinfo reads on to the end for the size.
  if (outcome.fail_at_end && !read_error_told)
    return "a failed read at the end of the image is not reported";
  if (!outcome.fail_at_end && read_error_told) return "a read error is reported where none was";
  if (other_read_error) return "a read error is reported elsewhere than where it was";
  return "";
}

}  // namespace

Serving serving_of(const SplitInput& split) {
  Serving serving;
  const std::size_t size = split.image.size();
  if ((split.flags & short_reads) != 0) serving.most_per_read = 1 + size % 7;
  serving.fail_at_end = (split.flags & failing_read) != 0;
  if ((split.flags & small_spool_flag) != 0) serving.spool_memory = small_spool;
  if ((split.flags & tight_output) != 0) serving.out_limit = size % 160;
  return serving;
}

Outcome run_split(const SplitInput& split, const Serving& serving) {
  Outcome outcome;
  outcome.args.assign(split.args.begin(), split.args.end());
  outcome.image_size = split.image.size();
  outcome.fail_at_end = serving.fail_at_end;
  std::vector<std::string> args = {"reelinfo"};
  args.insert(args.end(), outcome.args.begin(), outcome.args.end());

  const tape_image::Opener open =
      [&](const std::string& name) -> std::unique_ptr<tape_image::InputSource> {
    if (name != image_name) {
      errno = ENOENT;
      return nullptr;
    }
    return std::make_unique<tape_image::MemorySource>(split.image, serving.most_per_read,
                                                      serving.fail_at_end);
  };
  CountingSink out(serving.out_limit, true);
  CountingSink err(output_limit, true);
  outcome.status =
      run(args, open, out, err,
          serving.spool_memory == 0 ? Hold::default_memory_limit : serving.spool_memory);
  outcome.out = std::move(out.all);
  outcome.err = std::move(err.all);
  outcome.out_refused = out.refused;
  return outcome;
}

Outcome run_input(std::span<const std::uint8_t> input) {
  const SplitInput split = reel::fuzz::split_input(input);
  return run_split(split, serving_of(split));
}

std::string_view broken_rule(const Outcome& outcome) {
  const int status = outcome.status;
  if (status < 0 || status > 5) return "the exit status is outside 0 to 5";
  if (outcome.out_refused != (status == 5))
    return "a refused write and status 5 do not go together";
  const bool complaint = outcome.err.starts_with("reelinfo: ") && outcome.err.ends_with(try_help);
  if (complaint != (status == 1))
    return "status 1 and the complaint on standard error do not go together";
  if (status == 1) return outcome.out.empty() ? "" : "a bad command line writes a report";
  if (status == 5) {
    return outcome.err.starts_with("reelinfo: ") && outcome.err.ends_with('\n')
               ? ""
               : "status 5 without its message";
  }
  if (!outcome.err.empty())
    return "standard error is used other than for a bad command line or a failed write";

  // Statuses 0, 2, 3 and 4: the help, the version, or reports.
  const std::vector<std::string>& args = outcome.args;
  const bool help = outcome.out == help_text();
  const bool version = outcome.out == version_text();
  if (!args.empty() && args[0] == "--help" && !help) return "--help first gives no help";
  if (!args.empty() && args[0] == "--version" && !version)
    return "--version first gives no version";
  if (help || version) {
    if (!option_begins(args, help ? "--h" : "--v"))
      return "the help or the version though no argument asks for it";
    return status == 0 ? "" : "the help or the version with a status other than 0";
  }
  const std::vector<std::string_view> images = images_named(args);
  if (images.empty()) return "no image named, and no complaint";
  if (unknown_short_option_first(args)) return "an unknown short option, and no complaint";
  if (!outcome.out.ends_with('\n')) return "the output does not end with a newline";

  const auto reports = std::count(images.begin(), images.end(), image_name);
  const auto not_opened = static_cast<std::ptrdiff_t>(images.size()) - reports;
  if (json_asked(args)) {
    if (const std::string_view rule = broken_json_rule(outcome.out, images, outcome); !rule.empty())
      return rule;
    return broken_status_rule(outcome, reports, not_opened);
  }
  // A report on each image named, in order, a blank line between two.
  std::string_view rest = outcome.out;
  for (std::size_t k = 0; k < images.size(); ++k) {
    if (k > 0) {
      if (!rest.starts_with('\n')) return "no blank line between the reports on two images";
      rest.remove_prefix(1);
    }
    if (images[k] == image_name) {
      const bool last = k + 1 == images.size();
      const std::size_t blank = rest.find("\n\n");
      if (!last && blank == std::string_view::npos) return "fewer reports than images named";
      const std::string_view report = last ? rest : rest.substr(0, blank + 1);
      if (const std::string_view rule = broken_report_rule(report, outcome); !rule.empty())
        return rule;
      rest.remove_prefix(report.size());
    } else {  // "-" as well: standard input is opened through the harness too
      const std::string line =
          std::string(images[k]) + ": cannot open (No such file or directory)\n";
      if (!rest.starts_with(line)) return "an image that can't be opened is not reported so";
      rest.remove_prefix(line.size());
    }
  }
  if (!rest.empty()) return "the output goes on past the reports on the images named";
  return broken_status_rule(outcome, reports, not_opened);
}

std::string_view check_input(std::span<const std::uint8_t> input) {
  const SplitInput split = reel::fuzz::split_input(input);
  const Serving asked = serving_of(split);
  const Outcome first = run_split(split, asked);
  if (const std::string_view rule = broken_rule(first); !rule.empty()) return rule;
  const auto same = [&](const Outcome& other) {
    return other.status == first.status && other.out == first.out && other.err == first.err;
  };

  Serving other_reads = asked;
  other_reads.most_per_read = asked.most_per_read == static_cast<std::size_t>(-1)
                                  ? 1 + split.image.size() % 7
                                  : static_cast<std::size_t>(-1);
  const Outcome reread = run_split(split, other_reads);
  if (const std::string_view rule = broken_rule(reread); !rule.empty()) return rule;
  if (!same(reread)) return "short reads report otherwise than one read";

  // A report refused at a write stops where the writes happen to fall, which differ between a
  // report held in memory and one held in a file; what was written agrees all the same.
  if (asked.spool_memory != 0) {
    Serving in_memory = asked;
    in_memory.spool_memory = 0;
    const Outcome held = run_split(split, in_memory);
    if (const std::string_view rule = broken_rule(held); !rule.empty()) return rule;
    const bool agree = first.status != 5 ? same(held)
                                         : held.status == 5 && (held.out.starts_with(first.out) ||
                                                                first.out.starts_with(held.out));
    if (!agree) return "a report held in a temporary file differs from one held in memory";
  }
  if (asked.out_limit != output_limit) {
    Serving unbounded = asked;
    unbounded.out_limit = output_limit;
    const Outcome whole = run_split(split, unbounded);
    if (const std::string_view rule = broken_rule(whole); !rule.empty()) return rule;
    if (first.status != 5 ? !same(whole) : !whole.out.starts_with(first.out))
      return "the output before a refused write is not the start of the whole output";
  }
  return "";
}

}  // namespace reel::reelinfo::fuzz
