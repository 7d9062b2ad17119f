// Every kernel this processor runs, on the same cases: each gives the bytes that the rules
// give, and writes nothing past what it may.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bcd/dispatch.h"

namespace reel::bcd {
namespace {

// Bytes of every value in a scattered order, separators (any byte with code 29) among them.
std::vector<std::uint8_t> scattered(std::size_t n, unsigned seed) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t k = 0; k < n; ++k) bytes[k] = static_cast<std::uint8_t>(k * 151 + seed * 37 + 5);
  return bytes;
}

// What arrangement H with '_' for the blank shows for `byte`, worked out from the fixed table.
char shown(std::uint8_t byte) {
  const char c = bcd_to_ascii_h[byte & 63];
  return c == ' ' ? '_' : c;
}

class EveryKernel : public ::testing::TestWithParam<KernelId> {
 protected:
  template <class Work>
  void with(Work&& work) {
    with_kernel(GetParam(), table_, work);
  }
  const DisplayTable table_ = prepare(Arrangement::h, '_');
};

TEST_P(EveryKernel, TranslatesEveryLengthAndWritesNoFurtherThanItsReach) {
  const std::vector<std::uint8_t> bytes = scattered(widest_translated_line + reach + 3, 1);
  for (const std::size_t offset : {0, 3}) {
    for (std::size_t n = 1; n <= widest_translated_line; ++n) {
      std::string out(reach + 8, '!');
      with([&](const auto& kernel) { kernel.translate(bytes.data() + offset, n, out.data()); });
      std::string expected;
      for (std::size_t k = 0; k < n; ++k) expected += shown(bytes[offset + k]);
      ASSERT_EQ(out.substr(0, n), expected) << "n=" << n;
      ASSERT_EQ(out.substr(reach), "!!!!!!!!") << "n=" << n;
    }
  }
}

TEST_P(EveryKernel, WritesTheFrameWithTheLineInItAndShowsNothingPastTheLine) {
  // Readable as far as a kernel may read it.
  std::string frame(frame_reach, '?');
  for (std::size_t k = 0; k < frame_size; ++k) frame[k] = static_cast<char>('a' + k % 26);
  for (const std::size_t at : {0, 7, 32}) {
    for (std::size_t n = 1; at + n <= frame_size; ++n) {
      // The line between bytes that show as '?' (code 63 + 128) if translated.
      std::vector<std::uint8_t> bytes(n + reach, 63 + 128);
      for (std::size_t k = 0; k < n; ++k) bytes[k] = static_cast<std::uint8_t>(k * 7 % 64);
      std::string out(frame_reach + 8, '!');
      with([&](const auto& kernel) {
        kernel.put_framed(bytes.data(), n, out.data(), at, frame.data());
      });
      std::string expected = frame.substr(0, frame_size);
      for (std::size_t k = 0; k < n; ++k) expected[at + k] = shown(bytes[k]);
      ASSERT_EQ(out.substr(0, frame_size), expected) << "at=" << at << " n=" << n;
      ASSERT_EQ(out.substr(frame_reach), "!!!!!!!!");
    }
  }
}

