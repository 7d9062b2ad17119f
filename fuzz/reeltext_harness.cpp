#include "fuzz/reeltext_harness.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <optional>

#include "bcd/arrangement.h"
#include "common/output.h"
#include "common/record_writer.h"
#include "reeltext/run.h"
#include "tape_image/format.h"
#include "tape_image/reader.h"
#include "tape_image/source.h"

namespace reel::reeltext::fuzz {
namespace {

using reel::fuzz::CountingSink;
using reel::fuzz::SplitInput;
using tape_image::Framing;

// The words of an image, as reeltext(1) and simh's container give them; worked out here
// again, apart from the program's own tables.
constexpr std::uint32_t erase_gap = 0xFFFF'FFFE;
constexpr std::uint32_t end_of_medium = 0xFFFF'FFFF;
constexpr std::uint32_t placeholder = 0xFFFF'FFFD;
constexpr std::uint32_t bad_flag = 0x8000'0000;
constexpr std::uint64_t largest_record = 0x7FFF'FFFF;
constexpr std::uint64_t largest_bad_record = 0xFF'FFFF;

constexpr std::string_view tape_mark_words = "tape mark";
constexpr std::string_view bad_record_words = "bad record";
constexpr std::string_view erase_gap_words = "erase gap";
constexpr std::string_view end_of_medium_words = "end of medium";

constexpr std::string_view write_failure =
    "reeltext: error writing standard output: No space left on device\n";

// What an expected output may hold: a little more than any run may write.
constexpr std::uint64_t expected_cap = output_limit + 65'536;

std::uint32_t load_le32(std::string_view bytes, std::size_t at) {
  std::uint32_t word = 0;
  for (int k = 3; k >= 0; --k) word = word << 8 | static_cast<std::uint8_t>(bytes[at + k]);
  return word;
}

std::string le32(std::uint32_t word) {
  std::string bytes(4, '\0');
  for (int k = 0; k < 4; ++k) bytes[k] = static_cast<char>(word >> (8 * k));
  return bytes;
}

std::string hex_word(std::uint32_t word) {
  std::string shown(8, '0');
  for (int k = 7; k >= 0; --k, word >>= 4) shown[k] = "0123456789ABCDEF"[word & 15];
  return shown;
}

std::string hex_byte(std::uint8_t byte) {
  return std::string("byte 0x") + "0123456789ABCDEF"[byte >> 4] + "0123456789ABCDEF"[byte & 15];
}

bool is_word_line(std::string_view line) {
  return line == tape_mark_words || line == bad_record_words || line == erase_gap_words ||
         line == end_of_medium_words;
}

// The code of each byte in an arrangement, or -1.
std::array<int, 256> codes_of(const bcd::CodeTable& table) {
  std::array<int, 256> codes{};
  codes.fill(-1);
  for (std::size_t code = 0; code < table.size(); ++code)
    codes[static_cast<std::uint8_t>(table[code])] = static_cast<int>(code);
  return codes;
}

// Checks what standard output holds as it changes, from where the whole items checked so far
// end: a write that changes bytes before that point checks them all again.
class Check {
 public:
  Check(bool image, Framing framing, const bcd::CodeTable& table)
      : image_(image), framing_(framing), codes_(codes_of(table)) {}

  // Returns the rule `bytes` breaks at `moment`, or "".
  std::string_view scan(std::string_view bytes, Moment moment) {
    return image_ ? scan_image(bytes, moment) : scan_text(bytes, moment);
  }
  void changed_at(std::size_t offset) {
    if (offset < state_.at) state_ = {};
  }

 private:
  struct State {
    std::size_t at = 0;     // where the whole items checked end
    bool ended = false;     // after the end-of-medium marker
    bool bad_line = false;  // after the line "bad record"
  };

  std::string_view scan_image(std::string_view bytes, Moment moment);
  std::string_view scan_text(std::string_view bytes, Moment moment);

