// The source archives are created and updated through, and the temporary-file helper under
// it: opened as libzip's own file source opens a path, and a writer killed at any moment
// leaves the old archive byte for byte and nothing beside it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "archive_source.h"
#include "safe_output.h"

namespace {

namespace fs = std::filesystem;

class Scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/tavrun-zipsrc.XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::set<std::string> Listing() const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) out.insert(e.path().filename());
    return out;
  }
  bool HasUnnamedFiles() const {
    int probe = open(dir_.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (probe < 0) return false;
    close(probe);
    return true;
  }

  std::string dir_;
};

void Write(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}
std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Opens `path` through our source; libzip's error code in `ze` when it fails.
zip_t* OpenOurs(const std::string& path, int flags, int& ze) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* src = tavrun::zip::MakeArchiveSource(path, &error);
  zip_t* za = src ? zip_open_from_source(src, flags, &error) : nullptr;
  ze = zip_error_code_zip(&error);
  if (za == nullptr) zip_source_free(src);
  zip_error_fini(&error);
  return za;
}

// libzip reads the data when the archive is closed: it gets a copy of its own.
bool AddBuffer(zip_t* za, const std::string& name, const std::string& data) {
  void* copy = malloc(data.size() + 1);
  if (copy == nullptr) return false;
  memcpy(copy, data.data(), data.size());
  zip_source_t* src = zip_source_buffer(za, copy, data.size(), 1);
  if (src == nullptr) {
    free(copy);
    return false;
  }
  if (zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_UTF_8) < 0) {
    zip_source_free(src);
    return false;
  }
  return true;
}

// The members of an archive as libzip's own reader sees them, "name=data" joined by "|"; data
// longer than 16 bytes as its size and first byte.
std::string Members(const std::string& path) {
  int ze = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &ze);
  if (za == nullptr) return "error " + std::to_string(ze);
  std::string out;
  for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(za, zip_uint64_t(i), 0, &st);
    std::string data(st.size, '\0');
    char end;
    zip_file_t* f = zip_fopen_index(za, zip_uint64_t(i), 0);
    if (f == nullptr || zip_fread(f, data.data(), st.size) != zip_int64_t(st.size) ||
        zip_fread(f, &end, 1) != 0)  // the end, where libzip checks the CRC
      data = "?";
    if (f) zip_fclose(f);
    if (data.size() > 16) data = std::to_string(data.size()) + "x" + data.substr(0, 1);
    out += (out.empty() ? "" : "|") + std::string(st.name) + "=" + data;
  }
  zip_discard(za);
  return out;
}

TEST_F(Scratch, OpensPathsAsLibzipsOwnFileSourceDoes) {
  Write(Path("empty.zip"), "");
  Write(Path("text.zip"), "no archive at all, and longer than an end record\n");
  {
    int ze = 0;
    zip_t* za = zip_open(Path("good.zip").c_str(), ZIP_CREATE, &ze);
    ASSERT_NE(za, nullptr);
    ASSERT_TRUE(AddBuffer(za, "a.txt", "a"));
    ASSERT_EQ(zip_close(za), 0);
  }
  const struct {
    const char* name;
    int flags;
  } cases[] = {{"missing.zip", ZIP_CREATE},        {"missing.zip", 0},
               {"empty.zip", ZIP_CREATE},          {"empty.zip", ZIP_CREATE | ZIP_TRUNCATE},
               {"text.zip", ZIP_CREATE},           {"good.zip", ZIP_CREATE | ZIP_CHECKCONS},
               {"good.zip", ZIP_CREATE | ZIP_EXCL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " flags " + std::to_string(c.flags));
    int theirsError = 0, oursError = 0;
    zip_t* theirs = zip_open(Path(c.name).c_str(), c.flags, &theirsError);
    zip_t* ours = OpenOurs(Path(c.name), c.flags, oursError);
    ASSERT_EQ(ours != nullptr, theirs != nullptr);
    if (ours) {
      EXPECT_EQ(zip_get_num_entries(ours, 0), zip_get_num_entries(theirs, 0));
      zip_discard(ours);
      zip_discard(theirs);
    } else {
      EXPECT_EQ(oursError, theirsError);
    }
  }
  // Opening and discarding wrote nothing.
  EXPECT_EQ(Listing(), (std::set<std::string>{"empty.zip", "text.zip", "good.zip"}));
  EXPECT_EQ(Read(Path("empty.zip")), "");
}

