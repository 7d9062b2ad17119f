// The three programs as processes, under what the system does to them: standard descriptors
// closed at the start, memory and file-size limits, an output file opened read-write over
// bytes already there, and signals at random moments. Every image written to a file must be a
// good one: whole records, or (killed by SIGKILL, which can't be caught) whole records, the
// placeholder of the record being written and part of it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support.h"

// In a cross build, the emulator that starts the programs, and its option that sets their
// argv[0]; empty in a native build.
#if !defined(REELPRINT_EMULATOR)
#define REELPRINT_EMULATOR ""
#define REELPRINT_EMULATOR_ARGV0 ""
#endif

namespace reel::reelprint {
namespace {

using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Ended {
  int status = -1;  // the exit status, if it exited
  int signal = 0;   // the signal that ended it, if one did
  std::string err;
};

// How a program is started: its standard streams and limits.
struct Start {
  const char* binary;
  std::vector<std::string> args;
  std::string in;              // the file on standard input, if any
  bool in_read_write = false;  // opened read-write, as `<>` does
  std::string out;             // the file on standard output, if any (else /dev/null)
  int out_flags = O_WRONLY | O_CREAT | O_TRUNC;
  off_t out_at = 0;                  // where its offset stands
  std::set<int> closed;              // descriptors closed before the program starts
  rlim_t memory = RLIM_INFINITY;     // address space, bytes
  rlim_t file_size = RLIM_INFINITY;  // largest file written, bytes
};

class Processes : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("reelprint_process_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::string file(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path(name);
  }