  bool image_;
  Framing framing_;
  std::array<int, 256> codes_;
  State state_;
};

std::string_view Check::scan_image(std::string_view bytes, Moment moment) {
  for (std::size_t& at = state_.at; at != bytes.size();) {
    if (state_.ended) return "the image goes on after the end-of-medium marker";
    const std::size_t rest = bytes.size() - at;
    if (rest < 4) return moment == Moment::piped ? "" : "the image ends inside a word";
    const std::uint32_t word = load_le32(bytes, at);
    if (word == 0 || word == erase_gap || word == end_of_medium) {
      state_.ended = word == end_of_medium;
      at += 4;
      continue;
    }
    if (word == placeholder) {
      if (moment != Moment::seekable)
        return "the image holds a placeholder for a record's count where it can't be written over";
      // The record being written follows: its codes, and perhaps its pad byte and trailing
      // count, which go before the count is written over the placeholder.
      if (rest - 4 > largest_record + 5) return "the placeholder stands before too much";
      return "";
    }
    const std::uint64_t size = word & ~bad_flag;
    if (word >= bad_flag && (size == 0 || size > largest_bad_record))
      return "the image holds a word that is no item";
    const std::uint64_t pad = framing_ == Framing::simh ? size % 2 : 0;
    const std::size_t there = std::min<std::size_t>(rest, 8 + size + pad);
    if (there < 8 + size + pad && moment != Moment::piped) return "the image ends inside a record";
    for (std::size_t k = at + 4; k < at + std::min<std::size_t>(there, 4 + size); ++k)
      if (static_cast<std::uint8_t>(bytes[k]) > 63) return "a record holds a byte above 63";
    if (pad != 0 && there > 4 + size && bytes[at + 4 + size] != 0) return "a pad byte is not 0";
    for (std::size_t k = 4 + size + pad; k < there; ++k)
      if (bytes[at + k] != bytes[at + k - (4 + size + pad)]) return "a record's words differ";
    if (there < 8 + size + pad) return "";  // the rest of it is to come
    at += there;
  }
  return "";
}

std::string_view Check::scan_text(std::string_view bytes, Moment moment) {
  for (std::size_t& at = state_.at;;) {
    const std::size_t newline = bytes.find('\n', at);
    if (newline == std::string_view::npos) {
      const std::string_view part = bytes.substr(at);
      if (moment == Moment::ended) {
        if (!part.empty()) return "the text ends inside a line";
        if (state_.bad_line) return "the text ends after the line 'bad record'";
      }
      // Part of a record's line, or of the line before it that says it is a bad one.
      for (const char c : part)
        if (codes_[static_cast<std::uint8_t>(c)] < 0 && c != ' ' && (c < 'a' || c > 'z'))
          return "a part of a line holds a character of no code";
      return "";
    }
    const std::string_view line = bytes.substr(at, newline - at);
    if (state_.ended) return "the text goes on after the line 'end of medium'";
    if (is_word_line(line)) {
      if (state_.bad_line) return "the line 'bad record' comes before no record's line";
      state_.bad_line = line == bad_record_words;
      state_.ended = line == end_of_medium_words;
    } else {
      if (line.empty()) return "the text holds an empty line";
      for (const char c : line)
        if (codes_[static_cast<std::uint8_t>(c)] < 0) return "a line holds a character of no code";
      state_.bad_line = false;
    }
    at = newline + 1;
  }
}

// Keeps what it is given in memory: seekable (then written over and cut back as a regular file
// is) or not, refusing writes past a limit with ENOSPC, and checked after every change.
class CheckedOutput final : public OutputSink {
 public:
  CheckedOutput(bool seekable, std::uint64_t limit, std::optional<Check> check)
      : seekable_(seekable), limit_(limit), check_(std::move(check)) {}

