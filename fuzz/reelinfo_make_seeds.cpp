// Writes reelinfo_fuzzer's seed inputs: the example tape and small damaged images, with a few
// option sets and ways of serving them, laid out as fuzz/reelinfo_harness.h reads them.
// Usage: reelinfo_make_seeds DECK_TAP OUTPUT_DIR
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/reelinfo_harness.h"
#include "tape_image/image_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using reel::tape_image::Framing;
using reel::tape_image::ImageBuilder;
namespace serve = reel::reelinfo::fuzz;

struct Seed {
  std::string name;
  std::vector<std::string> options;
  Bytes image;
  std::uint8_t flags = 0;  // bits 4 to 7 of byte 0
  bool name_image = true;
};

Bytes text(std::string_view chars) { return Bytes(chars.begin(), chars.end()); }

// A record framed by `word` before and after, as simh frames a bad record.
Bytes framed(std::uint32_t word, std::size_t size) {
  return ImageBuilder().count(word).raw(Bytes(size, 49)).count(word).bytes();
}

// Appends the images' bytes one after another.
Bytes join(std::initializer_list<Bytes> parts) {
  Bytes bytes;
  for (const Bytes& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

// A record whose counts are written big-endian.
Bytes big_endian_record(const Bytes& data) {
  const auto size = static_cast<std::uint32_t>(data.size());
  const Bytes count = {static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                       static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
  return join({count, data, data.size() % 2 == 1 ? Bytes{0} : Bytes{}, count});
}

std::vector<Seed> seeds(const Bytes& deck) {
  const Bytes hello = {56, 53, 35, 35, 38};  // HELLO
  const Bytes abc = {49, 50, 51};
  const Bytes record = ImageBuilder().record(hello).bytes();
  const Bytes mark = ImageBuilder().tape_mark().bytes();
  const Bytes e11 = ImageBuilder(Framing::e11).record(abc).record(hello).tape_mark().bytes();
  const Bytes unequal = ImageBuilder().count(4).raw(Bytes{1, 2, 3, 4}).count(5).record(abc).bytes();
  const Bytes eight_byte_marks = join({record, mark, mark, record, mark, mark, mark, mark});
  const Bytes end_of_medium = join({record, mark, ImageBuilder().count(0xFFFFFFFF).bytes(), abc});
  const Bytes bad_record = join({record, framed(0x80000050, 0x50), record, mark});
  const Bytes erase_gaps = join({record, ImageBuilder().count(0xFFFFFFFE).count(0xFFFFFFFE).bytes(),
                                 record, mark, ImageBuilder().count(0xFFFFFFFE).bytes()});
  const Bytes half_gap = join({record, ImageBuilder().count(0xFFFEFFFF).bytes(), record, mark});
  const Bytes reserved = join({record, ImageBuilder().count(0x9A000000).bytes(), record});
  const Bytes swapped = join({big_endian_record(hello), big_endian_record(abc), mark});
  // TPC: HELLO (a 16-bit count, the data, its pad), ABC likewise, a tape mark.
  const Bytes tpc = {5, 0, 56, 53, 35, 35, 38, 0, 3, 0, 49, 50, 51, 0, 0, 0};
  // P7B, even parity: AB, ABC with a parity error in its C, a tape mark, HE, two tape marks
  // and the closing record start.
  const Bytes dump = {0xF1, 0x72, 0xF1, 0x72, 0x73, 0x8F, 0xF8, 0x35, 0x8F, 0x8F, 0x8F};
  return {
      {"deck", {}, deck},
      {"deck-records", {"-l"}, deck},
      {"deck-e11", {"-e"}, deck},
      {"deck-records-e11-cluster", {"-le"}, deck},
      {"deck-records-short-reads", {"--records"}, deck, serve::short_reads},
      {"deck-failing-read", {}, deck, serve::failing_read},
      {"deck-records-small-spool", {"-l"}, deck, serve::small_spool_flag},
      {"deck-records-tight-output", {"-l"}, deck, serve::tight_output},
      {"deck-records-small-spool-tight-output",
       {"-l"},
       deck,
       serve::small_spool_flag | serve::tight_output},
      {"deck-twice-and-a-missing-name", {"-l", "t.tap", "missing.tap"}, deck},
      {"empty-image", {}, {}},
      {"empty-image-failing-read", {}, {}, serve::failing_read},
      {"hello-and-tape-mark", {"-l"}, join({record, mark})},
      {"data-cut-short", {}, ImageBuilder().count(10).raw(abc).bytes()},
      {"pad-byte-missing", {}, join({record, ImageBuilder().count(3).raw(abc).bytes()})},
      {"trailer-cut-short", {}, ImageBuilder().count(3).raw(abc).raw(Bytes{0, 3}).bytes()},
      {"unequal-counts", {}, unequal},
      {"unequal-counts-failing-read", {}, unequal, serve::failing_read | serve::short_reads},
      {"e11-read-as-simh", {}, e11},
      {"e11-read-as-e11", {"--e11"}, e11, serve::short_reads},
      {"simh-read-as-e11", {"-e"}, join({ImageBuilder().record(abc).bytes(), mark})},
      {"stray-bytes", {}, join({record, Bytes{1, 2, 3}})},
      {"end-of-medium-and-bytes-after", {"-l"}, end_of_medium},
      {"bad-record-bit-31", {"-l"}, bad_record},
      {"bad-record-bit-31-e11", {"-e"}, bad_record},
      {"erase-gaps", {"-l"}, erase_gaps},
      {"half-gap", {}, half_gap},
      {"reserved-word", {"-l"}, reserved},
      {"byte-swapped-counts", {}, swapped},
      {"eight-byte-tape-marks", {"-l"}, eight_byte_marks},
      {"text-not-an-image", {}, text("root:x:0:0:root:/root:/bin/bash\n")},
      {"count-2-to-the-31-less-1", {}, ImageBuilder().count(0x7FFFFFFF).raw(abc).bytes()},
      {"help", {"--help"}, {}},
      {"version", {"--version"}, {}},
      {"help-after-an-image", {"-l", "--he"}, record},
      {"help-tight-output", {"--help"}, Bytes(100, 0), serve::tight_output},
      {"unknown-short-option", {"-x"}, record},
      {"long-option-with-value", {"--records=1"}, record},
      {"unknown-long-option", {"--bogus"}, record},
      {"no-image-named", {}, {}, 0, false},
      {"image-named-like-an-option", {"--", "-l"}, record},
      {"standard-input-through-the-opener", {"-"}, record},
      {"tape-mark-character-record",
       {},
       join({record, ImageBuilder().record(Bytes{15}).bytes(), mark, mark})},
      {"tpc-read-as-tpc", {"--format=tpc"}, tpc},
      {"tpc-read-as-simh", {}, tpc},
      {"eight-byte-tape-marks-read-so", {"--format", "simh-tm8", "-l"}, eight_byte_marks},
      {"big-endian-counts-read-so", {"--form=simh-be"}, swapped, serve::short_reads},
      {"unknown-format", {"--format=p8b"}, record},
      {"p7b-dump", {"--format=p7b", "-l"}, dump},
      {"p7b-dump-odd-parity-apart", {"--format", "p7b", "--parity", "odd"}, dump},
      {"p7b-dump-read-as-simh", {}, dump},
      {"p7b-dump-json-short-reads", {"-j", "--format=p7b"}, dump, serve::short_reads},
      {"simh-read-as-p7b", {"--format=p7b"}, join({record, mark})},
      {"deck-json-records", {"-jl"}, deck},
      {"json-bad-record-and-a-missing-name", {"--json", "t.tap", "missing.tap"}, bad_record},
      {"json-failing-read-small-spool",
       {"--js"},
       unequal,
       serve::failing_read | serve::small_spool_flag},
      {"json-end-of-medium-tight-output", {"-j"}, end_of_medium, serve::tight_output},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("Usage: reelinfo_make_seeds DECK_TAP OUTPUT_DIR\n", stderr);
    return 1;
  }
  const std::optional<Bytes> deck = reel::fuzz::read_seed_source(argv[1]);
  if (!deck) return 1;
  const std::filesystem::path dir = argv[2];
  std::filesystem::create_directories(dir);
  for (const Seed& seed : seeds(*deck))
    if (!reel::fuzz::write_seed(
            dir, seed.name,
            reel::fuzz::make_input(seed.options, seed.image, seed.name_image, seed.flags)))
      return 1;
  return 0;
}
