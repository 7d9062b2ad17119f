#include "reeltext/to_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "bcd/dispatch.h"
#include "common/status.h"
#include "reeltext/messages.h"
#include "reeltext/words.h"
#include "tape_image/control_word.h"

namespace reelprint::reeltext {
namespace {

using tape_image::TapeReader;

using tape_image::WordKind;

static_assert(TapeReader::readable_past_end >= bcd::reach);

// Returns the place of the first of the `n` bytes at `p` that is above 63 (there is one).
std::size_t first_above_63(const std::uint8_t* p, std::size_t n) {
  std::size_t k = 0;
  while (k + 1 < n && p[k] < 64) ++k;
  return k;
}

// Writes the characters of the `n` bytes at `src` at `dst`, and up to `bcd::reach` past them.
template <bcd::Kernel K>
inline void translate(const K& kernel, const std::uint8_t* src, std::size_t n, char* dst) {
  constexpr std::size_t line = bcd::widest_translated_line;
  for (std::size_t k = 0; k < n; k += line)
    kernel.translate(src + k, std::min(line, n - k), dst + k);
}

// The run over one image, compiled for the kernel `K` that the processor runs: entered once.
template <bcd::Kernel K>
class TextWriter {
 public:
  TextWriter(const Options& options, std::string_view input_name, TapeReader& reader,
             RecordWriter& out, OutputSink& err, const K& kernel)
      : options_(options),
        input_name_(input_name),
        reader_(reader),
        out_(out),
        err_(err),
        kernel_(kernel),
        room_at_once_(out.buffer_size() / 2),
        most_whole_(static_cast<std::uint32_t>(room_at_once_ - bcd::reach - 1)) {}

  int write();

 private:
  bool writing() const { return file_ >= options_.first_file; }
  void take_loaded();
  std::size_t write_run(std::span<const std::uint8_t> bytes, char*& p, const char* end);
  int take_word(std::uint32_t word);
  int take_record(std::uint32_t word, std::uint32_t size);
  void put_words(Item item);
  int ended();
  int broken(std::uint64_t at, bool bad, std::string_view what, int status);
  int above_63(std::uint64_t at, bool bad, const std::uint8_t* data, std::size_t n);

