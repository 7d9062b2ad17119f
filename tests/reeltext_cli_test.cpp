// End-to-end runs of the reeltext binary (built with REELPRINT_BINARY naming it): the example
// deck out and back, a record longer than every buffer through a regular file (written and
// then its count written over), a file appended to and a pipe (held, past a megabyte in a
// temporary file), a bad character after it, which cuts the file back, and output that can't
// be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/binary_run.h"
#include "tests/support.h"

namespace reel::reelprint {
namespace {

using tape_image::ImageBuilder;
using testing::BinaryOutcome;
using testing::Bytes;
using testing::codes;
using testing::read_file;

Bytes bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

class ReeltextCli : public testing::BinaryTest {
 protected:
  // The fixture runs REELPRINT_BINARY, which this test names reeltext.
  BinaryOutcome reeltext(const std::vector<std::string>& args, const std::string& stdout_path = "",
                         const Bytes* input = nullptr, int stdout_fd = -1) {
    return reelprint(args, stdout_path, input, stdout_fd);
  }

  // Runs reeltext with its standard output a pipe, which a thread of the test empties.
  BinaryOutcome through_pipe(const std::vector<std::string>& args, const Bytes* input = nullptr) {
    int ends[2];
    if (::pipe(ends) != 0) return {-1, "", "pipe failed"};
    std::string got;
    std::thread reader([&] {
      std::vector<char> block(1 << 16);
      for (ssize_t n; (n = ::read(ends[0], block.data(), block.size())) > 0;)
        got.append(block.data(), static_cast<std::size_t>(n));
    });
    BinaryOutcome result = reeltext(args, "", input, ends[1]);
    ::close(ends[1]);
    reader.join();
    ::close(ends[0]);
    result.out = got;
    return result;
  }

  // Runs reeltext with its standard output appended to the file `name`, which holds `before`.
  BinaryOutcome appended(const std::vector<std::string>& args, const std::string& name,
                         const std::string& before) {
    testing::write_file(dir_ / name, bytes_of(before));
    const int fd = ::open((dir_ / name).c_str(), O_WRONLY | O_APPEND);
    if (fd < 0) return {-1, "", "open failed"};
    BinaryOutcome result = reeltext(args, "", nullptr, fd);
    ::close(fd);
    result.out = read_file(dir_ / name);
    return result;
  }
};

TEST_F(ReeltextCli, TheExampleDeckOutAndBack) {
  const std::string deck = std::string(EXAMPLE_DIR) + "/deck.tap";
  const std::string image = read_file(deck);
  const BinaryOutcome text = reeltext({deck}, (dir_ / "deck.txt").string());
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.err, "");
  const std::string lines = read_file(dir_ / "deck.txt");
  // Eleven cards, a tape mark, four records, two tape marks.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 18);
  EXPECT_EQ(lines.substr(0, 81).back(), '\n');

