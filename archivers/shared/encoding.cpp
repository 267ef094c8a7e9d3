#include "encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace tavrun::arc {

bool IsValidUtf8(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t i = 0, n = text.size();
  while (i < n) {
    unsigned char c = s[i];
    size_t len;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

namespace {

bool Convert(const char* to, const char* from, const std::string& in, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result;
  result.resize(in.size() * 4 + 16);
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char* outPtr = result.data();
  size_t outLeft = result.size();
  bool ok = true;
  while (inLeft > 0) {
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        size_t used = result.size() - outLeft;
        result.resize(result.size() * 2);
        outPtr = result.data() + used;
        outLeft = result.size() - used;
        continue;
      }
      ok = false;  // EILSEQ or EINVAL: not convertible, no guessing
      break;
    }
  }
  if (ok && iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) ok = false;
  iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - outLeft);
  out = std::move(result);
  return true;
}

}  // namespace

bool Utf8ToCp932(const std::string& utf8, std::string& cp932) {
  if (!IsValidUtf8(utf8)) return false;
  return Convert("CP932", "UTF-8", utf8, cp932);
}

bool Cp932ToUtf8(const std::string& cp932, std::string& utf8) {
  return Convert("UTF-8", "CP932", cp932, utf8);
}

namespace {

// The well-known differences between the JIS, EUC-JP and ISO-2022-JP tables (glibc, the
// Unicode consortium's SHIFTJIS.TXT, JIS X 0213, JIS X 0212) and Windows' CP932 table.
struct WindowsForm {
  const char* unix;
  const char* windows;
};
constexpr WindowsForm kWindowsForms[] = {
    {"\u301C", "\uFF5E"},  // WAVE DASH -> FULLWIDTH TILDE (0x8160)
    {"\u2016", "\u2225"},  // DOUBLE VERTICAL LINE -> PARALLEL TO (0x8161)
    {"\u2212", "\uFF0D"},  // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS (0x817C)
    {"\u00A2", "\uFFE0"},  // CENT SIGN -> FULLWIDTH CENT SIGN (0x8191)
    {"\u00A3", "\uFFE1"},  // POUND SIGN -> FULLWIDTH POUND SIGN (0x8192)
    {"\u00AC", "\uFFE2"},  // NOT SIGN -> FULLWIDTH NOT SIGN (0x81CA)
    {"\u2014", "\u2015"},  // EM DASH -> HORIZONTAL BAR (0x815C)
    {"\u00A6", "\uFFE4"},  // BROKEN BAR -> FULLWIDTH BROKEN BAR (0xFA55)
};

}  // namespace

std::string ToWindowsJapanese(const std::string& utf8) {
  if (IsAscii(utf8)) return utf8;
  std::string out;
  out.reserve(utf8.size() + 8);
  for (size_t i = 0; i < utf8.size();) {
    bool mapped = false;
    for (const WindowsForm& f : kWindowsForms) {
      const size_t n = std::char_traits<char>::length(f.unix);
      if (utf8.compare(i, n, f.unix) == 0) {
        out += f.windows;
        i += n;
        mapped = true;
        break;
      }
    }
    if (!mapped) out += utf8[i++];
  }
  return out;
}

bool EucJpToUtf8(const std::string& eucjp, std::string& utf8) {
  // iconv passes the C1 bytes 0x80-0x9F through as control characters; in a name they mean
  // the text is no EUC-JP (CP932 lead bytes live there).
  std::string out;
  if (!Convert("UTF-8", "EUC-JP", eucjp, out)) return false;
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    if (static_cast<unsigned char>(out[i]) == 0xC2 && static_cast<unsigned char>(out[i + 1]) < 0xA0)
      return false;
  }
  utf8 = std::move(out);
  return true;
}

namespace {

// U+FF61..U+FF9F in UTF-8: EF BD A1..BF and EF BE 80..9F.
bool HasHalfWidthKatakana(const std::string& utf8) {
  for (size_t i = 0; i + 2 < utf8.size(); ++i) {
    const auto b0 = static_cast<unsigned char>(utf8[i]),
               b1 = static_cast<unsigned char>(utf8[i + 1]),
               b2 = static_cast<unsigned char>(utf8[i + 2]);
    if (b0 == 0xEF && ((b1 == 0xBD && b2 >= 0xA1) || (b1 == 0xBE && b2 <= 0x9F))) return true;
  }
  return false;
}

}  // namespace

LegacyJapanese GuessLegacyJapanese(const std::vector<std::string>& names, bool fromWindows) {
  bool cp932 = true, eucJp = true, cp932Kana = false, eucJpKana = false;
  for (const std::string& name : names) {
    if (IsAscii(name)) continue;
    std::string decoded;
    if (cp932 && Cp932ToUtf8(name, decoded)) {
      cp932Kana = cp932Kana || HasHalfWidthKatakana(decoded);
    } else {
      cp932 = false;
    }
    if (eucJp && EucJpToUtf8(name, decoded)) {
      eucJpKana = eucJpKana || HasHalfWidthKatakana(decoded);
    } else {
      eucJp = false;
    }
  }
  if (cp932 && (fromWindows || !eucJp)) return LegacyJapanese::Cp932;
  if (eucJp && (!cp932 || (cp932Kana && !eucJpKana))) return LegacyJapanese::EucJp;
  return cp932 ? LegacyJapanese::Cp932 : LegacyJapanese::Neither;
}

std::string Cp437ToUtf8(const std::string& text) {
  static const char16_t kHigh[128] = {
      0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
      0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
      0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
      0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
      0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
      0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
      0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
      0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
      0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
      0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
      0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
      0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    char16_t cp = kHigh[c - 0x80];
    if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace tavrun::arc