  int write(const char* data, std::size_t n) override {
    if (bytes.size() > limit_ || n > limit_ - bytes.size()) {
      refused = true;
      // A disk that fills takes what room it has; a pipe's reader here takes a write whole or
      // not at all, or no writer could keep what it reads good.
      if (seekable_ && bytes.size() < limit_)
        bytes.append(data, static_cast<std::size_t>(limit_ - bytes.size()));
      return ENOSPC;
    }
    bytes.append(data, n);
    verify();
    return 0;
  }
  bool seekable() const override { return seekable_; }
  int write_at(std::uint64_t offset, const char* data, std::size_t n) override {
    if (!seekable_) {
      note("written over though not seekable");
      return ESPIPE;
    }
    if (offset > bytes.size() || n > bytes.size() - offset) {
      note("written over past its end");
      return EINVAL;
    }
    bytes.replace(static_cast<std::size_t>(offset), n, data, n);
    if (check_) check_->changed_at(static_cast<std::size_t>(offset));
    verify();
    return 0;
  }
  int cut(std::uint64_t offset) override {
    if (!seekable_) return ESPIPE;
    if (offset < bytes.size()) {
      bytes.resize(static_cast<std::size_t>(offset));
      if (check_) check_->changed_at(static_cast<std::size_t>(offset));
    }
    verify();
    return 0;
  }
  // Checks what is left when the run has ended: whole items only, but where a write to a pipe
  // was refused, which may have been in the middle of a record.
  void finish() {
    if (check_ && fault.empty())
      fault = check_->scan(bytes, refused && !seekable_ ? Moment::piped : Moment::ended);
  }

  std::string bytes;
  bool refused = false;
  std::string_view fault;

 private:
  void note(std::string_view what) {
    if (fault.empty()) fault = what;
  }
  // After every change but a refused write, whose bytes a cut must take away again.
  void verify() {
    if (check_ && fault.empty())
      fault = check_->scan(bytes, seekable_ ? Moment::seekable : Moment::piped);
  }

  bool seekable_;
  std::uint64_t limit_;
  std::optional<Check> check_;
};

// Serves bytes in memory; a read that fails says why, as a disk's does.
class Served final : public tape_image::InputSource {
 public:
  Served(std::span<const std::uint8_t> bytes, std::size_t most_per_read, bool fail_at_end)
      : inner_(bytes, most_per_read, fail_at_end) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t n) override {
    const std::ptrdiff_t got = inner_.read(buf, n);
    if (got < 0) errno = EIO;
    return got;
  }
  std::uint64_t known_size() const override { return inner_.known_size(); }
  std::uint64_t skip(std::uint64_t n) override { return inner_.skip(n); }

 private:
  tape_image::MemorySource inner_;
};

bool opens(std::string_view name) { return name == image_name || name == text_name || name == "-"; }

std::string shown_name(const Options& options) {
  return options.input == "-" ? "standard input" : options.input;
}

bool files_asked(const Options& options) {
  return options.first_file > 1 || options.last_file != UINT64_MAX;
}

// Bytes gathered up to `expected_cap`.
struct Capped {
  std::string bytes;
  bool whole = true;
  void add(std::string_view text) {
    const std::size_t room = expected_cap - std::min<std::size_t>(expected_cap, bytes.size());
    if (text.size() > room) whole = false;
    bytes.append(text.substr(0, room));
  }
  void fill(char c, std::uint64_t n) {
    const std::size_t room = expected_cap - std::min<std::size_t>(expected_cap, bytes.size());
    if (n > room) whole = false;
    bytes.append(static_cast<std::size_t>(std::min<std::uint64_t>(n, room)), c);
  }
};

// The image and the text of the items read, each as reeltext writes it.
struct Items {
  explicit Items(const Options& options)
      : framing(tape_image::reading_of(options.format).framing),
        table(bcd::table_of(options.arrangement)) {}

  void mark(std::uint32_t word, std::string_view words) {
    image.add(le32(word));
    text.add(words);
    text.add("\n");
  }
  // A record of `codes`, then blanks up to `size`.
  void record(std::string_view codes, std::uint64_t size, bool bad) {
    const auto word = static_cast<std::uint32_t>(size | (bad ? bad_flag : 0));
    image.add(le32(word));
    image.add(codes);
    image.fill('\0', size - codes.size());
    if (framing == Framing::simh && size % 2 == 1) image.add(std::string_view("\0", 1));
    image.add(le32(word));
    if (bad) {
      text.add(bad_record_words);
      text.add("\n");
    }
    std::string chars(codes);
    for (char& c : chars) c = table[static_cast<std::uint8_t>(c)];
    text.add(chars);
    text.fill(table[0], size - codes.size());
    text.add("\n");
  }

