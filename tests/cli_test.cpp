// End-to-end runs of the real binary: exact standard output and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support.h"

namespace reelprint {
namespace {

namespace fs = std::filesystem;
using tape_image::ImageBuilder;
using testing::Bytes;
using testing::codes;
using testing::repeat;
using testing::operator+;

struct Outcome {
  int status;  // exit status, or 128 + the signal that ended the process
  std::string out;
  std::string err;
};

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("reelprint_cli_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path image(const Bytes& bytes, const std::string& name = "t.tap") {
    write_file(dir_ / name, bytes);
    return dir_ / name;
  }

  // Runs the binary with `args` in the scratch folder; standard output goes to `stdout_path`
  // or `stdout_fd` when given, standard input comes from `input` when given.
  Outcome reelprint(const std::vector<std::string>& args, const std::string& stdout_path = "",
                    const Bytes* input = nullptr, int stdout_fd = -1) {
    const fs::path out_path = stdout_path.empty() ? dir_ / "stdout" : fs::path(stdout_path);
    const fs::path err_path = dir_ / "stderr";
    int feed[2] = {-1, -1};
    if (input != nullptr && ::pipe(feed) != 0) return {-1, "", "pipe failed"};
    const pid_t child = ::fork();
    if (child == 0) {
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
      std::vector<char*> argv = {const_cast<char*>("reelprint")};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(REELPRINT_BINARY, argv.data());
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

  fs::path dir_;
};

TEST_F(Cli, NoArgumentsPrintsTheUsageTextWithStatusOne) {
  const Outcome result = reelprint({});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.out.starts_with("Usage: reelprint [options] <input_file>\n"));
  EXPECT_TRUE(result.out.ends_with("max 100\n          reelprint " REELPRINT_VERSION "\n"));
}

TEST_F(Cli, OptionsOnlyPrintTheUsageText) {
  EXPECT_EQ(reelprint({"-w", "-r", "40"}).status, 1);
  EXPECT_EQ(reelprint({"-r"}).status, 1);
}

TEST_F(Cli, AMissingFileIsNamedWithStatusTwo) {
  const Outcome result = reelprint({"missing.tap"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "Unable to open missing.tap\n");
}

TEST_F(Cli, ADirectoryCannotBeOpened) {
  fs::create_directory(dir_ / "reel");
  const Outcome result = reelprint({"reel"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "Unable to open reel\n");
}

TEST_F(Cli, ZeroFilesStillOpensTheFile) {
  EXPECT_EQ(reelprint({"-0", "missing.tap"}).status, 2);
  image({});
  const Outcome result = reelprint({"-0", "t.tap"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
}

TEST_F(Cli, ListsTwoTapeFilesWithWordMarksAndBlankLinesLeftOut) {
  image(ImageBuilder()
            .record(codes("~MCW~HELLO"))
            .record(repeat(0, 30) + codes("X"))
            .tape_mark()
            .record(codes("A"))
            .bytes());
  const Outcome result = reelprint({"-2", "-w", "-r10", "t.tap", "-a"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "File 1\n"
            "       ....5...10\n"
            "    1: MCWHELLO     Record 1\n"
            "       1  1\n"
            "    1:           "
            "   Record 2\n"
            "       \n"
            "   31: X\n"
            "       \n"
            "File 2\n"
            "       ....5...10\n"
            "    1: A            Record 1\n"
            "       \n");
  EXPECT_EQ(result.err, "");
}

TEST_F(Cli, SeparateAndJoinedLineWidthsListAlike) {
  image(ImageBuilder().record(repeat(49, 45)).bytes());
  const Outcome joined = reelprint({"-r40", "t.tap"});
  EXPECT_EQ(joined.out,
            "       ....5...10...15...20...25...30...35...40\n"
            "    1: " +
                std::string(40, 'A') +
                "   Record 1\n"
                "   41: AAAAA\n");
  EXPECT_EQ(reelprint({"-r", "40", "t.tap"}).out, joined.out);
  EXPECT_EQ(reelprint({"-r", "", "-r40", "t.tap"}).out, joined.out);
}

TEST_F(Cli, AFramingErrorStopsTheListingWithItsStatus) {
  image(ImageBuilder().record(codes("AB")).count(4).raw(codes("CDEF")).count(5).bytes());
  const Outcome result = reelprint({"-r5", "t.tap"});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.out,
            "       ....5\n"
            "    1: AB      Record 1\n"
            "    1: CDEF    Record 2\n"
            "Unequal starting and ending record sizes: 4 != 5\n");
}

TEST_F(Cli, DataCutShortNamesTheFileWithStatusThree) {
  image(ImageBuilder().count(10).raw(codes("ABC")).bytes(), "cut.tap");
  const Outcome result = reelprint({"-r5", "./cut.tap"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "       ....5\nError reading ./cut.tap\n");
}

TEST_F(Cli, ReadsATapeImageFromAPipe) {
  const Bytes big = repeat(49, 300'000);
  const Bytes tape = ImageBuilder().record(big).record(codes("B")).bytes();
  const Outcome result = reelprint({"/dev/stdin"}, "", &tape);
  EXPECT_EQ(result.status, 0);
  // 3000 lines of the first record, the last 2000 of them at six-digit positions.
  EXPECT_EQ(result.out.size(), testing::ruler_100.size() + (7 + 100 + 1 + 10 + 1) +
                                   2999 * (7 + 100 + 1) + 2000 + (7 + 1 + 100 + 10 + 1));
  EXPECT_TRUE(result.out.ends_with("299901: " + std::string(100, 'A') + "\n    1: B" +
                                   std::string(100, ' ') + "  Record 2\n"));
}

TEST_F(Cli, AFullDiskEndsWithStatusFiveAndOneLineOnStandardError) {
  image(ImageBuilder().record(repeat(49, 10'000)).bytes());
  const Outcome result = reelprint({"t.tap"}, "/dev/full");
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.err, "reelprint: error writing standard output: No space left on device\n");
}

TEST_F(Cli, AClosedPipeEndsTheRunQuietly) {
  image(ImageBuilder().record(repeat(49, 1'000'000)).bytes());
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ::close(pipe_fds[0]);  // nobody will read
  const Outcome result = reelprint({"t.tap"}, "", nullptr, pipe_fds[1]);
  ::close(pipe_fds[1]);
  EXPECT_NE(result.status, 0);
  EXPECT_EQ(result.err, "");
}

TEST_F(Cli, TheExampleTapeIsMadeByItsBuilderAndListsCleanly) {
  const fs::path made = dir_ / "deck.tap";
  const std::string command = std::string(MAKE_EXAMPLE_BINARY) + " " + made.string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(read_file(made), read_file(fs::path(EXAMPLE_DIR) / "deck.tap"));

  const Outcome result = reelprint({"-2", "-w", made.string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("\n    1: 00010          JOB  PRINT A GREETING ON THE 1403"),
            std::string::npos);
  EXPECT_NE(result.out.find("\n    1: /332,201M3602132.333"), std::string::npos);
}

}  // namespace
}  // namespace reelprint