  const BinaryOutcome back = reeltext({"-r", "deck.txt"}, (dir_ / "back.tap").string());
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_TRUE(read_file(dir_ / "back.tap") == image);
  // The same through pipes, named "-" and not named.
  const Bytes text_bytes = bytes_of(lines);
  EXPECT_TRUE(through_pipe({"--reverse", "-"}, &text_bytes).out == image);
  const Bytes image_bytes = bytes_of(image);
  EXPECT_EQ(through_pipe({}, &image_bytes).out, lines);
}

// A line of 3 MiB: past the output buffer, and past the megabyte the hold keeps in memory.
TEST_F(ReeltextCli, ARecordLongerThanEveryBufferThroughFilesAndPipes) {
  const std::size_t size = 3 << 20;
  const std::string lines = "AB\n" + std::string(size, 'A') + "\ntape mark\nC";
  ImageBuilder built;
  built.record(codes("AB")).record(Bytes(size, 49)).tape_mark().record(codes("C"));
  const std::string image(built.bytes().begin(), built.bytes().end());
  testing::write_file(dir_ / "t.txt", bytes_of(lines));
  testing::write_file(dir_ / "t.tap", built.bytes());
  const Bytes lines_bytes = bytes_of(lines);
  const Bytes image_bytes = built.bytes();
  struct Way {
    std::vector<std::string> args;
    std::string input;  // the file read, and what is to come out
    std::string output;
  };
  // As the text comes back from the image, a last line gets its newline.
  for (const Way& way : {Way{{"-r", "t.txt"}, lines, image}, Way{{"t.tap"}, image, lines + "\n"}}) {
    const BinaryOutcome to_file = reeltext(way.args, (dir_ / "out").string());
    EXPECT_EQ(to_file.status, 0) << to_file.err;
    EXPECT_TRUE(read_file(dir_ / "out") == way.output) << way.args[0];
    const BinaryOutcome to_pipe = through_pipe(way.args);
    EXPECT_EQ(to_pipe.status, 0) << to_pipe.err;
    EXPECT_TRUE(to_pipe.out == way.output) << way.args[0];
    const BinaryOutcome to_end = appended(way.args, "appended", "xyz");
    EXPECT_EQ(to_end.status, 0) << to_end.err;
    EXPECT_TRUE(to_end.out == "xyz" + way.output) << way.args[0];
    const bool reverse = way.args[0] == "-r";
    const BinaryOutcome from_pipe =
        through_pipe(reverse ? std::vector<std::string>{"-r", "-"} : std::vector<std::string>{"-"},
                     reverse ? &lines_bytes : &image_bytes);
    EXPECT_EQ(from_pipe.status, 0) << from_pipe.err;
    EXPECT_TRUE(from_pipe.out == way.output) << way.args[0];
  }
}

// The record that breaks after 3 MiB has reached the file: the file is cut back to the
// records before it.
TEST_F(ReeltextCli, ABreakAfterALongRecordCutsTheFileBack) {
  const std::size_t size = 3 << 20;
  testing::write_file(dir_ / "t.txt", bytes_of("AB\n" + std::string(size, 'A') + "a\n"));
  ImageBuilder cut;
  cut.record(codes("AB")).count(size + 1).raw(Bytes(size, 49));
  testing::write_file(dir_ / "t.tap", cut.bytes());
  const Bytes card = ImageBuilder().record(codes("AB")).bytes();
  struct Way {
    std::vector<std::string> args;
    std::string output;
    std::string err;
    int status;
  };
  for (const Way& way :
       {Way{{"-r", "t.txt"},
            std::string(card.begin(), card.end()),
            "reeltext: t.txt: line 2, column 3145729: 'a' is not in print arrangement A\n",
            3},
        Way{{"t.tap"},
            "AB\n",
            "reeltext: t.tap: file 1 record 2 at 10: cut short in its data, 3145728 of 3145729 "
            "bytes there\n",
            3}}) {
    const BinaryOutcome to_file = reeltext(way.args, (dir_ / "out").string());
    EXPECT_EQ(to_file.status, way.status);
    EXPECT_EQ(to_file.err, way.err);
    EXPECT_TRUE(read_file(dir_ / "out") == way.output) << way.args[0];
    const BinaryOutcome to_pipe = through_pipe(way.args);
    EXPECT_EQ(to_pipe.status, way.status);
    EXPECT_TRUE(to_pipe.out == way.output) << way.args[0];
  }
}

TEST_F(ReeltextCli, OutputThatCantBeWrittenIsStatusFive) {
  testing::write_file(dir_ / "t.txt", bytes_of("HELLO\n"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{std::string(EXAMPLE_DIR) + "/deck.tap"},
        std::vector<std::string>{"-r", "t.txt"}, std::vector<std::string>{"--help"}}) {
    const BinaryOutcome result = reeltext(args, "/dev/full");
    EXPECT_EQ(result.status, 5);
    EXPECT_EQ(result.err, "reeltext: error writing standard output: No space left on device\n");
  }
}

}  // namespace
}  // namespace reel::reelprint
