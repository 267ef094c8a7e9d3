// For fuzz targets: every call that writes to the file system (create, rename, link, unlink,
// mkdir, mode and time changes) is checked against one allowed directory and aborts the
// process when it would touch anything outside it. The calls are redirected with the linker's
// --wrap, so they are checked in every object linked into the fuzz executable.
#pragma once

#include <string>

namespace tavrun::fuzz {

// Only this directory and what lies below it may be written from now on ("" allows all).
void AllowWritesBelow(const std::string& directory);

}  // namespace tavrun::fuzz