  Framing framing;
  const bcd::CodeTable& table;
  Capped image;
  Capped text;
};

// What reeltext must make of the image `bytes`.
Expected expect_text(const Options& options, std::string_view bytes) {
  Expected expected;
  Items items(options);
  const auto done = [&](int status, std::string message) {
    expected.status = status;
    expected.message = std::move(message);
    expected.out = std::move(items.text.bytes);
    expected.out_whole = items.text.whole;
    expected.again = std::move(items.image.bytes);
    expected.again_whole = items.image.whole;
    return expected;
  };
  std::uint64_t file = 1;
  std::uint64_t record = 0;     // of the file, before the next
  bool others_in_file = false;  // erase gaps or the end-of-medium marker
  std::size_t at = 0;
  for (;;) {
    const bool writing = file >= options.first_file;
    const std::size_t rest = bytes.size() - at;
    if (rest == 0) break;
    if (rest < 4) {
      return done(3, std::to_string(rest) + (rest == 1 ? " stray byte" : " stray bytes") +
                         " at offset " + std::to_string(at) +
                         ", where a count should begin: text has no line for them");
    }
    const std::uint32_t word = load_le32(bytes, at);
    const std::uint64_t size = word & ~bad_flag;
    const bool bad = word >= bad_flag && size >= 1 && size <= largest_bad_record;
    if (word == 0) {
      at += 4;
      if (writing) items.mark(0, tape_mark_words);
      if (file == options.last_file) {
        return done(0, "");
      }
      ++file;
      record = 0;
      others_in_file = false;
    } else if (word == erase_gap || word == end_of_medium) {
      if (writing) items.mark(word, word == erase_gap ? erase_gap_words : end_of_medium_words);
      others_in_file = true;
      at += 4;
      if (word == end_of_medium) {
        if (at != bytes.size()) {
          return done(3, "bytes after the end-of-medium marker at offset " +
                             std::to_string(at - 4) + ": text has no line for them");
        }
        break;
      }
    } else if (word < bad_flag || bad) {
      ++record;
      const std::string place = "file " + std::to_string(file) + " record " +
                                std::to_string(record) + " at " + std::to_string(at) +
                                (bad ? ", a bad record: " : ": ");
      const std::size_t there = std::min<std::size_t>(rest - 4, size);
      std::string data(bytes.substr(at + 4, there));
      if (writing && !options.six_bits) {
        for (std::size_t k = 0; k < data.size(); ++k) {
          if (static_cast<std::uint8_t>(data[k]) > 63) {
            return done(3, place + hex_byte(static_cast<std::uint8_t>(data[k])) + " at offset " +
                               std::to_string(at + 4 + k) +
                               " is above 63: no character (-s writes its low six bits)");
          }
        }
      }
      if (there < size) {
        return done(3, place + "cut short in its data, " + std::to_string(there) + " of " +
                           std::to_string(size) + " bytes there");
      }
      const std::size_t pad =
          tape_image::reading_of(options.format).framing == Framing::simh ? size % 2 : 0;
      if (rest - 4 - size < pad) return done(4, place + "cut short before its pad byte");
      if (rest - 4 - size - pad < 4) {
        return done(4, place + "cut short in its trailing count, " +
                           std::to_string(rest - 4 - size - pad) + " of 4 bytes there");
      }
      const std::uint32_t trailer = load_le32(bytes, at + 4 + size + pad);
      if (trailer != word) {
        return done(4, place + (bad ? "leading word " + hex_word(word) + ", trailing word " +
                                          hex_word(trailer)
                                    : "leading count " + std::to_string(size) +
                                          ", trailing count " + std::to_string(trailer)));
      }
      for (char& c : data) c = static_cast<char>(c & 63);
      if (writing) items.record(data, size, bad);
      at += 8 + size + pad;
    } else {
      const bool half_gap = word == 0xFFFE'FFFF || (word & 0xFFFF'7F00) == 0xFFFF'0000;
      const std::string what = half_gap              ? "a half gap"
                               : word == placeholder ? "a record whose count was never "
                                                       "written, its writer stopped"
                                                     : "a reserved control word";
      return done(3, what + " (" + hex_word(word) + ") at offset " + std::to_string(at) +
                         ": text has no line for it");
    }
  }
  // The image has ended: a tape file asked for and not there is said.
  const std::uint64_t files = file - (record == 0 && !others_in_file ? 1 : 0);
  std::uint64_t missing = 0;
  if (files_asked(options)) {
    if (options.first_file > files)
      missing = options.first_file;
    else if (options.last_file != UINT64_MAX && options.last_file > files)
      missing = files + 1;
  }
  return done(0, missing == 0 ? "" : "the image ends before tape file " + std::to_string(missing));
}

