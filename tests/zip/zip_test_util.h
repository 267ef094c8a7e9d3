// Shared by the ZIP tests: scratch directories and files, calls into the libraries and outside
// tools, crafted archives, and reading archives back independently (libzip, Python's zipfile).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "unzip32.h"
#include "zip32j.h"

namespace ziptest {

namespace fs = std::filesystem;

inline int Shell(const std::string& command, std::string* out = nullptr) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
  int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Wraps `arg` in `quote`, writing `escaped` for every quote inside: Quote for our command
// lines (doubled double quotes), Sh for the shell.
inline std::string Wrap(const std::string& arg, char quote, const char* escaped) {
  std::string q(1, quote);
  for (char c : arg) q += c == quote ? std::string(escaped) : std::string(1, c);
  return q + quote;
}
inline std::string Quote(const std::string& path) {
  return Wrap(path, '"', "\"\"");
}
inline std::string Sh(const std::string& arg) {
  return Wrap(arg, '\'', "'\\''");
}

// A scratch directory removed with everything in it (read-only parts included).
class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/tavrun-ziptest.XXXXXX";
    if (mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = templ;
  }
  ~TempDir() { Shell("chmod -R u+rwx " + Sh(path_) + " 2>/dev/null; rm -rf " + Sh(path_)); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), std::streamsize(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline bool Exists(const std::string& path) {
  return fs::exists(fs::symlink_status(path));
}

inline void SetMtime(const std::string& path, int64_t mtime) {
  timespec t[2] = {{time_t(mtime), 0}, {time_t(mtime), 0}};
  utimensat(AT_FDCWD, path.c_str(), t, 0);
}

inline struct stat Stat(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st;
}
inline int64_t Mtime(const std::string& path) {
  return Stat(path).st_mtime;
}

// Every path below `dir`, relative, directories with a trailing "/" (symlinks not followed).
inline std::set<std::string> ListTree(const std::string& dir) {
  std::set<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::end(it); it.increment(ec))
    out.insert(it->path().lexically_relative(dir).string() +
               (it->is_directory() && !it->is_symlink() ? "/" : ""));
  return out;
}

inline std::string TextData(size_t size, unsigned seed) {
  static const char* words[] = {
      "archive ",  "member ",    "deflate ", "圧縮 ", "解凍 ", "\n", "int main() { return 0; }\n",
      "ファイル ", "0123456789 "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) s += words[rng() % 9];
  s.resize(size);
  return s;
}

inline std::string RandomData(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = char(rng());
  return s;
}

struct Result {
  int32_t code;
  std::string output;
};
inline Result Run(decltype(&Zip) entry, const std::string& commandLine, uintptr_t window) {
  char buf[4096];
  int32_t code = entry(window, commandLine.c_str(), buf, sizeof buf);
  return {code, buf};
}
inline Result RunZip(const std::string& commandLine, uintptr_t window = 0) {
  return Run(&Zip, commandLine, window);
}
inline Result RunUnZip(const std::string& commandLine, uintptr_t window = 0) {
  return Run(&UnZip, commandLine, window);
}
// Zip with the quoted archive and files; UnZip into `dest`, which it creates.
inline Result ZipFiles(const std::string& switches, const std::string& archive,
                       const std::vector<std::string>& files, uintptr_t window = 0) {
  std::string cmd = switches + " " + Quote(archive);
  for (const std::string& f : files) cmd += " " + Quote(f);
  return RunZip(cmd, window);
}
inline Result UnZipTo(const std::string& switches, const std::string& archive,
                      const std::string& dest, uintptr_t window = 0) {
  mkdir(dest.c_str(), 0755);
  return RunUnZip(switches + " " + Quote(archive) + " " + Quote(dest + "/"), window);
}
inline int32_t Check(const std::string& path, int32_t mode = 1) {
  return UnZipCheckArchive(path.c_str(), mode);
}

inline bool HaveTool(const std::string& name) {
  return Shell("command -v " + name + " >/dev/null 2>&1") == 0;
}

// Runs a Python 3 script with `args` as sys.argv[1:]; its exit status, output in `out`.
inline int Python(const std::string& script, const std::vector<std::string>& args = {},
                  std::string* out = nullptr) {
  std::string cmd = "python3 -c " + Sh(script);
  for (const std::string& a : args) cmd += " " + Sh(a);
  return Shell(cmd + " 2>&1", out);
}

// A member for a crafted archive written with libzip as it is told, however hostile.
struct CraftMember {
  std::string rawName;  // bytes as stored
  std::string data;
  bool utf8Flag = false;  // else stored without bit 11
  int opsys = 3;          // 3 Unix, 0 MS-DOS
  uint32_t unixMode = 0100644;
  int32_t method = ZIP_CM_DEFLATE;
  std::string unicodePath{};  // the body of a Unicode-path field (0x7075) when not empty
};

// Offset of the local header or central directory entry of `name` (for patching).
inline size_t FindHeader(const std::string& zip, const std::string& name, bool central = false) {
  const size_t lenAt = central ? 28 : 26, nameAt = central ? 46 : 30;
  for (size_t at = 0; (at = zip.find(central ? "PK\x01\x02" : "PK\x03\x04", at)) != zip.npos;
       at += 4) {
    unsigned len = uint8_t(zip[at + lenAt]) | uint8_t(zip[at + lenAt + 1]) << 8;
    if (len == name.size() && zip.compare(at + nameAt, len, name) == 0) return at;
  }
  throw std::runtime_error("no header for " + name);
}
inline void Patch32(std::string& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + size_t(i)] = char(value >> (8 * i));
}

