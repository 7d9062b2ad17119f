// The little JSON that reelinfo's --json report needs: strings escaped, and objects built a member
// at a time onto the end of a string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace reel::reelinfo {

// Appends `text` as a JSON string, quoted. Quotes, backslashes and control characters are
// escaped; valid UTF-8 passes as it is, and each byte of no valid UTF-8 sequence (a file name
// may hold any bytes) becomes U+FFFD, so that the document is always valid UTF-8.
void append_json_string(std::string& out, std::string_view text);

// An object written onto the end of `out`: opened when made, closed by `close`.
class JsonObject {
 public:
  explicit JsonObject(std::string& out) : out_(out) { out_ += '{'; }

  JsonObject& number(std::string_view key, std::uint64_t value) {
    return raw(key, std::to_string(value));
  }
  JsonObject& string(std::string_view key, std::string_view value) {
    put_key(key);
    append_json_string(out_, value);
    return *this;
  }
  JsonObject& boolean(std::string_view key, bool value) {
    return raw(key, value ? "true" : "false");
  }
  JsonObject& null(std::string_view key) { return raw(key, "null"); }
  // A member whose value is JSON already.
  JsonObject& raw(std::string_view key, std::string_view json) {
    put_key(key);
    out_ += json;
    return *this;
  }
  // Starts a member whose value the caller writes onto `out` next.
  std::string& member(std::string_view key) {
    put_key(key);
    return out_;
  }
  void close() { out_ += '}'; }

 private:
  void put_key(std::string_view key) {
    if (!first_) out_ += ',';
    first_ = false;
    append_json_string(out_, key);
    out_ += ':';
  }

  std::string& out_;
  bool first_ = true;  // no member written yet
};

}  // namespace reel::reelinfo
