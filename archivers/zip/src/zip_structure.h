// A structure check of our own for archives that libzip's consistency check refuses only
// because their local headers hold the sizes beside a data descriptor (as libarchive writes
// them). It checks what that check is there for: every central entry has a local header
// with the same name and method at its offset, no two entries share a name or overlap, and
// all of them lie before the central directory.
#pragma once

#include <string>

namespace tavrun::zip {

bool VerifyStructure(int fd, std::string& why);

}  // namespace tavrun::zip