TEST_F(Scratch, CommitReplacesTheArchiveWithItsModeAndRollbackLeavesIt) {
  const std::string archive = Path("a.zip");
  int ze = 0;
  zip_t* za = OpenOurs(archive, ZIP_CREATE, ze);
  ASSERT_NE(za, nullptr) << ze;
  ASSERT_TRUE(AddBuffer(za, "one.txt", "1"));
  ASSERT_EQ(zip_close(za), 0) << zip_strerror(za);
  EXPECT_EQ(Members(archive), "one.txt=1");
  const mode_t umask = tavrun::arc::ProcessUmask();
  EXPECT_EQ(fs::status(archive).permissions(), fs::perms(0666 & ~umask));

  ASSERT_EQ(chmod(archive.c_str(), 0640), 0);
  za = OpenOurs(archive, ZIP_CREATE | ZIP_CHECKCONS, ze);
  ASSERT_NE(za, nullptr) << ze;
  ASSERT_TRUE(AddBuffer(za, "two.txt", std::string(100000, '2')));
  ASSERT_EQ(zip_delete(za, 0), 0);
  ASSERT_EQ(zip_close(za), 0) << zip_strerror(za);
  EXPECT_EQ(Members(archive), "two.txt=100000x2");
  EXPECT_EQ(fs::status(archive).permissions(), fs::perms(0640));

  // A change discarded, and a close that fails: the archive stays as it is.
  const std::string before = Read(archive);
  za = OpenOurs(archive, ZIP_CREATE, ze);
  ASSERT_NE(za, nullptr);
  ASSERT_TRUE(AddBuffer(za, "three.txt", "3"));
  zip_discard(za);
  za = OpenOurs(archive, ZIP_CREATE, ze);
  ASSERT_NE(za, nullptr);
  zip_source_t* broken = zip_source_file(za, Path("gone.txt").c_str(), 0, -1);
  if (broken == nullptr) {  // refused at once: make one that fails when read
    Write(Path("gone.txt"), "x");
    broken = zip_source_file(za, Path("gone.txt").c_str(), 0, -1);
    ASSERT_NE(broken, nullptr);
    fs::remove(Path("gone.txt"));
  }
  ASSERT_GE(zip_file_add(za, "gone.txt", broken, 0), 0);
  EXPECT_NE(zip_close(za), 0);
  zip_discard(za);
  EXPECT_EQ(Read(archive), before);
  EXPECT_EQ(Listing(), std::set<std::string>{"a.zip"});
}

// Thousands of small headers and members above the buffer size, read and written across
// buffer boundaries, with libzip seeking back to complete each local header: every member
// must come back whole (the reader checks every CRC).
TEST_F(Scratch, ManyMembersAndLargeOnesSurviveUpdates) {
  const std::string archive = Path("many.zip");
  std::string expected;
  int ze = 0;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    zip_t* za = OpenOurs(archive, ZIP_CREATE | ZIP_CHECKCONS, ze);
    ASSERT_NE(za, nullptr) << ze;
    for (int i = 0; i < 1000; ++i) {
      const std::string name = "r" + std::to_string(round) + "/member" + std::to_string(i);
      ASSERT_TRUE(AddBuffer(za, name, std::to_string(i)));
      expected += (expected.empty() ? "" : "|") + name + "=" + std::to_string(i);
    }
    std::string large(200000 + round, '\0');  // stored: written past the buffer at once
    for (size_t i = 0; i < large.size(); ++i) large[i] = char('a' + (i * 7919 + i / 13) % 26);
    const std::string name = "r" + std::to_string(round) + "/large";
    ASSERT_TRUE(AddBuffer(za, name, large));
    ASSERT_EQ(
        zip_set_file_compression(za, zip_uint64_t(zip_get_num_entries(za, 0) - 1), ZIP_CM_STORE, 0),
        0);
    expected += "|" + name + "=" + std::to_string(large.size()) + "x" + large.substr(0, 1);
    ASSERT_EQ(zip_close(za), 0) << zip_strerror(za);
    EXPECT_EQ(Members(archive), expected);
  }
}

// A member whose data raises SIGKILL once `killAt` bytes of it were read: the process dies
// inside zip_close, with the new archive partly written.
struct KillingSource {
  uint64_t size, killAt, pos = 0;
  zip_error_t error{};
};

