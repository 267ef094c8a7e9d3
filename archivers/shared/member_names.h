// The one rule for the characters a member name may hold, applied where a file is added and
// where a member is extracted, so that what compression writes, extraction reads back.
#pragma once

#include <string>
#include <string_view>

namespace tavrun::arc {

// A control character: a byte below 0x20 or 0x7F. No Windows file name holds one, and a tab
// or line break in a name splits the lines of a listing or a log.
bool HasControlCharacter(std::string_view name);

// Why a file whose name has one is not added (`path` as given).
std::string ControlCharacterRefusal(const std::string& path);

}  // namespace tavrun::arc
