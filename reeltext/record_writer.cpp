#include "reeltext/record_writer.h"

#include <algorithm>
#include <cstring>

namespace reelprint::reeltext {

RecordWriter::RecordWriter(Sink& out, Hold& hold, std::size_t buffer_size)
    : out_(out),
      hold_(hold),
      size_(std::max(buffer_size, smallest_buffer_size)),
      storage_(size_),
      buffer_(storage_.data()) {}

void RecordWriter::fail(int error, bool temporary) {
  if (error_ != 0 || error == 0) return;
  error_ = error;
  temporary_failed_ = temporary;
}

void RecordWriter::put(const char* data, std::size_t n) {
  if (error_ != 0 || n == 0) return;
  fail(out_.write(data, n), false);
  written_ += n;
}

void RecordWriter::make_room() {
  switch (state_) {
    case State::none:
    case State::sought:
      put(buffer_, used_);
      break;
    case State::in_buffer:
      if (out_.seekable()) {
        // A count of zero there until the real one is known.
        std::memset(buffer_ + start_, 0, header_);
        header_at_ = written_ + start_;
        state_ = State::sought;
        put(buffer_, used_);
      } else {
        put(buffer_, start_);
        state_ = State::held;
        if (error_ == 0)
          fail(hold_.append({buffer_ + start_ + header_, used_ - start_ - header_}), true);
      }
      break;
    case State::held:
      if (error_ == 0) fail(hold_.append({buffer_, used_}), true);
      break;
  }
  used_ = 0;
}

void RecordWriter::end_outgrown(const char* header) {
  if (state_ == State::sought) {
    if (error_ == 0) fail(out_.write_at(header_at_, header, header_), false);
  } else {
    // The header, the bytes held, then those in the buffer, which stay there.
    put(header, header_);
    if (error_ == 0) {
      const Hold::Failure failure = hold_.drain(out_);
      fail(failure.error, failure.temporary);
    }
  }
  state_ = State::none;
}

void RecordWriter::drop() {
  switch (state_) {
    case State::none:
      return;
    case State::in_buffer:
      used_ = start_;
      break;
    case State::sought:
      if (error_ == 0) fail(out_.cut(header_at_), false);
      written_ = header_at_;
      used_ = 0;
      break;
    case State::held:
      hold_.clear();
      used_ = 0;
      break;
  }
  state_ = State::none;
}

bool RecordWriter::flush() {
  drop();  // a record still open is not whole
  put(buffer_, used_);
  used_ = 0;
  return error_ == 0;
}

}  // namespace reelprint::reeltext
