// One JSON object on one line, for scripts reading tavrun-cli's --json output.
#pragma once

#include <cstdint>
#include <string>

namespace tavrun::cli {

// `text` as a JSON string with its quotes: control characters escaped, and every byte that is
// not part of valid UTF-8 replaced by U+FFFD, so any file name gives a line a parser accepts.
std::string JsonString(const std::string& text);

class JsonObject {
 public:
  JsonObject& Add(const std::string& key, const std::string& value);
  JsonObject& Add(const std::string& key, const char* value) {
    return Add(key, std::string(value));
  }
  JsonObject& Add(const std::string& key, int64_t value);
  // `json` is already JSON text (an array or object).
  JsonObject& AddJson(const std::string& key, const std::string& json);
  std::string Text() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

}  // namespace tavrun::cli
