// The start-up check of the component directory.
#include "app/runtime.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "app/settings.h"
#include "test_support.h"

namespace tavrun {
namespace {

using testing::TempDir;
using testing::WriteBytes;

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSysDirForTesting(dir_.path()); }
  void TearDown() override { SetSysDirForTesting(""); }

  void Put(const std::string& name) { WriteBytes(dir_ / name, "x"); }
  void PutRequired() {
    for (const std::string& name : RequiredRuntimeFiles()) Put(name);
  }
  std::string Tables() {
    const AppState& app = App();
    std::string t;
    for (bool b : {app.CanCompress[0], app.CanExtract[0], app.CanCompress[1], app.CanExtract[1]}) {
      t += b ? '1' : '0';
    }
    return t;  // LZH compress, LZH extract, ZIP compress, ZIP extract
  }

  TempDir dir_;
};

TEST(SysDir, IsTheComponentDirectoryBesideTheExecutablesDirectory) {
  SetSysDirForTesting("");
  std::string error;
  char* real = ::realpath(TAVRUN_TEST_COMPONENT_DIR, nullptr);
  ASSERT_NE(real, nullptr);
  std::string expected = real;
  ::free(real);
  EXPECT_EQ(GetSysDir(error), expected);
  EXPECT_EQ(error, "");
}

TEST(SysDir, TheBuildStagesTheRequiredFiles) {
  SetSysDirForTesting("");
  std::string error;
  EXPECT_TRUE(CheckRuntime(error)) << error;
  ASSERT_FALSE(RequiredRuntimeFiles().empty());
}

TEST_F(RuntimeTest, MissingRequiredFilesAreListedOnePerLine) {
  App().CanCompress[0] = App().CanExtract[1] = true;
  std::string error;
  EXPECT_FALSE(CheckRuntime(error));
  std::string expected = "必要なランタイム\r\n";
  for (const std::string& name : RequiredRuntimeFiles()) expected += dir_ / name + "\r\n";
  expected += "がありません。";
  EXPECT_EQ(error, expected);
  EXPECT_EQ(Tables(), "0000");
}

TEST_F(RuntimeTest, ATrailingSeparatorOnTheDirectoryIsNotDoubled) {
  SetSysDirForTesting(dir_.path() + "/");
  std::string error;
  EXPECT_FALSE(CheckRuntime(error));
  EXPECT_NE(error.find(dir_ / RequiredRuntimeFiles()[0] + "\r\n"), std::string::npos) << error;
  EXPECT_EQ(error.find("//"), std::string::npos);
}

TEST_F(RuntimeTest, OnlyAnOrdinaryFileCountsAsPresent) {
  const std::string name = RequiredRuntimeFiles()[0];
  std::string error;
  ASSERT_EQ(::mkdir((dir_ / name).c_str(), 0755), 0);
  EXPECT_FALSE(CheckRuntime(error));
  ::rmdir((dir_ / name).c_str());
  ASSERT_EQ(::mkfifo((dir_ / name).c_str(), 0644), 0);
  EXPECT_FALSE(CheckRuntime(error));
  ::unlink((dir_ / name).c_str());
  ASSERT_EQ(::symlink((dir_ / "gone").c_str(), (dir_ / name).c_str()), 0);
  EXPECT_FALSE(CheckRuntime(error));
  ::unlink((dir_ / name).c_str());

  Put("real.qm");
  ASSERT_EQ(::symlink((dir_ / "real.qm").c_str(), (dir_ / name).c_str()), 0);
  error.clear();
  EXPECT_TRUE(CheckRuntime(error)) << error;
  ::unlink((dir_ / name).c_str());
  Put(name);
  ::chmod((dir_ / name).c_str(), 0444);  // read-only is still present
  EXPECT_TRUE(CheckRuntime(error)) << error;
}

TEST_F(RuntimeTest, ArchiverTablesFollowTheLibrariesFound) {
  PutRequired();
  std::string error;
  EXPECT_TRUE(CheckRuntime(error));
  EXPECT_EQ(Tables(), "0000");

  Put(ZipjLibraryName);  // creation needs both ZIP libraries
  EXPECT_TRUE(CheckRuntime(error));
  EXPECT_EQ(Tables(), "0000");
  Put(ZipLibraryName);
  EXPECT_TRUE(CheckRuntime(error));
  EXPECT_EQ(Tables(), "0010");
  Put(UnzipLibraryName);
  EXPECT_TRUE(CheckRuntime(error));
  EXPECT_EQ(Tables(), "0011");
  Put(UnlhaLibraryName);
  EXPECT_TRUE(CheckRuntime(error));
  EXPECT_EQ(Tables(), "1111");

  ::unlink((dir_ / ZipjLibraryName).c_str());
  ::unlink((dir_ / UnzipLibraryName).c_str());
  EXPECT_TRUE(CheckRuntime(error));
  EXPECT_EQ(Tables(), "1100");

  ::unlink((dir_ / UnlhaLibraryName).c_str());
  Put(ZipjLibraryName);
  Put(".hidden");
  ::rename((dir_ / ZipLibraryName).c_str(), (dir_ / "sub").c_str());
  ::mkdir((dir_ / ZipLibraryName).c_str(), 0755);  // a directory of the name is no library
  EXPECT_TRUE(CheckRuntime(error));
  EXPECT_EQ(Tables(), "0000");
  EXPECT_EQ(error, "");
}

TEST_F(RuntimeTest, CheckFilesExistKeepsExactlyTheMissingPathsInPlace) {
  Put("a");
  Put("c");
  std::vector<std::string> files = {dir_ / "a", dir_ / "b", dir_ / "c", dir_ / "d"};
  std::string error;
  EXPECT_FALSE(CheckFilesExist(files, error));
  EXPECT_EQ(files, (std::vector<std::string>{"", dir_ / "b", "", dir_ / "d"}));
  files = {dir_ / "a", dir_ / "c"};
  EXPECT_TRUE(CheckFilesExist(files, error));
  EXPECT_EQ(files, (std::vector<std::string>{"", ""}));
  files.clear();
  EXPECT_TRUE(CheckFilesExist(files, error));
  EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace tavrun
