// The `list` and `test` commands for one archive. Both take the archive only as extraction
// would (the same archive check); `test` is the extraction itself into a private directory
// that is removed afterwards, so it checks exactly what extracting would check (CRCs, the
// password) and writes nothing where the user keeps files.
#pragma once

#include <string>
#include <vector>

#include "cli/archive_listing.h"
#include "engine/file_step.h"

namespace tavrun::cli {

// `operation` is the extraction of the format.
FileResult ListArchive(Operation operation, const std::string& path,
                       std::vector<MemberInfo>& members);

// `prefix` is the extraction's switches; the archive is `from` + `name`.
FileResult TestArchive(Operation operation, const std::string& prefix, const std::string& from,
                       const std::string& name);

// The directory private directories are made in: $TMPDIR, else /tmp.
std::string TemporaryRoot();

// Removes a directory and everything in it without following links; directories the
// extraction made read-only are opened up first.
void RemoveTree(const std::string& path);

}  // namespace tavrun::cli