// What reeltext -r must make of the text `bytes`.
Expected expect_image(const Options& options, std::string_view text) {
  Expected expected;
  Items items(options);
  const std::array<int, 256> codes = codes_of(bcd::table_of(options.arrangement));
  const auto done = [&](int status, std::string message) {
    expected.status = status;
    expected.message = std::move(message);
    expected.out = std::move(items.image.bytes);
    expected.out_whole = items.image.whole;
    expected.again = std::move(items.text.bytes);
    expected.again_whole = items.text.whole;
    return expected;
  };
  const std::string arrangement = options.arrangement == bcd::Arrangement::h          ? "H"
                                  : options.arrangement == bcd::Arrangement::old_simh ? "'old simh'"
                                                                                      : "A";
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::uint64_t line = 1;
  std::uint64_t bad_line = 0;     // the line "bad record" before this one, if any
  std::uint64_t medium_line = 0;  // the line "end of medium", if any
  // Returns why an item may not begin at this line (a record's, if `record`), or "".
  const auto refused = [&](bool record) -> std::string {
    if (medium_line != 0)
      return "line " + std::to_string(line) + " follows the end of the medium (line " +
             std::to_string(medium_line) + ")";
    if (!record && bad_line != 0)
      return "line " + std::to_string(bad_line) +
             " says 'bad record', but no record's line follows it";
    return "";
  };
  for (std::size_t at = 0; at < text.size(); ++line) {
    std::size_t end = text.find('\n', at);
    const bool newline = end != std::string_view::npos;
    if (!newline) end = text.size();
    const std::string_view whole = text.substr(at, end - at);
    at = end + 1;
    std::string_view chars = whole;
    if (newline && chars.ends_with('\r')) chars.remove_suffix(1);
    std::size_t other = 0;
    while (other < chars.size() && codes[static_cast<std::uint8_t>(chars[other])] >= 0) ++other;

    if (other == chars.size()) {  // a record's line, or an empty one
      if (chars.empty() && options.width == 0) {
        if (const std::string why = refused(false); !why.empty()) return done(3, why);
        items.mark(0, tape_mark_words);
        continue;
      }
      const std::uint64_t size = std::max<std::uint64_t>(chars.size(), options.width);
      const std::uint64_t most = bad_line != 0 ? largest_bad_record : largest_record;
      if (size > most)
        return done(3, "line " + std::to_string(line) + " is longer than " + std::to_string(most) +
                           " characters, the most a " + (bad_line != 0 ? "bad record" : "record") +
                           " holds");
      if (const std::string why = refused(true); !why.empty()) return done(3, why);
      std::string data(chars);
      for (char& c : data) c = static_cast<char>(codes[static_cast<std::uint8_t>(c)]);
      items.record(data, size, bad_line != 0);
      bad_line = 0;
      continue;
    }
    // A line of words: at most 64 bytes, blanks before the first byte of no code, and its
    // words alone but for blanks, tabs and carriage returns around them.
    std::string_view words = whole;
    while (!words.empty() &&
           (words.front() == ' ' || words.front() == '\t' || words.front() == '\r'))
      words.remove_prefix(1);
    while (!words.empty() && (words.back() == ' ' || words.back() == '\t' || words.back() == '\r'))
      words.remove_suffix(1);
    const bool blanks_before =
        chars.substr(0, other).find_first_not_of(' ') == std::string_view::npos;
    if (whole.size() > 64 || !blanks_before || !is_word_line(words)) {
      const auto byte = static_cast<std::uint8_t>(chars[other]);
      const std::string shown = byte >= 0x20 && byte < 0x7F
                                    ? std::string{'\'', static_cast<char>(byte), '\''}
                                    : hex_byte(byte);
      return done(3, "line " + std::to_string(line) + ", column " + std::to_string(other + 1) +
                         ": " + shown + " is not in print arrangement " + arrangement);
    }
    if (const std::string why = refused(false); !why.empty()) return done(3, why);
    if (words == bad_record_words) {
      bad_line = line;
    } else if (words == tape_mark_words) {
      items.mark(0, tape_mark_words);
    } else if (words == erase_gap_words) {
      items.mark(erase_gap, erase_gap_words);
    } else {
      items.mark(end_of_medium, end_of_medium_words);
      medium_line = line;
    }
  }
  if (bad_line != 0) return done(3, refused(false));  // its record's line never came
  return done(0, "");
}

