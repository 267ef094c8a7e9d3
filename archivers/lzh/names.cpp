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

void EncodeMemberName(const std::string& name, std::string& bytes, uint32_t& codePage) {
  if (!tavrun::arc::IsValidUtf8(name)) {
    // A name from old media: its bytes, called CP932 only when they are.
    std::string decoded;
    bytes = name;
    codePage = tavrun::arc::Cp932ToUtf8(name, decoded) ? 932 : 0;
    return;
  }
  // CP932 whenever a Windows reader can show the name; it then reads back in Windows' code
  // points (U+301C as U+FF5E).
  const std::string windows = tavrun::arc::ToWindowsJapanese(name);
  std::string cp, back;
  if (tavrun::arc::Utf8ToCp932(windows, cp) && tavrun::arc::Cp932ToUtf8(cp, back) &&
      back == windows) {
    bytes = cp;
    codePage = 932;
    return;
  }
  bytes = name;
  codePage = 65001;
}

namespace {

enum class Coding { Utf8, Cp932, EucJp };

// How a member's code-page name records are written: a code-page record decides. Without one,
// MS-DOS, OS/2 and Windows tools wrote CP932 (whose half-width katakana can look like UTF-8);
// otherwise valid UTF-8 is UTF-8, else CP932 or, from Japanese Unix tools, EUC-JP.
Coding NameCoding(const MemberHeader& h, const std::string& raw) {
  if (h.codePage == 65001) return Coding::Utf8;
  if (h.codePage == 932) return Coding::Cp932;
  const bool fromWindows = h.osId == 'M' || h.osId == '2' || h.osId == 'w' || h.osId == 'W';
  const bool utf8 = tavrun::arc::IsValidUtf8(raw);
  if (utf8 && !fromWindows) return Coding::Utf8;  // no guess needed (ASCII included)
  std::vector<std::string> parts;
  Split(raw, false, parts);
  const auto japanese = tavrun::arc::GuessLegacyJapanese(parts, fromWindows);
  if (fromWindows && japanese == tavrun::arc::LegacyJapanese::Cp932) return Coding::Cp932;
  if (utf8) return Coding::Utf8;
  return japanese == tavrun::arc::LegacyJapanese::EucJp ? Coding::EucJp : Coding::Cp932;
}

bool Decode(Coding coding, const std::string& part, std::string& utf8) {
  switch (coding) {
    case Coding::Utf8: return false;
    case Coding::Cp932: return tavrun::arc::Cp932ToUtf8(part, utf8);
    case Coding::EucJp: return tavrun::arc::EucJpToUtf8(part, utf8);
  }
  return false;
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
  // Directory separators are split off per byte in EUC-JP too, whose characters use no byte
  // below 0xA1; only CP932 hides a 0x5C inside a character.
  const Coding coding = NameCoding(h, raw);
  std::vector<std::string> parts;
  Split(raw, coding == Coding::Cp932, parts);
  std::string out;
  for (const auto& p : parts) {
    if (p.empty()) {
      // Keeps a leading separator visible, so an absolute name is still refused later.
      if (out.empty()) out += '/';
      continue;
    }
    std::string decoded;
    if (tavrun::arc::IsAscii(p) || !Decode(coding, p, decoded)) decoded = p;
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
  return EndsWithSeparator(h.nameRaw, NameCoding(h, h.dirRaw + h.nameRaw) == Coding::Cp932);
}

bool SameMemberName(const MemberHeader& member, const std::string& bytes, uint32_t codePage) {
  MemberHeader added;
  added.level = 2;
  added.osId = 'U';
  added.nameRaw = bytes;
  added.codePage = codePage;
  return tavrun::arc::ToWindowsJapanese(DecodeMemberPath(member)) ==
         tavrun::arc::ToWindowsJapanese(DecodeMemberPath(added));
}

bool IsSymbolicLink(const MemberHeader& h) {
  if (h.hasMode && (h.mode & 0170000) == 0120000) return true;
  return h.osId == 'U' && h.level < 2 && h.nameRaw.find('|') != std::string::npos;
}

}  // namespace tavrun::lzh
