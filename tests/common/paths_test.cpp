// Path and file helpers on a real directory.
#include "common/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "test_support.h"

namespace tavrun {
namespace {

using namespace testing;

TEST(PathText, AddBackslashAndGetBaseName) {
  std::string error;
  EXPECT_EQ(AddBackslash("/data", error), "/data/");
  EXPECT_EQ(AddBackslash("/data/", error), "/data/");
  EXPECT_EQ(AddBackslash("", error), "/");
  EXPECT_EQ(AddBackslash("a\\b", error), "a\\b/");  // a backslash is part of a name here
  // clang-format off
  const char* cases[][2] = {{"archive.tar.gz", "archive.tar"}, {"README", "README"},
      {".profile", ""}, {"/dir.d/file", "file"}, {"dir/", ""}, {"name.", "name"},
      {"x\\y.z", "x\\y"}, {"/データ/圧縮.lzh", "圧縮"}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(GetBaseName(c[0], error), c[1]) << c[0];
  EXPECT_EQ(error, "");
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
  }
  TempDir dir_;
  std::vector<std::string> names_ = {"stale"};
  std::string error_;
};

TEST_F(ListFilesTest, OnlyPlainFilesAndLinksToThemMatchingThePattern) {
  EXPECT_EQ(ListFiles(dir_.path() + "/", "*.*", names_, error_), 4);
  std::sort(names_.begin(), names_.end());
  EXPECT_EQ(names_,
            (std::vector<std::string>{"link-to-file", "noext", "plain.txt", "readonly.dat"}));
  EXPECT_EQ(error_, "");
  const std::pair<const char*, int> patterns[] = {
      {"*", 4}, {"*.TXT", 1}, {"no?xt", 1}, {"noext.*", 1}, {"*.zip", 0}};
  for (const auto& [pattern, count] : patterns) {
    EXPECT_EQ(ListFiles(dir_.path(), pattern, names_, error_), count) << pattern;
  }
  EXPECT_TRUE(names_.empty());

  EXPECT_TRUE(IsDirectory(dir_ / "link-to-dir") && !IsDirectory(dir_ / "plain.txt"));
  EXPECT_TRUE(PathExists(dir_ / "dangling") && !PathExists(dir_ / "missing"));
  EXPECT_TRUE(MakeDir(dir_ / "new", error_));
  EXPECT_FALSE(MakeDir(dir_ / "new", error_));
  EXPECT_EQ(error_, PlatformErrorText(EEXIST));
}

TEST_F(ListFilesTest, FailuresGiveMinusOneAndThePlatformText) {
  EXPECT_EQ(ListFiles(dir_ / "missing", "*.*", names_, error_), -1);
  EXPECT_EQ(error_, PlatformErrorText(ENOENT));
  EXPECT_EQ(ListFiles(dir_ / "plain.txt", "*.*", names_, error_), -1);
  EXPECT_EQ(error_, PlatformErrorText(ENOTDIR));
  // As an ordinary user: an unreadable directory, a file in a read-only one.
  const std::string shared = MakeSharedDir(dir_, "ro");
  EXPECT_EQ(InChild([&]() -> std::string {
              if (::mkdir(shared.c_str(), 0700) != 0) return "mkdir failed";
              WriteBytes(shared + "/Tavrun.log", "x");
              ::chmod(shared.c_str(), 0300);
              std::string e;
              if (ListFiles(shared, "*.*", names_, e) != -1) return "listed an unreadable dir";
              if (e != PlatformErrorText(EACCES)) return "wrong list text: " + e;
              ::chmod(shared.c_str(), 0500);
              if (RemoveFile(shared + "/Tavrun.log", true, e)) return "deleted";
              return e == PlatformErrorText(EACCES) ? "" : "wrong remove text: " + e;
            }),
            "");
}

TEST_F(ListFilesTest, RemoveFileTextsAndWhatStays) {
  for (const char* name : {"missing", ".hidden", "subdir", "fifo"}) {
    EXPECT_FALSE(RemoveFile(dir_ / name, true, error_)) << name;
    EXPECT_EQ(error_, "ファイルが存在しません");
    error_.clear();
  }
  EXPECT_TRUE(Exists(dir_ / ".hidden") && Exists(dir_ / "fifo"));
  EXPECT_FALSE(RemoveFile(dir_ / "readonly.dat", false, error_));
  EXPECT_EQ(error_, "ファイルが読取専用です");
  EXPECT_TRUE(RemoveFile(dir_ / "readonly.dat", true, error_));
  EXPECT_FALSE(Exists(dir_ / "readonly.dat"));
  // A link goes, its target stays untouched.
  ::chmod((dir_ / "plain.txt").c_str(), 0444);
  EXPECT_FALSE(RemoveFile(dir_ / "link-to-file", false, error_));
  EXPECT_TRUE(RemoveFile(dir_ / "link-to-file", true, error_));
  EXPECT_FALSE(Exists(dir_ / "link-to-file"));
  EXPECT_EQ(ModeOf(dir_ / "plain.txt"), 0444);
}

TEST(ResetFileAttributes, GivesTheOwnerWriteAndKeepsTheOtherBits) {
  TempDir dir;
  WriteBytes(dir / "f", "f");
  ::chmod((dir / "f").c_str(), 0455);
  std::string error;
  EXPECT_TRUE(ResetFileAttributes(dir / "f", error));
  EXPECT_EQ(ModeOf(dir / "f"), 0655);
  EXPECT_TRUE(ResetFileAttributes(dir / "missing", error));  // nothing to do
  EXPECT_EQ(error, "");
}

TEST(ExecutableDirectory, IsTheRealDirectoryOfThisTest) {
  EXPECT_EQ(ExecutableDirectory(), std::filesystem::canonical("/proc/self/exe").parent_path());
}

}  // namespace
}  // namespace tavrun
