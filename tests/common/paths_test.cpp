// Path and file helpers on a real directory.
#include "common/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "test_support.h"

namespace tavrun {
namespace {

using testing::Exists;
using testing::InChild;
using testing::MakeSharedDir;
using testing::ModeOf;
using testing::TempDir;
using testing::WriteBytes;

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(AddBackslash, AppendsTheSeparatorOnce) {
  std::string error = "untouched";
  EXPECT_EQ(AddBackslash("/data", error), "/data/");
  EXPECT_EQ(AddBackslash("/data/", error), "/data/");
  EXPECT_EQ(AddBackslash("", error), "/");
  EXPECT_EQ(AddBackslash("a\\b", error), "a\\b/");  // a backslash is part of a name here
  EXPECT_EQ(error, "untouched");
}

TEST(GetBaseName, LastSeparatorAndLastDot) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"report.txt", "report"},
      {"archive.tar.gz", "archive.tar"},
      {"README", "README"},
      {".profile", ""},
      {"/dir.d/file", "file"},
      {"/dir/file.txt", "file"},
      {"dir/", ""},
      {"a.b/c.d", "c"},
      {"name.", "name"},
      {"", ""},
      {"x\\y.z", "x\\y"},
      {"/データ/圧縮.lzh", "圧縮"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(GetBaseName(c.in, error), c.out) << c.in;
    EXPECT_EQ(error, "");
  }
}

class ListFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(dir_ / "plain.txt", "1");
    WriteBytes(dir_ / "noext", "2");
    WriteBytes(dir_ / "readonly.dat", "3");
    ::chmod((dir_ / "readonly.dat").c_str(), 0444);
    WriteBytes(dir_ / ".hidden", "4");
    ::mkdir((dir_ / "subdir").c_str(), 0755);
    WriteBytes(dir_ / "subdir/inner.txt", "5");
    ::mkfifo((dir_ / "fifo").c_str(), 0644);
    ::symlink((dir_ / "plain.txt").c_str(), (dir_ / "link-to-file").c_str());
    ::symlink((dir_ / "subdir").c_str(), (dir_ / "link-to-dir").c_str());
    ::symlink((dir_ / "gone").c_str(), (dir_ / "dangling").c_str());
    ::symlink((dir_ / ".hidden").c_str(), (dir_ / "link-to-hidden").c_str());
  }
  TempDir dir_;
};

TEST_F(ListFilesTest, OnlyPlainFilesAndLinksToRegularFiles) {
  std::vector<std::string> names = {"stale"};
  std::string error;
  int32_t count = ListFiles(dir_.path(), "*.*", names, error);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"link-to-file", "link-to-hidden", "noext",
                                                     "plain.txt", "readonly.dat"}));
  EXPECT_EQ(error, "");
  // The same with a trailing separator.
  EXPECT_EQ(ListFiles(dir_.path() + "/", "*.*", names, error), 5);
}

TEST_F(ListFilesTest, PatternsMatchLikeADirectorySearch) {
  std::vector<std::string> names;
  std::string error;
  EXPECT_EQ(ListFiles(dir_.path(), "*", names, error), 5);
  EXPECT_EQ(ListFiles(dir_.path(), "*.txt", names, error), 1);
  EXPECT_EQ(names, std::vector<std::string>{"plain.txt"});
  EXPECT_EQ(ListFiles(dir_.path(), "*.TXT", names, error), 1);
  EXPECT_EQ(ListFiles(dir_.path(), "no?xt", names, error), 1);
  EXPECT_EQ(ListFiles(dir_.path(), "noext.*", names, error), 1);  // ".*" also means no dot
  EXPECT_EQ(ListFiles(dir_.path(), "*.zip", names, error), 0);
  EXPECT_TRUE(names.empty());
}

