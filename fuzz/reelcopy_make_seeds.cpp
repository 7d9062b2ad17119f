// Writes reelcopy_fuzzer's seed inputs: small reels laid out by hand in every format (odd and
// even records, bad records, erase gaps, the end-of-medium marker, parity errors), and damaged
// (cut short, unequal counts, stray bytes, control words past which nothing reads), with the
// options and ways of serving that fuzz/reelcopy_harness.h reads from an input's first bytes.
// Usage: reelcopy_make_seeds OUTPUT_DIR
#include <bit>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "fuzz/reelcopy_harness.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using reel::reelcopy::fuzz::Choice;
using reel::tape_image::Format;

// An item of a reel, to be laid out in any format.
struct Item {
  enum Kind { record, bad_record, mark, gap, end_of_medium } kind;
  Bytes data{};
};

Item rec(Bytes data) { return {Item::record, std::move(data)}; }
Item bad(Bytes data) { return {Item::bad_record, std::move(data)}; }
const Item mark{Item::mark};
const Item gap{Item::gap};
const Item eom{Item::end_of_medium};

// `n` codes from 1 to 63, starting after `first`.
Bytes codes(std::size_t n, unsigned first) {
  Bytes out(n);
  for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<std::uint8_t>((first + k) % 63 + 1);
  return out;
}

void put_word(Bytes& out, std::uint32_t value, int bytes, bool big) {
  for (int k = 0; k < bytes; ++k)
    out.push_back(static_cast<std::uint8_t>(value >> (8 * (big ? bytes - 1 - k : k))));
}

