// The one line writer: every line of every record reaches the listing through `LineWriter::put`,
// whichever way its bytes came. It writes the line's position, its characters, a first line's
// tag, and the word-mark line under it, and leaves out lines of blanks alone.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bcd/kernel.h"
#include "listing/decimal.h"
#include "listing/settings.h"

namespace reel::reelprint {

static_assert(widest_line <= bcd::widest_translated_line);
// The width of a data line's "%5d: " prefix; rulers and word-mark lines start this far in.
inline constexpr std::string_view indent = "       ";
// A record's first line starts with its prefix, and its tag's words stand one column past the
// end of the widest line.
inline constexpr std::string_view first_prefix = "    1: ";
inline constexpr std::string_view tag_words = "  Record ";
static_assert(first_prefix.size() + widest_line + 1 + tag_words.size() <= bcd::frame_size);

// The most output room `LineWriter::put` may write into, overshoot included: a frame or a
// prefix and a line's translation, the record number and what it may write past itself, then
// the word-mark line, whose marks are copied in whole vectors.
inline constexpr std::size_t marks_copy = bcd::split_size;
inline constexpr std::size_t line_room = 24 + bcd::frame_reach + 28 + 1 + 8 + marks_copy;
static_assert(widest_line <= marks_copy);

// Returns true when each of the `n` characters at `chars` is `blank`. Inline, so that a loop
// over lines that calls it keeps its vector registers (a call would clobber them all).
inline bool all_blank(const char* chars, std::size_t n, char blank) {
#if defined(__SSE2__)
  // Sixteen at a time, the last block ending at the end (it may overlap the one before).
  if (n >= 16) {
    const __m128i blanks = _mm_set1_epi8(blank);
    const auto blank_block = [&](std::size_t at) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + at));
      return _mm_movemask_epi8(_mm_cmpeq_epi8(block, blanks)) == 0xFFFF;
    };
    for (std::size_t k = 0; k + 16 < n; k += 16)
      if (!blank_block(k)) return false;
    return blank_block(n - 16);
  }
#endif
  // Eight at a time: the first word usually settles it.
  const std::uint64_t blanks = 0x0101010101010101ull * static_cast<unsigned char>(blank);
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    std::uint64_t word;
    std::memcpy(&word, chars + k, 8);
    if (word != blanks) return false;
  }
  for (; k < n; ++k)
    if (chars[k] != blank) return false;
  return true;
}

// The "%5d: " prefixes of the first lines of a record, made once for a listing: records are
// mostly a few lines long, and copying a prefix is quicker than formatting it.
class Prefixes {
 public:
  explicit Prefixes(std::size_t recl) : recl_(recl) {
    for (std::size_t line = 0; line < table_.size(); ++line) {
      Prefix& prefix = table_[line];
      prefix.size =
          static_cast<std::uint8_t>(put_position(prefix.text, 1 + line * recl) - prefix.text);
    }
  }

  // The lines whose prefixes the table holds: 0 to `listed` - 1.
  static constexpr std::size_t listed = 1024;

  // Writes the prefix of line `line` (counting from 0) of a record at `p`; returns its end.
  char* put(char* p, std::size_t line) const {
    if (line >= listed) [[unlikely]]
      return put_position(p, 1 + line * recl_);
    return put_listed(p, line);
  }

  // The same for a line below `listed`.
  char* put_listed(char* p, std::size_t line) const { return put(p, table_[line]); }

  // A line's prefix, as the table holds it.
  struct Prefix {
    char text[15];
    std::uint8_t size;
  };
  // Returns the prefix of line `line`, below `listed`; those of the lines after it follow it.
  const Prefix* listed_from(std::size_t line) const { return &table_[line]; }
  // Writes `prefix` at `p`; returns its end.
  static char* put(char* p, const Prefix& prefix) {
    std::memcpy(p, &prefix, sizeof(Prefix));  // one 16-byte copy; the rest is rewritten
    return p + prefix.size;
  }

 private:
  std::size_t recl_;
  std::array<Prefix, listed> table_;
};

// A record's first line less its characters, which the kernel writes whole with them in it
// (`put_framed`), then slack that a copy of its end in whole vectors may read.
struct LineFrame {
  alignas(64) std::array<char, bcd::frame_reach> bytes{};
};

// Returns the frame of a record's first line of `recl` characters: its prefix, the blanks to
// its tag, and the tag's words.
inline LineFrame tag_frame(std::size_t recl) {
  LineFrame frame;
  std::memcpy(frame.bytes.data(), first_prefix.data(), first_prefix.size());
  std::memset(frame.bytes.data() + first_prefix.size(), ' ', recl + 1);
  std::memcpy(frame.bytes.data() + first_prefix.size() + recl + 1, tag_words.data(),
              tag_words.size());
  return frame;
}

// How the lines of a listing are laid out, set once for the listing.
struct LineLayout {
  LineLayout(std::size_t recl, char droppable, bool dowm, const Prefixes& prefixes)
      : recl(recl),
        droppable(droppable),
        dowm(dowm),
        prefixes(&prefixes),
        per_line((std::uint64_t{1} << 40) / recl + 1) {}

  // Returns how many whole lines `n` bytes (below 2^24) make: `n / recl`, by a multiplication
  // (a division takes as long as listing a short line).
  std::size_t lines_in(std::size_t n) const {
    return static_cast<std::size_t>((n * per_line) >> 40);
  }

  std::size_t recl;  // characters per line
  // A line of this character alone, not the record's first or last, is left out: the blank,
  // or a NUL (which no line holds) when every line is to be listed.
  char droppable;
  bool dowm;  // word marks are shown, each data line followed by a line of them
  const Prefixes* prefixes;
  // 2^40 / `recl`, rounded up: the quotient is exact for every `n` below 2^24, as the error
  // it makes, below 2^-16, never carries a fraction of at most (recl - 1) / recl past 1.
  std::uint64_t per_line;
};

