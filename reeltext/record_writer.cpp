#include "reeltext/record_writer.h"

#include <algorithm>
#include <cstring>

namespace reelprint::reeltext {

RecordWriter::RecordWriter(OutputSink& out, Hold& hold, std::size_t buffer_size)
    : out_(out),
      hold_(hold),
      size_(std::max(buffer_size, smallest_buffer_size)),
      storage_(size_),
      buffer_(storage_.data()) {
  all_whole();  // nothing yet: a stop leaves the output as it was
}

void RecordWriter::fail(const Hold::Failure& failure) {
  if (failure_.error != 0 || failure.error == 0) return;
  failure_ = failure;
  // A write that failed may have left part of its bytes; whatever failed, no record is half
  // written.
  out_.cut(whole_);
}

void RecordWriter::put(const char* data, std::size_t n) {
  if (failure_.error != 0 || n == 0) return;
  if (const int error = out_.write(data, n); error != 0) return fail({error});
  written_ += n;
}

void RecordWriter::hold(const char* data, std::size_t n) {
  if (failure_.error != 0) return;
  if (const int error = hold_.append({data, n}); error != 0) return fail({error, true, hold_.making_failed()});
  held_ += n;
}

void RecordWriter::all_whole() {
  if (failure_.error != 0) return;
  whole_ = written_;
  out_.whole_up_to(whole_);
}

void RecordWriter::make_room() {
  switch (state_) {
    case State::none:
      put(buffer_ + sent_, used_ - sent_);
      all_whole();
      break;
    case State::sought:
      put(buffer_ + sent_, used_ - sent_);
      break;
    case State::in_buffer:
      // The records before it are whole.
      put(buffer_ + sent_, start_ - sent_);
      all_whole();
      if (out_.seekable()) {
        std::memcpy(buffer_ + start_, placeholder_.data(), header_);
        header_at_ = written_;
        state_ = State::sought;
        put(buffer_ + start_, used_ - start_);
      } else {
        state_ = State::held;
        held_ = 0;
        hold(buffer_ + start_ + header_, used_ - start_ - header_);
      }
      break;
    case State::held:
      hold(buffer_, used_);
      break;
  }
  used_ = 0;
  sent_ = 0;
}

void RecordWriter::end_outgrown(const char* header) {
  if (state_ == State::sought) {
    // Its last bytes first, then its header over the placeholder: until then it reads as damage,
    // then as whole. The bytes stay in the buffer, as the caller may still write after them.
    put(buffer_ + sent_, used_ - sent_);
    sent_ = used_;
    if (failure_.error == 0) {
      if (const int error = out_.write_at(header_at_, header, header_); error != 0) fail({error});
    }
    state_ = State::none;
    all_whole();
    return;
  }
  // The header, the bytes held, then those in the buffer, which stay there: the record is whole
  // in the output once they follow it.
  put(header, header_);
  if (failure_.error == 0) {
    const Hold::Failure failure = hold_.drain(out_);
    if (failure.error != 0)
      fail(failure);
    else
      written_ += held_;
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
      if (failure_.error == 0) {
        if (const int error = out_.cut(header_at_); error != 0) fail({error});
      }
      written_ = header_at_;
      used_ = sent_ = 0;
      break;
    case State::held:
      hold_.clear();
      used_ = sent_ = 0;
      break;
  }
  state_ = State::none;
}

bool RecordWriter::flush() {
  drop();  // a record still open is not whole
  put(buffer_ + sent_, used_ - sent_);
  all_whole();
  used_ = 0;
  sent_ = 0;
  return failure_.error == 0;
}

}  // namespace reelprint::reeltext