// Lays `items` out in `format`: simh's counts around the data with a pad after odd data (E11
// without it, simh-be most significant byte first, simh-tm8 each tape mark two zero words);
// TPC's 16-bit count before the data, padded or not; P7B a frame a code with even parity,
// bit 7 on a record's first, a bad record's first frame with its parity turned over, the tape
// mark 0x8F and a closing record start. Items a format lacks are left out.
Bytes layout(const std::vector<Item>& items, Format format) {
  Bytes out;
  const bool tpc = format == Format::tpc || format == Format::tpc_nopad;
  const bool pads = format != Format::e11 && format != Format::tpc_nopad;
  const bool big = format == Format::simh_be;
  const int width = tpc ? 2 : 4;
  for (const Item& item : items) {
    if (format == Format::p7b) {
      if (item.kind == Item::mark) out.push_back(0x8F);
      for (std::size_t k = 0; k < item.data.size(); ++k) {
        const std::uint8_t code = item.data[k];
        auto frame = static_cast<std::uint8_t>(code | (std::popcount(code) % 2 == 1 ? 0x40 : 0));
        if (k == 0) frame ^= item.kind == Item::bad_record ? 0xC0 : 0x80;
        out.push_back(frame);
      }
      continue;
    }
    switch (item.kind) {
      case Item::mark:
        put_word(out, 0, width, big);
        if (format == Format::simh_tm8) put_word(out, 0, width, big);
        continue;
      case Item::gap:
      case Item::end_of_medium:
        if (!tpc) put_word(out, item.kind == Item::gap ? 0xFFFF'FFFE : 0xFFFF'FFFF, width, big);
        continue;
      case Item::record:
      case Item::bad_record:
        break;
    }
    const auto size = static_cast<std::uint32_t>(item.data.size());
    const std::uint32_t count = item.kind == Item::bad_record && !tpc ? size | 0x8000'0000 : size;
    put_word(out, count, width, big);
    out.insert(out.end(), item.data.begin(), item.data.end());
    if (pads && size % 2 == 1) out.push_back(0);
    if (!tpc) put_word(out, count, width, big);
  }
  if (format == Format::p7b) out.push_back(0x8F);
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes cut(Bytes bytes, std::size_t drop) {
  bytes.resize(bytes.size() - std::min(drop, bytes.size()));
  return bytes;
}

struct Seed {
  std::string name;
  Choice choice;
  Bytes image;
};

Choice as(Format from, Format to) {
  Choice choice;
  choice.from = from;
  choice.to = to;
  return choice;
}

std::vector<Seed> seeds() {
  const std::vector<Item> plain = {
      rec(codes(3, 0)), rec(codes(80, 5)), mark, rec(codes(1, 9)), mark, mark};
  const std::vector<Item> damaged = {rec(codes(2, 1)), bad(codes(5, 3)), mark, mark};
  const std::vector<Item> gaps = {gap, rec(codes(4, 2)), gap, mark, eom};
  const std::vector<Item> long_one = {rec(codes(5000, 7)), mark, rec(codes(3, 1)), mark, mark};
  const Format formats[] = {Format::simh, Format::e11,       Format::simh_be, Format::simh_tm8,
                            Format::tpc,  Format::tpc_nopad, Format::p7b};
  std::vector<Seed> out;
  // Every format to the next (and the last to simh), both ways of output.
  for (std::size_t k = 0; k < std::size(formats); ++k) {
    const Format from = formats[k];
    Format to = formats[(k + 1) % std::size(formats)];
    if (to == Format::simh_tm8) to = Format::tpc;
    const std::string names = std::string(name_of(from)) + "-to-" + std::string(name_of(to));
    Choice choice = as(from, to);
    out.push_back({names, choice, layout(plain, from)});
    choice.seekable = true;
    choice.per_read = 3;
    out.push_back({names + "-seekable-short-reads", choice, layout(plain, from)});
  }
  const auto with = [](Choice choice, auto change) {
    change(choice);
    return choice;
  };
  const Choice simh = as(Format::simh, Format::simh);
  const Choice to_p7b = as(Format::simh, Format::p7b);
  const Choice from_p7b = as(Format::p7b, Format::simh);
  const Bytes simh_plain = layout(plain, Format::simh);
  const Bytes whole = layout({rec(codes(4, 0)), mark}, Format::simh);
  const Bytes unequal = layout({rec(codes(4, 0))}, Format::simh) + Bytes{6, 0, 0, 0} + codes(6, 9) +
                        Bytes{7, 0, 0, 0} + layout({rec(codes(4, 0))}, Format::simh);
  // A P7B record of three frames, the second of the wrong parity, and one before any start.
  const Bytes parity_error = Bytes{0x81, 0x42, 0x43, 0x8F, 0x8F};
  const Bytes unstarted = Bytes{0x01, 0x02} + layout({rec(codes(3, 1)), mark}, Format::p7b);
  out.insert(
      out.end(),
      {
          {"bad-records-simh-be-to-p7b", as(Format::simh_be, Format::p7b),
           layout(damaged, Format::simh_be)},
          {"bad-records-p7b-to-e11", as(Format::p7b, Format::e11), layout(damaged, Format::p7b)},
          {"bad-records-to-tpc", as(Format::simh, Format::tpc), layout(damaged, Format::simh)},
          {"bad-records-to-p7b-without-parity", with(to_p7b, [](Choice& c) { c.parity = 2; }),
           layout(damaged, Format::simh)},
          {"gaps-e11-to-simh-be", as(Format::e11, Format::simh_be), layout(gaps, Format::e11)},
          {"gaps-to-tpc", as(Format::simh, Format::tpc), layout(gaps, Format::simh)},
          {"gaps-dropped-to-tpc-nopad",
           with(as(Format::simh, Format::tpc_nopad), [](Choice& c) { c.drop_gaps = true; }),
           layout(gaps, Format::simh)},
          {"gaps-to-p7b-dropped", with(to_p7b, [](Choice& c) { c.drop_gaps = true; }),
           layout(gaps, Format::simh)},
          {"long-record-tiny-pipe", with(simh, [](Choice& c) { c.tiny = true; }),
           layout(long_one, Format::simh)},
          {"long-record-tiny-seekable-to-p7b",
           with(to_p7b,
                [](Choice& c) {
                  c.tiny = true;
                  c.seekable = true;
                }),
           layout(long_one, Format::simh)},
          {"long-record-p7b-to-simh-be-tiny",
           with(as(Format::p7b, Format::simh_be), [](Choice& c) { c.tiny = true; }),
           layout(long_one, Format::p7b)},
          {"long-record-tight-output",
           with(as(Format::simh, Format::e11),
                [](Choice& c) {
                  c.tiny = true;
                  c.tight = true;
                  c.eighths = 4;
                  c.seekable = true;
                }),
           layout(long_one, Format::simh)},
          {"tight-output-pipe",
           with(simh,
                [](Choice& c) {
                  c.tight = true;
                  c.eighths = 5;
                }),
           simh_plain},
          {"file-2",
           with(simh,
                [](Choice& c) {
                  c.files = true;
                  c.range = 1;
                }),
           simh_plain},
          {"files-2-to-the-end-to-tpc",
           with(as(Format::simh, Format::tpc),
                [](Choice& c) {
                  c.files = true;
                  c.range = 9;
                }),
           simh_plain},
          {"files-1-3-joined",
           with(simh,
                [](Choice& c) {
                  c.files = true;
                  c.range = 0x20;
                  c.joined = true;
                  c.second_at = 12;  // after its first record
                }),
           simh_plain + simh_plain},
          {"joined-tpc-to-p7b",
           with(as(Format::tpc, Format::p7b),
                [&](Choice& c) {
                  c.joined = true;
                  c.second_at = static_cast<std::uint16_t>(layout(plain, Format::tpc).size());
                }),
           layout(plain, Format::tpc) + layout(plain, Format::tpc)},
          {"data", with(simh, [](Choice& c) { c.data = true; }), simh_plain},
          {"data-from-p7b-file-2",
           with(from_p7b,
                [](Choice& c) {
                  c.data = true;
                  c.files = true;
                  c.range = 1;
                }),
           layout(plain, Format::p7b)},
          {"zero-fill", with(simh, [](Choice& c) { c.zero_fill = true; }),
           layout({rec(codes(4, 0)), mark, mark, mark, mark}, Format::simh) + Bytes{0, 0}},
          {"cut-in-data", simh, cut(whole + layout({rec(codes(6, 9))}, Format::simh), 7)},
          {"cut-in-data-going-on", with(simh, [](Choice& c) { c.keep_going = true; }),
           cut(whole + layout({rec(codes(6, 9))}, Format::simh), 7)},
          {"cut-in-trailer-tpc-going-on",
           with(as(Format::simh, Format::tpc), [](Choice& c) { c.keep_going = true; }),
           cut(whole + layout({rec(codes(6, 9))}, Format::simh), 2)},
          {"unequal-counts", simh, unequal},
          {"unequal-counts-going-on-to-p7b", with(to_p7b, [](Choice& c) { c.keep_going = true; }),
           unequal},
          {"stray-bytes", simh, whole + Bytes{1, 2}},
          {"half-gap", simh, whole + Bytes{0xFF, 0xFF, 0xFE, 0xFF} + whole},
          {"placeholder-word", simh, whole + Bytes{0xFD, 0xFF, 0xFF, 0xFF} + codes(4, 1)},
          {"bytes-after-end-of-medium", simh, whole + Bytes{0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}},
          {"byte-above-63-to-p7b", to_p7b, layout({rec(codes(2, 1)), rec({1, 64})}, Format::simh)},
          {"tape-mark-code-to-p7b", to_p7b, layout({rec(codes(2, 1)), rec({15})}, Format::simh)},
          {"code-0-to-p7b", to_p7b, layout({rec({0, 16, 0}), mark}, Format::simh)},
          {"record-too-long-for-tpc", as(Format::simh, Format::tpc),
           layout({rec(codes(2, 1))}, Format::simh) + Bytes{0xFF, 0xFF, 1, 0} + codes(5, 2)},
          {"parity-error", from_p7b, parity_error},
          {"parity-odd", with(from_p7b, [](Choice& c) { c.parity = 1; }), parity_error},
          {"parity-none-to-p7b-odd",
           with(as(Format::p7b, Format::p7b), [](Choice& c) { c.parity = 2; }), parity_error},
          {"unstarted-frames", from_p7b, unstarted},
          {"unstarted-frames-no-parity", with(from_p7b, [](Choice& c) { c.parity = 2; }),
           unstarted},
          {"p7b-tape-mark-with-parity-bit-no-closing-start", from_p7b,
           Bytes{0x81, 0x02, 0xCF, 0x83}},
          {"tpc-odd-unpadded-read-padded", as(Format::tpc, Format::simh),
           layout(plain, Format::tpc_nopad)},
          {"simh-read-as-tm8", as(Format::simh_tm8, Format::simh), simh_plain},
          {"empty", simh, {}},
          {"empty-p7b", from_p7b, {}},
      });
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: reelcopy_make_seeds OUTPUT_DIR\n", stderr);
    return 1;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  for (const Seed& seed : seeds())
    if (!reel::fuzz::write_seed(dir, seed.name,
                                reel::reelcopy::fuzz::input_of(seed.choice, seed.image)))
      return 1;
  return 0;
}