TEST_P(EveryKernel, SplitsOutTheSeparatorsAndMarksTheByteAfterEach) {
  for (unsigned seed = 0; seed < 24; ++seed) {
    // Separators of every form, alone and in runs, at the ends too.
    std::vector<std::uint8_t> bytes = scattered(split_size + reach, seed);
    for (std::size_t k = seed % 5; k < bytes.size(); k += 3 + (k * seed) % 7)
      bytes[k] = static_cast<std::uint8_t>(word_separator + 64 * (k % 4));
    if (seed % 2 == 0) bytes[split_size - 1] = word_separator;
    for (std::size_t n = 1; n <= split_size; ++n) {
      for (const bool after : {false, true}) {
        SplitMask expected_separators;
        std::vector<std::uint8_t> expected_codes;
        std::string expected_marks;
        bool marked = after;
        for (std::size_t k = 0; k < n; ++k) {
          if ((bytes[k] & 63) == word_separator) {
            (k < 64 ? expected_separators.low : expected_separators.high) |= std::uint64_t{1}
                                                                             << (k % 64);
            marked = true;
          } else {
            expected_codes.push_back(bytes[k]);
            expected_marks += marked ? '1' : ' ';
            marked = false;
          }
        }
        // The split, written out both ways: stored, and as the line writer writes it.
        std::vector<std::uint8_t> codes(reach + 8, '!');
        std::string marks(reach + 8, '!');
        std::string chars(reach + 8, '!');
        std::string written_marks(reach + 8, '!');
        const std::size_t kept = expected_codes.size();
        SplitMask separators;
        std::size_t split_kept = 0, marks_end = 0;
        with([&](const auto& kernel) {
          const auto split = kernel.split(bytes.data(), n, after);
          separators = split.separators;
          split_kept = split.kept;
          marks_end = split.marks_end;
          kernel.store(split, codes.data(), marks.data());
          if (kept > 0) kernel.translate(split, kept, chars.data());
          kernel.put_marks(split, written_marks.data());
        });
        ASSERT_TRUE(separators == expected_separators) << "seed=" << seed << " n=" << n;
        ASSERT_EQ(split_kept, kept) << "seed=" << seed << " n=" << n;
        ASSERT_EQ(marks_end, expected_marks.find_last_of('1') + 1) << "seed=" << seed << " n=" << n;
        for (std::size_t k = 0; k < kept; ++k)
          ASSERT_EQ(codes[k] & 63, expected_codes[k] & 63) << "seed=" << seed << " n=" << n;
        ASSERT_EQ(marks.substr(0, kept), expected_marks) << "seed=" << seed << " n=" << n;
        ASSERT_EQ(written_marks.substr(0, kept), expected_marks) << "seed=" << seed << " n=" << n;
        for (std::size_t k = 0; k < kept; ++k)
          ASSERT_EQ(chars[k], shown(expected_codes[k])) << "seed=" << seed << " n=" << n;
        ASSERT_EQ(std::string(codes.begin() + split_size, codes.end()) + marks.substr(split_size) +
                      written_marks.substr(split_size),
                  std::string(3 * (reach + 8 - split_size), '!'));
      }
    }
  }
}

// A byte above 63 anywhere among the bytes is found, one just past them is not.
TEST_P(EveryKernel, FindsEveryByteAboveSixtyThreeAmongThoseAsked) {
  for (std::size_t n = 1; n <= 2 * widest_translated_line; ++n) {
    std::vector<std::uint8_t> bytes(n + reach);
    for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<std::uint8_t>(k % 64);
    bytes[n] = 200;
    bool all = false;
    with([&](const auto& kernel) { all = kernel.all_codes(bytes.data(), n); });
    ASSERT_TRUE(all) << "n=" << n;
    for (std::size_t at = 0; at < n; ++at) {
      for (const std::uint8_t above : {64, 128, 255}) {
        const std::uint8_t was = bytes[at];
        bytes[at] = above;
        with([&](const auto& kernel) { all = kernel.all_codes(bytes.data(), n); });
        bytes[at] = was;
        ASSERT_FALSE(all) << "n=" << n << ", " << int{above} << " at " << at;
      }
    }
  }
}

// Every byte value as text, 64 to a block: the code of each character of arrangement H (with
// '_' for the blank), and which bytes are newlines and which are neither.
TEST_P(EveryKernel, TurnsTextBackIntoCodes) {
  for (unsigned block = 0; block < 4; ++block) {
    std::vector<std::uint8_t> text(text_block + reach);
    for (std::size_t k = 0; k < text_block; ++k)
      text[k] = static_cast<std::uint8_t>(64 * block + k);
    std::uint64_t newlines = 0;
    std::uint64_t others = 0;
    std::vector<int> expected(text_block, -1);  // the code of each character
    for (std::size_t k = 0; k < text_block; ++k) {
      for (int code = 0; code < 64; ++code)
        if (shown(static_cast<std::uint8_t>(code)) == static_cast<char>(text[k]))
          expected[k] = code;
      if (text[k] == '\n') newlines |= std::uint64_t{1} << k;
      if (text[k] != '\n' && expected[k] < 0) others |= std::uint64_t{1} << k;
    }
    std::vector<std::uint8_t> scanned(text_block + reach), encoded(text_block + reach);
    TextScan scan{};
    with([&](const auto& kernel) {
      scan = kernel.scan_text(text.data(), scanned.data());
      kernel.encode_text(text.data(), encoded.data());
    });
    EXPECT_EQ(scan.newlines, newlines) << block;
    EXPECT_EQ(scan.others, others) << block;
    for (std::size_t k = 0; k < text_block; ++k) {
      if (expected[k] < 0) continue;
      EXPECT_EQ(scanned[k], expected[k]) << int{text[k]};
      EXPECT_EQ(encoded[k], expected[k]) << int{text[k]};
    }
  }
}

