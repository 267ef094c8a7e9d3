// Shared by the tests of common, app and ui: scratch directories, file bytes, and running part
// of a test as an ordinary user (permission checks mean nothing to root).
#pragma once

#include <functional>
#include <string>

namespace tavrun::testing {

// A fresh directory under the temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);  // a dangling link exists
int ModeOf(const std::string& path);   // permission bits, -1 when missing
int CountEntries(const std::string& directory);

// Runs `body` in a child process, as nobody when the test runs as root; returns what the body
// returned: "" for success, else what went wrong.
std::string InChild(const std::function<std::string()>& body, bool unprivileged = true);

// base/name for a directory an InChild body creates itself; `base` becomes world-writable.
std::string MakeSharedDir(const TempDir& base, const std::string& name);

}  // namespace tavrun::testing
