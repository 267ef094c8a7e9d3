// Name encodings for archive members: UTF-8 inside, CP932 (Windows Japanese) on the wire.
#pragma once

#include <string>
#include <vector>

namespace tavrun::arc {

bool IsValidUtf8(const std::string& text);
bool IsAscii(const std::string& text);
// Strict conversions through iconv's "CP932"; false when a character cannot be converted.
bool Utf8ToCp932(const std::string& utf8, std::string& cp932);
bool Cp932ToUtf8(const std::string& cp932, std::string& utf8);
// The name with each character that Japanese Unix and Windows tables give different code
// points for the same CP932 code (U+301C WAVE DASH for 0x8160, which Windows reads as U+FF5E,
// and the like) replaced by the Windows one, so that it converts to CP932 and reads back as a
// Windows reader shows it. U+00A5 and U+203E stay: their CP932 bytes are '\' and '~'.
std::string ToWindowsJapanese(const std::string& utf8);
// EUC-JP (what Japanese Unix tools wrote) to UTF-8, as strict as the CP932 conversion.
bool EucJpToUtf8(const std::string& eucjp, std::string& utf8);

// Which Japanese legacy encoding names that are not UTF-8 were written in, decided once for
// all of them. Windows tools wrote CP932, so their names are CP932 whenever they decode as
// such. Otherwise EUC-JP is taken when only it decodes every name, or when both do and only
// the CP932 reading is full of half-width katakana (how EUC-JP kanji look through CP932).
enum class LegacyJapanese { Cp932, EucJp, Neither };
LegacyJapanese GuessLegacyJapanese(const std::vector<std::string>& names, bool fromWindows);

// CP437 (the ZIP default code page) to UTF-8; never fails.
std::string Cp437ToUtf8(const std::string& text);

}  // namespace tavrun::arc
