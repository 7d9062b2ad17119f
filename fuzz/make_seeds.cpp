// Writes the fuzzer's seed inputs: the example tape and the tests' small images, each with a
// few option sets, laid out as run_input reads them. Usage: make_seeds DECK_TAP OUTPUT_DIR
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "tape_image/image_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using reel::tape_image::ImageBuilder;

struct Seed {
  std::string name;
  std::vector<std::string> options;
  Bytes image;
  bool name_image = true;
};

Bytes repeat(std::uint8_t code, std::size_t count) { return Bytes(count, code); }

Bytes all_bytes() {
  Bytes bytes;
  for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

std::vector<Seed> seeds(const Bytes& deck) {
  const Bytes hello = {56, 53, 35, 35, 38};                           // HELLO
  const Bytes marked = {29, 49, 29, 50, 51, 0, 52, 29, 53, 0, 0, 0};  // ~A~BC D~E and blanks
  const auto e11 = ImageBuilder(reel::tape_image::Framing::e11)
                       .record(Bytes{49, 50, 51})
                       .record(Bytes{52, 53, 54, 55})
                       .bytes();
  return {
      {"deck", {}, deck},
      {"deck-two-files-word-marks", {"-2", "-w"}, deck},
      {"deck-three-files-all-lines-width-7", {"-3", "-a", "-r7"}, deck},
      {"deck-e11-fortran", {"-e", "-h"}, deck},
      {"deck-old-simh-caret-width-40", {"-o", "-c", "-r", "40"}, deck},
      {"deck-b-word-marks-width-13", {"-b", "-w", "-r13"}, deck},
      {"hello", {}, ImageBuilder().record(hello).tape_mark().bytes()},
      {"word-marks", {"-w", "-r5"}, ImageBuilder().record(marked).bytes()},
      {"blank-record", {"-r10"}, ImageBuilder().record(repeat(0, 250)).bytes()},
      {"every-byte-value", {"-w", "-r64"}, ImageBuilder().record(all_bytes()).bytes()},
      {"e11-read-as-e11", {"-e"}, e11},
      {"e11-read-as-simh", {}, e11},
      {"data-cut-short", {"-r5"}, ImageBuilder().count(10).raw(Bytes{49, 50, 51}).bytes()},
      {"count-2-to-the-31", {}, ImageBuilder().count(0x80000000).raw(Bytes{49, 50}).bytes()},
      {"count-2-to-the-32-less-1", {}, ImageBuilder().count(0xFFFFFFFF).raw(Bytes{49}).bytes()},
      {"trailer-differs", {}, ImageBuilder().count(4).raw(Bytes{1, 2, 3, 4}).count(5).bytes()},
      {"trailer-cut", {}, ImageBuilder().count(2).raw(Bytes{1, 2, 2, 0}).bytes()},
      {"empty-image-five-files", {"-5", "-r3"}, {}},
      {"many-files", {"-2147483647"}, {}},
      {"no-arguments", {}, {}, false},
      {"r-last", {"-w", "-r"}, {}, false},
      {"empty-argument", {""}, hello},
      {"bad-file-count", {"-2147483648"}, hello},
      {"huge-width", {"-r99999999999"}, ImageBuilder().record(repeat(49, 150)).bytes()},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("Usage: make_seeds DECK_TAP OUTPUT_DIR\n", stderr);
    return 1;
  }
  const std::optional<Bytes> deck = reel::fuzz::read_seed_source(argv[1]);
  if (!deck) return 1;
  const std::filesystem::path dir = argv[2];
  std::filesystem::create_directories(dir);
  for (const Seed& seed : seeds(*deck))
    if (!reel::fuzz::write_seed(dir, seed.name,
                                reel::fuzz::make_input(seed.options, seed.image, seed.name_image)))
      return 1;
  return 0;
}
