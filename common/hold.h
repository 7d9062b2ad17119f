// Holds bytes that can't be written yet (a report whose first line waits for the totals, a
// record whose count waits for its end): in memory up to a limit, past that in an unnamed
// temporary file, so that memory stays bounded however much is held.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/output.h"

namespace reel {

class Hold {
 public:
  static constexpr std::size_t default_memory_limit = 1024 * 1024;

  // `program` names the temporary file, made in $TMPDIR (or /tmp) when first needed.
  explicit Hold(std::string_view program, std::size_t memory_limit = default_memory_limit);
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  ~Hold();

  // Holds `text` after what is held; returns 0, or the errno of a failure of the temporary
  // file, after which nothing more is held and `drain` tells of it.
  int append(std::string_view text);

  struct Failure {
    int error = 0;           // errno of the failure, 0 if none
    bool temporary = false;  // the temporary file failed, not the output
    bool making = false;     // it could not be made at all
  };

  // Writes everything held to `out`, in order, and empties the hold; returns what failed.
  Failure drain(OutputSink& out);

  // Takes up to `n` of the bytes held into `out`, in order, from where the last take ended;
  // returns how many (0 once all are taken), or -1 with errno set if the temporary file fails.
  // Nothing is appended between the first take and the `clear` that ends the taking.
  std::ptrdiff_t take(char* out, std::size_t n);

  // Drops everything held, and any failure.
  void clear();

  // Returns whether the first failure of the temporary file was that it could not be made.
  bool making_failed() const { return making_failed_; }

  // Returns the folder of the temporary file.
  const std::string& folder() const { return folder_; }

 private:
  // Moves the bytes in memory to the temporary file, making it first if need be.
  int spill();

  std::string_view program_;
  std::string folder_;
  std::size_t memory_limit_;
  // Made when first needed, with malloc, which fails without ending the program; none if
  // memory ran out, and then all goes to the file.
  char* memory_ = nullptr;
  std::size_t used_ = 0;        // bytes held in memory, after those in the file
  std::size_t taken_ = 0;       // of those in memory (none in the file), how many were taken
  bool taking_ = false;         // the file is being read back from its start
  int fd_ = -1;                 // the temporary file, once made
  bool in_file_ = false;        // bytes are waiting in the file
  int error_ = 0;               // errno of the first failure of the file
  bool making_failed_ = false;  // that failure: the file could not be made
};

// Says on `err` that `failure`, met by `program` through `hold`, ended the run: "PROGRAM: error
// writing standard output: REASON", or of the temporary file, naming its folder.
void say_hold_failed(OutputSink& err, std::string_view program, const Hold& hold,
                     const Hold::Failure& failure);

}  // namespace reel
