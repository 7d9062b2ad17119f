#include "reeltext/to_image.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "common/status.h"
#include "reeltext/messages.h"
#include "bcd/dispatch.h"

namespace reelprint::reeltext {
namespace {

using tape_image::Framing;
using tape_image::TapeReader;

constexpr std::uint64_t longest_record = 0xFFFFFFFF;
// Bytes loaded at once before a block is scanned: the block, and the byte after it, which
// tells whether a carriage return at its end comes before a newline.
constexpr std::size_t ahead = bcd::text_block + 1;
static_assert(ahead <= TapeReader::most_wanted);
static_assert(TapeReader::readable_past_end >= bcd::text_block);
// Output room kept past the bytes written before a block is scanned: the block's codes, and
// for each of its newlines a pad byte, a trailing count and the next record's leading count,
// and the codes written past the last.
constexpr std::size_t slack = bcd::text_block * (1 + 9) + bcd::text_block;

// Returns the bits of bytes 0 to `n` - 1 of a block, `n` at most 64.
inline std::uint64_t below(std::size_t n) {
  return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// Writes `value` at `p` as a little-endian count.
inline void put_le32(char* p, std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &value, 4);
  } else {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<char>(value >> (8 * k));
  }
}

// The run over one text, compiled for the scanning kernel `K`: entered once.
//
// The record of the line being read starts with its leading count, whose bytes are kept free
// until the line ends. While the record is in the output room the run fills the count in
// itself; once the line outgrows the room, the record is handed to the writer, which holds it
// until it ends.
template <bcd::Kernel K>
class Builder {
 public:
  Builder(const Options& options, std::string_view input_name, TapeReader& reader,
          RecordWriter& out, OutputSink& err, const K& kernel)
      : options_(options),
        input_name_(input_name),
        reader_(reader),
        out_(out),
        err_(err),
        kernel_(kernel),
        room_at_once_(out.buffer_size() / 2) {}

  int build();

 private:
  // Where the run stands in the output room.
  struct Room {
    char* p;            // where the next code goes
    char* open;         // the leading count of the line's record, or nullptr once the writer
                        // holds the record
    const char* limit;  // a block is scanned at no later place
  };

  bool pad_to_width(Room& room, std::uint64_t length);
  bool more_room(Room& room, std::uint64_t length);
  void discard(const Room& room);
  int too_long(const Room& room);
  int refuse(const Room& room, std::uint8_t byte, std::uint64_t column);