inline void CraftArchive(const std::string& path, const std::vector<CraftMember>& members) {
  int err = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (za == nullptr) throw std::runtime_error("zip_open");
  for (const CraftMember& m : members) {
    zip_source_t* src = zip_source_buffer(za, m.data.data(), m.data.size(), 0);
    zip_int64_t i = zip_file_add(za, m.rawName.c_str(), src, ZIP_FL_ENC_GUESS);
    if (i < 0) throw std::runtime_error(std::string("add: ") + zip_strerror(za));
    zip_set_file_compression(za, zip_uint64_t(i), m.method, 6);
    zip_file_set_external_attributes(za, zip_uint64_t(i), 0, zip_uint8_t(m.opsys),
                                     m.opsys == 3 ? m.unixMode << 16 : 0x20);
    zip_file_set_mtime(za, zip_uint64_t(i), 1500000000, 0);  // DOS time only
    // libzip will not write a Unicode-path field itself: it goes in under another id.
    if (!m.unicodePath.empty())
      zip_file_extra_field_set(za, zip_uint64_t(i), 0x6666, ZIP_EXTRA_FIELD_NEW,
                               reinterpret_cast<const zip_uint8_t*>(m.unicodePath.data()),
                               zip_uint16_t(m.unicodePath.size()), ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
  }
  if (zip_close(za) != 0) throw std::runtime_error(std::string("close: ") + zip_strerror(za));
  // libzip flags every name that happens to be valid UTF-8, and knows no field 0x7075.
  std::string zip = ReadFile(path);
  for (const CraftMember& m : members)
    for (bool central : {false, true}) {
      const size_t h = FindHeader(zip, m.rawName, central);
      const size_t extra = h + (central ? 46 : 30) + m.rawName.size();
      char& flags = zip[h + (central ? 9 : 7)];  // bit 11 of the general-purpose flags
      flags = char(m.utf8Flag ? flags | 0x08 : flags & ~0x08);
      if (zip.compare(extra, 2, "\x66\x66") == 0) zip.replace(extra, 2, "up");
    }
  WriteFile(path, zip);
}

// Every member's stored (compressed) bytes by raw name, read with libzip.
inline std::map<std::string, std::string> RawMembers(const std::string& zip) {
  std::map<std::string, std::string> out;
  int err = 0;
  zip_t* za = zip_open(zip.c_str(), ZIP_RDONLY, &err);
  for (zip_int64_t i = 0; za != nullptr && i < zip_get_num_entries(za, 0); ++i) {
    std::string& data = out[zip_get_name(za, zip_uint64_t(i), ZIP_FL_ENC_RAW)];
    zip_file_t* f = zip_fopen_index(za, zip_uint64_t(i), ZIP_FL_COMPRESSED);
    char buf[65536];
    for (zip_int64_t n; f != nullptr && (n = zip_fread(f, buf, sizeof buf)) > 0;)
      data.append(buf, size_t(n));
    if (f != nullptr) zip_fclose(f);
  }
  if (za != nullptr) zip_discard(za);
  return out;
}

// Python's zipfile check ("None" when every CRC is right), then a line per member:
// "name|<bit 11>|<method>|<DOS date, local>|<Unix mode, octal>|<size>".
inline std::string PyList(const std::string& zip) {
  std::string out;
  Python(R"(import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
lines = [str(z.testzip())] + ['%s|%d|%d|%04d-%02d-%02d_%02d:%02d:%02d|%o|%d' % (
    (i.filename, i.flag_bits & 0x800, i.compress_type) + i.date_time +
    (i.external_attr >> 16, i.file_size)) for i in z.infolist()]
sys.stdout.buffer.write('\n'.join(lines).encode()))",
         {zip}, &out);
  return out;
}

