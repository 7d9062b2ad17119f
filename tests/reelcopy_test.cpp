// reelcopy run in-process: images built by hand from the containers' layouts, copied between
// every two formats that can carry them, joined, picked, split, and broken.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/status.h"
#include "reelcopy/run.h"
#include "tape_image/format.h"
#include "tests/support.h"

namespace reel::reelcopy {
namespace {

using tape_image::Format;
using testing::Bytes;
using testing::Collect;
using testing::operator+;

// An item of a reel, to be laid out in any format.
struct Item {
  enum Kind { record, bad_record, mark, gap } kind;
  Bytes data{};
};

Item rec(Bytes data) { return {Item::record, std::move(data)}; }
Item bad(Bytes data) { return {Item::bad_record, std::move(data)}; }
const Item mark{Item::mark};
const Item gap{Item::gap};

void word(Bytes& out, std::uint32_t value, int bytes, bool big) {
  for (int k = 0; k < bytes; ++k)
    out.push_back(static_cast<std::uint8_t>(value >> (8 * (big ? bytes - 1 - k : k))));
}

// The frame of `code` with an even number of ones in bits 0-6.
std::uint8_t even_frame(std::uint8_t code) {
  return static_cast<std::uint8_t>(code | (std::popcount(code) % 2 == 1 ? 0x40 : 0));
}

// Lays `items` out in `format`, as the containers' documentation has them: simh's and E11's
// counts around the data (simh's pad after odd data), TPC's 16-bit count before it (padded or
// not), a P7B frame a code with even parity and bit 7 on each record's first, a bad record's
// first frame with its parity turned over, the tape mark 0x8F, and a closing record start.
Bytes layout(const std::vector<Item>& items, Format format) {
  Bytes out;
  const bool tpc = format == Format::tpc || format == Format::tpc_nopad;
  const bool pads = format == Format::simh || format == Format::simh_be || format == Format::tpc;
  const int width = tpc ? 2 : 4;
  const bool big = format == Format::simh_be;
  for (const Item& item : items) {
    const auto size = static_cast<std::uint32_t>(item.data.size());
    if (format == Format::p7b) {
      if (item.kind == Item::mark) out.push_back(0x8F);
      for (std::size_t k = 0; k < item.data.size(); ++k) {
        std::uint8_t frame = even_frame(item.data[k]);
        if (k == 0) frame |= 0x80;
        if (k == 0 && item.kind == Item::bad_record) frame ^= 0x40;
        out.push_back(frame);
      }
      continue;
    }
    if (item.kind == Item::mark) {
      word(out, 0, width, big);
      continue;
    }
    if (item.kind == Item::gap) {
      word(out, 0xFFFF'FFFE, width, big);
      continue;
    }
    const std::uint32_t count = item.kind == Item::bad_record ? size | 0x8000'0000 : size;
    word(out, count, width, big);
    out.insert(out.end(), item.data.begin(), item.data.end());
    if (pads && size % 2 == 1) out.push_back(0);
    if (!tpc) word(out, count, width, big);
  }
  if (format == Format::p7b) out.push_back(0x8F);  // the closing record start this suite writes
  return out;
}

// Runs reelcopy over `args` with the images named in `images`, its output kept in `out`.
struct Ran {
  int status;
  std::string out;
  std::string err;
};

Ran copy(std::vector<std::string> args, const std::map<std::string, Bytes>& images,
         std::size_t per_read = ~std::size_t{0}, Tuning tuning = {}) {
  args.insert(args.begin(), "reelcopy");
  Collect out(Collect::Kind{.seekable = true});
  Collect err;
  const auto open = [&](const std::string& name) -> std::unique_ptr<tape_image::InputSource> {
    const auto found = images.find(name);
    if (found == images.end()) return nullptr;
    return std::make_unique<tape_image::MemorySource>(found->second, per_read);
  };
  const int status = run(args, open, out, err, tuning);
  return {status, out.text, err.text};
}

std::string text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

Bytes codes(std::size_t n, std::uint8_t first) {
  Bytes out(n);
  for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<std::uint8_t>((first + k) % 63 + 1);
  return out;
}

TEST(Reelcopy, CopiesBetweenEveryTwoFormatsThatCarryTheReel) {
  struct Reel {
    const char* name;
    std::vector<Item> items;
    std::vector<Format> formats;  // those that carry it
  };
  const std::vector<Format> all = {Format::simh, Format::e11,       Format::simh_be,
                                   Format::tpc,  Format::tpc_nopad, Format::p7b};
  const std::vector<Format> simh_forms = {Format::simh, Format::e11, Format::simh_be};
  const Reel reels[] = {
      {"odd and even records in two files",
       {rec(codes(3, 0)), rec(codes(80, 5)), mark, rec(codes(1, 9)), mark, mark},
       all},
      {"a record too long for the buffer",
       {rec(codes(70001, 1)), mark, mark},
       {Format::simh, Format::e11, Format::simh_be, Format::p7b}},
      {"a bad record stays bad",
       {rec(codes(2, 1)), bad(codes(5, 3)), mark, mark},
       {Format::simh, Format::e11, Format::simh_be, Format::p7b}},
      {"erase gaps", {gap, rec(codes(4, 2)), gap, mark}, simh_forms},
      {"no tape mark at the end", {rec(codes(7, 2))}, all},
      {"nothing at all", {}, all},
  };
  Tuning small;
  small.buffer_size = 16 * 1024;
  small.hold_memory = 4096;
  for (const Reel& reel : reels) {
    for (const Format from : reel.formats) {
      for (const Format to : reel.formats) {
        SCOPED_TRACE(std::string(reel.name) + ", " + std::string(name_of(from)) + " to " +
                     std::string(name_of(to)));
        const std::map<std::string, Bytes> images = {{"in", layout(reel.items, from)}};
        const std::vector<std::string> args = {"--from=" + std::string(name_of(from)),
                                               "--to=" + std::string(name_of(to)), "in"};
        for (const std::size_t per_read : {std::size_t{7}, ~std::size_t{0}}) {
          const Ran ran = copy(args, images, per_read, small);
          EXPECT_EQ(ran.status, status_ok) << ran.err;
          EXPECT_EQ(ran.out, text(layout(reel.items, to)));
        }
      }
    }
  }
}

TEST(Reelcopy, JoinsAndPicksTapeFilesIntoOneReel) {
  const Bytes a = codes(3, 0), b = codes(4, 7), c = codes(5, 20), d = codes(6, 30);
  const std::map<std::string, Bytes> images = {
      {"one", layout({rec(a), mark, rec(b), mark, mark}, Format::simh)},
      {"two", layout({rec(c), mark, rec(d)}, Format::simh)},  // its last file unended
      {"filled", layout({rec(a), mark, mark, mark, mark}, Format::simh) + Bytes{0, 0}},
      {"marks", layout({rec(a), mark, mark, mark, mark}, Format::simh)},
  };
  struct Case {
    std::vector<std::string> args;
    std::vector<Item> reel;
  };
  const Case cases[] = {
      {{"one", "two"}, {rec(a), mark, rec(b), mark, rec(c), mark, rec(d), mark, mark}},
      {{"two", "one"}, {rec(c), mark, rec(d), mark, rec(a), mark, rec(b), mark, mark}},
      {{"-f", "2", "one"}, {rec(b), mark, mark}},
      {{"-f", "2-3", "one", "two"}, {rec(b), mark, rec(c), mark, mark}},
      {{"--files=4-", "one", "two"}, {rec(d), mark, mark}},
      {{"--repair=zero-fill", "filled"}, {rec(a), mark, mark}},
      {{"marks", "one"}, {rec(a), mark, rec(a), mark, rec(b), mark, mark}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const Ran ran = copy(c.args, images);
    EXPECT_EQ(ran.status, status_ok) << ran.err;
    EXPECT_EQ(ran.err, "");
    EXPECT_EQ(ran.out, text(layout(c.reel, Format::simh)));
  }
  const Ran beyond = copy({"-f", "3", "one"}, images);
  EXPECT_EQ(beyond.status, status_ok);
  EXPECT_EQ(beyond.err, "reelcopy: the images end before tape file 3\n");
  EXPECT_EQ(beyond.out, "");
}

TEST(Reelcopy, SplitsEachTapeFileToAnImageThatJoinsBackToTheOriginal) {
  char folder[] = "/tmp/reelcopy_test.XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string prefix = std::string(folder) + "/part";
  const Bytes a = codes(3, 0), b = codes(80, 7);
  const Bytes original = layout({rec(a), rec(b), mark, mark, rec(b), mark, mark}, Format::simh);
  const Ran split = copy({"--split=" + prefix, "in"}, {{"in", original}});
  ASSERT_EQ(split.status, status_ok) << split.err;
  EXPECT_EQ(split.out, "");
  const auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  };
  std::map<std::string, Bytes> parts;
  for (const char* n : {".001", ".002", ".003"}) parts[n] = read(prefix + n);
  EXPECT_EQ(parts[".001"], layout({rec(a), rec(b), mark, mark}, Format::simh));
  EXPECT_EQ(parts[".002"], layout({mark, mark}, Format::simh));  // an empty tape file
  EXPECT_EQ(parts[".003"], layout({rec(b), mark, mark}, Format::simh));
  EXPECT_FALSE(std::ifstream(prefix + ".004").good());
  const Ran joined = copy({".001", ".002", ".003"}, parts);
  EXPECT_EQ(joined.status, status_ok) << joined.err;
  EXPECT_EQ(joined.out, text(original));

  const Ran data = copy({"--split=" + prefix, "--data", "-f", "3", "in"}, {{"in", original}});
  EXPECT_EQ(data.status, status_ok) << data.err;
  EXPECT_EQ(read(prefix + ".003"), b);
  EXPECT_EQ(copy({"--data", "in"}, {{"in", original}}).out, text(a + b + b));
  for (const char* n : {".001", ".002", ".003"}) std::remove((prefix + n).c_str());
  ::rmdir(folder);
}

TEST(Reelcopy, StopsAfterTheLastWholeRecordOfDamageOrWritesItBadGoingOn) {
  const Bytes a = codes(4, 0), b = codes(6, 9);
  const Bytes whole = layout({rec(a), mark}, Format::simh);
  const Bytes cut = whole + layout({rec(b)}, Format::simh);
  const Bytes unequal = layout({rec(a)}, Format::simh) + Bytes{6, 0, 0, 0} + b + Bytes{7, 0, 0, 0} +
                        layout({rec(a)}, Format::simh);
  struct Case {
    const char* name;
    Bytes image;
    bool keep_going;
    int status;
    std::vector<Item> out;
  };
  const Case cases[] = {
      {"cut in its data",
       Bytes(cut.begin(), cut.end() - 7),
       false,
       status_read_failed,
       {rec(a), mark}},
      {"cut in its data, going on",
       Bytes(cut.begin(), cut.end() - 7),
       true,
       status_read_failed,
       {rec(a), mark, bad(Bytes(b.begin(), b.begin() + 3))}},
      {"counts unequal", unequal, false, status_unequal_counts, {rec(a)}},
      {"counts unequal, going on", unequal, true, status_unequal_counts, {rec(a), bad(b), rec(a)}},
      {"stray bytes", whole + Bytes{1, 2}, false, status_read_failed, {rec(a), mark}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"in"};
    if (c.keep_going) args.insert(args.begin(), "--keep-going");
    const Ran ran = copy(args, {{"in", c.image}});
    EXPECT_EQ(ran.status, c.status);
    EXPECT_NE(ran.err.find("reelcopy: in: "), std::string::npos) << ran.err;
    EXPECT_EQ(ran.out, text(layout(c.out, Format::simh)));
  }
}

TEST(Reelcopy, RefusesARecordTheOutputCannotCarryAfterTheWholeOnesBefore) {
  const Bytes a = codes(4, 0);
  struct Case {
    const char* name;
    std::vector<Item> in;
    std::vector<std::string> args;
    std::vector<Item> out;  // the whole records before, in the output's format
    Format to;
  };
  const Case cases[] = {
      {"a record longer than TPC's counts",
       {rec(a), rec(codes(65536, 1))},
       {"--to=tpc"},
       {rec(a)},
       Format::tpc},
      {"a bad record to TPC", {rec(a), bad(a)}, {"--to=tpc"}, {rec(a)}, Format::tpc},
      {"a byte above 63 to P7B", {rec(a), rec({1, 64})}, {"--to=p7b"}, {rec(a)}, Format::p7b},
      {"the tape-mark character alone to P7B",
       {rec(a), rec({15})},
       {"--to=p7b"},
       {rec(a)},
       Format::p7b},
      {"an erase gap to TPC", {rec(a), gap}, {"--to=tpc"}, {rec(a)}, Format::tpc},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    args.push_back("in");
    const Ran ran = copy(args, {{"in", layout(c.in, Format::simh)}});
    EXPECT_EQ(ran.status, status_write_failed);
    EXPECT_NE(ran.err.find("cannot"), std::string::npos) << ran.err;
    EXPECT_EQ(ran.out, text(layout(c.out, c.to)));
  }
  const Ran dropped =
      copy({"--to=tpc", "--drop-gaps", "in"}, {{"in", layout({gap, rec(a)}, Format::simh)}});
  EXPECT_EQ(dropped.status, status_ok);
  EXPECT_EQ(dropped.out, text(layout({rec(a)}, Format::tpc)));
}

TEST(Reelcopy, WritesAndChecksTheParityAskedFor) {
  // Codes 1, 2 and 3 in odd parity: the parity bit on 3 alone, whose two ones are even.
  const Bytes odd_dump = {0x81, 0x02, 0x43, 0x8F, 0x8F};
  const Bytes simh = layout({rec({1, 2, 3}), mark}, Format::simh);
  const Ran written = copy({"--to=p7b", "--parity=odd", "in"}, {{"in", simh}});
  EXPECT_EQ(written.out, text(odd_dump));
  EXPECT_EQ(copy({"--from=p7b", "--parity=odd", "in"}, {{"in", odd_dump}}).out, text(simh));
  // Read as even parity, every frame but the tape mark's is wrong: the record is bad.
  EXPECT_EQ(copy({"--from=p7b", "in"}, {{"in", odd_dump}}).out,
            text(layout({bad({1, 2, 3}), mark}, Format::simh)));
  EXPECT_EQ(copy({"--from=p7b", "--parity=none", "in"}, {{"in", odd_dump}}).out, text(simh));
}

TEST(Reelcopy, RefusesABadCommandLineWithStatus1) {
  const std::map<std::string, Bytes> images = {{"in", layout({rec({1}), mark}, Format::simh)}};
  struct Case {
    std::vector<std::string> args;
    const char* said;
  };
  const Case cases[] = {
      {{"--from=tap", "in"}, "reelcopy: invalid format 'tap' for --from"},
      {{"--to=simh-tm8", "in"}, "reelcopy: invalid format 'simh-tm8' for --to"},
      {{"--parity=mark", "in"}, "reelcopy: invalid parity 'mark'"},
      {{"--repair=all", "in"}, "reelcopy: invalid repair 'all'"},
      {{"-f", "0", "in"}, "reelcopy: invalid tape files '0'"},
      {{"--split=p", "-o", "x", "in"}, "reelcopy: options '--split' and '--output'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const Ran ran = copy(c.args, images);
    EXPECT_EQ(ran.status, status_usage);
    EXPECT_EQ(ran.err.rfind(c.said, 0), 0u) << ran.err;
    EXPECT_EQ(ran.out, "");
  }
}

TEST(Reelcopy, WritesTheFileNamedButNeverOverAnImageItReads) {
  char path[] = "/tmp/reelcopy_out.XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  const Bytes image = layout({rec({1, 2}), mark, mark}, Format::simh);
  const Ran ran = copy({"-o", path, "--to=tpc", "in"}, {{"in", image}});
  EXPECT_EQ(ran.status, status_ok) << ran.err;
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}),
            layout({rec({1, 2}), mark, mark}, Format::tpc));
  const Ran same = copy({"-o", path, path}, {{path, image}});
  EXPECT_EQ(same.status, status_usage);
  EXPECT_NE(same.err.find("is the image"), std::string::npos) << same.err;
  std::remove(path);
}

TEST(Reelcopy, ReadsATpcFilePaddedOrNotAsItReadsCleanlyAndSaysWhich) {
  const std::vector<Item> reel = {rec({1, 2, 3}), rec({4, 5}), mark, mark};
  const Ran padded = copy({"--from=tpc", "in"}, {{"in", layout(reel, Format::tpc)}});
  EXPECT_EQ(padded.out, text(layout(reel, Format::simh)));
  EXPECT_EQ(padded.err, "");
  const Ran unpadded = copy({"--from=tpc", "in"}, {{"in", layout(reel, Format::tpc_nopad)}});
  EXPECT_EQ(unpadded.status, status_ok);
  EXPECT_EQ(unpadded.out, text(layout(reel, Format::simh)));
  EXPECT_EQ(unpadded.err,
            "reelcopy: in: odd-length records without a pad byte: read as tpc-nopad\n");
}

// Into a file (seekable, to be cut back where the copy stops) the output is a good image at
// every moment, whatever the disk takes; after a full disk it ends after its last whole record.
// Into a pipe, it is the start of the image.
TEST(Reelcopy, TheOutputIsAGoodImageAtEveryMomentAndAfterAFullDisk) {
  const std::vector<Item> reel = {rec(codes(5, 1)),
                                  rec(codes(50'000, 2)),
                                  mark,
                                  rec(codes(3, 4)),
                                  rec(codes(70'001, 3)),
                                  mark,
                                  mark};
  const Bytes image = layout(reel, Format::simh);
  Tuning small;
  small.buffer_size = 16 * 1024;
  small.hold_memory = 4096;
  const std::function<bool(const std::string&)> good = [](const std::string& bytes) {
    return testing::good_image(bytes, tape_image::Framing::simh);
  };
  for (const bool seekable : {false, true}) {
    for (const std::uint64_t limit :
         {std::uint64_t{20}, std::uint64_t{30'000}, std::uint64_t{60'000}, std::uint64_t{130'000},
          std::uint64_t{200'000}}) {
      SCOPED_TRACE(std::to_string(limit) + (seekable ? ", seekable" : ", a pipe"));
      Collect out(
          Collect::Kind{.seekable = seekable,
                        .limit = limit,
                        .good = seekable ? good : std::function<bool(const std::string&)>{}});
      Collect err;
      const auto open = [&](const std::string&) -> std::unique_ptr<tape_image::InputSource> {
        return std::make_unique<tape_image::MemorySource>(image, 4096);
      };
      const int status = run({"reelcopy", "--from=simh", "in"}, open, out, err, small);
      EXPECT_FALSE(out.ever_bad);
      if (limit >= image.size()) {
        EXPECT_EQ(status, status_ok);
        EXPECT_EQ(out.text, text(image));
        continue;
      }
      EXPECT_EQ(status, status_write_failed);
      EXPECT_EQ(text(image).compare(0, out.text.size(), out.text), 0);
      if (seekable) {
        EXPECT_TRUE(good(out.text)) << out.text.size();
      }
    }
  }
}

}  // namespace
}  // namespace reel::reelcopy