  const Options& options_;
  const std::string_view input_name_;
  TapeReader& reader_;
  RecordWriter& out_;
  OutputSink& err_;
  const K kernel_;
  const std::size_t room_at_once_;
  std::uint64_t line_ = 1;    // the number of the line being read
  std::uint64_t offset_ = 0;  // of the next byte of the text not yet taken
  int status_ = status_ok;    // of the failure that a call returning false met
};

template <bcd::Kernel K>
int Builder<K>::build() {
  // Copies of their own, which the compiler can see no store reach, stay in registers.
  const K kernel = kernel_;
  const std::uint32_t width = options_.width;
  const bool simh = options_.framing == Framing::simh;
  Room room{out_.room(room_at_once_), nullptr, out_.room_end() - slack};
  room.open = room.p;
  room.p += 4;
  std::uint64_t length = 0;  // the characters of the line so far

  // Ends the record of the line of `n` codes, which end at `room.p`: a tape mark if it has
  // none, else padded to the width asked for, then its pad byte and trailing count; begins the
  // next line's record.
  const auto end_line = [&](std::uint64_t n) {
    if (n > longest_record) {
      status_ = too_long(room);
      return false;
    }
    if (n < width && n != 0) [[unlikely]] {  // an empty line stays a tape mark
      if (!pad_to_width(room, n)) return false;
      n = width;
    }
    const auto size = static_cast<std::uint32_t>(n);
    if (size != 0) {
      if (simh && size % 2 == 1) *room.p++ = 0;
      put_le32(room.p, size);
      room.p += 4;
    }
    if (room.open != nullptr) [[likely]] {
      put_le32(room.open, size);
    } else {
      char count[4];
      put_le32(count, size);
      out_.end(room.p, count);
    }
    room.open = room.p;
    room.p += 4;
    return true;
  };

  // Takes the block of `valid` bytes at `pos`, the next of the text: each piece of a line in
  // it, from `from` to the next newline or to the block's end. The block is scanned once, its
  // codes written where its first piece goes; the pieces after a newline are translated where
  // they go. Blocks come one after another: where one is read does not wait for where the lines
  // before it ended. Returns false on a failure.
  const std::uint8_t* pos = nullptr;
  const std::uint8_t* stop = nullptr;
  const auto take_block = [&](std::size_t valid) {
    const std::uint64_t in = below(valid);
    const bcd::TextScan scan = kernel.scan_text(pos, reinterpret_cast<std::uint8_t*>(room.p));
    std::uint64_t newlines = scan.newlines & in;
    const std::uint64_t others = scan.others & in;
    if (others == 0) [[likely]] {
      std::size_t from = 0;
      for (; newlines != 0; newlines &= newlines - 1) {
        const auto to = static_cast<std::size_t>(std::countr_zero(newlines));
        if (from != 0) kernel.encode_text(pos + from, reinterpret_cast<std::uint8_t*>(room.p));
        room.p += to - from;
        if (!end_line(length + (to - from))) return false;
        length = 0;
        ++line_;
        from = to + 1;
      }
      if (from != 0) kernel.encode_text(pos + from, reinterpret_cast<std::uint8_t*>(room.p));
      room.p += valid - from;
      length += valid - from;
      return true;
    }
    // The same, each piece checked for bytes that are no characters.
    for (std::size_t from = 0;;) {
      const bool ends = newlines != 0;
      const std::size_t to = ends ? static_cast<std::size_t>(std::countr_zero(newlines)) : valid;
      std::size_t end = to;
      if ((others & below(to) & ~below(from)) != 0) {
        // A carriage return before a newline is dropped; anything else is refused.
        const auto k = static_cast<std::size_t>(std::countr_zero(others & ~below(from)));
        if (pos[k] != '\r' || static_cast<std::size_t>(stop - pos) <= k + 1 || pos[k + 1] != '\n') {
          status_ = refuse(room, pos[k], length + (k - from) + 1);
          return false;
        }
        end = k;  // the last byte of the piece
      }
      if (from != 0) kernel.encode_text(pos + from, reinterpret_cast<std::uint8_t*>(room.p));
      room.p += end - from;
      length += end - from;
      if (!ends) return true;
      if (!end_line(length)) return false;
      length = 0;
      ++line_;
      from = to + 1;
      newlines &= newlines - 1;
    }
  };

  for (bool more = true; more;) {
    const std::span<const std::uint8_t> bytes = reader_.data(ahead);
    more = bytes.size() >= ahead;  // else the text has ended, or its reading failed
    pos = bytes.data();
    stop = pos + bytes.size();
    // Whole blocks while the byte after each is loaded; at the end of the text, the rest.
    while (static_cast<std::size_t>(stop - pos) > bcd::text_block) {
      if (room.p > room.limit && !more_room(room, length)) [[unlikely]]
        return status_;
      if (!take_block(bcd::text_block)) return status_;
      pos += bcd::text_block;
    }
    while (!more && pos != stop) {
      if (room.p > room.limit && !more_room(room, length)) return status_;
      const auto valid = std::min<std::size_t>(bcd::text_block, static_cast<std::size_t>(stop - pos));
      if (!take_block(valid)) return status_;
      pos += valid;
    }
    const auto taken = static_cast<std::size_t>(pos - bytes.data());
    reader_.consume(taken);
    offset_ += taken;
  }
  if (reader_.failed()) {
    discard(room);
    return say_read_failed(err_, input_name_, offset_ + reader_.loaded().size(), errno);
  }
  // A last line without a newline is a record too.
  if (length != 0 && !end_line(length)) return status_;
  discard(room);  // the record begun for a line that never came
  return out_.error() == 0 ? status_ok : status_write_failed;
}

// Writes blanks after the `length` codes that end at `room.p` up to the width; returns false
// on a failure.
template <bcd::Kernel K>
bool Builder<K>::pad_to_width(Room& room, std::uint64_t length) {
  std::uint64_t left = options_.width - length;
  while (left != 0) {
    if (room.p >= room.limit && !more_room(room, length)) return false;
    const auto n = static_cast<std::size_t>(
        std::min<std::uint64_t>(left, static_cast<std::size_t>(room.limit - room.p)));
    std::memset(room.p, bcd::blank_code, n);
    room.p += n;
    left -= n;
  }
  return true;
}

// Takes what is written up to `room.p`, in a line of `length` codes so far, as output and
// moves `room` to new room, handing the line's record to the writer; returns false on a
// failure.
template <bcd::Kernel K>
bool Builder<K>::more_room(Room& room, std::uint64_t length) {
  if (length > longest_record) {
    status_ = too_long(room);
    return false;
  }
  if (room.open != nullptr) {
    out_.begin(room.open, 4);
    room.open = nullptr;
  }
  out_.commit(room.p);
  room.p = out_.room(room_at_once_);
  room.limit = out_.room_end() - slack;
  if (out_.error() != 0) {
    out_.drop();
    status_ = status_write_failed;
    return false;
  }
  return true;
}

// Drops the record of the line being read: the output ends after the last whole record.
template <bcd::Kernel K>
void Builder<K>::discard(const Room& room) {
  if (room.open != nullptr)
    out_.commit(room.open);
  else
    out_.drop();
}

template <bcd::Kernel K>
int Builder<K>::too_long(const Room& room) {
  discard(room);
  return say(err_, input_name_,
             "line " + std::to_string(line_) +
                 " is longer than 4294967295 characters, the most a record holds",
             status_read_failed);
}

// Refuses `byte`, in column `column` of the line being read; returns the status.
template <bcd::Kernel K>
int Builder<K>::refuse(const Room& room, std::uint8_t byte, std::uint64_t column) {
  discard(room);
  return say(err_, input_name_,
             "line " + std::to_string(line_) + ", column " + std::to_string(column) + ": " +
                 shown_byte(byte) + " is not in print arrangement " +
                 std::string(name_of(options_.arrangement)),
             status_read_failed);
}

}  // namespace

int build_image(const Options& options, std::string_view input_name, TapeReader& reader,
                RecordWriter& out, OutputSink& err, bcd::KernelId kernel) {
  const bcd::DisplayTable table = bcd::prepare(options.arrangement, ' ');
  const bcd::LineFrame frame{};  // no line here has a frame
  // The kernel is entered once: the whole run is compiled for each.
  return bcd::with_kernel(kernel, table, frame, [&](const auto& kernel_here) {
    return Builder(options, input_name, reader, out, err, kernel_here).build();
  });
}

}  // namespace reelprint::reeltext