TEST_F(ListFilesTest, EmptyDirectoryAndFailures) {
  std::vector<std::string> names;
  std::string error;
  EXPECT_EQ(ListFiles(dir_ / "subdir/..", "*.*", names, error), 5);
  ::mkdir((dir_ / "empty").c_str(), 0755);
  EXPECT_EQ(ListFiles(dir_ / "empty", "*.*", names, error), 0);
  EXPECT_EQ(error, "");

  EXPECT_EQ(ListFiles(dir_ / "missing", "*.*", names, error), -1);
  EXPECT_EQ(error, PlatformErrorText(ENOENT));
  EXPECT_EQ(ListFiles(dir_ / "plain.txt", "*.*", names, error), -1);
  EXPECT_EQ(error, PlatformErrorText(ENOTDIR));

  const std::string shared = MakeSharedDir(dir_, "locked");
  EXPECT_EQ(InChild([&]() -> std::string {
              if (::mkdir(shared.c_str(), 0700) != 0) return "mkdir failed";
              WriteBytes(shared + "/a", "a");
              ::chmod(shared.c_str(), 0300);
              std::vector<std::string> n;
              std::string e;
              if (ListFiles(shared, "*.*", n, e) != -1) return "listed an unreadable directory";
              return e == PlatformErrorText(EACCES) ? "" : "wrong text: " + e;
            }),
            "");
}

TEST_F(ListFilesTest, PlainDirectoryAndExistenceChecks) {
  EXPECT_TRUE(IsPlainFile(dir_ / "plain.txt"));
  EXPECT_TRUE(IsPlainFile(dir_ / "readonly.dat"));
  EXPECT_TRUE(IsPlainFile(dir_ / "link-to-file"));
  EXPECT_FALSE(IsPlainFile(dir_ / ".hidden"));
  EXPECT_FALSE(IsPlainFile(dir_ / "fifo"));
  EXPECT_FALSE(IsPlainFile(dir_ / "subdir"));
  EXPECT_FALSE(IsPlainFile(dir_ / "dangling"));
  EXPECT_FALSE(IsPlainFile(dir_ / "missing"));
  EXPECT_FALSE(IsPlainFile(""));

  EXPECT_TRUE(IsDirectory(dir_ / "subdir"));
  EXPECT_TRUE(IsDirectory(dir_ / "link-to-dir"));
  EXPECT_TRUE(IsDirectory(dir_ / "subdir/"));
  EXPECT_FALSE(IsDirectory(dir_ / "plain.txt"));
  EXPECT_FALSE(IsDirectory(dir_ / "missing"));

  EXPECT_TRUE(PathExists(dir_ / "plain.txt"));
  EXPECT_TRUE(PathExists(dir_ / "subdir"));
  EXPECT_TRUE(PathExists(dir_ / "dangling"));
  EXPECT_FALSE(PathExists(dir_ / "missing"));
  EXPECT_FALSE(PathExists(""));
}

TEST(MakeDir, CreatesOneLevel) {
  TempDir dir;
  std::string error;
  EXPECT_TRUE(MakeDir(dir / "a", error));
  EXPECT_TRUE(IsDirectory(dir / "a"));
  EXPECT_FALSE(MakeDir(dir / "a", error));
  EXPECT_EQ(error, PlatformErrorText(EEXIST));
  EXPECT_FALSE(MakeDir(dir / "x/y", error));
  EXPECT_EQ(error, PlatformErrorText(ENOENT));
}

TEST(RemoveFile, ErrorTextsAndWhatStays) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(RemoveFile(dir / "missing", true, error));
  EXPECT_EQ(error, "ファイルが存在しません");

  WriteBytes(dir / ".hidden", "h");
  error.clear();
  EXPECT_FALSE(RemoveFile(dir / ".hidden", true, error));
  EXPECT_EQ(error, "ファイルが存在しません");
  EXPECT_TRUE(Exists(dir / ".hidden"));

  ::mkdir((dir / "sub").c_str(), 0755);
  ::mkfifo((dir / "fifo").c_str(), 0644);
  for (const char* name : {"sub", "fifo"}) {
    error.clear();
    EXPECT_FALSE(RemoveFile(dir / name, true, error)) << name;
    EXPECT_EQ(error, "ファイルが存在しません");
    EXPECT_TRUE(Exists(dir / name));
  }

  WriteBytes(dir / "ro.log", "r");
  ::chmod((dir / "ro.log").c_str(), 0444);
  error.clear();
  EXPECT_FALSE(RemoveFile(dir / "ro.log", false, error));
  EXPECT_EQ(error, "ファイルが読取専用です");
  EXPECT_TRUE(Exists(dir / "ro.log"));
  EXPECT_TRUE(RemoveFile(dir / "ro.log", true, error));
  EXPECT_FALSE(Exists(dir / "ro.log"));

  WriteBytes(dir / "Tavrun.log", "x");
  error = "untouched";
  EXPECT_TRUE(RemoveFile(dir / "Tavrun.log", false, error));
  EXPECT_EQ(error, "untouched");
  EXPECT_FALSE(Exists(dir / "Tavrun.log"));
}