  pid_t start(const Start& how) const {
    const std::string err = path("stderr");
    const pid_t child = ::fork();
    if (child != 0) return child;
    const auto onto = [](int fd, int target) {
      if (fd < 0) ::_exit(126);
      if (fd != target) {
        ::dup2(fd, target);
        ::close(fd);
      }
    };
    onto(::open(how.in.empty() ? "/dev/null" : how.in.c_str(),
                how.in_read_write ? O_RDWR : O_RDONLY),
         STDIN_FILENO);
    onto(::open(how.out.empty() ? "/dev/null" : how.out.c_str(), how.out_flags, 0644),
         STDOUT_FILENO);
    if (how.out_at != 0) ::lseek(STDOUT_FILENO, how.out_at, SEEK_SET);
    onto(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    for (const int fd : how.closed) ::close(fd);
    const rlimit memory{how.memory, how.memory};
    const rlimit file_size{how.file_size, how.file_size};
    ::setrlimit(RLIMIT_AS, &memory);
    ::setrlimit(RLIMIT_FSIZE, &file_size);
    std::istringstream emulator(REELPRINT_EMULATOR);
    std::vector<std::string> command(std::istream_iterator<std::string>(emulator), {});
    const bool emulated = !command.empty();
    const std::string name = std::filesystem::path(how.binary).filename().string();
    if (emulated)
      command.insert(command.end(), {REELPRINT_EMULATOR_ARGV0, name, how.binary});
    else
      command.push_back(name);
    command.insert(command.end(), how.args.begin(), how.args.end());
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execvp(emulated ? argv[0] : how.binary, argv.data());
    ::_exit(127);
  }

  Ended wait_for(pid_t child) const {
    int status = 0;
    ::waitpid(child, &status, 0);
    Ended ended;
    if (WIFEXITED(status)) ended.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
    ended.err = read_file(dir_ / "stderr");
    return ended;
  }

  Ended run(const Start& how) const { return wait_for(start(how)); }

  std::filesystem::path dir_;
};

// An image and its text, built from the same items, with the offsets where its items end.
struct Reel {
  std::string image;
  std::string text;
  std::set<std::size_t> item_ends{0};  // in the image
  std::set<std::size_t> line_ends{0};  // in the text
};

// Cards, a few long records past every buffer, and tape marks.
Reel make_reel(std::size_t cards, std::size_t long_records) {
  ImageBuilder image;
  Reel reel;
  const auto ended = [&](const std::string& line) {
    reel.item_ends.insert(image.bytes().size());
    reel.text += line + "\n";
    reel.line_ends.insert(reel.text.size());
  };
  for (std::size_t k = 0; k < cards; ++k) {
    const std::string card = "CARD " + std::to_string(k) + std::string(70, ' ') + "END";
    image.record(codes(card));
    ended(card);
    if (k % 5000 == 4999) {
      image.tape_mark();
      ended("tape mark");
    }
    if (long_records != 0 && k % (cards / long_records) == 0) {
      const std::string line((1 << 20) + k % 7, 'L');
      image.record(codes(line));
      ended(line);
    }
  }
  reel.image.assign(image.bytes().begin(), image.bytes().end());
  return reel;
}

// Returns whether `out` is a good image cut from `reel`'s: whole items; or, if `killed` (by
// SIGKILL), whole items, then the placeholder and part of the record after them, or a plain
// prefix (a write cut short).
bool good_cut(const std::string& out, const Reel& reel, bool killed) {
  if (out.size() > reel.image.size()) return false;
  if (reel.image.compare(0, out.size(), out) == 0)
    return killed || reel.item_ends.count(out.size()) != 0;
  if (!killed) return false;
  const auto before =
      --reel.item_ends.upper_bound(out.size() - std::min<std::size_t>(out.size(), 4));
  const std::size_t at = *before;
  return out.compare(at, 4, std::string("\xFD\xFF\xFF\xFF", 4)) == 0 &&
         reel.image.compare(0, at, out, 0, at) == 0 &&
         reel.image.compare(at + 4, out.size() - at - 4, out, at + 4, out.size() - at - 4) == 0;
}

const std::string program_names[] = {"reelprint", "reelinfo", "reeltext"};
const char* const binaries[] = {REELPRINT_BIN, REELINFO_BIN, REELTEXT_BIN};

// With a standard descriptor closed, a program writes only where it was asked: nothing goes
// into a file it opens, and a closed standard output is a failed one.
TEST_F(Processes, AClosedStandardDescriptorTakesNothingElse) {
  const Reel reel = make_reel(20, 1);  // the long record goes to the hold's temporary file
  const std::string text = file("t.txt", reel.text);
  const std::string image = file("t.tap", reel.image);
  const std::string bad_fd = ": error writing standard output: Bad file descriptor\n";
  for (int k = 0; k < 3; ++k) {
    const std::vector<std::string> args =
        k == 2 ? std::vector<std::string>{"-r", text} : std::vector<std::string>{image};
    for (const std::set<int>& closed : {std::set<int>{1}, std::set<int>{0, 1}, {0, 1, 2}}) {
      const Ended ended = run({binaries[k], args, "", false, "", 0, 0, closed});
      EXPECT_EQ(ended.status, 5) << program_names[k] << " " << closed.size();
      if (closed.count(2) == 0) {
        EXPECT_EQ(ended.err, program_names[k] + bad_fd);
      }
    }
  }
  // Standard input read-write, standard output closed: the input stays as it was.
  const std::string input = file("in.txt", reel.text);
  const Ended ended = run({REELTEXT_BIN, {"-r"}, input, true, "", 0, 0, {1}});
  EXPECT_EQ(ended.status, 5);
  EXPECT_EQ(ended.err, "reeltext" + bad_fd);
  EXPECT_TRUE(read_file(input) == reel.text);
  // Standard error closed: the work is done all the same.
  const Ended quiet = run({REELTEXT_BIN,
                           {"-r", text},
                           "",
                           false,
                           path("out.tap"),
                           O_WRONLY | O_CREAT | O_TRUNC,
                           0,
                           {2}});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_TRUE(read_file(path("out.tap")) == reel.image);
}

// Below the memory a program needs, it says so and ends with status 5, never an abort; an
// image it was writing stays good. Lower still, the system can't load it at all.
TEST_F(Processes, NoProgramAbortsAtAnyMemoryLimit) {
  if (std::string(REELPRINT_EMULATOR) != "" || REELPRINT_SANITIZED)
    GTEST_SKIP() << "the emulator's or the sanitizers' own memory would be limited";
  const Reel reel = make_reel(200, 1);
  const std::string text = file("t.txt", reel.text);
  const std::string image = file("t.tap", reel.image);
  for (int k = 0; k < 3; ++k) {
    for (const bool reverse : {false, true}) {
      if (reverse && k != 2) continue;
      const std::vector<std::string> args =
          reverse ? std::vector<std::string>{"-r", text} : std::vector<std::string>{image};
      for (rlim_t kib = 1000; kib <= 8000; kib += 100) {
        const Ended ended = run({binaries[k],
                                 args,
                                 "",
                                 false,
                                 path("out"),
                                 O_WRONLY | O_CREAT | O_TRUNC,
                                 0,
                                 {},
                                 kib << 10});
        const std::string name = program_names[k] + " at " + std::to_string(kib) + " KiB";
        EXPECT_EQ(ended.signal, 0) << name;
        if (ended.status == 127) {
          EXPECT_NE(ended.err.find("error while loading shared libraries"), std::string::npos);
        } else if (ended.status == 5) {
          EXPECT_EQ(ended.err, program_names[k] + ": out of memory\n") << name;
        } else {
          EXPECT_EQ(ended.status, 0) << name << ": " << ended.err;
        }
        if (reverse) {
          EXPECT_TRUE(good_cut(read_file(path("out")), reel, false)) << name;
        }
      }
    }
  }
}

// Past the file-size limit a write fails as on a full disk: status 5, said, and the output
// ends after its last whole record or line.
TEST_F(Processes, AFileSizeLimitEndsAfterTheLastWholeRecord) {
  for (const std::size_t long_records : {0, 1}) {
    const Reel reel = make_reel(3000, long_records);
    const std::string text = file("t.txt", reel.text);
    const std::string image = file("t.tap", reel.image);
    for (const bool reverse : {true, false}) {
      const Ended ended =
          run({REELTEXT_BIN,
               reverse ? std::vector<std::string>{"-r", text} : std::vector<std::string>{image},
               "",
               false,
               path("out"),
               O_WRONLY | O_CREAT | O_TRUNC,
               0,
               {},
               RLIM_INFINITY,
               100'000 + 7 * long_records});
      EXPECT_EQ(ended.status, 5);
      EXPECT_EQ(ended.err, "reeltext: error writing standard output: File too large\n");
      const std::string out = read_file(path("out"));
      EXPECT_LE(out.size(), 100'000u);
      if (reverse)
        EXPECT_TRUE(good_cut(out, reel, false)) << out.size();
      else
        EXPECT_TRUE(reel.text.compare(0, out.size(), out) == 0 && reel.line_ends.count(out.size()))
            << out.size();
    }
  }
}

// Into a file opened read-write, a record that breaks is cut back, but never the bytes that
// were there before the run: past what it wrote, the file stays as it was.
TEST_F(Processes, AFileOpenedReadWriteKeepsTheBytesItHeld) {
  const std::string text = file("t.txt", "AB\n" + std::string(3 << 20, 'A') + "a\n");
  const Bytes card = ImageBuilder().record(codes("AB")).bytes();
  for (const std::size_t held : {std::size_t{100}, std::size_t{10} << 20}) {
    const std::string out = file("out", std::string(held, 'x'));
    const Ended ended = run({REELTEXT_BIN, {"-r", text}, "", false, out, O_RDWR, 5, {}});
    EXPECT_EQ(ended.status, 3) << ended.err;
    const std::string now = read_file(out);
    ASSERT_EQ(now.size(), held);
    EXPECT_EQ(now.substr(0, 5), "xxxxx");
    EXPECT_TRUE(now.substr(5, card.size()) == std::string(card.begin(), card.end()));
    EXPECT_EQ(now.substr(15, 4), "\xFD\xFF\xFF\xFF");  // the record that broke reads as damage
    if (held > (4u << 20)) {
      EXPECT_EQ(now.substr(held - 100), std::string(100, 'x'));
    }
  }
}

// Killed at random moments, a regular-file output is cut back to its last whole record (or
// line); SIGKILL leaves the placeholder of the record being written at worst; SIGXFSZ is no
// reason to stop.
TEST_F(Processes, KilledAtAnyMomentTheOutputIsGood) {
  // Under an emulator or the sanitizers, where each run takes ten times as long, fewer runs
  // of a smaller reel.
  const bool slow = !std::string(REELPRINT_EMULATOR).empty() || REELPRINT_SANITIZED;
  const Reel reel = slow ? make_reel(4'000, 1) : make_reel(20'000, 3);
  const std::string text = file("t.txt", reel.text);
  const std::string image = file("t.tap", reel.image);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGKILL, SIGXFSZ};
  std::mt19937_64 random(1401);
  int kills = 0;
  const int each_way = slow ? 25 : 110;
  for (const bool reverse : {true, false}) {
    const Start how{
        REELTEXT_BIN,
        reverse ? std::vector<std::string>{"-r", text} : std::vector<std::string>{image},
        "",
        false,
        path("out"),
        O_WRONLY | O_CREAT | O_TRUNC,
        0,
        {}};
    const std::string& whole = reverse ? reel.image : reel.text;
    // How long a run takes, undisturbed (the quickest of three), bounds the moments tried.
    auto took = std::chrono::microseconds::max();
    for (int k = 0; k < 3; ++k) {
      const auto began = std::chrono::steady_clock::now();
      ASSERT_EQ(run(how).status, 0);
      took = std::min(took, std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - began));
      ASSERT_TRUE(read_file(path("out")) == whole);
    }
    std::uniform_int_distribution<std::int64_t> moment(0, took.count() * 11 / 10);
    // Until so many runs of each way are killed (SIGXFSZ kills none).
    for (int k = 0, killed = kills; kills - killed < each_way && k < 1000; ++k) {
      const int signal = signals[k % 5];
      std::filesystem::remove(path("out"));  // so that what a run left is not taken for this one's
      const pid_t child = start(how);
      std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
      ::kill(child, signal);
      const Ended ended = wait_for(child);
      const std::string out = read_file(path("out"));
      const std::string name = std::string(reverse ? "-r" : "to text") + ", signal " +
                               std::to_string(signal) + ", run " + std::to_string(k);
      if (ended.signal == 0) {  // done before the signal came, or the signal ignored
        EXPECT_EQ(ended.status, 0) << name;
        EXPECT_TRUE(out == whole) << name;
        continue;
      }
      EXPECT_EQ(ended.signal, signal) << name;
      // SIGXFSZ ends the program only before it has set out to ignore it, and so before it
      // writes anything.
      if (signal == SIGXFSZ) {
        EXPECT_EQ(out, "") << name;
        continue;
      }
      ++kills;
      if (reverse)
        EXPECT_TRUE(good_cut(out, reel, signal == SIGKILL)) << name << ", " << out.size();
      else
        EXPECT_TRUE(whole.compare(0, out.size(), out) == 0 &&
                    (signal == SIGKILL || reel.line_ends.count(out.size()) != 0))
            << name << ", " << out.size();
    }
  }
  EXPECT_GE(kills, 2 * each_way);
}

}  // namespace
}  // namespace reel::reelprint