// The arguments that choose the framing and the arrangement of `options`, for the way back.
std::vector<std::string> same_frame(const Options& options) {
  std::vector<std::string> args;
  if (tape_image::reading_of(options.format).framing == Framing::e11) args.emplace_back("-e");
  if (options.arrangement == bcd::Arrangement::h) args.emplace_back("-h");
  if (options.arrangement == bcd::Arrangement::old_simh) args.emplace_back("-o");
  return args;
}

// Returns standard error without the line of a refused write, which ends it if one was.
std::string_view told(const Outcome& outcome) {
  std::string_view err = outcome.err;
  if (outcome.out_refused && err.ends_with(write_failure)) err.remove_suffix(write_failure.size());
  return err;
}

std::size_t lines_in(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

std::vector<std::string> arguments_of(const SplitInput& split) {
  std::vector<std::string> args(split.args.begin(), split.args.end());
  if ((split.flags & 8) == 0 && !args.empty()) {
    std::vector<std::string> line = {"reeltext"};
    line.insert(line.end(), args.begin(), args.end());
    if (parse_command_line(line).options.reverse) args.back() = text_name;
  }
  return args;
}

Serving serving_of(const SplitInput& split) {
  Serving serving;
  const std::size_t size = split.image.size();
  if ((split.flags & short_reads) != 0) serving.most_per_read = 1 + size % 7;
  serving.fail_at_end = (split.flags & failing_read) != 0;
  serving.tiny = (split.flags & tiny_buffers) != 0;
  if ((split.flags & tight_output) != 0) serving.out_limit = size % 160;
  return serving;
}

// Returns whether the harness works out what reeltext writes in the format asked for: simh and
// E11, whose images and texts it models. Runs in the other formats are checked for the rest
// (no fault found, the status in range, the same output however the input is served).
bool modelled(const Options& options) {
  return options.format == tape_image::Format::simh || options.format == tape_image::Format::e11;
}

Outcome run_args(const std::vector<std::string>& args, std::span<const std::uint8_t> input,
                 const Serving& serving) {
  Outcome outcome;
  outcome.serving = serving;
  outcome.input_size = input.size();
  std::vector<std::string> line = {"reeltext"};
  line.insert(line.end(), args.begin(), args.end());
  outcome.command = parse_command_line(line);
  const Options& options = outcome.command.options;
  std::optional<Check> check;
  if (outcome.command.action == CommandLine::Action::run && modelled(options))
    check.emplace(options.reverse, tape_image::reading_of(options.format).framing,
                  bcd::table_of(options.arrangement));

  const tape_image::Opener open =
      [&](const std::string& name) -> std::unique_ptr<tape_image::InputSource> {
    if (!opens(name)) {
      errno = ENOENT;
      return nullptr;
    }
    return std::make_unique<Served>(input, serving.most_per_read, serving.fail_at_end);
  };
  CheckedOutput out(serving.seekable, serving.out_limit, std::move(check));
  CountingSink err(output_limit, true);
  Tuning tuning;
  tuning.kernel = serving.kernel;
  if (serving.tiny) {
    tuning.read_size = tape_image::TapeReader::page;
    tuning.buffer_size = RecordWriter::smallest_buffer_size;
    tuning.hold_memory = 64;
  }
  outcome.status = run(line, open, out, err, tuning);
  out.finish();
  outcome.out = std::move(out.bytes);
  outcome.err = std::move(err.all);
  outcome.out_refused = out.refused;
  outcome.fault = out.fault;
  return outcome;
}

std::string_view broken_rule(const Outcome& outcome) {
  const int status = outcome.status;
  if (status < 0 || status > 5) return "the exit status is outside 0 to 5";
  if (!outcome.fault.empty()) return outcome.fault;
  const std::string_view err = outcome.err;
  if (outcome.out_refused) {
    if (!err.ends_with(write_failure)) return "a refused write is not said";
    if (status != 5 && status != 3 && status != 4) return "a refused write with another status";
  } else if (status == 5) {
    return "status 5, yet no write was refused";
  }
  const CommandLine& command = outcome.command;
  if (command.action == CommandLine::Action::run && !modelled(command.options)) return "";
  switch (command.action) {
    case CommandLine::Action::bad:
      if (status != 1) return "a bad command line without status 1";
      if (err !=
          "reeltext: " + command.complaint + "\nTry 'reeltext --help' for more information.\n")
        return "a bad command line without its complaint";
      return outcome.out.empty() ? "" : "a bad command line writes output";
    case CommandLine::Action::help:
    case CommandLine::Action::version: {
      const std::string text =
          command.action == CommandLine::Action::help ? help_text() : version_text();
      if (outcome.out_refused)
        return status == 5 && err == write_failure && text.starts_with(outcome.out)
                   ? ""
                   : "the help or the version refused, and not so said";
      if (status != 0 || outcome.out != text || !err.empty())
        return "the help or the version is not written whole with status 0";
      return "";
    }
    case CommandLine::Action::run:
      break;
  }
  if (status == 1) return "status 1, yet the command line is good";
  const Options& options = command.options;
  if (!opens(options.input)) {
    if (status != 2 || !outcome.out.empty() ||
        err != "reeltext: cannot open " + options.input + ": No such file or directory\n")
      return "an input that can't be opened is not said so with status 2";
    return "";
  }
  if (status == 2) return "status 2, yet the input opened";
  const std::string prefix = "reeltext: " + shown_name(options) + ": ";
  const std::string_view said = told(outcome);
  if (status == 3 || status == 4) {
    if (!said.starts_with(prefix) || lines_in(said) != 1 || !said.ends_with('\n'))
      return "status 3 or 4 without one line about the input";
    if (status == 4 && options.reverse) return "status 4 from a text";
  } else if (!said.empty()) {
    const std::string before = prefix + "the image ends before tape file ";
    if (options.reverse || !files_asked(options) || !said.starts_with(before) ||
        lines_in(said) != 1 ||
        said.find_first_not_of("0123456789", before.size()) != said.size() - 1)
      return "standard error used with status 0 or 5 other than for a tape file not there";
  }
  if (outcome.serving.fail_at_end && status == 0 &&
      (options.reverse || options.last_file == UINT64_MAX))
    return "a failed read, yet status 0";
  return "";
}

std::string_view output_fault(const Options& options, std::string_view bytes, Moment moment) {
  Check check(options.reverse, tape_image::reading_of(options.format).framing,
              bcd::table_of(options.arrangement));
  return check.scan(bytes, moment);
}

Expected expected_of(const CommandLine& command, std::span<const std::uint8_t> input) {
  const std::string_view bytes(reinterpret_cast<const char*>(input.data()), input.size());
  return command.options.reverse ? expect_image(command.options, bytes)
                                 : expect_text(command.options, bytes);
}

std::string_view check_input(std::span<const std::uint8_t> input) {
  const SplitInput split = reel::fuzz::split_input(input);
  const std::vector<std::string> args = arguments_of(split);
  const Serving asked = serving_of(split);
  const Serving plain;
  const Outcome first = run_args(args, split.image, plain);
  if (const std::string_view rule = broken_rule(first); !rule.empty()) return rule;
  const CommandLine& command = first.command;
  const Options& options = command.options;
  const bool converts =
      command.action == CommandLine::Action::run && opens(options.input) && modelled(options);

  // The plain run against what the harness works out, and the round trip.
  if (converts) {
    const Expected expected = expected_of(command, split.image);
    if (!first.out_refused) {
      if (!expected.out_whole || first.out != expected.out)
        return "the output is not the expected one";
      if (first.status != expected.status) return "the status is not the expected one";
      const std::string said = expected.message.empty() ? ""
                                                        : "reeltext: " + shown_name(options) +
                                                              ": " + expected.message + "\n";
      if (first.err != said) return "the message is not the expected one";
    } else if (!std::string_view(expected.out).starts_with(first.out)) {
      return "the output before a refused write is not the start of the expected one";
    }
    if (first.status == 0 && !first.out_refused && expected.again_whole) {
      std::vector<std::string> back = same_frame(options);
      if (!options.reverse) back.insert(back.begin(), "-r");
      back.emplace_back(options.reverse ? image_name : text_name);
      const auto* out = reinterpret_cast<const std::uint8_t*>(first.out.data());
      const Outcome again = run_args(back, {out, first.out.size()}, plain);
      if (const std::string_view rule = broken_rule(again); !rule.empty()) return rule;
      if (again.status != 0 || again.out != expected.again)
        return options.reverse ? "the image built, written as text, is not the text as written"
                               : "the text written, built back, is not the image";
    }
  }

  // The same input served otherwise: as asked, seekable and not, and with every kernel.
  std::vector<Serving> ways;
  if (asked.most_per_read != plain.most_per_read || asked.fail_at_end || asked.tiny ||
      asked.out_limit != plain.out_limit)
    ways.push_back(asked);
  // Not seekable, a record is held whole before it is written: under -w, lines of blanks past
  // the output limit would all be held.
  const bool pipe = !(converts && options.reverse && options.width > output_limit);
  if (pipe) {
    ways.push_back(asked);
    ways.back().seekable = false;
  }
  const std::span<const bcd::KernelId> kernels = bcd::kernels_here();
  for (std::size_t k = 0; k < kernels.size(); ++k) {
    Serving other = asked;
    other.kernel = kernels[k];
    other.seekable = !pipe || k % 2 == 0;
    other.most_per_read = asked.most_per_read == plain.most_per_read ? 1 + split.image.size() % 7
                                                                     : plain.most_per_read;
    ways.push_back(other);
  }
  for (const Serving& way : ways) {
    const Outcome run = run_args(args, split.image, way);
    if (const std::string_view rule = broken_rule(run); !rule.empty()) return rule;
    const auto same = [&] {
      return run.status == first.status && run.out == first.out && run.err == first.err;
    };
    if (!run.out_refused && !first.out_refused && !way.fail_at_end) {
      if (!same()) return "a run served otherwise gives otherwise";
      continue;
    }
    if (!run.out_refused && !first.out_refused) {  // the read at the end failed
      if (!std::string_view(first.out).starts_with(run.out))
        return "the output before a failed read is not the start of the whole output";
      if (run.status == 0 && !same())
        return "a failed read, unseen, yet a run that gives otherwise";
      if (first.status == 0 && run.status != 0 &&
          (run.status != 3 ||
           told(run) != "reeltext: " + shown_name(options) + ": read error at offset " +
                            std::to_string(split.image.size()) + " (Input/output error)\n"))
        return "a failed read at the end is not said so";
      continue;
    }
    if (!std::string_view(first.out).starts_with(run.out) &&
        !std::string_view(run.out).starts_with(first.out))
      return "the output before a refused write is not the start of the whole output";
  }
  return "";
}

}  // namespace reel::reeltext::fuzz
