// The start-up check of the component directory: required runtime files and archivers.
#pragma once

#include <string>
#include <vector>

namespace tavrun {

// The component directory: ../lib/tavrun from the executable's real directory, no trailing "/".
// A test may point it elsewhere; an empty text restores the default.
std::string GetSysDir(std::string& errorText);
void SetSysDirForTesting(const std::string& directory);

// Files the UI loads from the component directory at start-up, in check order.
const std::vector<std::string>& RequiredRuntimeFiles();

// Archiver library file names.
inline constexpr const char* UnlhaLibraryName = "libunlha32.so";
inline constexpr const char* ZipjLibraryName = "libzip32j.so";
inline constexpr const char* ZipLibraryName = "libzip32.so";
inline constexpr const char* UnzipLibraryName = "libunzip32.so";

bool CheckRuntime(std::string& errorText);
bool CheckFilesExist(std::vector<std::string>& files, std::string& errorText);

}  // namespace tavrun