zip_int64_t KillingCallback(void* ud, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* k = static_cast<KillingSource*>(ud);
  switch (cmd) {
    case ZIP_SOURCE_OPEN: k->pos = 0; return 0;
    case ZIP_SOURCE_READ: {
      if (k->pos >= k->killAt) raise(SIGKILL);
      const uint64_t n = len < k->size - k->pos ? len : k->size - k->pos;
      for (uint64_t i = 0; i < n; ++i) static_cast<uint8_t*>(data)[i] = uint8_t((k->pos + i) * 7);
      k->pos += n;
      return zip_int64_t(n);
    }
    case ZIP_SOURCE_CLOSE:
      if (k->killAt >= k->size) raise(SIGKILL);  // all data written, before the directory
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->size = k->size;
      st->valid = ZIP_STAT_SIZE;
      return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&k->error, data, len);
    case ZIP_SOURCE_FREE: return 0;
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_READABLE;
    default: return -1;
  }
}

TEST_F(Scratch, AWriterKilledInsideCloseLeavesTheOldArchiveAndNothingElse) {
  if (!HasUnnamedFiles()) GTEST_SKIP() << "the file system of " << dir_ << " has no unnamed files";
  std::string longName;
  for (int i = 0; i < 83; ++i) longName += "\xE8\xA1\xA8";  // 表
  longName += "ab.zip";
  ASSERT_EQ(longName.size(), 255u);
  {  // libzip's own file source would need 7 bytes more for its temporary name
    int ze = 0;
    zip_t* za = OpenOurs(Path(longName), ZIP_CREATE, ze);
    ASSERT_NE(za, nullptr) << ze;
    ASSERT_TRUE(AddBuffer(za, "keep.txt", "kept member"));
    ASSERT_EQ(zip_close(za), 0) << zip_strerror(za);
  }
  const std::string before = Read(Path(longName));
  constexpr uint64_t kSize = 48ull << 20;
  const struct {
    const char* archive;
    uint64_t killAt;
    bool exists;
  } cases[] = {{"", kSize / 2, true},  // the long-named archive, mid-member
               {"", kSize, true},      // after the member, before the directory and commit
               {"new.zip", kSize / 2, false},
               {"new.zip", kSize, false}};
  for (const auto& c : cases) {
    const std::string archive = c.exists ? Path(longName) : Path(c.archive);
    SCOPED_TRACE(std::string(c.exists ? "update" : "create") + " killed at " +
                 std::to_string(c.killAt));
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int ze = 0;
      zip_t* za = OpenOurs(archive, ZIP_CREATE | ZIP_CHECKCONS, ze);
      if (za == nullptr) _exit(2);
      KillingSource k{kSize, c.killAt};
      zip_error_init(&k.error);
      zip_source_t* src = zip_source_function(za, KillingCallback, &k);
      const zip_int64_t at = src ? zip_file_add(za, "big.bin", src, 0) : -1;
      if (at < 0 || zip_set_file_compression(za, zip_uint64_t(at), ZIP_CM_STORE, 0) != 0) _exit(3);
      zip_close(za);
      _exit(4);  // not reached: the source kills the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(Read(Path(longName)), before);
    EXPECT_EQ(Listing(), std::set<std::string>{longName});
  }
}

TEST_F(Scratch, TemporaryFilesAreUnnamedOrRefusedWithTheCause) {
  const std::string readOnly = Path("ro");
  ASSERT_EQ(mkdir(readOnly.c_str(), 0755), 0);
  const bool mounted =
      geteuid() == 0 && mount("tmpfs", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
  Write(Path("plain"), "x");
  struct Case {
    std::string dir;
    int wantErrno;  // 0: created
  };
  std::vector<Case> cases = {{dir_, 0}, {Path("plain"), ENOTDIR}};
  if (mounted) cases.push_back({readOnly, EROFS});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir);
    const int dirFd = open(c.dir.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(dirFd, 0);
    std::string name = "stale";
    errno = 0;
    const int fd = tavrun::arc::CreateTemporaryIn(dirFd, 0600, name);
    const int e = errno;
    close(dirFd);
    if (c.wantErrno != 0) {
      EXPECT_EQ(fd, -1);
      EXPECT_EQ(e, c.wantErrno);
      continue;
    }
    ASSERT_GE(fd, 0) << strerror(e);
    EXPECT_EQ(write(fd, "data", 4), 4);
    char back[4];
    EXPECT_EQ(pread(fd, back, 4, 0), 4);  // open for reading too
    EXPECT_EQ(std::string(back, 4), "data");
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    close(fd);
    if (HasUnnamedFiles()) {
      EXPECT_EQ(name, "");
    }
    if (!name.empty()) fs::remove(c.dir + "/" + name);
  }
  if (mounted) umount(readOnly.c_str());
  EXPECT_EQ(Listing(), (std::set<std::string>{"plain", "ro"}));
}

}  // namespace
