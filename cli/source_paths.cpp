#include "cli/source_paths.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>

#include "common/paths.h"

namespace tavrun::cli {

std::string RealPathOr(const std::string& path) {
  if (path.empty()) return path;
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved = real;
  free(real);
  return resolved;
}

bool MakeDirectories(const std::string& path, std::string& errorText) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (!error) return true;
  errorText = PlatformErrorText(error.value());
  return false;
}

void SplitPath(const std::string& path, std::string& directory, std::string& name) {
  const size_t slash = path.rfind('/');
  directory = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace tavrun::cli
