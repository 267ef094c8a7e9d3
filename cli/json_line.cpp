#include "cli/json_line.h"

#include <cstdio>

namespace tavrun::cli {
namespace {

// The length of the valid UTF-8 sequence starting at `p`, or 0.
size_t Utf8Length(const unsigned char* p, size_t left) {
  const unsigned char c = p[0];
  size_t length = 0;
  uint32_t lowest = 0;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) length = 2, lowest = 0x80;
  if ((c & 0xF0) == 0xE0) length = 3, lowest = 0x800;
  if ((c & 0xF8) == 0xF0) length = 4, lowest = 0x10000;
  if (length == 0 || length > left) return 0;
  uint32_t code = c & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (p[i] & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are not UTF-8.
  if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = bytes[i];
    const size_t length = Utf8Length(bytes + i, text.size() - i);
    if (length == 0) {
      json += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (c == '\t') {
      json += "\\t";
    } else if (c == '\r') {
      json += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else {
      json.append(text, i, length);
    }
    i += length;
  }
  return json + "\"";
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
  return AddJson(key, JsonString(value));
}

JsonObject& JsonObject::Add(const std::string& key, int64_t value) {
  return AddJson(key, std::to_string(value));
}

JsonObject& JsonObject::AddJson(const std::string& key, const std::string& json) {
  if (!body_.empty()) body_ += ",";
  body_ += JsonString(key) + ":" + json;
  return *this;
}

}  // namespace tavrun::cli
