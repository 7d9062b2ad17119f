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
#include "tape_image/account.h"
#include "tape_image/walk.h"

namespace reel::reeltext {
namespace {

using tape_image::TapeReader;

using tape_image::EndKind;

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
// It visits the walk of the image, which reads simh's control words.
template <bcd::Kernel K>
class TextWriter {
 public:
  TextWriter(const Options& options, std::string_view input_name, RecordWriter& out,
             OutputSink& err, const K& kernel)
      : options_(options),
        input_name_(input_name),
        out_(out),
        err_(err),
        kernel_(kernel),
        room_at_once_(out.buffer_size() / 2),
        most_whole_(static_cast<std::uint32_t>(room_at_once_ - bcd::reach - 1)) {}

  int write(TapeReader& reader);

  // The walk's visitor.
  bool records(tape_image::Run& run);
  std::uint64_t begin_record(const tape_image::Record& record);
  bool piece(std::span<const std::uint8_t> bytes, std::size_t& used);
  std::size_t want(std::uint64_t) const { return 1; }
  bool end_record(const tape_image::Record&);
  bool tape_mark(const tape_image::Place& place);
  bool erase_gap(const tape_image::Place&) {
    gaps_in_file_ = true;
    put_words(Item::erase_gap);
    return true;
  }

 private:
  bool writing() const { return file_ >= options_.first_file; }
  void put_words(Item item);
  int ended(TapeReader& reader, const tape_image::Walk& walk);
  int stops(std::string_view what, const tape_image::Ending& ending);
  int above_63(const std::uint8_t* data, std::size_t n);

