// An output buffer that lets a record reach the output whole or not at all: a record (a line of
// text, or a record of an image with its counts) is begun, written, and then either ended or
// dropped. A record may also start with a header that is known only at its end, an image
// record's leading count: its bytes are kept free and filled in then.
//
// A record that outgrows the buffer goes on where the output allows: to a seekable output as
// it comes, behind a placeholder header that readers take for damage, and its header written
// over it at the end; to any other into the hold, memory and then a temporary file, until it
// ends. Whatever fails, the output is cut back to its last whole record where it can be, and
// the output is told as it goes where that is, for a signal to cut it there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/hold.h"
#include "common/output.h"

namespace reel {

class RecordWriter final : private OutputBuffer {
 public:
  static constexpr std::size_t default_buffer_size = 256 * 1024;
  static constexpr std::size_t smallest_buffer_size = 4096;
  static constexpr std::size_t most_header = 8;

  // Writes to `out` through a buffer of `buffer_size` bytes (at least `smallest_buffer_size`),
  // holding records that outgrow it, where `out` can't be sought, in `hold`.
  RecordWriter(OutputSink& out, Hold& hold, std::size_t buffer_size = default_buffer_size);

  std::size_t buffer_size() const { return size_; }

  // As in OutputBuffer, `n` at most half the buffer here; the bytes of an open record become
  // output when it ends.
  using OutputBuffer::commit;
  using OutputBuffer::room;
  using OutputBuffer::room_end;

  // Takes the bytes up to `p` (in the room) as output, then begins a record there whose header,
  // as many bytes as `placeholder` (at most `most_header`), is filled in when it ends, and until
  // then stands as `placeholder` wherever the record reaches the output before its end. Returns
  // where its bytes after the header go. The room left shrinks by the header.
  char* begin(const char* p, std::string_view placeholder) {
    commit(p);
    state_ = State::in_buffer;
    start_ = used_;
    header_ = placeholder.size();
    std::memcpy(placeholder_.data(), placeholder.data(), header_);
    used_ += header_;
    return data_ + used_;
  }

  // Takes the bytes up to `p` as output and ends the record, its header `header` (the
  // `header` bytes that `begin` was given).
  void end(const char* p, const char* header) {
    commit(p);
    if (state_ == State::in_buffer) {
      // A leading count, or no header: copies of a size the compiler knows, no call.
      if (header_ == 4)
        std::memcpy(data_ + start_, header, 4);
      else
        std::memcpy(data_ + start_, header, header_);
      state_ = State::none;
    } else {
      end_outgrown(header);
    }
  }

  // Takes the `n` bytes at `data`, whole records and no record open, as output: many of them
  // straight from where they are, after what the buffer holds, without a copy.
  void put_whole(const char* data, std::size_t n);

  // Drops the record begun last, with every byte written since.
  void drop();

  // Drops a record still open, which is not whole, and writes out everything else; returns
  // false if the output has failed. For the end of the output.
  bool flush();

  // Returns the errno of the first failure, or 0.
  using OutputBuffer::error;
  // Returns the first failure: of the output, or of the hold's temporary file.
  Hold::Failure failure() const { return {error_, temporary_, making_}; }

 private:
  enum class State {
    none,       // no record is open
    in_buffer,  // the open record starts at `start_` in the buffer
    sought,     // it starts at `header_at_` in the output, which is seekable
    held,       // its bytes so far are in the hold, its header not yet written anywhere
  };

  // Makes room after writing out what the output may take now.
  void make_room() override;
  void end_outgrown(const char* header);
  // Writes `n` bytes at `data` to the output, counting them; records the first failure.
  void put(const char* data, std::size_t n);
  // Holds `n` bytes at `data` of the record being held.
  void hold(const char* data, std::size_t n);
  // Notes that everything written so far ends after a whole record.
  void all_whole();
  // Records the first failure, and cuts the output back to its last whole record.
  void fail(const Hold::Failure& failure);

  Hold& hold_;
  std::size_t sent_ = 0;       // of the bytes in the buffer, the first already written out
  std::uint64_t written_ = 0;  // bytes given to the output so far
  std::uint64_t whole_ = 0;    // of them, those up to the end of the last whole record
  State state_ = State::none;
  std::size_t start_ = 0;                        // in_buffer: where the record starts
  std::size_t header_ = 0;                       // the open record's header bytes
  std::array<char, most_header> placeholder_{};  // and what stands there until its end
  std::uint64_t header_at_ = 0;                  // sought: where its header is in the output
  std::uint64_t held_ = 0;                       // held: its bytes in the hold
  bool temporary_ = false;  // the first failure (`error_`) was of the temporary file
  bool making_ = false;     // and it was that the file could not be made
};

}  // namespace reel
