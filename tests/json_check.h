// A strict reader of JSON for the tests: a document that is not JSON (a bad escape, a raw
// control character, bytes of no UTF-8, a key twice, anything after the value) gives nothing, so
// that a test fails on it; one that is gives its values to compare.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace reel::testing {

struct Json {
  enum class Type { null, boolean, number, string, array, object };
  Type type = Type::null;
  bool truth = false;
  std::string text;               // a string's characters, as UTF-8; a number as written
  std::vector<Json> items;        // an array's values, or an object's
  std::vector<std::string> keys;  // an object's keys, each of the value at its place in `items`

  bool is_null() const { return type == Type::null; }
  bool has(std::string_view key) const {
    for (const std::string& name : keys)
      if (name == key) return true;
    return false;
  }
  // The member `key` of an object; a null, and a failed test, if there is none.
  const Json& operator[](std::string_view key) const {
    for (std::size_t k = 0; k < keys.size(); ++k)
      if (keys[k] == key) return items[k];
    ADD_FAILURE() << "no member " << key;
    static const Json none;
    return none;
  }
  // A number that is a whole number, not negative; 0, and a failed test, otherwise.
  std::uint64_t whole() const {
    if (type == Type::number && !text.empty() &&
        text.find_first_not_of("0123456789") == std::string::npos)
      return std::stoull(text);
    ADD_FAILURE() << "not a whole number: " << text;
    return 0;
  }
};

class JsonReader {
 public:
  // Returns the value of the whole document `text`, or nothing if it is not JSON.
  static std::optional<Json> read(std::string_view text) {
    JsonReader reader(text);
    Json value;
    if (!reader.value(value, 0)) return std::nullopt;
    reader.blanks();
    if (reader.at_ != text.size()) return std::nullopt;
    return value;
  }

 private:
  explicit JsonReader(std::string_view text) : s_(text) {}

  void blanks() {
    while (at_ < s_.size() && std::string_view(" \t\r\n").find(s_[at_]) != std::string_view::npos)
      ++at_;
  }
  bool take(char c) {
    blanks();
    if (at_ >= s_.size() || s_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool word(std::string_view w) {
    if (s_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }
  std::size_t digits() {
    const std::size_t from = at_;
    while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
    return at_ - from;
  }
  bool number(Json& v) {
    const std::size_t from = at_;
    word("-");
    if (!word("0") && digits() == 0) return false;
    if (word(".") && digits() == 0) return false;
    if (word("e") || word("E")) {
      if (!word("+")) word("-");
      if (digits() == 0) return false;
    }
    v.type = Json::Type::number;
    v.text = s_.substr(from, at_ - from);
    return true;
  }
  // Appends code point `c` as UTF-8.
  static void put_utf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
      return;
    }
    const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    const unsigned lead[] = {0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(lead[tail] | (c >> (6 * tail)));
    for (int k = tail - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 63));
  }
  bool hex4(std::uint32_t& c) {
    if (at_ + 4 > s_.size()) return false;
    c = 0;
    for (int k = 0; k < 4; ++k) {
      const char h = s_[at_++];
      const std::size_t d = std::string_view("0123456789abcdef0123456789ABCDEF").find(h);
      if (d == std::string_view::npos) return false;
      c = c * 16 + static_cast<std::uint32_t>(d % 16);
    }
    return true;
  }
  bool string(std::string& out) {
    if (!take('"')) return false;
    for (;;) {
      if (at_ >= s_.size()) return false;
      const auto c = static_cast<unsigned char>(s_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c >= 0x80) {  // one UTF-8 sequence, checked by its own decoding
        const int tail = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
        if (tail < 0 || c > 0xF4 || at_ + tail > s_.size()) return false;
        std::uint32_t code = c & (0x3F >> tail);
        for (int k = 0; k < tail; ++k) {
          const auto b = static_cast<unsigned char>(s_[at_++]);
          if ((b & 0xC0) != 0x80) return false;
          code = code << 6 | (b & 63);
        }
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[tail] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
          return false;
        put_utf8(out, code);
      } else if (c != '\\') {
        out += static_cast<char>(c);
      } else if (at_ >= s_.size()) {
        return false;
      } else if (const char e = s_[at_++]; e == 'u') {
        std::uint32_t code = 0;
        if (!hex4(code) || (code >= 0xDC00 && code < 0xE000)) return false;
        if (code >= 0xD800 && code < 0xDC00) {  // a surrogate pair
          std::uint32_t low = 0;
          if (!word("\\u") || !hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        put_utf8(out, code);
      } else {
        const std::size_t k = std::string_view("\"\\/bfnrt").find(e);
        if (k == std::string_view::npos) return false;
        out += "\"\\/\b\f\n\r\t"[k];
      }
    }
  }
  bool value(Json& v, int depth) {
    blanks();
    if (depth > 64 || at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '"') {
      v.type = Json::Type::string;
      return string(v.text);
    }
    if (c == '[' || c == '{') {
      const bool object = c == '{';
      v.type = object ? Json::Type::object : Json::Type::array;
      ++at_;
      if (take(object ? '}' : ']')) return true;
      do {
        std::string key;
        if (object && (!string(key) || !take(':'))) return false;
        for (const std::string& name : v.keys)
          if (object && name == key) return false;
        Json item;
        if (!value(item, depth + 1)) return false;
        if (object) v.keys.push_back(std::move(key));
        v.items.push_back(std::move(item));
      } while (take(','));
      return take(object ? '}' : ']');
    }
    if (word("true") || word("false")) {
      v.type = Json::Type::boolean;
      v.truth = s_[at_ - 4] == 't';
      return true;
    }
    if (word("null")) return true;
    return number(v);
  }

  std::string_view s_;
  std::size_t at_ = 0;
};

}  // namespace reel::testing
