// Helpers shared by the LZH tests: files, data, a scratch directory, hand-made members.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "crc16.h"
#include "header.h"
#include "unlha32.h"

namespace lzhtest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline Bytes ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), {});
}
inline std::string ReadText(const fs::path& p) {
  Bytes b = ReadFile(p);
  return std::string(b.begin(), b.end());
}
template <class Container>
void WriteFile(const fs::path& p, const Container& data) {
  std::ofstream(p, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
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

inline Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 r(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(r());
  return b;
}
inline Bytes Text(size_t n, uint32_t seed) {
  static const char* words[] = {"archive", "file", "the",    "of", "圧縮",
                                "解凍",    "and",  "member", "\n", "data"};
  std::mt19937 r(seed);
  std::string s;
  while (s.size() < n) s += std::string(words[r() % std::size(words)]) + ' ';
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

inline int Shell(const std::string& cmd) {
  return WEXITSTATUS(std::system(cmd.c_str()));
}
inline bool HaveTool(const std::string& name) {
  return Shell("command -v " + name + " >/dev/null") == 0;
}

// A scratch directory per test, and the command entry point.
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
  static std::string Q(const fs::path& p) { return "\"" + p.string() + "\""; }

  // Runs a command line without a window; `output_` receives the text.
  int Run(const std::string& commandLine) {
    char buf[1024];
    int rc = Unlha(0, commandLine.c_str(), buf, sizeof buf);
    output_ = buf;
    return rc;
  }

  // Every entry below `root`, relative, directories with a trailing '/'.
  static std::vector<std::string> Listing(const fs::path& root) {
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it)
      out.push_back(it->path().lexically_relative(root).string() + (it->is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
  }

  fs::path dir_;
  std::string output_;
};

// ---- hand-made members (stored, so any name bytes and any header level can be tried) ----
inline void Put(Bytes& v, uint64_t x, int bytes) {
  for (int k = 0; k < bytes; ++k) v.push_back(static_cast<uint8_t>(x >> (8 * k)));
}
constexpr uint32_t kDosTime = 0x5A210000;

// A level-0 or level-1 header as older archivers wrote it: the whole path in the name field,
// a byte checksum; level 1 may carry a 0x02 directory record.
inline Bytes OldMember(int level, const std::string& path, const std::string& data,
                       const std::string& dirRecord = "") {
  Bytes ext;
  if (!dirRecord.empty()) {
    ext.push_back(0x02);
    ext.insert(ext.end(), dirRecord.begin(), dirRecord.end());
    Put(ext, 0, 2);
  }
  Bytes h = {0, 0, '-', 'l', 'h', '0', '-'};
  Put(h, data.size() + ext.size(), 4);
  Put(h, data.size(), 4);
  Put(h, kDosTime, 4);
  h.insert(h.end(), {0x20, static_cast<uint8_t>(level), static_cast<uint8_t>(path.size())});
  h.insert(h.end(), path.begin(), path.end());
  Put(h, tavrun::lzh::Crc16(0, data.data(), data.size()), 2);
  if (level == 1) {
    h.push_back('M');
    Put(h, ext.size(), 2);
  }
  h[0] = static_cast<uint8_t>(h.size() - 2);
  for (size_t i = 2; i < h.size(); ++i) h[1] = static_cast<uint8_t>(h[1] + h[i]);
  h.insert(h.end(), ext.begin(), ext.end());
  h.insert(h.end(), data.begin(), data.end());
  return h;
}

// A level-2 header as we write it (time 1600000000), with any name bytes and method.
inline Bytes Level2Member(const std::string& name, const std::string& data,
                          std::vector<std::string> dirs = {}, uint32_t codePage = 932,
                          uint16_t mode = 0100644, const char* method = "-lh0-") {
  const auto size = static_cast<uint32_t>(data.size());
  const tavrun::lzh::NewMember m{.method = method,
                                 .compressedSize = size,
                                 .originalSize = size,
                                 .mtime = 1600000000,
                                 .crc = tavrun::lzh::Crc16(0, data.data(), size),
                                 .name = name,
                                 .directories = std::move(dirs),
                                 .codePage = codePage,
                                 .mode = mode};
  Bytes h = tavrun::lzh::BuildLevel2Header(m);
  h.insert(h.end(), data.begin(), data.end());
  return h;
}

// The members of an archive as its headers say.
inline std::vector<tavrun::lzh::MemberHeader> Members(const fs::path& archive) {
  std::vector<tavrun::lzh::MemberHeader> out;
  const Bytes a = ReadFile(archive);
  for (size_t off = 0; off < a.size();) {
    tavrun::lzh::MemberHeader h;
    std::string why;
    if (tavrun::lzh::ParseMemberHeader(a.data() + off, a.size() - off, h, why) !=
        tavrun::lzh::ScanStatus::Member)
      break;
    h.offset = off;
    off += h.totalSize();
    out.push_back(h);
  }
  return out;
}
inline Bytes ArchiveOf(const std::vector<Bytes>& members) {
  Bytes a;
  for (const auto& m : members) a.insert(a.end(), m.begin(), m.end());
  a.push_back(0);
  return a;
}

}  // namespace lzhtest
