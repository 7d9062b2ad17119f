// Runs of the real binary (REELPRINT_BINARY, or another one named) in a scratch folder of the
// test's own: exact standard output, standard error and exit status.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support.h"

// In a cross build, the emulator that starts the programs built, as it starts the tests
// themselves: its words, separated by spaces; and its option that sets the argv[0] of the
// program it starts. Empty in a native build.
#if !defined(REELPRINT_EMULATOR)
#define REELPRINT_EMULATOR ""
#define REELPRINT_EMULATOR_ARGV0 ""
#endif

namespace reel::testing {

struct BinaryOutcome {
  int status;  // exit status, or 128 + the signal that ended the process
  std::string out;
  std::string err;
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class BinaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("reelprint_" + std::string(test->test_suite_name()) + "_" + std::to_string(::getpid()) +
            "_" + test->name());
    std::filesystem::create_directories(dir_);
    // A child that stops reading early must not end the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path image(const Bytes& bytes, const std::string& name = "t.tap") {
    write_file(dir_ / name, bytes);
    return dir_ / name;
  }

  // Runs the binary (`binary`, when given) with `args` in the scratch folder; standard output
  // goes to `stdout_path` or `stdout_fd` when given, standard input comes from `input` when
  // given.
  BinaryOutcome reelprint(const std::vector<std::string>& args, const std::string& stdout_path = "",
                          const Bytes* input = nullptr, int stdout_fd = -1,
                          const char* binary = REELPRINT_BINARY) {
    const std::filesystem::path out_path =
        stdout_path.empty() ? dir_ / "stdout" : std::filesystem::path(stdout_path);
    const std::filesystem::path err_path = dir_ / "stderr";
    int feed[2] = {-1, -1};
    if (input != nullptr && ::pipe(feed) != 0) return {-1, "", "pipe failed"};
    const pid_t child = ::fork();
    if (child == 0) {
      ::signal(SIGPIPE, SIG_DFL);  // as a shell would start it
      if (::chdir(dir_.c_str()) != 0) ::_exit(126);
      const int out =
          stdout_fd >= 0 ? stdout_fd : ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0) ::_exit(126);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(err, STDERR_FILENO);
      if (input != nullptr) {
        ::dup2(feed[0], STDIN_FILENO);
        ::close(feed[0]);
        ::close(feed[1]);
      }
      // argv[0] is "reelprint"; in a cross build the emulator starts the program and gives
      // it that.
      std::istringstream emulator(REELPRINT_EMULATOR);
      std::vector<std::string> command(std::istream_iterator<std::string>(emulator), {});
      const bool emulated = !command.empty();
      if (emulated)
        command.insert(command.end(), {REELPRINT_EMULATOR_ARGV0, "reelprint", binary});
      else
        command.emplace_back("reelprint");
      command.insert(command.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& word : command) argv.push_back(word.data());
      argv.push_back(nullptr);
      ::execvp(emulated ? argv[0] : binary, argv.data());
      ::_exit(127);
    }
    if (input != nullptr) {
      ::close(feed[0]);
      for (std::size_t done = 0; done < input->size();) {
        const ssize_t n = ::write(feed[1], input->data() + done, input->size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::close(feed[1]);
    }
    int wait_status = 0;
    ::waitpid(child, &wait_status, 0);
    const int status =
        WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    const bool captured = stdout_path.empty() && stdout_fd < 0;
    return {status, captured ? read_file(out_path) : "", read_file(err_path)};
  }

  std::filesystem::path dir_;
};

}  // namespace reel::testing
