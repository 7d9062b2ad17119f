#include "tape_image/image_writer.h"

#include <algorithm>
#include <cstring>

#include "tape_image/control_word.h"

namespace reel::tape_image {
namespace {

constexpr std::uint8_t largest_code = 63;  // six bits, all a frame carries

}  // namespace

ImageWriter::ImageWriter(RecordWriter& out, Format format, Parity parity, bool data_only)
    : out_(out), framer_(format, parity), data_only_(data_only), chunk_(out.buffer_size() / 2) {}

std::string ImageWriter::cannot_carry(std::uint64_t size, bool bad) const {
  if (data_only_) return "";
  const bool tpc = framer_.largest(false) == largest_tpc_record;
  if (size > framer_.largest(false))
    return "it holds " + std::to_string(size) + " bytes, and a " + (tpc ? "TPC " : "") +
           "record at most " + std::to_string(framer_.largest(false));
  if (bad && !framer_.carries_bad())
    return tpc ? "it is a bad record, which TPC cannot mark"
               : "it is a bad record, which a dump without parity cannot mark";
  if (bad && size > framer_.largest(true))
    return "it is a bad record of " + std::to_string(size) + " bytes, and one holds at most " +
           std::to_string(framer_.largest(true));
  return "";
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
  // Until the record ends, a cut-off image breaks at it.
  const std::size_t header = data_only_ ? 0 : framer_.put_placeholder(placeholder, size);
  out_.commit(out_.begin(out_.room(4), {placeholder, header}));
}

std::string ImageWriter::data(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return "";
  if (!framer_.frames() || data_only_) {
    put(bytes.data(), bytes.size());
    written_ += static_cast<std::uint32_t>(bytes.size());
    return "";
  }
  if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b > largest_code; }))
    return "it holds a byte above 63, and a frame carries six bits";
  if (written_ == 0 && framer_.reads_as_tape_mark(size_, bytes[0]))
    return "it is one byte of code 15, which a dump reads as a tape mark";
  const std::uint8_t* codes = bytes.data();
  std::size_t n = bytes.size();
  if (written_ == 0) {  // the first frame is the record's header, written at its end
    first_ = codes[0];
    if (first_ == 0 && framer_.parity() == Parity::even) ++zero_codes_;
    ++codes;
    --n;
  }
  written_ += static_cast<std::uint32_t>(bytes.size());
  while (n > 0) {
    const std::size_t k = std::min(n, chunk_);
    auto* const room = reinterpret_cast<std::uint8_t*>(out_.room(k));
    zero_codes_ += put_frames(codes, k, room, framer_.parity(), false);
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
  if (framer_.frames()) {
    const char frame[4] = {static_cast<char>(framer_.first_frame(first_, bad))};
    out_.end(p, frame);
    return;
  }
  if (framer_.pad_after(size_) != 0) *p++ = 0;
  char word[4];
  const std::uint32_t count = bad ? size_ | bad_record_flag : size_;
  const std::size_t n = framer_.put_count(count, word);
  if (framer_.trailer()) {
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
  out_.commit(p + framer_.put_tape_mark(p));
}

bool ImageWriter::carries_gaps() const { return data_only_ || framer_.carries_gaps(); }

void ImageWriter::control_word(std::uint32_t word) {
  if (data_only_) return;
  char* const p = out_.room(4);
  out_.commit(p + framer_.put_count(word, p));
}

bool ImageWriter::finish() {
  if (!data_only_) {
    char* const p = out_.room(1);
    out_.commit(p + framer_.put_closing(p));
  }
  return out_.flush();
}

}  // namespace reel::tape_image