// A line's word marks, in a listing that shows them: `text` holds '1' under each character that
// carries one and a space under the others, up to `end`, one past the last mark (0 if none),
// and is readable for `marks_copy` bytes.
struct Marks {
  const char* text;
  std::size_t end;
};

// The same, held by a kernel's split (see `bcd::Kernel`).
template <class Split>
struct SplitMarks {
  const Split& split;
  std::size_t end;
};
// Deduced from its split: clang before 17 deduces no aggregate's arguments by itself.
template <class Split>
SplitMarks(const Split&, std::size_t) -> SplitMarks<Split>;

// No word marks: the listing does not show them.
struct NoMarks {
  static constexpr std::size_t end = 0;
};

template <bcd::Kernel K>
class LineWriter {
 public:
  // `frame` is the frame of the listing's first lines (see `tag_frame`).
  LineWriter(const K& kernel, const LineLayout& layout, const LineFrame& frame)
      : kernel_(kernel), layout_(layout), frame_(frame.bytes.data()) {}

  // Writes line `line` (counting from 0) of record `nr` at `p`: the display characters of its
  // `np` codes, which `codes` holds (bytes at a pointer, or a kernel's split), then, when word
  // marks are shown, the line of its `marks` under them. The first line ends with the record's
  // tag; a line of blanks alone, without marks, that is neither the first nor the `last` is
  // left out. Reads up to `bcd::reach` bytes from codes at a pointer; writes up to `line_room`
  // bytes. Returns the end of what it wrote.
  template <class Codes, class LineMarks = NoMarks>
  char* put(char* p, std::size_t line, const Codes& codes, std::size_t np, bool last,
            const RecordNumber& nr, const LineMarks& marks = {}) const {
    if (line != 0) return put_later(p, line, codes, np, last, marks);
    kernel_.put_framed(codes, np, p, first_prefix.size(), frame_);
    p = nr.put(p + first_prefix.size() + layout_.recl + 1 + tag_words.size());
    *p++ = '\n';
    return put_marks(p, marks);
  }

  // The same for lines that are neither the first nor the last, of `recl` characters, in a
  // listing without word marks, whose prefixes the table holds (below `Prefixes::listed`).
  // Writes the `count` lines from `line` on, the codes of each following the one before's.
  // Returns the end of them.
  char* put_middle(char* p, std::size_t line, std::size_t count, const std::uint8_t* codes) const {
    if (count == 0) return p;  // and `line` may be past the table
    // Lines of the usual width, a constant here, take no test of their width each.
    if (layout_.recl == widest_line)
      return put_middle(p, line, count, codes, std::integral_constant<std::size_t, widest_line>{});
    return put_middle(p, line, count, codes, layout_.recl);
  }

  const K& kernel() const { return kernel_; }
  const LineLayout& layout() const { return layout_; }

 private:
  // `put_middle` for lines of `recl` characters.
  template <class Width>
  char* put_middle(char* p, std::size_t line, std::size_t count, const std::uint8_t* codes,
                   Width recl) const {
    // Walking the prefixes and the codes alone leaves the loop no count to keep.
    const Prefixes::Prefix* prefix = layout_.prefixes->listed_from(line);
    for (const Prefixes::Prefix* const end = prefix + count; prefix != end; ++prefix, codes += recl)
      p = put_after_prefix(Prefixes::put(p, *prefix), p, codes, recl, false, NoMarks{}, recl);
    return p;
  }

  // Writes a line other than the first, as `put` does.
  template <class Codes, class LineMarks>
  char* put_later(char* p, std::size_t line, const Codes& codes, std::size_t np, bool last,
                  const LineMarks& marks) const {
    return put_after_prefix(layout_.prefixes->put(p, line), p, codes, np, last, marks,
                            layout_.recl);
  }

  // Writes the rest of a line other than the first, at `pr`, after its prefix at `p`; `recl`
  // is the listing's line width.
  template <class Codes, class LineMarks, class Width>
  char* put_after_prefix(char* pr, char* p, const Codes& codes, std::size_t np, bool last,
                         const LineMarks& marks, Width recl) const {
    // A whole line's width, whatever its length: the same count every time is no
    // mispredicted branch, and what lies past the line is written over or dropped.
    kernel_.translate(codes, recl, pr);
    pr[np] = '\n';
    const char droppable = layout_.droppable;
    if (!last && marks.end == 0 && pr[0] == droppable && all_blank(pr, np, droppable)) return p;
    return put_marks(pr + np + 1, marks);
  }

  // Writes the word-mark line of `marks` at `p`, when word marks are shown; returns its end.
  // What is written past the marks is written over.
  static char* put_marks(char* p, NoMarks) { return p; }
  char* put_marks(char* p, Marks marks) const {
    p = put_indent(p);
    std::memcpy(p, marks.text, marks_copy);
    return end_marks(p, marks.end);
  }
  template <class Split>
  char* put_marks(char* p, const SplitMarks<Split>& marks) const {
    p = put_indent(p);
    kernel_.put_marks(marks.split, p);
    return end_marks(p, marks.end);
  }
  static char* put_indent(char* p) {
    std::memcpy(p, indent.data(), indent.size());
    return p + indent.size();
  }
  static char* end_marks(char* p, std::size_t end) {
    p[end] = '\n';
    return p + end + 1;
  }

  K kernel_;
  LineLayout layout_;
  const char* frame_;  // held by address: a writer is copied into each loop that uses it
};

}  // namespace reel::reelprint
