// The program's version texts, built from the project version of the build.
#pragma once

#include <string>

namespace tavrun {

std::string GetShortVersion();  // "Ver.0.1"; "Ver.x.x" on failure
std::string GetLongVersion();   // "Ver.0.01.0000"; "Ver.x.xx.xxxx" on failure

// The same rules for any numbers (tests and the about dialog share them).
std::string FormatShortVersion(int major, int minor, int revision);
std::string FormatLongVersion(int major, int minor, int revision);

}  // namespace tavrun