  const Options& options_;
  const std::string_view input_name_;
  RecordWriter& out_;
  OutputSink& err_;
  const K kernel_;
  const std::size_t room_at_once_;  // the output room asked for at once
  const std::uint32_t most_whole_;  // the longest record written whole among others
  std::uint64_t file_ = 1;          // the tape file being read
  bool gaps_in_file_ = false;       // erase gaps came in it
  int status_ = status_ok;          // what stopped the walk, if it was stopped
  // The record being written a piece at a time: where its next data byte lies in the image,
  // and in the output.
  tape_image::Record record_{};
  std::uint64_t data_at_ = 0;
  char* p_ = nullptr;
  const char* end_ = nullptr;
};

template <bcd::Kernel K>
int TextWriter<K>::write(TapeReader& reader) {
  if (options_.first_file > options_.last_file) return status_ok;
  tape_image::Walk walk(tape_image::reading_of(options_.format));
  tape_image::walk_image(reader, walk, *this);
  if (walk.stopped()) return status_;
  const tape_image::Ending& ending = walk.ending();
  switch (ending.kind) {
    case EndKind::empty:
    case EndKind::after_tape_mark:
    case EndKind::after_record:
    case EndKind::after_gap:
    case EndKind::zero_fill:
      return ended(reader, walk);
    case EndKind::end_of_medium:
      gaps_in_file_ = true;
      put_words(Item::end_of_medium);
      if (!reader.data(1).empty())
        return say(err_, input_name_,
                   "bytes after the end-of-medium marker at offset " + std::to_string(ending.at) +
                       ": text has no line for them",
                   status_read_failed);
      return ended(reader, walk);
    case EndKind::stray_bytes:
      return say(err_, input_name_,
                 count_of(ending.bytes, "stray byte") + " at offset " + std::to_string(ending.at) +
                     ", where a count should begin: text has no line for them",
                 status_read_failed);
    case EndKind::half_gap:
      return stops("a half gap", ending);
    case EndKind::placeholder:
      return stops("a record whose count was never written, its writer stopped", ending);
    case EndKind::reserved_word:
      return stops("a reserved control word", ending);
    case EndKind::read_error:
      out_.drop();
      return say_read_failed(err_, input_name_, reader.offset() + reader.loaded().size(),
                             reader.error());
    case EndKind::in_data:
    case EndKind::before_pad:
    case EndKind::in_trailer:
    case EndKind::unequal_counts:
      break;
  }
  out_.drop();
  return say(err_, input_name_,
             record_place(ending.file, ending.record, ending.at) +
                 (ending.bad ? ", a bad record: " : ": ") + tape_image::how_broken(ending),
             tape_image::status_of(ending));
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

// Says that the walk stops at a control word past which nothing can be read, `what` naming it;
// returns the status.
template <bcd::Kernel K>
[[gnu::noinline]] int TextWriter<K>::stops(std::string_view what,
                                           const tape_image::Ending& ending) {
  return say(err_, input_name_,
             std::string(what) + " (" + hex_word(ending.word) + ") at offset " +
                 std::to_string(ending.at) + ": text has no line for it",
             status_read_failed);
}

// Ends the run where the image has ended: tape files asked for and not there are said. Returns
// the status.
template <bcd::Kernel K>
[[gnu::noinline]] int TextWriter<K>::ended(TapeReader& reader, const tape_image::Walk& walk) {
  if (reader.failed()) return say_read_failed(err_, input_name_, reader.offset(), reader.error());
  // The tape files there are: the last one read, if anything of it was.
  const std::uint64_t files = file_ - (walk.place().record == 0 && !gaps_in_file_ ? 1 : 0);
  const bool asked = options_.first_file > 1 || options_.last_file != UINT64_MAX;
  const std::uint64_t missing = !asked                        ? 0
                                : options_.first_file > files ? options_.first_file
                                : options_.last_file != UINT64_MAX && options_.last_file > files
                                    ? files + 1
                                    : 0;
  if (missing != 0)
    say(err_, input_name_, "the image ends before tape file " + std::to_string(missing), 0);
  return status_ok;
}

// A tape mark ends the file: the last one written ends the run.
template <bcd::Kernel K>
bool TextWriter<K>::tape_mark(const tape_image::Place& place) {
  put_words(Item::tape_mark);
  if (place.file == options_.last_file) return false;
  file_ = place.file + 1;
  gaps_in_file_ = false;
  return out_.error() == 0 || (status_ = status_write_failed, false);
}

// Writes the records that lie whole at the front of the run, each one's characters and a
// newline; stops before a record with a byte above 63, unless those are written by their low
// six bits. The records of tape files not written are read past.
template <bcd::Kernel K>
bool TextWriter<K>::records(tape_image::Run& run) {
  if (out_.error() != 0) {
    status_ = status_write_failed;
    return false;
  }
  if (!writing()) {
    run.take(tape_image::largest_record, [](const std::uint8_t*, std::uint32_t) { return true; });
    return true;
  }
  // Copies of their own, which the compiler can see no store reach, stay in registers.
  const K kernel = kernel_;
  const bool six_bits = options_.six_bits;
  char* q = out_.room(room_at_once_);
  const char* const end = out_.room_end();
  run.take(most_whole_, [&](const std::uint8_t* data, std::uint32_t size) {
    if (static_cast<std::size_t>(end - q) < size + 1 + bcd::reach) return false;
    if (!six_bits && !kernel.all_codes(data, size)) return false;
    translate(kernel, data, size, q);
    q[size] = '\n';
    q += size + 1;
    return true;
  });
  out_.commit(q);
  return true;
}

// A record read a piece at a time: its line (after the line that says it is bad, if it is)
// becomes output when its trailing word has been read and found equal. The records of tape
// files not written are passed over, by seeking where the input allows.
template <bcd::Kernel K>
std::uint64_t TextWriter<K>::begin_record(const tape_image::Record& record) {
  if (!writing()) return 0;
  record_ = record;
  data_at_ = record.place.offset + 4;
  p_ = out_.begin(out_.room(room_at_once_), "");
  end_ = out_.room_end();
  if (record.bad) {
    const std::string_view words = words_of(Item::bad_record);
    std::memcpy(p_, words.data(), words.size());
    p_[words.size()] = '\n';
    p_ += words.size() + 1;
  }
  return record.size;
}

template <bcd::Kernel K>
bool TextWriter<K>::piece(std::span<const std::uint8_t> bytes, std::size_t& used) {
  const std::size_t n = std::min(bytes.size(), room_at_once_ - bcd::reach - 1);
  if (!options_.six_bits && !kernel_.all_codes(bytes.data(), n)) {
    status_ = above_63(bytes.data(), n);
    return false;
  }
  if (static_cast<std::size_t>(end_ - p_) < n + bcd::reach + 1) {
    out_.commit(p_);
    p_ = out_.room(room_at_once_);
    end_ = out_.room_end();
    if (out_.error() != 0) {
      out_.drop();
      status_ = status_write_failed;
      return false;
    }
  }
  translate(kernel_, bytes.data(), n, p_);
  p_ += n;
  data_at_ += n;
  used = n;
  return true;
}

template <bcd::Kernel K>
bool TextWriter<K>::end_record(const tape_image::Record&) {
  if (writing()) {
    *p_++ = '\n';  // room was left for it
    const char no_header[4] = {};
    out_.end(p_, no_header);
  }
  if (out_.error() == 0) return true;
  status_ = status_write_failed;
  return false;
}

// Says that the record being written holds a byte above 63 among the `n` bytes at `data`, its
// next; returns the status.
template <bcd::Kernel K>
[[gnu::noinline]] int TextWriter<K>::above_63(const std::uint8_t* data, std::size_t n) {
  const std::size_t k = first_above_63(data, n);
  out_.drop();
  const tape_image::Place& place = record_.place;
  return say(err_, input_name_,
             record_place(place.file, place.record, place.offset) +
                 (record_.bad ? ", a bad record: " : ": ") + hex_byte(data[k]) + " at offset " +
                 std::to_string(data_at_ + k) +
                 " is above 63: no character (-s writes its low six bits)",
             status_read_failed);
}

}  // namespace

int write_text(const Options& options, std::string_view input_name, TapeReader& reader,
               RecordWriter& out, OutputSink& err, bcd::KernelId kernel) {
  const bcd::DisplayTable table = bcd::prepare(options.arrangement, ' ');
  // The kernel is entered once: the whole run is compiled for each.
  return bcd::with_kernel(kernel, table, [&](const auto& kernel_here) {
    return TextWriter(options, input_name, out, err, kernel_here).write(reader);
  });
}

}  // namespace reel::reeltext