  const Options& options_;
  const std::string_view input_name_;
  TapeReader& reader_;
  RecordWriter& out_;
  OutputSink& err_;
  const K kernel_;
  const std::size_t room_at_once_;  // the output room asked for at once
  const std::uint32_t most_whole_;  // the longest record written whole among others
  std::uint64_t file_ = 1;          // the tape file being read
  std::uint64_t record_ = 0;        // the records of that file before the one read next
  bool gaps_in_file_ = false;       // erase gaps came in it
  std::uint64_t offset_ = 0;        // of the next byte of the image not yet taken
};

template <bcd::Kernel K>
int TextWriter<K>::write() {
  if (options_.first_file > options_.last_file) return status_ok;
  for (;;) {
    take_loaded();
    if (out_.error() != 0) return status_write_failed;
    const std::span<const std::uint8_t> head = reader_.data(4);
    if (head.size() < 4) {
      if (reader_.failed()) return say_read_failed(err_, input_name_, offset_ + head.size(), errno);
      if (head.empty()) return ended();
      return say(err_, input_name_,
                 count_of(head.size(), "stray byte") + " at offset " + std::to_string(offset_) +
                     ", where a count should begin: text has no line for them",
                 status_read_failed);
    }
    const std::uint32_t word = tape_image::load_le32(head.data());
    if (word == 0) {  // a tape mark ends the file
      reader_.consume(4);
      offset_ += 4;
      put_words(Item::tape_mark);
      if (file_ == options_.last_file) return status_ok;
      ++file_;
      record_ = 0;
      gaps_in_file_ = false;
      continue;
    }
    if (const int status = take_word(word); status != status_ok) return status;
    if (word == tape_image::end_of_medium_word) return ended();
  }
}

// Writes the line of the words of `item`, if its tape file is written.
template <bcd::Kernel K>
void TextWriter<K>::put_words(Item item) {
  if (!writing()) return;
  const std::string_view words = words_of(item);
  char* const p = out_.room(words.size() + 1);
  std::memcpy(p, words.data(), words.size());
  p[words.size()] = '\n';
  out_.commit(p + words.size() + 1);
}

// Takes the item whose first word, `word`, is next and is no tape mark: a record, a bad record,
// an erase gap, the end-of-medium marker; or stops at a word past which nothing can be read.
// Returns the status.
template <bcd::Kernel K>
[[gnu::noinline]] int TextWriter<K>::take_word(std::uint32_t word) {
  const auto stops = [&](std::string_view what) {
    return say(err_, input_name_,
               std::string(what) + " (" + hex_word(word) + ") at offset " +
                   std::to_string(offset_) + ": text has no line for it",
               status_read_failed);
  };
  switch (tape_image::kind_of(word)) {
    case WordKind::count:
      return take_record(word, word);
    case WordKind::bad_record:
      return take_record(word, word & ~tape_image::bad_record_flag);
    case WordKind::erase_gap:
    case WordKind::end_of_medium:
      reader_.consume(4);
      offset_ += 4;
      gaps_in_file_ = true;
      put_words(word == tape_image::erase_gap_word ? Item::erase_gap : Item::end_of_medium);
      return status_ok;
    case WordKind::half_gap:
      return stops("a half gap");
    case WordKind::placeholder:
      return stops("a record whose count was never written, its writer stopped");
    case WordKind::reserved:
      break;
  }
  return stops("a reserved control word");
}

// Ends the run where the image has ended: after the end-of-medium marker, bytes that are no
// tape have no line; tape files asked for and not there are said. Returns the status.
template <bcd::Kernel K>
[[gnu::noinline]] int TextWriter<K>::ended() {
  if (!reader_.data(1).empty())
    return say(err_, input_name_,
               "bytes after the end-of-medium marker at offset " + std::to_string(offset_ - 4) +
                   ": text has no line for them",
               status_read_failed);
  if (reader_.failed()) return say_read_failed(err_, input_name_, offset_, errno);
  // The tape files there are: the last one read, if anything of it was.
  const std::uint64_t files = file_ - (record_ == 0 && !gaps_in_file_ ? 1 : 0);
  const bool asked = options_.first_file > 1 || options_.last_file != UINT64_MAX;
  const std::uint64_t missing =
      !asked                        ? 0
      : options_.first_file > files ? options_.first_file
      : options_.last_file != UINT64_MAX && options_.last_file > files ? files + 1
                                                                        : 0;
  if (missing != 0)
    say(err_, input_name_, "the image ends before tape file " + std::to_string(missing), 0);
  return status_ok;
}

// Takes the records that lie whole among the loaded bytes, and stops before the first other
// one. Most records of an image are such.
template <bcd::Kernel K>
void TextWriter<K>::take_loaded() {
  for (std::size_t taken = 1; taken != 0 && out_.error() == 0;) {
    const std::span<const std::uint8_t> bytes = reader_.loaded();
    if (!writing()) {  // read past
      std::uint64_t records = 0;
      taken = tape_image::take_whole_records(bytes, tape_image::largest_record, options_.framing,
                                             [&](const std::uint8_t*, std::uint32_t) {
                                               ++records;
                                               return true;
                                             });
      record_ += records;
      offset_ += taken;
    } else {
      char* p = out_.room(room_at_once_);
      taken = write_run(bytes, p, out_.room_end());
      out_.commit(p);
    }
    reader_.consume(taken);
  }
}

// Writes the records that lie whole at the front of `bytes` at `p` while there is room before
// `end`, each one's characters and a newline; stops before a record with a byte above 63,
// unless those are written by their low six bits. Moves `p` on; returns the bytes taken.
template <bcd::Kernel K>
std::size_t TextWriter<K>::write_run(std::span<const std::uint8_t> bytes, char*& p,
                                     const char* end) {
  // Copies of their own, which the compiler can see no store reach, stay in registers.
  const K kernel = kernel_;
  const bool six_bits = options_.six_bits;
  char* q = p;
  std::uint64_t records = 0;
  const std::size_t taken = tape_image::take_whole_records(
      bytes, most_whole_, options_.framing, [&](const std::uint8_t* data, std::uint32_t size) {
        if (static_cast<std::size_t>(end - q) < size + 1 + bcd::reach) return false;
        if (!six_bits && !kernel.all_codes(data, size)) return false;
        translate(kernel, data, size, q);
        q[size] = '\n';
        q += size + 1;
        ++records;
        return true;
      });
  p = q;
  record_ += records;
  offset_ += taken;
  return taken;
}

// Says that the record at `at` (a bad record, if `bad`) breaks, `what` telling how; returns
// `status`.
template <bcd::Kernel K>
[[gnu::noinline]] int TextWriter<K>::broken(std::uint64_t at, bool bad, std::string_view what, int status) {
  out_.drop();
  return say(err_, input_name_,
             record_place(file_, record_, at) + (bad ? ", a bad record: " : ": ") +
                 std::string(what),
             status);
}

// Says that the record at `at` (a bad record, if `bad`) holds a byte above 63 among the `n`
// bytes at `data`, the next of the image; returns the status.
template <bcd::Kernel K>
[[gnu::noinline]] int TextWriter<K>::above_63(std::uint64_t at, bool bad, const std::uint8_t* data,
                                              std::size_t n) {
  const std::size_t k = first_above_63(data, n);
  return broken(at, bad,
                hex_byte(data[k]) + " at offset " + std::to_string(offset_ + k) +
                    " is above 63: no character (-s writes its low six bits)",
                status_read_failed);
}

// Takes the record whose leading word, `word`, is next, of `size` data bytes, a piece at a
// time: its line (after the line that says it is bad, if it is) becomes output when its
// trailing word has been read and found equal. The records of tape files not written are
// passed over, by seeking where the input allows. Returns the status.
template <bcd::Kernel K>
int TextWriter<K>::take_record(std::uint32_t word, std::uint32_t size) {
  const bool bad = word != size;
  const std::uint64_t at = offset_;
  ++record_;
  reader_.consume(4);
  offset_ += 4;
  const bool writing = this->writing();
  char* p = nullptr;
  const char* end = nullptr;
  if (writing) {
    p = out_.begin(out_.room(room_at_once_), "");
    end = out_.room_end();
    if (bad) {
      const std::string_view words = words_of(Item::bad_record);
      std::memcpy(p, words.data(), words.size());
      p[words.size()] = '\n';
      p += words.size() + 1;
    }
  }
  std::uint64_t left = size;
  if (!writing) {
    left -= reader_.skip(left);
    offset_ += size - left;
  }
  while (left != 0) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, TapeReader::most_wanted));
    const std::span<const std::uint8_t> bytes = reader_.data(wanted);
    if (bytes.size() < wanted) {
      // The data there comes first: a byte above 63 in it is told wherever the reads happened
      // to end, before the end of the input or a failed read past it.
      if (!options_.six_bits && !kernel_.all_codes(bytes.data(), bytes.size()))
        return above_63(at, bad, bytes.data(), bytes.size());
      if (reader_.failed()) {
        out_.drop();
        return say_read_failed(err_, input_name_, offset_ + bytes.size(), errno);
      }
      return broken(at, bad,
                    "cut short in its data, " + std::to_string(size - left + bytes.size()) +
                        " of " + std::to_string(size) + " bytes there",
                    status_read_failed);
    }
    const auto n = static_cast<std::size_t>(
        std::min<std::uint64_t>({left, bytes.size(), room_at_once_ - bcd::reach - 1}));
    if (!options_.six_bits && !kernel_.all_codes(bytes.data(), n))
      return above_63(at, bad, bytes.data(), n);
    if (static_cast<std::size_t>(end - p) < n + bcd::reach + 1) {
      out_.commit(p);
      p = out_.room(room_at_once_);
      end = out_.room_end();
      if (out_.error() != 0) {
        out_.drop();
        return status_write_failed;
      }
    }
    translate(kernel_, bytes.data(), n, p);
    p += n;
    reader_.consume(n);
    offset_ += n;
    left -= n;
  }
  const auto pad = static_cast<std::size_t>(tape_image::pad_after(size, options_.framing));
  const std::span<const std::uint8_t> tail = reader_.data(pad + 4);
  if (tail.size() < pad + 4) {
    if (reader_.failed()) {
      out_.drop();
      return say_read_failed(err_, input_name_, offset_ + tail.size(), errno);
    }
    if (tail.size() < pad)
      return broken(at, bad, "cut short before its pad byte", status_unequal_counts);
    return broken(at, bad,
                  "cut short in its trailing count, " + std::to_string(tail.size() - pad) +
                      " of 4 bytes there",
                  status_unequal_counts);
  }
  const std::uint32_t trailer = tape_image::load_le32(tail.data() + pad);
  if (trailer != word)
    return broken(at, bad,
                  bad ? "leading word " + hex_word(word) + ", trailing word " + hex_word(trailer)
                      : "leading count " + std::to_string(size) + ", trailing count " +
                            std::to_string(trailer),
                  status_unequal_counts);
  reader_.consume(pad + 4);
  offset_ += pad + 4;
  if (writing) {
    *p++ = '\n';  // room was left for it
    const char no_header[4] = {};
    out_.end(p, no_header);
  }
  return out_.error() == 0 ? status_ok : status_write_failed;
}

}  // namespace

int write_text(const Options& options, std::string_view input_name, TapeReader& reader,
               RecordWriter& out, OutputSink& err, bcd::KernelId kernel) {
  const bcd::DisplayTable table = bcd::prepare(options.arrangement, ' ');
  // The kernel is entered once: the whole run is compiled for each.
  return bcd::with_kernel(kernel, table, [&](const auto& kernel_here) {
    return TextWriter(options, input_name, reader, out, err, kernel_here).write();
  });
}

}  // namespace reelprint::reeltext