// Blocks of frames: every byte value, none and every bit set, alternate starts, and scattered
// bytes; each scanned against the bits counted one by one.
TEST_P(EveryKernel, ScansFramesForTheirStartsAndTheirParity) {
  std::vector<std::vector<std::uint8_t>> blocks;
  for (unsigned quarter = 0; quarter < 4; ++quarter) {
    blocks.emplace_back(frame_block);
    for (std::size_t k = 0; k < frame_block; ++k)
      blocks.back()[k] = static_cast<std::uint8_t>(64 * quarter + k);
  }
  blocks.emplace_back(frame_block, 0x00);
  blocks.emplace_back(frame_block, 0xFF);
  blocks.emplace_back(frame_block);
  for (std::size_t k = 0; k < frame_block; ++k) blocks.back()[k] = k % 2 == 0 ? 0x80 : 0x7F;
  std::uint32_t state = 12345;
  for (int n = 0; n < 40; ++n) {
    blocks.emplace_back(frame_block);
    for (std::uint8_t& byte : blocks.back()) {
      state = state * 1103515245 + 12345;
      byte = static_cast<std::uint8_t>(state >> 23);
    }
  }
  for (const std::vector<std::uint8_t>& block : blocks) {
    FrameScan expected{0, 0};
    for (std::size_t k = 0; k < frame_block; ++k) {
      int ones = 0;
      for (int bit = 0; bit < 7; ++bit) ones += (block[k] >> bit) & 1;
      expected.starts |= std::uint64_t{block[k] >= 128} << k;
      expected.odd |= std::uint64_t(ones % 2) << k;
    }
    const std::vector<std::uint8_t> before = block;
    FrameScan scan{};
    with([&](const auto& kernel) { scan = kernel.scan_frames(block.data()); });
    EXPECT_EQ(scan.starts, expected.starts);
    EXPECT_EQ(scan.odd, expected.odd);
    EXPECT_EQ(block, before);
  }
}

// Every count of frames up to a few vectors, from every offset in a cache line, written
// elsewhere (to every offset as well) and in place: each frame's low six bits, and nothing
// past them.
TEST_P(EveryKernel, PutsTheCodesOfAnyNumberOfFramesAndNothingPastThem) {
  const std::vector<std::uint8_t> frames = scattered(64 + 200 + 64, 3);
  for (std::size_t n = 0; n <= 200; ++n) {
    for (std::size_t from = 0; from < 64; from += 7) {
      const std::size_t to = (from * 5 + n) % 64;
      std::vector<std::uint8_t> expected(64 + 200 + 64, '!');
      for (std::size_t k = 0; k < n; ++k) expected[to + k] = frames[from + k] % 64;
      std::vector<std::uint8_t> codes(expected.size(), '!');
      std::vector<std::uint8_t> same(frames.size(), '!');
      std::copy(frames.begin() + from, frames.begin() + from + n, same.begin() + to);
      with([&](const auto& kernel) {
        kernel.put_codes(frames.data() + from, n, codes.data() + to);
        kernel.put_codes(same.data() + to, n, same.data() + to);
      });
      ASSERT_EQ(codes, expected) << "n=" << n << " from=" << from;
      ASSERT_EQ(same, expected) << "n=" << n << " in place at " << to;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Here, EveryKernel, ::testing::ValuesIn(kernels_here()),
                         [](const auto& kernel) { return std::string(name_of(kernel.param)); });

TEST(Kernels, ThePortableOneRunsEverywhereAndTheBestIsLast) {
  ASSERT_FALSE(kernels_here().empty());
  EXPECT_EQ(kernels_here().front(), KernelId::portable);
  EXPECT_EQ(best_kernel(), kernels_here().back());
}

}  // namespace
}  // namespace reel::bcd
