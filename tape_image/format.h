// The containers a tape image comes in, by name: one place that says how each is read (the
// walk's reading of it) and whether the suite writes it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "tape_image/source.h"
#include "tape_image/walk.h"

namespace reel::tape_image {

enum class Format {
  simh,       // 32-bit little-endian counts before and after the data, a pad after odd data
  e11,        // the same without the pad
  simh_be,    // simh with every count big-endian
  simh_tm8,   // simh with each tape mark written as two zero words (read only)
  tpc,        // a 16-bit little-endian count before the data, none after, odd data padded
  tpc_nopad,  // the same, odd data not padded
  p7b,        // a byte a tape frame: six data bits, the parity bit, and bit 7 on a record's first
};

// Returns the format called `name` ("simh", "e11", "simh-be", "simh-tm8", "tpc", "tpc-nopad",
// "p7b"), or nothing.
std::optional<Format> format_named(std::string_view name);

// Returns the name of `format`, and a few words on what it is, for help texts.
std::string_view name_of(Format format);
std::string_view description_of(Format format);

// Returns every format, in the order of the enumeration.
std::span<const Format> all_formats();

// Returns how the walk reads an image in `format`; a P7B dump is read in its simh form, which
// p7b.h decodes. Control words are read where the format has them.
Reading reading_of(Format format);

// Returns which TPC format an image reads cleanly in, walked to its end counts alone (its data
// sought over), once padded and, if that breaks, once not, each from the start of a source that
// `open` makes afresh (nullptr: not to be had): padded where both or neither do, as most
// writers pad. Writers disagree on the pad after odd-length data, and nothing in a TPC image
// says which.
Format tpc_padding(const std::function<std::unique_ptr<InputSource>()>& open);

// Returns whether the suite writes images in `format` (8-byte tape marks it repairs, never
// writes).
inline bool writable(Format format) { return format != Format::simh_tm8; }

// Returns whether `format` frames records with counts (every format but P7B).
inline bool has_counts(Format format) { return format != Format::p7b; }

}  // namespace reel::tape_image
