// Helpers for the ZIP library tests: scratch directories, files, calls into the libraries,
// outside tools, and crafted archives.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace ziptest {

// A scratch directory removed with everything in it (read-only parts included).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void SetMtime(const std::string& path, int64_t mtime);
int64_t Mtime(const std::string& path);
uint32_t Mode(const std::string& path);

// Every path below `dir`, relative, directories with a trailing "/" (symlinks not followed).
std::set<std::string> ListTree(const std::string& dir);

// Deterministic test data of several kinds.
std::string TextData(size_t size, unsigned seed);
std::string RandomData(size_t size, unsigned seed);

std::string Quote(const std::string& path);

struct Result {
  int32_t code;
  std::string output;
};
Result RunZip(const std::string& commandLine, uintptr_t window = 0);
Result RunUnZip(const std::string& commandLine, uintptr_t window = 0);
int32_t Check(const std::string& path, int32_t mode = 1);

// Runs a shell command, returning its exit status; stdout in `out` when given.
int Shell(const std::string& command, std::string* out = nullptr);
bool HaveTool(const std::string& name);
// Runs a Python 3 script (with `args` available as sys.argv[1:]); exit status.
int Python(const std::string& script, const std::vector<std::string>& args = {},
           std::string* out = nullptr);

// A member for a crafted archive written with libzip as it is told, however hostile.
struct CraftMember {
  std::string rawName;   // bytes as stored
  std::string data;
  bool utf8Flag = false;      // else stored without bit 11
  int opsys = 3;              // 3 Unix, 0 MS-DOS
  uint32_t unixMode = 0100644;
  bool store = false;
  bool directory = false;
  uint32_t dosAttr = 0x20;  // used when opsys is not Unix
};
void CraftArchive(const std::string& path, const std::vector<CraftMember>& members);

// Offsets of the first local header's fields in a simple archive (for patching).
size_t FindLocalHeader(const std::string& zip, const std::string& name);
void Patch32(std::string& bytes, size_t offset, uint32_t value);

}  // namespace ziptest
