#include "app/launch.h"

#include <filesystem>
#include <system_error>

namespace tavrun {
namespace {

namespace fs = std::filesystem;

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The folder a path given on the command line stands for.
std::string SourceDirectoryFor(const std::string& argument, const std::string& workingDirectory) {
  fs::path path(argument);
  if (path.is_relative()) path = fs::path(workingDirectory) / path;
  path = path.lexically_normal();
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (fs::exists(status) && !fs::is_directory(status)) {
    path = WithoutTrailingSlash(path.string());
    path = path.parent_path();
  }
  return WithoutTrailingSlash(path.string());
}

}  // namespace

LaunchRequest ParseLaunchArguments(const std::vector<std::string>& arguments,
                                   const std::string& workingDirectory) {
  LaunchRequest request;
  bool options = true;
  for (const std::string& argument : arguments) {
    if (options && argument == "--") {
      options = false;
    } else if (options && argument == "--compress") {
      request.operation = LaunchOperation::Compress;
    } else if (options && argument == "--extract") {
      request.operation = LaunchOperation::Extract;
    } else if (options && argument.size() > 1 && argument[0] == '-') {
      continue;  // an option of a later version or a desktop's own: no reason to refuse
    } else if (request.sourceDirectory.empty() && !argument.empty()) {
      request.sourceDirectory = SourceDirectoryFor(argument, workingDirectory);
    }
  }
  return request;
}

LaunchRequest LaunchRequestFrom(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  std::error_code error;
  const fs::path workingDirectory = fs::current_path(error);
  // A working directory removed under the process leaves relative paths nothing to stand on.
  return ParseLaunchArguments(arguments, error ? std::string("/") : workingDirectory.string());
}

}  // namespace tavrun
