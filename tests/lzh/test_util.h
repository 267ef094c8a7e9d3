// Helpers shared by the LZH tests: scratch directories, files, the entry points, tools.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "unlha32.h"

namespace lzhtest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline Bytes ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), {});
}

inline void WriteFile(const fs::path& p, const Bytes& data) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline void WriteFile(const fs::path& p, const std::string& text) {
  WriteFile(p, Bytes(text.begin(), text.end()));
}

inline void SetMtime(const fs::path& p, int64_t t) {
  timespec times[2] = {{static_cast<time_t>(t), 0}, {static_cast<time_t>(t), 0}};
  utimensat(AT_FDCWD, p.c_str(), times, 0);
}

inline int64_t Mtime(const fs::path& p) {
  struct stat st {};
  stat(p.c_str(), &st);
  return st.st_mtime;
}

// Data sets of the kinds the round trips cover.
inline Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 r(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(r());
  return b;
}

inline Bytes Text(size_t n, uint32_t seed) {
  static const char* words[] = {"archive", "file",   "the",  "of",     "圧縮", "解凍", "and",
                                "directory", "member", "LZH", "window", "\n",   "data", "to"};
  std::mt19937 r(seed);
  std::string s;
  while (s.size() < n) {
    s += words[r() % (sizeof words / sizeof *words)];
    s += ' ';
  }
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

// A scratch directory removed at the end of each test.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "lzhtest.XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  fs::path Path(const std::string& name) const { return dir_ / name; }

  // Runs a command line; `output_` receives the text.
  int Run(const std::string& commandLine, uint32_t outputSize = 1024) {
    std::vector<char> buf(outputSize + 1, '\x7F');
    int rc = Unlha(0, commandLine.c_str(), outputSize ? buf.data() : nullptr, outputSize);
    output_ = outputSize ? std::string(buf.data()) : std::string();
    return rc;
  }
  static std::string Q(const fs::path& p) { return "\"" + p.string() + "\""; }

  // Every regular file and link below `root`, as relative paths.
  static std::vector<std::string> Listing(const fs::path& root) {
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
      out.push_back(fs::relative(it->path(), root).string() + (it->is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
  }

  fs::path dir_;
  std::string output_;
};

// Runs a shell command; its exit status, or -1 when it could not run.
inline int Shell(const std::string& cmd) {
  int rc = std::system(cmd.c_str());
  return rc == -1 ? -1 : WEXITSTATUS(rc);
}

inline bool IsAsciiName(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

inline bool HaveTool(const std::string& name) {
  return Shell("command -v " + name + " >/dev/null 2>&1") == 0;
}

}  // namespace lzhtest
