#include "safe_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;
using namespace tavrun::arc;

namespace {

class TempTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/arc-safe-XXXXXX";
    root_ = mkdtemp(templ);
    dest_ = root_ / "dest";
    outside_ = root_ / "outside";
    fs::create_directories(dest_);
    fs::create_directories(outside_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dest_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void WriteFile(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
  }
  // Every entry below a directory, for checking that nothing else appeared.
  static std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (auto& e : fs::recursive_directory_iterator(dir))
      names.insert(fs::relative(e.path(), dir).string());
    return names;
  }
  bool Extract(SafeDestination& d, const std::string& member, const std::string& data, bool replace,
               std::string& error, uint32_t mode = 0644, int64_t mtime = 1000000000) {
    std::vector<std::string> comps;
    if (!SanitizeMemberPath(member, comps, error)) return false;
    auto w = d.Create(comps, error);
    if (!w) return false;
    if (!w->Write(data.data(), data.size(), error)) return false;
    return w->Commit(mode, mtime, replace, error);
  }
  fs::path root_, dest_, outside_;
};

}  // namespace

TEST(SanitizeMemberPath, HostileNamesAreRefused) {
  std::vector<std::string> comps;
  std::string reason;
  for (const char* bad : {"/../x", "C:..\\x", "../x", "a/../../x", "a\\..\\x", "..", "", "./", "/",
                          "C:\\", "a/\x01b", "tab\there", "del\x7F"}) {
    EXPECT_FALSE(SanitizeMemberPath(bad, comps, reason)) << bad;
    EXPECT_FALSE(reason.empty());
  }
}

TEST(SanitizeMemberPath, AbsoluteNamesAndDriveLettersBecomeRelative) {
  std::vector<std::string> comps;
  std::string reason;
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"/etc/passwd", {"etc", "passwd"}},
      {"\\windows\\x", {"windows", "x"}},
      {"C:\\dir\\x", {"dir", "x"}},
      {"c:x", {"x"}},
      {"//server/share/x", {"server", "share", "x"}},
      {"a:b/c", {"b", "c"}}};
  for (const auto& [name, expected] : cases) {
    ASSERT_TRUE(SanitizeMemberPath(name, comps, reason)) << name << ": " << reason;
    EXPECT_EQ(comps, expected) << name;
  }
}

TEST(SanitizeMemberPath, BothSeparatorsSplitAndDotsDrop) {
  std::vector<std::string> comps;
  std::string reason;
  ASSERT_TRUE(SanitizeMemberPath("dir\\sub/./file..txt", comps, reason));
  EXPECT_EQ(comps, (std::vector<std::string>{"dir", "sub", "file..txt"}));
  ASSERT_TRUE(SanitizeMemberPath("a//b/", comps, reason));
  EXPECT_EQ(comps, (std::vector<std::string>{"a", "b"}));
  ASSERT_TRUE(SanitizeMemberPath("...", comps, reason));  // a name, not a parent reference
  EXPECT_EQ(comps, std::vector<std::string>{"..."});
}

