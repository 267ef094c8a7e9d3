// The start-up check of the component directory.
#include "app/runtime.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/settings.h"
#include "test_support.h"

namespace tavrun {
namespace {

using namespace testing;

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSysDirForTesting(dir_.path() + "/"); }
  void TearDown() override { SetSysDirForTesting(""); }
  void Put(const std::string& name) { WriteBytes(dir_ / name, "x"); }
  // LZH compress, LZH extract, ZIP compress, ZIP extract, after a check that must pass.
  std::string Tables() {
    std::string error, t;
    EXPECT_TRUE(CheckRuntime(error)) << error;
    for (bool b :
         {App().CanCompress[0], App().CanExtract[0], App().CanCompress[1], App().CanExtract[1]}) {
      t += b ? '1' : '0';
    }
    return t;
  }
  TempDir dir_;
};

TEST(SysDir, IsTheStagedComponentDirectoryBesideTheExecutables) {
  std::string error;
  EXPECT_EQ(GetSysDir(error), std::filesystem::canonical(TAVRUN_TEST_COMPONENT_DIR));
  EXPECT_TRUE(CheckRuntime(error)) << error;
}

TEST_F(RuntimeTest, MissingRequiredFilesAreListedAndOnlyFilesCount) {
  App().CanCompress[0] = App().CanExtract[1] = true;
  const std::string first = RequiredRuntimeFiles()[0];
  ASSERT_EQ(::mkdir((dir_ / first).c_str(), 0755), 0);  // a directory of the name is no file
  std::string error, expected = "必要なランタイム\r\n";
  EXPECT_FALSE(CheckRuntime(error));
  for (const std::string& name : RequiredRuntimeFiles()) expected += dir_ / name + "\r\n";
  EXPECT_EQ(error, expected + "がありません。");
  EXPECT_FALSE(App().CanCompress[0] || App().CanExtract[1]);

  ::rmdir((dir_ / first).c_str());
  for (const std::string& name : RequiredRuntimeFiles()) Put(name);
  ASSERT_EQ(::unlink((dir_ / first).c_str()), 0);
  ASSERT_EQ(::symlink((dir_ / "gone").c_str(), (dir_ / first).c_str()), 0);
  EXPECT_FALSE(CheckRuntime(error));
  Put("gone");  // now a link to a read-only file: present
  ::chmod((dir_ / "gone").c_str(), 0444);
  EXPECT_EQ(Tables(), "0000");
}

TEST_F(RuntimeTest, ArchiverTablesFollowTheLibrariesFound) {
  for (const std::string& name : RequiredRuntimeFiles()) Put(name);
  Put(ZipjLibraryName);  // creation needs both ZIP libraries
  EXPECT_EQ(Tables(), "0000");
  Put(ZipLibraryName);
  EXPECT_EQ(Tables(), "0010");
  Put(UnzipLibraryName);
  Put(UnlhaLibraryName);
  EXPECT_EQ(Tables(), "1111");
  ::unlink((dir_ / ZipjLibraryName).c_str());
  ::unlink((dir_ / UnzipLibraryName).c_str());
  EXPECT_EQ(Tables(), "1100");
  ::unlink((dir_ / UnlhaLibraryName).c_str());
  Put(ZipjLibraryName);
  ::unlink((dir_ / ZipLibraryName).c_str());
  ::mkdir((dir_ / ZipLibraryName).c_str(), 0755);
  EXPECT_EQ(Tables(), "0000");

  // The helper underneath blanks what it found and keeps the missing paths in place.
  std::vector<std::string> files = {dir_ / ZipjLibraryName, dir_ / "b", dir_ / UnzipLibraryName};
  std::string error;
  EXPECT_FALSE(CheckFilesExist(files, error));
  EXPECT_EQ(files, (std::vector<std::string>{"", dir_ / "b", dir_ / UnzipLibraryName}));
}

}  // namespace
}  // namespace tavrun
