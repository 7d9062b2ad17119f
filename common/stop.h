// How a program starts safely and how it ends when it can't go on: killed by a signal, or out
// of memory. Set up once, at the start of main.
#pragma once

#include <cstdint>

namespace reel {

// Makes sure descriptors 0, 1 and 2 are open, so that nothing the program opens later (its
// input, a temporary file) takes one of their numbers and is then written as standard output.
// A closed one is opened on /dev/null the wrong way round, so that using it fails as using a
// closed descriptor does (EBADF).
void keep_standard_descriptors();

// Installs, for the rest of the run of `program` (a name that lives as long), what ends it
// when memory runs out: "PROGRAM: out of memory" on standard error, the output file cut back
// to what `keep_on_stop` last said, and status 5.
void install_out_of_memory_handler(const char* program);

// Installs, for the rest of the run, for a program whose output must stay a good image:
// - for SIGINT, SIGTERM and SIGHUP (those not ignored when the program started): the output
//   file is cut back to what `keep_on_stop` last said, then the signal ends the program as it
//   would have;
// - SIGXFSZ ignored, so that a write past the file-size limit fails (EFBIG) and ends the run as
//   any failed write does, cutting the output back itself.
void install_signal_handlers();

// Says that, should the program be stopped as above, the regular file open on `fd` keeps its
// first `keep` bytes and loses the rest: where its last whole record ends. Called by the
// output that writes such a file, as it goes.
//
// This is the one piece of state of the process as a whole: a signal handler can reach
// nothing else.
void keep_on_stop(int fd, std::int64_t keep);

}  // namespace reel
