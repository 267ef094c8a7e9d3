#include "zip_test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "unzip32.h"
#include "zip32j.h"

namespace ziptest {

namespace {

void RemoveAll(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") RemoveAll(path + "/" + n);
      }
      closedir(d);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void Walk(const std::string& root, const std::string& rel, std::set<std::string>& out) {
  DIR* d = opendir((root + "/" + rel).c_str());
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    std::string r = rel.empty() ? n : rel + "/" + n;
    struct stat st {};
    lstat((root + "/" + r).c_str(), &st);
    if (S_ISDIR(st.st_mode)) {
      out.insert(r + "/");
      Walk(root, r, out);
    } else {
      out.insert(r);
    }
  }
  closedir(d);
}

}  // namespace

TempDir::TempDir() {
  char templ[] = "/tmp/tavrun-ziptest.XXXXXX";
  if (mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = templ;
}

TempDir::~TempDir() { RemoveAll(path_); }

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), std::streamsize(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

void SetMtime(const std::string& path, int64_t mtime) {
  timespec t[2] = {{time_t(mtime), 0}, {time_t(mtime), 0}};
  utimensat(AT_FDCWD, path.c_str(), t, 0);
}

int64_t Mtime(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mtime;
}

uint32_t Mode(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

std::set<std::string> ListTree(const std::string& dir) {
  std::set<std::string> out;
  Walk(dir, "", out);
  return out;
}

std::string TextData(size_t size, unsigned seed) {
  static const char* words[] = {"archive ", "member ", "deflate ", "圧縮 ", "解凍 ", "\n",
                                "int main() { return 0; }\n", "ファイル ", "0123456789 "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) s += words[rng() % 9];
  s.resize(size);
  return s;
}

std::string RandomData(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = char(rng());
  return s;
}

std::string Quote(const std::string& path) {
  std::string q = "\"";
  for (char c : path) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

Result RunZip(const std::string& commandLine, uintptr_t window) {
  char buf[4096];
  int32_t code = Zip(window, commandLine.c_str(), buf, sizeof buf);
  return {code, buf};
}

Result RunUnZip(const std::string& commandLine, uintptr_t window) {
  char buf[4096];
  int32_t code = UnZip(window, commandLine.c_str(), buf, sizeof buf);
  return {code, buf};
}

int32_t Check(const std::string& path, int32_t mode) { return UnZipCheckArchive(path.c_str(), mode); }

int Shell(const std::string& command, std::string* out) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) {
  return Shell("command -v " + name + " >/dev/null 2>&1") == 0;
}

int Python(const std::string& script, const std::vector<std::string>& args, std::string* out) {
  TempDir d;
  WriteFile(d / "s.py", script);
  std::string cmd = "python3 " + d / "s.py";
  for (const std::string& a : args) {
    std::string q = "'";
    for (char c : a) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    cmd += " " + q + "'";
  }
  return Shell(cmd + " 2>&1", out);
}

void CraftArchive(const std::string& path, const std::vector<CraftMember>& members) {
  int err = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (za == nullptr) throw std::runtime_error("zip_open");
  for (const CraftMember& m : members) {
    zip_flags_t enc = m.utf8Flag ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_CP437;
    zip_int64_t idx;
    if (m.directory) {
      idx = zip_dir_add(za, m.rawName.c_str(), enc);
    } else {
      zip_source_t* src = zip_source_buffer(za, m.data.data(), m.data.size(), 0);
      idx = zip_file_add(za, m.rawName.c_str(), src, enc);
      // libzip takes valid UTF-8 only as a guess, which it writes without the flag too.
      if (idx < 0 && !m.utf8Flag) idx = zip_file_add(za, m.rawName.c_str(), src, ZIP_FL_ENC_GUESS);
      if (idx < 0) zip_source_free(src);
    }
    if (idx < 0) throw std::runtime_error(std::string("add: ") + zip_strerror(za));
    zip_set_file_compression(za, zip_uint64_t(idx), m.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 6);
    zip_uint32_t attr = m.opsys == 3 ? (m.directory ? 040755u : m.unixMode) << 16
                                     : (m.directory ? 0x10u : m.dosAttr);
    zip_file_set_external_attributes(za, zip_uint64_t(idx), 0, zip_uint8_t(m.opsys), attr);
    zip_file_set_mtime(za, zip_uint64_t(idx), 1500000000, 0);
  }
  if (zip_close(za) != 0) throw std::runtime_error(std::string("close: ") + zip_strerror(za));
}

size_t FindLocalHeader(const std::string& zip, const std::string& name) {
  size_t pos = 0;
  while ((pos = zip.find("PK\x03\x04", pos)) != std::string::npos) {
    unsigned nameLen = uint8_t(zip[pos + 26]) | uint8_t(zip[pos + 27]) << 8;
    if (zip.compare(pos + 30, nameLen, name) == 0 && nameLen == name.size()) return pos;
    pos += 4;
  }
  throw std::runtime_error("no local header for " + name);
}

void Patch32(std::string& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + size_t(i)] = char(value >> (8 * i));
}

}  // namespace ziptest
