// Extraction and testing of ZIP archives: libzip reads the archive, this layer decides every
// name and writes every byte below the destination itself.
#pragma once

#include <zip.h>

#include <cstdint>
#include <string>

#include "report.h"

namespace tavrun::zip {

struct ExtractOptions {
  enum class Overwrite { Ask, Always, Never };
  bool withDirectories = false;  // -x
  bool quiet = false;            // -qq
  bool noProgress = false;       // --i
  Overwrite overwrite = Overwrite::Ask;
  uintptr_t window = 0;
};

// Opens a regular file as an archive with its structure checked. NULL with the failure in
// `report` (archive missing or unreadable, or not a consistent ZIP archive).
zip_t* OpenArchive(const std::string& path, Outcome& report);

// Extracts every member of an open archive below the existing directory `destination`.
void ExtractArchive(zip_t* za, const std::string& destination, const ExtractOptions& options,
                    Outcome& report);

// 1 when the open archive is valid; mode 2 also reads every member to its end.
int32_t CheckOpenArchive(zip_t* za, int32_t mode);
int32_t CheckArchiveFile(const std::string& path, int32_t mode);

}  // namespace tavrun::zip
