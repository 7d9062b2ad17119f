#include "fuzz/reelcopy_harness.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include "common/output.h"
#include "common/record_writer.h"
#include "fuzz/harness.h"
#include "reelcopy/run.h"
#include "tape_image/reader.h"
#include "tape_image/source.h"

namespace reel::reelcopy::fuzz {
namespace {

using tape_image::Format;

constexpr std::string_view one_name = "t.tap";
constexpr std::string_view first_name = "a.tap";
constexpr std::string_view second_name = "b.tap";
constexpr const char* parity_names[] = {"even", "odd", "none"};

// The formats reelcopy writes, in the order of all_formats().
std::vector<Format> writable_formats() {
  std::vector<Format> formats;
  for (const Format format : tape_image::all_formats())
    if (tape_image::writable(format)) formats.push_back(format);
  return formats;
}

std::size_t place_of(Format format, const std::vector<Format>& formats) {
  return static_cast<std::size_t>(std::find(formats.begin(), formats.end(), format) -
                                  formats.begin());
}

std::string format_option(const char* option, Format format) {
  return std::string(option) + std::string(tape_image::name_of(format));
}

std::string parity_option(int parity) {
  return parity < 3 ? std::string("--parity=") + parity_names[parity] : std::string();
}

// Keeps what it is given in memory: seekable (then written over and cut back as a regular file
// is) or not (a pipe, whose reader here takes a write whole or not at all), refusing writes
// past a limit with ENOSPC; notes how it is misused.
class Sink final : public OutputSink {
 public:
  Sink(bool seekable, std::uint64_t limit) : seekable_(seekable), limit_(limit) {}

  int write(const char* data, std::size_t n) override {
    if (bytes.size() > limit_ || n > limit_ - bytes.size()) {
      refused = true;
      // A disk that fills takes what room it has.
      if (seekable_ && bytes.size() < limit_)
        bytes.append(data, static_cast<std::size_t>(limit_ - bytes.size()));
      return ENOSPC;
    }
    bytes.append(data, n);
    return 0;
  }
  bool seekable() const override { return seekable_; }
  int write_at(std::uint64_t offset, const char* data, std::size_t n) override {
    if (!seekable_) return note("written over though not seekable", ESPIPE);
    if (offset > bytes.size() || n > bytes.size() - offset)
      return note("written over past its end", EINVAL);
    if (offset < whole_) note("written over before the end of its last whole record", 0);
    bytes.replace(static_cast<std::size_t>(offset), n, data, n);
    return 0;
  }
  int cut(std::uint64_t offset) override {
    if (!seekable_) return ESPIPE;
    if (offset < whole_) note("cut before the end of its last whole record", 0);
    if (offset < bytes.size()) bytes.resize(static_cast<std::size_t>(offset));
    return 0;
  }
  void whole_up_to(std::uint64_t offset) override {
    if (offset > bytes.size()) note("said to end after a whole record past its end", 0);
    whole_ = offset;
    if (wholes.empty() || wholes.back() != offset) wholes.push_back(offset);
  }

  std::string bytes;
  bool refused = false;
  std::vector<std::uint64_t> wholes;
  std::string_view fault;

 private:
  int note(std::string_view what, int error) {
    if (fault.empty()) fault = what;
    return error;
  }

