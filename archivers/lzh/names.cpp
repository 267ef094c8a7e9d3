#include "names.h"

#include <vector>

#include "encoding.h"

namespace tavrun::lzh {
namespace {

bool IsCp932Lead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

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

namespace {

bool IsUtf8Name(const MemberHeader& h, const std::string& raw) {
  if (h.codePage == 65001) return true;
  if (h.codePage == 932) return false;
  return tavrun::arc::IsValidUtf8(raw);
}

// Whether the last character is a separator; a 0x5C that ends a CP932 character is none.
bool EndsWithSeparator(const std::string& raw, bool cp932) {
  bool separator = false;
  for (size_t i = 0; i < raw.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    if (cp932 && IsCp932Lead(c) && i + 1 < raw.size()) {
      ++i;
      separator = false;
      continue;
    }
    separator = c == '\\' || c == '/' || c == 0xFF;
  }
  return separator;
}

// Name and directory in the archive's own code page, as UTF-8 joined by '/'.
std::string DecodeCodePagePath(const MemberHeader& h) {
  std::string raw;
  if (h.level >= 2) {
    raw = h.dirRaw;
    if (!raw.empty() && static_cast<unsigned char>(raw.back()) != 0xFF) raw += '\xFF';
    raw += h.nameRaw;
  } else {
    raw = h.dirRaw.empty() ? h.nameRaw : h.dirRaw + '\xFF' + h.nameRaw;
  }
  const bool utf8 = IsUtf8Name(h, raw);

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

}  // namespace

std::string DecodeMemberPath(const MemberHeader& h) {
  if (h.utf16Name.empty() && h.utf16Dir.empty()) return DecodeCodePagePath(h);
  // A header may give only one of name and directory in UTF-16: the other comes from the
  // code-page records.
  std::string dir = h.utf16Dir, name = h.utf16Name;
  if (dir.empty() && !h.dirRaw.empty()) {
    MemberHeader d = h;
    d.nameRaw.clear();
    dir = DecodeCodePagePath(d);
  }
  if (name.empty() && !h.nameRaw.empty()) {
    MemberHeader n = h;
    n.dirRaw.clear();
    name = DecodeCodePagePath(n);
  }
  if (!dir.empty() && dir.back() != '/' && !name.empty()) dir += '/';
  return dir + name;
}

std::string RelativeMemberPath(const std::string& path) {
  size_t i = 0;
  auto separators = [&] {
    while (i < path.size() && (path[i] == '/' || path[i] == '\\')) ++i;
  };
  separators();
  if (i + 1 < path.size() && path[i + 1] == ':' &&
      ((path[i] >= 'A' && path[i] <= 'Z') || (path[i] >= 'a' && path[i] <= 'z'))) {
    i += 2;
    separators();
  }
  return path.substr(i);
}

bool IsDirectoryEntry(const MemberHeader& h) {
  if (h.isDirectory()) return true;
  if (h.originalSize != 0) return false;
  if (!h.utf16Name.empty() || !h.utf16Dir.empty()) return h.utf16Name.empty();
  if (h.nameRaw.empty()) return !h.dirRaw.empty();
  return EndsWithSeparator(h.nameRaw, !IsUtf8Name(h, h.dirRaw + h.nameRaw));
}

bool IsSymbolicLink(const MemberHeader& h) {
  if (h.hasMode && (h.mode & 0170000) == 0120000) return true;
  return h.osId == 'U' && h.level < 2 && h.nameRaw.find('|') != std::string::npos;
}

}  // namespace tavrun::lzh
