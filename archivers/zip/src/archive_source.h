// The archive being created or updated, as the source libzip opens it from
// (zip_open_from_source). Reads come from the archive as it stands; the new archive is written
// to an unnamed file in the same directory (arc::AtomicFile) that takes the archive's place
// only when libzip commits it: data synced, the old archive's mode (a new one gets 0666 less
// the umask). libzip makes no file of its own, so a process killed at any moment leaves the
// old archive as it was and nothing beside it, and the archive's name needs no room for a
// temporary suffix.
#pragma once

#include <zip.h>

#include <string>

namespace tavrun::zip {

// A source over the archive at `path`, which must be resolved already (no symlink as its last
// component: the caller follows it, so the link stays). A missing archive reads as not
// existing, as libzip's own file source has it, and is created on commit. NULL with `error`
// set when an existing archive cannot be opened.
//
// The caller owns the source until zip_open_from_source succeeds, the archive after that; a
// failed zip_open_from_source leaves it usable for another try.
zip_source_t* MakeArchiveSource(const std::string& path, zip_error_t* error);

}  // namespace tavrun::zip