TEST_F(TempTree, WritesBelowTheDestinationWithModeAndTime) {
  SafeDestination d;
  std::string error;
  ASSERT_TRUE(d.Open(dest_, error)) << error;
  ASSERT_TRUE(Extract(d, "sub/dir/a.txt", "hello", false, error, 06755, 1234567890)) << error;
  EXPECT_EQ(Read(dest_ / "sub/dir/a.txt"), "hello");
  struct stat st {};
  ASSERT_EQ(stat((dest_ / "sub/dir/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07000, 0u) << "setuid/setgid/sticky must be dropped";
  EXPECT_EQ(st.st_mtime, 1234567890);
  EXPECT_EQ(Listing(dest_), (std::set<std::string>{"sub", "sub/dir", "sub/dir/a.txt"}));
}

TEST_F(TempTree, AProcessKilledWhileWritingLeavesNothingBehind) {
  int probe = open(dest_.c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "the file system of " << dest_ << " has no unnamed files";
  close(probe);
  WriteFile(dest_ / "kept.txt", "old");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // dies in the middle of two files, without running any destructor
    SafeDestination d;
    std::string error;
    if (!d.Open(dest_, error)) _exit(2);
    auto a = d.Create({"sub", "new.txt"}, error);
    auto b = d.Create({"kept.txt"}, error);
    if (!a || !b || !a->Write("partial", 7, error) || !b->Write("partial", 7, error)) _exit(3);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Listing(dest_), (std::set<std::string>{"kept.txt", "sub"}));
  EXPECT_EQ(Read(dest_ / "kept.txt"), "old");

  // Committed, the unnamed file takes its name, once without replacing and once replacing.
  SafeDestination d;
  std::string error;
  ASSERT_TRUE(d.Open(dest_, error));
  EXPECT_FALSE(Extract(d, "kept.txt", "new", false, error));
  EXPECT_EQ(Read(dest_ / "kept.txt"), "old");
  EXPECT_TRUE(Extract(d, "kept.txt", "new", true, error)) << error;
  EXPECT_EQ(Read(dest_ / "kept.txt"), "new");
  EXPECT_EQ(Listing(dest_), (std::set<std::string>{"kept.txt", "sub"}));
}

TEST_F(TempTree, SymlinksInsideTheDestinationAreNeverFollowed) {
  fs::create_directory_symlink(outside_, dest_ / "link");
  fs::create_symlink(outside_ / "target.txt", dest_ / "file-link");
  WriteFile(outside_ / "target.txt", "precious");
  SafeDestination d;
  std::string error;
  ASSERT_TRUE(d.Open(dest_, error));
  EXPECT_FALSE(Extract(d, "link/evil.txt", "x", true, error));
  EXPECT_FALSE(error.empty());
  std::vector<std::string> comps{"link", "evil"};
  EXPECT_FALSE(d.MakeDirectories(comps, false, error));
  EXPECT_EQ(d.Existing({"file-link"}), ExistingFile::NotRegular);
  // Replacing the link itself is allowed, writing through it never.
  ASSERT_TRUE(Extract(d, "file-link", "new", true, error)) << error;
  EXPECT_EQ(Read(outside_ / "target.txt"), "precious");
  EXPECT_EQ(Listing(outside_), std::set<std::string>{"target.txt"});
  EXPECT_FALSE(fs::is_symlink(dest_ / "file-link"));
}

TEST_F(TempTree, ExistingFilesAreKeptUnlessReplacingIsAllowed) {
  WriteFile(dest_ / "keep.txt", "old");
  SafeDestination d;
  std::string error;
  ASSERT_TRUE(d.Open(dest_, error));
  EXPECT_EQ(d.Existing({"keep.txt"}), ExistingFile::Regular);
  EXPECT_EQ(d.Existing({"none.txt"}), ExistingFile::None);
  EXPECT_EQ(d.Existing({"no", "such", "dir.txt"}), ExistingFile::None);
  EXPECT_FALSE(Extract(d, "keep.txt", "new", false, error));
  EXPECT_EQ(Read(dest_ / "keep.txt"), "old");
  ASSERT_TRUE(Extract(d, "keep.txt", "new", true, error)) << error;
  EXPECT_EQ(Read(dest_ / "keep.txt"), "new");
  // Only the final files remain: no temporary file is left after either outcome.
  EXPECT_EQ(Listing(dest_), std::set<std::string>{"keep.txt"});
  fs::permissions(dest_ / "keep.txt", fs::perms::owner_read);
  EXPECT_EQ(d.Existing({"keep.txt"}), ExistingFile::ReadOnly);
  fs::create_directory(dest_ / "adir");
  EXPECT_EQ(d.Existing({"adir"}), ExistingFile::NotRegular);
  EXPECT_FALSE(Extract(d, "adir", "x", true, error)) << "a directory is never replaced by a file";
  EXPECT_TRUE(fs::is_directory(dest_ / "adir"));
}

TEST_F(TempTree, DiscardedOrAbandonedWritesLeaveNothing) {
  WriteFile(dest_ / "a.txt", "good");
  SafeDestination d;
  std::string error;
  ASSERT_TRUE(d.Open(dest_, error));
  {
    auto w = d.Create({"a.txt"}, error);
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->Write("partial", 7, error));
    // Destroyed without Commit: as after a CRC error or a cancel.
  }
  {
    auto w = d.Create({"b.txt"}, error);
    ASSERT_TRUE(w);
    w->Discard();
  }
  EXPECT_EQ(Read(dest_ / "a.txt"), "good");
  EXPECT_EQ(Listing(dest_), std::set<std::string>{"a.txt"});
}

TEST_F(TempTree, DestinationsThatCannotHoldTheFileAreErrors) {
  WriteFile(root_ / "plain", "x");
  SafeDestination notADir;
  std::string error;
  EXPECT_FALSE(notADir.Open(root_ / "plain", error));
  EXPECT_FALSE(error.empty());
  SafeDestination missing;
  EXPECT_FALSE(missing.Open(root_ / "nowhere", error));
  // A member whose directory part names an existing file.
  WriteFile(dest_ / "f", "keep");
  SafeDestination d;
  ASSERT_TRUE(d.Open(dest_, error));
  EXPECT_FALSE(Extract(d, "f/inner.txt", "x", true, error));
  EXPECT_EQ(Read(dest_ / "f"), "keep");
  EXPECT_EQ(Listing(dest_), std::set<std::string>{"f"});
}

TEST_F(TempTree, AtomicFileReplacesWholeOrNotAtAll) {
  const fs::path archive = dest_ / "a.lzh";
  WriteFile(archive, "old archive");
  {
    AtomicFile f;
    std::string error;
    ASSERT_TRUE(f.Open(archive, error)) << error;
    ASSERT_EQ(write(f.fd(), "half", 4), 4);
    // Abandoned: the old archive stays exactly as it was.
  }
  EXPECT_EQ(Read(archive), "old archive");
  EXPECT_EQ(Listing(dest_), std::set<std::string>{"a.lzh"});
  AtomicFile f;
  std::string error;
  ASSERT_TRUE(f.Open(archive, error));
  ASSERT_EQ(write(f.fd(), "new archive", 11), 11);
  ASSERT_TRUE(f.Commit(0640, error)) << error;
  EXPECT_EQ(Read(archive), "new archive");
  EXPECT_EQ(fs::status(archive).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// 255 bytes is the longest name (85 Japanese characters); the temporary file needs no longer
// one, and a writer killed before its commit leaves nothing beside the archive.
TEST_F(TempTree, AtomicFileTakesTheLongestNamesAndLeavesNothingWhenKilled) {
  std::string longName;
  for (int i = 0; i < 83; ++i) longName += "\xE8\xA1\xA8";  // 表
  longName += ".lzh";
  ASSERT_EQ(longName.size(), 253u);
  const fs::path archive = dest_ / longName;
  for (const char* content : {"first", "second"}) {  // created, then replaced
    AtomicFile f;
    std::string error;
    ASSERT_TRUE(f.Open(archive, error)) << error;
    ASSERT_EQ(write(f.fd(), content, strlen(content)), ssize_t(strlen(content)));
    ASSERT_TRUE(f.Commit(0644, error)) << error;
    EXPECT_EQ(Read(archive), content);
  }
  int probe = open(dest_.c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "the file system of " << dest_ << " has no unnamed files";
  close(probe);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // dies while writing a new archive and replacing the other
    AtomicFile a, b;
    std::string error;
    if (!a.Open(dest_ / "new.lzh", error) || !b.Open(archive, error)) _exit(2);
    if (write(a.fd(), "partial", 7) != 7 || write(b.fd(), "partial", 7) != 7) _exit(3);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Listing(dest_), std::set<std::string>{longName});
  EXPECT_EQ(Read(archive), "second");
}

TEST_F(TempTree, AtomicFileKeepsASymlinkedArchivePath) {
  WriteFile(outside_ / "real.zip", "old");
  fs::create_symlink(outside_ / "real.zip", dest_ / "link.zip");
  AtomicFile f;
  std::string error;
  ASSERT_TRUE(f.Open(dest_ / "link.zip", error));
  ASSERT_EQ(write(f.fd(), "new", 3), 3);
  ASSERT_TRUE(f.Commit(0644, error)) << error;
  EXPECT_TRUE(fs::is_symlink(dest_ / "link.zip"));
  EXPECT_EQ(Read(outside_ / "real.zip"), "new");
}