// An archive written byte by byte, for what no tool writes: members whose data overlap, sizes
// that lie, methods libzip cannot write. Offsets count from the start of the returned bytes.
struct HandMember {
  std::string name;
  std::string stored;  // the bytes as stored (already compressed)
  uint16_t method = 0;
  uint32_t crc = 0;
  uint64_t size = 0;       // declared uncompressed size
  std::string extra = {};  // extra fields, local and central
  uint16_t flags = 0;
  int64_t offset = -1;  // where the directory says the local header is; -1: where it is
};
inline std::string Le(uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += char(v >> (8 * i));
  return s;
}
inline std::string LocalRecord(const HandMember& m) {
  return "PK\x03\x04" + Le(20, 2) + Le(m.flags, 2) + Le(m.method, 2) + Le(0x5000, 2) +
         Le(0x5021, 2) + Le(m.crc, 4) + Le(m.stored.size(), 4) + Le(m.size, 4) +
         Le(m.name.size(), 2) + Le(m.extra.size(), 2) + m.name + m.extra + m.stored;
}
inline std::string HandZip(const std::vector<HandMember>& members, bool withRecords = true) {
  std::string body, central;
  for (const HandMember& m : members) {
    const uint64_t at = m.offset >= 0 ? uint64_t(m.offset) : body.size();
    if (withRecords && m.offset < 0) body += LocalRecord(m);
    central += "PK\x01\x02" + Le(0x0314, 2) + Le(20, 2) + Le(m.flags, 2) + Le(m.method, 2) +
               Le(0x5000, 2) + Le(0x5021, 2) + Le(m.crc, 4) + Le(m.stored.size(), 4) +
               Le(m.size, 4) + Le(m.name.size(), 2) + Le(m.extra.size(), 2) + Le(0, 2) + Le(0, 2) +
               Le(0, 2) + Le(0100644u << 16, 4) + Le(at, 4) + m.name + m.extra;
  }
  return body + central + "PK\x05\x06" + Le(0, 4) + Le(members.size(), 2) + Le(members.size(), 2) +
         Le(central.size(), 4) + Le(body.size(), 4) + Le(0, 2);
}
inline uint32_t Crc(const std::string& data) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}
// Raw deflate (no zlib header), as ZIP stores it.
inline std::string Deflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, uLong(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}
inline HandMember Stored(const std::string& name, const std::string& data) {
  return {name, data, 0, Crc(data), data.size()};
}
inline HandMember Deflated(const std::string& name, const std::string& data) {
  return {name, Deflate(data), 8, Crc(data), data.size()};
}

}  // namespace ziptest
