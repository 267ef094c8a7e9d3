// Paths as the user typed them, made into what the libraries are given.
#pragma once

#include <string>

namespace tavrun::cli {

// The absolute path without ".", ".." or links, or `path` unchanged when it does not resolve
// (the checks that follow then name it as typed).
std::string RealPathOr(const std::string& path);

// Makes `path` and its missing parents; false with the reason.
bool MakeDirectories(const std::string& path, std::string& errorText);

// "/a/b/c.zip" into "/a/b/" and "c.zip".
void SplitPath(const std::string& path, std::string& directory, std::string& name);

}  // namespace tavrun::cli