TEST(RemoveFile, ALinkIsRemovedAndItsTargetLeftAlone) {
  TempDir dir;
  WriteBytes(dir / "target", "t");
  ::chmod((dir / "target").c_str(), 0444);
  ::symlink((dir / "target").c_str(), (dir / "link").c_str());
  std::string error;
  EXPECT_FALSE(RemoveFile(dir / "link", false, error));
  EXPECT_EQ(error, "ファイルが読取専用です");
  EXPECT_TRUE(RemoveFile(dir / "link", true, error));
  EXPECT_FALSE(Exists(dir / "link"));
  EXPECT_EQ(ModeOf(dir / "target"), 0444);
}

TEST(RemoveFile, AFailedDeletionGivesThePlatformText) {
  TempDir dir;
  const std::string shared = MakeSharedDir(dir, "ro");
  EXPECT_EQ(InChild([&]() -> std::string {
              if (::mkdir(shared.c_str(), 0700) != 0) return "mkdir failed";
              WriteBytes(shared + "/Tavrun.log", "x");
              ::chmod(shared.c_str(), 0555);
              std::string e;
              if (RemoveFile(shared + "/Tavrun.log", true, e)) return "deleted";
              if (!Exists(shared + "/Tavrun.log")) return "file gone";
              return e == PlatformErrorText(EACCES) ? "" : "wrong text: " + e;
            }),
            "");
}

TEST(ResetFileAttributes, GivesTheOwnerWriteAndKeepsTheOtherBits) {
  TempDir dir;
  WriteBytes(dir / "f", "f");
  ::chmod((dir / "f").c_str(), 0455);
  std::string error;
  EXPECT_TRUE(ResetFileAttributes(dir / "f", error));
  EXPECT_EQ(ModeOf(dir / "f"), 0655);
  EXPECT_TRUE(ResetFileAttributes(dir / "f", error));  // already writable: unchanged
  EXPECT_EQ(ModeOf(dir / "f"), 0655);
  EXPECT_TRUE(ResetFileAttributes(dir / "missing", error));  // nothing to do
  EXPECT_EQ(error, "");
}

TEST(ResetFileAttributes, FailureGivesFalseAndTheText) {
  TempDir dir;
  WriteBytes(dir / "owned-by-root", "x");
  ::chmod((dir / "owned-by-root").c_str(), 0444);
  ::chmod(dir.path().c_str(), 0755);
  const std::string path = dir / "owned-by-root";
  if (::geteuid() != 0) GTEST_SKIP() << "needs a file of another owner";
  EXPECT_EQ(InChild([&]() -> std::string {
              std::string e;
              if (ResetFileAttributes(path, e)) return "changed another user's file";
              return e == PlatformErrorText(EPERM) ? "" : "wrong text: " + e;
            }),
            "");
}

TEST(ExecutableDirectory, IsTheRealDirectoryOfThisTest) {
  std::string dir = ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '/');
  char* real = ::realpath("/proc/self/exe", nullptr);
  ASSERT_NE(real, nullptr);
  std::string exe = real;
  ::free(real);
  EXPECT_EQ(exe.substr(0, exe.rfind('/')), dir);
}

}  // namespace
}  // namespace tavrun
