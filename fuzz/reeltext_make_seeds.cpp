// Writes reeltext_fuzzer's seed inputs: the example tape and small images to be written as
// text, and texts to be built into images with -r (the example tape's own, and small ones with
// the lines of words, CR LF, a byte-order mark, -w, bad characters, lines out of place), with
// a few option sets and ways of serving them, laid out as fuzz/reeltext_harness.h reads them.
// Usage: reeltext_make_seeds DECK_TAP OUTPUT_DIR
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/reeltext_harness.h"
#include "tape_image/image_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using reel::tape_image::Framing;
using reel::tape_image::ImageBuilder;
namespace serve = reel::reeltext::fuzz;

struct Seed {
  std::string name;
  std::vector<std::string> options;
  Bytes input;
  std::uint8_t flags = 0;  // bits 4 to 7 of byte 0
  bool name_input = true;
};

Bytes text(std::string_view chars) { return Bytes(chars.begin(), chars.end()); }

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes bytes;
  for (const Bytes& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

std::vector<Seed> seeds(const Bytes& deck, const Bytes& deck_text) {
  const Bytes hello = {56, 53, 35, 35, 38};  // HELLO
  const Bytes abc = {49, 50, 51};
  const Bytes record = ImageBuilder().record(hello).bytes();
  const Bytes mark = ImageBuilder().tape_mark().bytes();
  const Bytes controls = ImageBuilder()
                             .record(abc)
                             .bad_record(hello)
                             .count(0xFFFF'FFFE)
                             .record(abc)
                             .tape_mark()
                             .count(0xFFFF'FFFF)
                             .bytes();
  const Bytes long_record = ImageBuilder().record(Bytes(5000, 29)).tape_mark().bytes();
  const std::string long_line(5000, 'A');
  return {
      // Images to text.
      {"deck", {}, deck},
      {"deck-fortran-short-reads", {"-h"}, deck, serve::short_reads},
      {"deck-old-simh-tiny-buffers", {"-o"}, deck, serve::tiny_buffers},
      {"deck-read-as-e11", {"-e"}, deck},
      {"deck-file-2", {"-f", "2"}, deck},
      {"deck-files-2-on-failing-read", {"--files=2-"}, deck, serve::failing_read},
      {"deck-file-1-failing-read", {"-f1"}, deck, serve::failing_read},
      {"deck-tight-output", {}, deck, serve::tight_output},
      {"deck-file-past-the-end", {"-f", "5-7"}, deck},
      {"empty-image", {}, {}},
      {"hello-and-tape-mark", {}, join({record, mark})},
      {"control-words", {}, controls},
      {"control-words-e11",
       {"-e"},
       ImageBuilder(Framing::e11).bad_record(abc).count(0xFFFF'FFFE).bytes()},
      {"control-words-file-2", {"-f", "2"}, join({controls, controls})},
      {"end-of-medium-and-bytes-after",
       {},
       join({record, ImageBuilder().count(0xFFFF'FFFF).bytes(), abc})},
      {"half-gap", {}, join({record, ImageBuilder().count(0xFFFE'FFFF).bytes()})},
      {"placeholder-word", {}, join({record, ImageBuilder().count(0xFFFF'FFFD).raw(abc).bytes()})},
      {"reserved-word", {}, join({record, ImageBuilder().count(0x8000'0000).bytes()})},
      {"data-cut-short", {}, ImageBuilder().count(10).raw(abc).bytes()},
      {"pad-byte-missing", {}, ImageBuilder().count(3).raw(abc).bytes()},
      {"trailer-cut-short", {}, ImageBuilder().count(3).raw(abc).raw(Bytes{0, 3}).bytes()},
      {"unequal-counts", {}, ImageBuilder().count(3).raw(abc).raw(Bytes{0}).count(4).bytes()},
      {"stray-bytes", {}, join({record, Bytes{1, 2}})},
      {"bytes-above-63", {}, ImageBuilder().record(Bytes{49, 0x7F, 0xC1}).bytes()},
      {"bytes-above-63-six-bits", {"-s"}, ImageBuilder().record(Bytes{49, 0x7F, 0xC1}).bytes()},
      {"pad-byte-not-0", {}, ImageBuilder().count(1).raw(Bytes{49, 7}).count(1).bytes()},
      {"long-record-tiny-buffers", {}, long_record, serve::tiny_buffers},
      {"long-record-tight-output", {}, long_record, serve::tight_output | serve::tiny_buffers},
      // Texts to images.
      {"deck-text", {"-r"}, deck_text},
      {"deck-text-width-80-short-reads", {"-r", "-w", "80"}, deck_text, serve::short_reads},
      {"deck-text-tiny-buffers-tight-output",
       {"-r"},
       deck_text,
       serve::tiny_buffers | serve::tight_output},
      {"empty-text", {"-r"}, {}},
      {"hello-text", {"-r"}, text("HELLO\ntape mark\nA B~\n")},
      {"words-and-blanks",
       {"--reverse"},
       text("  tape mark \t\r\n\terase gap\nbad record\nABC\nbad record \n \nend of medium")},
      {"crlf-and-byte-order-mark",
       {"-r"},
       text("\xEF\xBB\xBF"
            "AB\r\ntape mark\r\nCD")},
      {"empty-lines", {"-r"}, text("A\n\n\nB\n")},
      {"width-and-empty-lines", {"-rw5"}, text("AB\n\nABCDEF\ntape mark\nbad record\nC\nABCDE")},
      {"fortran-text-e11", {"-r", "-h", "-e"}, text("='\n=\ntape mark\n")},
      {"old-simh-text", {"-r", "-o"}, text("=(\"\n")},
      {"bad-characters", {"-r"}, text("A\tB\nA\xC3\xA9\nxY\n")},
      {"carriage-return-inside", {"-r"}, text("AB\nA\rB\n")},
      {"carriage-return-at-the-end", {"-r"}, text("AB\r")},
      {"words-too-far-right", {"-r"}, text(std::string(60, ' ') + "tape mark\n")},
      {"words-misspelt", {"-r"}, text("tape marks\n")},
      {"bad-record-last", {"-r"}, text("AB\nbad record\n")},
      {"bad-record-before-a-tape-mark", {"-r"}, text("bad record\ntape mark\nA\n")},
      {"bad-record-before-an-empty-line", {"-r"}, text("bad record\n\nA\n")},
      {"line-after-end-of-medium", {"-r"}, text("A\nend of medium\nB\n")},
      {"long-line-tiny-buffers", {"-r"}, text(long_line + "\nB\n"), serve::tiny_buffers},
      {"long-line-failing-read", {"-r"}, text("A\n" + long_line), serve::failing_read},
      {"bad-record-too-wide", {"-r", "-w", "16777216"}, text("bad record\nA\n")},
      {"widest-lines", {"-r", "--width=2147483647"}, text("A\n")},
      {"text-read-as-image", {}, text("HELLO\ntape mark\n")},
      {"image-read-as-text", {"-r"}, join({record, mark})},
      // The command line.
      {"help", {"--help"}, {}},
      {"help-tight-output", {"--help"}, Bytes(50, 'A'), serve::tight_output},
      {"version", {"--version"}, {}},
      {"unknown-option", {"-x"}, {}},
      {"width-without-r", {"-w", "5"}, {}},
      {"six-bits-with-r", {"-r", "-s"}, {}},
      {"extra-operand", {"t.tap"}, record},
      {"missing-name", {"missing.txt"}, {}, 0, false},
      {"standard-input", {"-r"}, text("AB\n"), 0, false},
      {"standard-input-by-dash", {"-"}, join({record, mark})},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("Usage: reeltext_make_seeds DECK_TAP OUTPUT_DIR\n", stderr);
    return 1;
  }
  const std::optional<Bytes> deck = reel::fuzz::read_seed_source(argv[1]);
  if (!deck) return 1;
  // The example tape's text, as reeltext writes it.
  const serve::Outcome as_text = serve::run_args({std::string(serve::image_name)}, *deck, {});
  if (as_text.status != 0) {
    std::fprintf(stderr, "reeltext_make_seeds: %s: not written as text\n", argv[1]);
    return 1;
  }
  const std::filesystem::path dir = argv[2];
  std::filesystem::create_directories(dir);
  for (const Seed& seed : seeds(*deck, text(as_text.out)))
    if (!reel::fuzz::write_seed(
            dir, seed.name,
            reel::fuzz::make_input(seed.options, seed.input, seed.name_input, seed.flags)))
      return 1;
  return 0;
}
