#include "tape_image/format.h"

#include <array>

#include "tape_image/reader.h"

namespace reel::tape_image {
namespace {

struct Named {
  Format format;
  std::string_view name;
  std::string_view description;
};

constexpr std::array<Named, 7> named{{
    {Format::simh, "simh", "simh: 32-bit counts before and after, odd data padded"},
    {Format::e11, "e11", "E11: simh without the pad after odd data"},
    {Format::simh_be, "simh-be", "simh with big-endian counts"},
    {Format::simh_tm8, "simh-tm8", "simh with 8-byte tape marks (read only)"},
    {Format::tpc, "tpc", "TPC: 16-bit counts before the data, odd data padded"},
    {Format::tpc_nopad, "tpc-nopad", "TPC with odd data not padded"},
    {Format::p7b, "p7b", "P7B: a byte a frame, with its parity bit and a record-start bit"},
}};

static_assert([] {
  for (std::size_t k = 0; k < named.size(); ++k)
    if (static_cast<std::size_t>(named[k].format) != k) return false;
  return true;
}());  // looked up by the enumeration's values

constexpr std::array<Format, named.size()> formats = [] {
  std::array<Format, named.size()> all{};
  for (std::size_t k = 0; k < named.size(); ++k) all[k] = named[k].format;
  return all;
}();

}  // namespace

std::optional<Format> format_named(std::string_view name) {
  for (const Named& n : named)
    if (n.name == name) return n.format;
  return std::nullopt;
}

std::string_view name_of(Format format) { return named[static_cast<std::size_t>(format)].name; }

std::string_view description_of(Format format) {
  return named[static_cast<std::size_t>(format)].description;
}

std::span<const Format> all_formats() { return formats; }

Reading reading_of(Format format) {
  Reading reading;
  reading.control_words = true;
  switch (format) {
    case Format::simh:
    case Format::p7b:
      break;
    case Format::e11:
      reading.framing = Framing::e11;
      break;
    case Format::simh_be:
      reading.swapped = true;
      break;
    case Format::simh_tm8:
      reading.double_marks = true;
      break;
    case Format::tpc_nopad:
      reading.framing = Framing::e11;
      [[fallthrough]];
    case Format::tpc:
      reading.control_words = false;
      reading.count_bytes = 2;
      reading.trailer = false;
      break;
  }
  return reading;
}

Format tpc_padding(const std::function<std::unique_ptr<InputSource>()>& open) {
  const auto clean = [&](Format format) {
    const std::unique_ptr<InputSource> source = open();
    if (!source) return false;
    TapeReader reader(*source);
    Walk walk(reading_of(format));
    PassingVisitor visitor;
    walk_image(reader, walk, visitor);
    const EndKind kind = walk.ending().kind;
    return kind == EndKind::empty || kind == EndKind::after_tape_mark ||
           kind == EndKind::after_record;
  };
  return clean(Format::tpc) || !clean(Format::tpc_nopad) ? Format::tpc : Format::tpc_nopad;
}

}  // namespace reel::tape_image
