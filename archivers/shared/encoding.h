// Name encodings for archive members: UTF-8 inside, CP932 (Windows Japanese) on the wire.
#pragma once

#include <string>

namespace tavrun::arc {

bool IsValidUtf8(const std::string& text);
bool IsAscii(const std::string& text);
// Strict conversions through iconv's "CP932"; false when a character cannot be converted.
bool Utf8ToCp932(const std::string& utf8, std::string& cp932);
bool Cp932ToUtf8(const std::string& cp932, std::string& utf8);
// CP437 (the ZIP default code page) to UTF-8; never fails.
std::string Cp437ToUtf8(const std::string& text);

}  // namespace tavrun::arc