  bool seekable_;
  std::uint64_t limit_;
  std::uint64_t whole_ = 0;
};

// Copies the image `bytes` with `options` (after the program's name, before the image's).
Outcome copy_of(std::vector<std::string> options, std::string_view bytes,
                const Serving& serving = {}) {
  options.emplace_back(one_name);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  return run_copy(options, {{std::string(one_name), {data, bytes.size()}}}, serving);
}

// The images `choice` names, of `image`.
std::vector<Image> images_of(const Choice& choice, std::span<const std::uint8_t> image) {
  if (!choice.joined) return {{std::string(one_name), image}};
  const std::size_t at = std::min<std::size_t>(choice.second_at, image.size());
  return {{std::string(first_name), image.first(at)},
          {std::string(second_name), image.subspan(at)}};
}

// Returns whether `outcome` agrees with `plain`, the same copy served in the plain way: the
// same in every byte, or where a write was refused, the start of it.
bool agrees(const Outcome& outcome, const Outcome& plain) {
  if (outcome.refused) return std::string_view(plain.out).starts_with(outcome.out);
  return outcome.status == plain.status && outcome.out == plain.out && outcome.err == plain.err;
}

// Returns the rule that the copy `copy`, of `choice`, breaks as an image in the format written:
// it reads back, as itself if it was written to its end (`ended`), and so does every start of
// it up to a whole record.
std::string_view read_back(const Choice& choice, const Outcome& copy, bool ended) {
  std::vector<std::string> options = {format_option("--from=", choice.to),
                                      format_option("--to=", choice.to),
                                      parity_option(choice.parity)};
  std::erase(options, std::string());
  const Outcome again = copy_of(options, copy.out);
  if (const std::string_view rule = broken_rule(again); !rule.empty()) return rule;
  if (again.status != 0) return "the copy, read back, does not give status 0";
  if (ended && again.out != copy.out) return "the copy, read back, does not give itself";
  // A few places where a signal would have cut it: the first, the last, two between.
  std::vector<std::uint64_t> cuts;
  for (const std::uint64_t at : copy.wholes)
    if (at > 0 && at < copy.out.size()) cuts.push_back(at);
  if (cuts.size() > 4)
    cuts = {cuts[0], cuts[cuts.size() / 3], cuts[2 * cuts.size() / 3], cuts.back()};
  for (const std::uint64_t at : cuts) {
    const Outcome start = copy_of(options, std::string_view(copy.out).substr(0, at));
    if (const std::string_view rule = broken_rule(start); !rule.empty()) return rule;
    if (start.status != 0) return "the copy cut after a whole record does not read back";
  }
  return "";
}

// Returns the rule that the plain copy `plain`, of `choice` with status 0, breaks on the way
// back to the images' format and forth again.
std::string_view back_and_forth(const Choice& choice, const Outcome& plain) {
  const Format back = choice.from == Format::simh_tm8 ? Format::simh : choice.from;
  std::vector<std::string> there = {format_option("--from=", choice.to),
                                    format_option("--to=", back), parity_option(choice.parity)};
  std::vector<std::string> again = {format_option("--from=", back),
                                    format_option("--to=", choice.to),
                                    parity_option(choice.parity)};
  std::erase(there, std::string());
  std::erase(again, std::string());
  const Outcome returned = copy_of(there, plain.out);
  if (const std::string_view rule = broken_rule(returned); !rule.empty()) return rule;
  // The frames before a dump's first record start (of each dump joined) are damage, a bad
  // record of their own, which a dump can't always hold: not without parity, and not one frame
  // of code 15 (0x8F and 0xCF are both tape marks).
  const auto cannot_hold = [&](std::string_view why) {
    return back == Format::p7b && returned.status == 5 &&
           returned.err.find(std::string(": cannot be written as p7b: ") + std::string(why)) !=
               std::string::npos;
  };
  if (cannot_hold("it is a bad record, which a dump without parity cannot mark") ||
      cannot_hold("it is one byte of code 15, which a dump reads as a tape mark"))
    return "";
  if (returned.status != 0) return "the copy, copied back to the images' format, fails";
  const Outcome forth = copy_of(again, returned.out);
  if (const std::string_view rule = broken_rule(forth); !rule.empty()) return rule;
  if (forth.status != 0 || forth.out != plain.out)
    return "the copy, copied back and forth again, is not itself";
  return "";
}

// Returns the rule that the plain copy `plain`, of `choice` under --data, breaks: it is the
// data of the records of the same copy to simh, whose status it has.
std::string_view data_rule(const Choice& choice, std::span<const std::uint8_t> image,
                           const Outcome& plain) {
  Choice framed = choice;
  framed.data = false;
  framed.to = Format::simh;
  const Outcome simh = run_copy(arguments_of(framed), images_of(framed, image));
  if (const std::string_view rule = broken_rule(simh); !rule.empty()) return rule;
  bool whole = true;
  const std::string data = records_data(simh.out, whole);
  if (!whole) return "the copy to simh can't be taken apart";
  if (simh.status != plain.status) return "--data gives another status than a copy to simh";
  if (data != plain.out) return "--data does not give the data of the copy to simh";
  return "";
}

}  // namespace

Choice choice_of(std::span<const std::uint8_t> input, std::span<const std::uint8_t>& image) {
  std::uint8_t h[header_size] = {};
  std::copy_n(input.begin(), std::min(input.size(), header_size), h);
  image = input.subspan(std::min(input.size(), header_size));
  const std::vector<Format> writable = writable_formats();
  Choice c;
  c.from = (h[0] & 7) < 7 ? tape_image::all_formats()[h[0] & 7] : Format::simh;
  c.to = (h[0] >> 3 & 7) < writable.size() ? writable[h[0] >> 3 & 7] : Format::simh;
  c.parity = h[0] >> 6;
  c.files = (h[1] & 1) != 0;
  c.keep_going = (h[1] & 2) != 0;
  c.drop_gaps = (h[1] & 4) != 0;
  c.zero_fill = (h[1] & 8) != 0;
  c.data = (h[1] & 16) != 0;
  c.joined = (h[1] & 32) != 0;
  c.seekable = (h[1] & 64) != 0;
  c.tight = (h[1] & 128) != 0;
  c.range = h[2];
  c.per_read = h[3] & 15;
  c.tiny = (h[3] & 16) != 0;
  c.eighths = h[3] >> 5;
  c.second_at = static_cast<std::uint16_t>(h[4] | h[5] << 8);
  return c;
}

std::vector<std::uint8_t> input_of(const Choice& c, std::span<const std::uint8_t> image) {
  const std::vector<Format> writable = writable_formats();
  std::vector<std::uint8_t> input = {
      static_cast<std::uint8_t>(
          place_of(c.from, {tape_image::all_formats().begin(), tape_image::all_formats().end()}) |
          place_of(c.to, writable) << 3 | (c.parity & 3) << 6),
      static_cast<std::uint8_t>(c.files | c.keep_going << 1 | c.drop_gaps << 2 | c.zero_fill << 3 |
                                c.data << 4 | c.joined << 5 | c.seekable << 6 | c.tight << 7),
      c.range,
      static_cast<std::uint8_t>((c.per_read & 15) | c.tiny << 4 | (c.eighths & 7) << 5),
      static_cast<std::uint8_t>(c.second_at),
      static_cast<std::uint8_t>(c.second_at >> 8)};
  input.insert(input.end(), image.begin(), image.end());
  return input;
}

std::vector<std::string> arguments_of(const Choice& c) {
  std::vector<std::string> args = {format_option("--from=", c.from), format_option("--to=", c.to)};
  if (c.parity < 3) args.push_back(parity_option(c.parity));
  if (c.files) {
    const unsigned first = 1 + (c.range & 7);
    const unsigned last = first + (c.range >> 4);
    std::string files = std::to_string(first);
    if ((c.range & 8) != 0 || last != first) files += '-';
    if ((c.range & 8) == 0 && last != first) files += std::to_string(last);
    args.emplace_back("-f");
    args.push_back(files);
  }
  if (c.keep_going) args.emplace_back("--keep-going");
  if (c.drop_gaps) args.emplace_back("--drop-gaps");
  if (c.zero_fill) args.emplace_back("--repair=zero-fill");
  if (c.data) args.emplace_back("--data");
  if (c.joined) {
    args.emplace_back(first_name);
    args.emplace_back(second_name);
  } else {
    args.emplace_back(one_name);
  }
  return args;
}

Outcome run_copy(const std::vector<std::string>& args, const std::vector<Image>& images,
                 const Serving& serving) {
  std::vector<std::string> line = {"reelcopy"};
  line.insert(line.end(), args.begin(), args.end());
  const tape_image::Opener open =
      [&](const std::string& name) -> std::unique_ptr<tape_image::InputSource> {
    for (const Image& image : images)
      if (image.name == name)
        return std::make_unique<tape_image::MemorySource>(image.bytes, serving.most_per_read);
    errno = ENOENT;
    return nullptr;
  };
  Sink out(serving.seekable, serving.out_limit);
  reel::fuzz::CountingSink err(reel::fuzz::output_limit, true);
  Tuning tuning;
  if (serving.tiny) {
    tuning.read_size = tape_image::TapeReader::page;
    tuning.buffer_size = RecordWriter::smallest_buffer_size;
    tuning.hold_memory = 64;
  }
  Outcome outcome;
  outcome.status = run(line, open, out, err, tuning);
  outcome.out = std::move(out.bytes);
  outcome.err = std::move(err.all);
  outcome.refused = out.refused;
  outcome.wholes = std::move(out.wholes);
  outcome.fault = out.fault;
  return outcome;
}

std::string_view broken_rule(const Outcome& outcome) {
  const int status = outcome.status;
  if (status != 0 && status != 3 && status != 4 && status != 5)
    return "the status of a good command line is not 0, 3, 4 or 5";
  if (!outcome.fault.empty()) return outcome.fault;
  if (outcome.refused && status == 0) return "a refused write, yet status 0";
  if (status != 0 && outcome.err.empty()) return "a failure, and nothing said";
  if (!outcome.err.empty() && !outcome.err.ends_with('\n')) return "standard error ends mid-line";
  for (std::size_t at = 0; at < outcome.err.size(); at = outcome.err.find('\n', at) + 1)
    if (outcome.err.compare(at, 10, "reelcopy: ") != 0)
      return "a line on standard error does not begin 'reelcopy: '";
  if (!std::is_sorted(outcome.wholes.begin(), outcome.wholes.end()))
    return "the end of the whole records went back";
  if (!outcome.wholes.empty() && outcome.wholes.back() > outcome.out.size())
    return "the end of the whole records is past the end of the output";
  return "";
}

std::string records_data(std::string_view simh, bool& whole) {
  const auto word_at = [&](std::size_t at) {
    std::uint32_t word = 0;
    for (int k = 3; k >= 0; --k) word = word << 8 | static_cast<std::uint8_t>(simh[at + k]);
    return word;
  };
  std::string data;
  whole = false;
  for (std::size_t at = 0; at < simh.size();) {
    if (simh.size() - at < 4) return "";
    const std::uint32_t word = word_at(at);
    at += 4;
    if (word == 0 || word == 0xFFFF'FFFE || word == 0xFFFF'FFFF) continue;
    const std::uint32_t size = word & 0x7FFF'FFFF;
    if (word >= 0x8000'0000 && (size == 0 || size > 0xFF'FFFF)) return "";
    if (simh.size() - at < std::uint64_t{size} + size % 2 + 4 ||
        word_at(at + size + size % 2) != word)
      return "";
    data.append(simh.substr(at, size));
    at += size + size % 2 + 4;
  }
  whole = true;
  return data;
}

