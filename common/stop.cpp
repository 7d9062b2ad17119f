#include "common/stop.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>

#include "common/status.h"

namespace reel {
namespace {

// Written by the program as it goes, read by the handlers, which run on its one thread: atomic
// only so that a handler never sees half of a store.
struct StopState {
  std::atomic<int> fd{-1};
  std::atomic<std::int64_t> keep{0};
  const char* program = "";
};
static_assert(std::atomic<std::int64_t>::is_always_lock_free);
StopState stop_state;

// Cuts the output file back to its last whole record, if there is one to cut; never makes it
// longer. Async-signal-safe.
void cut_output() {
  const int fd = stop_state.fd.load(std::memory_order_relaxed);
  const std::int64_t keep = stop_state.keep.load(std::memory_order_relaxed);
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size > keep) [[maybe_unused]]
    const int ignored = ::ftruncate(fd, static_cast<off_t>(keep));
}

extern "C" void on_stop_signal(int signal) {
  const int saved = errno;
  cut_output();
  // Ends the program with the signal, once this handler returns: the parent sees what killed it.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  errno = saved;
}

// Memory ran out: no exception is thrown, as throwing one may itself need memory.
void on_out_of_memory() {
  cut_output();
  const char* const program = stop_state.program;
  constexpr char said[] = ": out of memory\n";
  [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, program, std::strlen(program));
  ignored = ::write(STDERR_FILENO, said, sizeof said - 1);
  ::_exit(status_write_failed);
}

}  // namespace

void keep_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free number: `fd` itself, as those below it are open.
    [[maybe_unused]] const int opened =
        ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
  }
}

void install_out_of_memory_handler(const char* program) {
  stop_state.program = program;
  std::set_new_handler(on_out_of_memory);
}

void install_signal_handlers() {
  struct sigaction action {};
  sigfillset(&action.sa_mask);  // nothing else runs while the file is cut
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction was {};
    // A signal ignored from the start (nohup, a background job) stays ignored.
    if (::sigaction(signal, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
    action.sa_handler = on_stop_signal;
    ::sigaction(signal, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

void keep_on_stop(int fd, std::int64_t keep) {
  stop_state.keep.store(keep, std::memory_order_relaxed);
  stop_state.fd.store(fd, std::memory_order_relaxed);
}

}  // namespace reel
