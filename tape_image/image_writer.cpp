#include "tape_image/image_writer.h"

#include <algorithm>
#include <cstring>

#include "tape_image/control_word.h"

namespace reel::tape_image {
namespace {

constexpr std::size_t most_tpc_record = 0xFFFF;  // what a 16-bit count holds
constexpr std::uint8_t largest_code = 63;        // six bits, all a frame carries
constexpr std::uint8_t tape_mark_code = 15;      // a one-frame record of it is a tape mark

// Returns the first frame of a record, of `code`: for a bad record with its parity bit turned
// over, so that a bad record stays bad in a dump, a parity error in its first frame.
std::uint8_t first_frame(std::uint8_t code, Parity parity, bool bad) {
  std::uint8_t frame = 0;
  put_frames(&code, 1, &frame, parity, true);
  return bad ? static_cast<std::uint8_t>(frame ^ 0x40) : frame;
}

}  // namespace

ImageWriter::ImageWriter(RecordWriter& out, Format format, Parity parity, bool data_only)
    : out_(out),
      format_(format),
      parity_(parity),
      data_only_(data_only),
      chunk_(out.buffer_size() / 2) {}

std::string ImageWriter::cannot_carry(std::uint64_t size, bool bad) const {
  if (data_only_) return "";
  switch (format_) {
    case Format::tpc:
    case Format::tpc_nopad:
      if (size > most_tpc_record)
        return "it holds " + std::to_string(size) + " bytes, and a TPC record at most 65535";
      if (bad) return "it is a bad record, which TPC cannot mark";
      return "";
    case Format::p7b:
      if (bad && parity_ == Parity::none)
        return "it is a bad record, which a dump without parity cannot mark";
      return "";
    default:
      if (bad && size > largest_bad_record)
        return "it is a bad record of " + std::to_string(size) + " bytes, and one holds at most " +
               std::to_string(largest_bad_record);
      return "";
  }
}

std::size_t ImageWriter::count_bytes(std::uint32_t count, char* word) const {
  switch (format_) {
    case Format::simh_be:
      for (int k = 0; k < 4; ++k) word[k] = static_cast<char>(count >> (24 - 8 * k));
      return 4;
    case Format::tpc:
    case Format::tpc_nopad:
      word[0] = static_cast<char>(count);
      word[1] = static_cast<char>(count >> 8);
      return 2;
    case Format::p7b:
      return 0;
    default:
      for (int k = 0; k < 4; ++k) word[k] = static_cast<char>(count >> (8 * k));
      return 4;
  }
}

void ImageWriter::put(const std::uint8_t* bytes, std::size_t n) {
  while (n > 0) {
    const std::size_t k = std::min(n, chunk_);
    char* const room = out_.room(k);
    std::memcpy(room, bytes, k);
    out_.commit(room + k);
    bytes += k;
    n -= k;
  }
}

void ImageWriter::begin(std::uint32_t size) {
  size_ = size;
  written_ = 0;
  char placeholder[4];
  std::size_t header = 1;
  if (data_only_) {
    header = 0;
  } else if (format_ == Format::p7b) {
    // Until the record ends, its first frame stands with a parity error: a dump cut off there
    // breaks at a damaged record, never at a shorter whole one.
    placeholder[0] = static_cast<char>(parity_ == Parity::odd ? 0x80 : 0xC0);
  } else {
    // A count that no reader takes for a tape mark or a record it could read whole; TPC has
    // none, and a record cut short there runs past the end of the image.
    header = count_bytes(
        format_ == Format::tpc || format_ == Format::tpc_nopad ? size : placeholder_word,
        placeholder);
  }
  out_.commit(out_.begin(out_.room(4), {placeholder, header}));
}

std::string ImageWriter::data(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return "";
  if (format_ != Format::p7b || data_only_) {
    put(bytes.data(), bytes.size());
    written_ += static_cast<std::uint32_t>(bytes.size());
    return "";
  }
  if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b > largest_code; }))
    return "it holds a byte above 63, and a frame carries six bits";
  if (size_ == 1 && bytes[0] == tape_mark_code)
    return "it is one byte of code 15, which a dump reads as a tape mark";
  const std::uint8_t* codes = bytes.data();
  std::size_t n = bytes.size();
  if (written_ == 0) {  // the first frame is the record's header, written at its end
    first_ = codes[0];
    if (first_ == 0 && parity_ == Parity::even) ++zero_codes_;
    ++codes;
    --n;
  }
  written_ += static_cast<std::uint32_t>(bytes.size());
  while (n > 0) {
    const std::size_t k = std::min(n, chunk_);
    auto* const room = reinterpret_cast<std::uint8_t*>(out_.room(k));
    zero_codes_ += put_frames(codes, k, room, parity_, false);
    out_.commit(reinterpret_cast<char*>(room + k));
    codes += k;
    n -= k;
  }
  return "";
}

void ImageWriter::end(bool bad) {
  char* p = out_.room(8);
  // Headers are passed as words: the writer copies one of four bytes as such.
  if (data_only_) {
    const char no_header[4] = {};
    out_.end(p, no_header);
    return;
  }
  size_ = written_;
  if (format_ == Format::p7b) {
    const char frame[4] = {static_cast<char>(first_frame(first_, parity_, bad))};
    out_.end(p, frame);
    return;
  }
  if (pad_after(size_, reading_of(format_).framing) != 0) *p++ = 0;
  char word[4];
  const std::uint32_t count = bad ? size_ | bad_record_flag : size_;
  const std::size_t n = count_bytes(count, word);
  if (reading_of(format_).trailer) {
    std::memcpy(p, word, n);
    p += n;
  }
  out_.end(p, word);
}

void ImageWriter::framed(std::span<const std::uint8_t> bytes) {
  out_.put_whole(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void ImageWriter::tape_mark() {
  if (data_only_) return;
  char* const p = out_.room(4);
  if (format_ == Format::p7b) {
    *p = static_cast<char>(p7b_tape_mark);
    out_.commit(p + 1);
    return;
  }
  out_.commit(p + count_bytes(0, p));
}

bool ImageWriter::carries_gaps() const {
  return data_only_ || format_ == Format::simh || format_ == Format::e11 ||
         format_ == Format::simh_be;
}

void ImageWriter::control_word(std::uint32_t word) {
  if (data_only_) return;
  char* const p = out_.room(4);
  out_.commit(p + count_bytes(word, p));
}

bool ImageWriter::finish() {
  if (format_ == Format::p7b && !data_only_) {
    char* const p = out_.room(1);
    *p = static_cast<char>(p7b_closing_start);
    out_.commit(p + 1);
  }
  return out_.flush();
}

}  // namespace reel::tape_image