std::string_view check_input(std::span<const std::uint8_t> input) {
  std::span<const std::uint8_t> image;
  const Choice choice = choice_of(input, image);
  const std::vector<std::string> args = arguments_of(choice);
  const std::vector<Image> images = images_of(choice, image);

  Serving asked;
  if (choice.per_read != 0) asked.most_per_read = choice.per_read;
  asked.tiny = choice.tiny;
  asked.seekable = choice.seekable;
  if (choice.tight) asked.out_limit = image.size() * choice.eighths / 8;
  Serving other = asked;
  other.seekable = !asked.seekable;
  other.tiny = !asked.tiny;
  other.most_per_read = choice.per_read == 0 ? 1 + image.size() % 7 : static_cast<std::size_t>(-1);
  const Outcome plain = run_copy(args, images);
  if (const std::string_view rule = broken_rule(plain); !rule.empty()) return rule;
  for (const Serving& way : {asked, other}) {
    const Outcome run = run_copy(args, images, way);
    if (const std::string_view rule = broken_rule(run); !rule.empty()) return rule;
    if (!agrees(run, plain)) return "a copy served otherwise gives otherwise";
    // A seekable output is cut back to its last whole record, whatever failed.
    if (run.refused && way.seekable && !choice.data)
      if (const std::string_view rule = read_back(choice, run, false); !rule.empty()) return rule;
  }

  if (choice.data) return data_rule(choice, image, plain);
  if (const std::string_view rule = read_back(choice, plain, true); !rule.empty()) return rule;
  if (plain.status == 0 && !choice.files && !choice.keep_going && !choice.zero_fill)
    return back_and_forth(choice, plain);
  return "";
}

}  // namespace reel::reelcopy::fuzz
