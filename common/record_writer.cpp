#include "common/record_writer.h"

#include <algorithm>
#include <cstring>

namespace reel {

RecordWriter::RecordWriter(OutputSink& out, Hold& hold, std::size_t buffer_size)
    : OutputBuffer(out, std::max(buffer_size, smallest_buffer_size)), hold_(hold) {
  all_whole();  // nothing yet: a stop leaves the output as it was
}

void RecordWriter::fail(const Hold::Failure& failure) {
  if (error_ != 0 || failure.error == 0) return;
  error_ = failure.error;
  temporary_ = failure.temporary;
  making_ = failure.making;
  // A write that failed may have left part of its bytes; whatever failed, no record is half
  // written.
  sink_.cut(whole_);
}

void RecordWriter::put(const char* data, std::size_t n) {
  if (error_ != 0 || n == 0) return;
  if (const int error = sink_.write(data, n); error != 0) return fail({error});
  written_ += n;
}

void RecordWriter::hold(const char* data, std::size_t n) {
  if (error_ != 0) return;
  if (const int error = hold_.append({data, n}); error != 0)
    return fail({error, true, hold_.making_failed()});
  held_ += n;
}

void RecordWriter::all_whole() {
  if (error_ != 0) return;
  whole_ = written_;
  sink_.whole_up_to(whole_);
}

void RecordWriter::make_room() {
  switch (state_) {
    case State::none:
      put(data_ + sent_, used_ - sent_);
      all_whole();
      break;
    case State::sought:
      put(data_ + sent_, used_ - sent_);
      break;
    case State::in_buffer:
      // The records before it are whole.
      put(data_ + sent_, start_ - sent_);
      all_whole();
      if (sink_.seekable()) {
        std::memcpy(data_ + start_, placeholder_.data(), header_);
        header_at_ = written_;
        state_ = State::sought;
        put(data_ + start_, used_ - start_);
      } else {
        state_ = State::held;
        held_ = 0;
        hold(data_ + start_ + header_, used_ - start_ - header_);
      }
      break;
    case State::held:
      hold(data_, used_);
      break;
  }
  used_ = 0;
  sent_ = 0;
}

void RecordWriter::end_outgrown(const char* header) {
  if (state_ == State::sought) {
    // Its last bytes first, then its header over the placeholder: until then it reads as damage,
    // then as whole. The bytes stay in the buffer, as the caller may still write after them.
    put(data_ + sent_, used_ - sent_);
    sent_ = used_;
    if (error_ == 0) {
      if (const int error = sink_.write_at(header_at_, header, header_); error != 0) fail({error});
    }
    state_ = State::none;
    all_whole();
    return;
  }
  // The header, the bytes held, then those in the buffer, which stay there: the record is whole
  // in the output once they follow it.
  put(header, header_);
  if (error_ == 0) {
    const Hold::Failure failure = hold_.drain(sink_);
    if (failure.error != 0)
      fail(failure);
    else
      written_ += held_;
  }
  state_ = State::none;
}

void RecordWriter::put_whole(const char* data, std::size_t n) {
  if (n < size_ / 2) {
    char* const p = room(n);
    std::memcpy(p, data, n);
    commit(p + n);
    return;
  }
  put(data_ + sent_, used_ - sent_);
  used_ = sent_ = 0;
  put(data, n);
  all_whole();
}

void RecordWriter::drop() {
  switch (state_) {
    case State::none:
      return;
    case State::in_buffer:
      used_ = start_;
      break;
    case State::sought:
      if (error_ == 0) {
        if (const int error = sink_.cut(header_at_); error != 0) fail({error});
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
  put(data_ + sent_, used_ - sent_);
  all_whole();
  used_ = 0;
  sent_ = 0;
  return error_ == 0;
}

}  // namespace reel
