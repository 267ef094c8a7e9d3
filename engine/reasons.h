// The archiver libraries write their reasons in English. For a Japanese reader the known
// phrases are put into Japanese: a phrase that names a path or a member keeps it, the C
// library's error texts (by errno value) are translated where they follow, and whatever the
// table does not know stays as the library wrote it.
#pragma once

#include <string>

namespace tavrun {

std::string TranslateLibraryText(const std::string& text);

// True when the locale asks for Japanese: the first of LC_ALL, LC_MESSAGES and LANG that is
// set begins with "ja".
bool LocaleWantsJapanese();

// The Japanese text of an errno value, or empty when the table has none.
std::string JapaneseErrnoText(int value);

}  // namespace tavrun
