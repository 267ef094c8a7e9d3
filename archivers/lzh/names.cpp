#include "names.h"

#include <vector>

#include "encoding.h"

namespace tavrun::lzh {
namespace {

bool IsCp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Splits on '\' and '/' (and 0xFF in directory records); with `cp932` the second byte of a
// double-byte character is never taken for a separator.
void Split(const std::string& raw, bool cp932, std::vector<std::string>& parts) {
  std::string cur;
  for (size_t i = 0; i < raw.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(raw[i]);
    if (cp932 && IsCp932Lead(c) && i + 1 < raw.size()) {
      cur += raw[i];
      cur += raw[++i];
      continue;
    }
    if (c == '\\' || c == '/' || c == 0xFF) {
      parts.push_back(cur);
      cur.clear();
      continue;
    }
    cur += raw[i];
  }
  parts.push_back(cur);
}

}  // namespace

void EncodeMemberName(const std::string& utf8, std::string& bytes, uint32_t& codePage) {
  std::string cp, back;
  if (tavrun::arc::Utf8ToCp932(utf8, cp) && tavrun::arc::Cp932ToUtf8(cp, back) && back == utf8) {
    bytes = cp;
    codePage = 932;
    return;
  }
  bytes = utf8;
  codePage = 65001;
}

std::string DecodeMemberPath(const MemberHeader& h) {
  if (!h.utf16Name.empty()) return h.utf16Name;
  std::string raw;
  if (h.level >= 2) {
    raw = h.dirRaw;
    if (!raw.empty() && static_cast<unsigned char>(raw.back()) != 0xFF) raw += '\xFF';
    raw += h.nameRaw;
  } else {
    raw = h.dirRaw.empty() ? h.nameRaw : h.dirRaw + '\xFF' + h.nameRaw;
  }
  bool utf8;
  if (h.codePage == 65001)
    utf8 = true;
  else if (h.codePage == 932)
    utf8 = false;
  else
    utf8 = tavrun::arc::IsValidUtf8(raw);

  std::vector<std::string> parts;
  Split(raw, !utf8, parts);
  std::string out;
  for (const auto& p : parts) {
    if (p.empty()) {
      // Keeps a leading separator visible, so an absolute name is still refused later.
      if (out.empty()) out += '/';
      continue;
    }
    std::string decoded;
    if (utf8 || tavrun::arc::IsAscii(p) || !tavrun::arc::Cp932ToUtf8(p, decoded)) decoded = p;
    if (!out.empty() && out.back() != '/') out += '/';
    out += decoded;
  }
  return out;
}

}  // namespace tavrun::lzh
