// The wrappers over the archiver entry points, against the stand-in libraries.
#include "engine/archivers.h"

#include <dlfcn.h>

#include "engine_fixture.h"

namespace tavrun::test {
namespace {

using ArchiverWrapperTest = EngineTest;

TEST_F(ArchiverWrapperTest, CommandsGetLineWindowAndBufferAndReportTheCode) {
  std::string error = "untouched";
  EXPECT_TRUE(ExecUnlha(window_, "U \"a.lzh\" \"a\"", error));
  EXPECT_TRUE(ExecZip(window_, "-u \"a.zip\" \"a\"", error));
  EXPECT_TRUE(ExecUnZip(window_, "-x \"a.zip\" \"d/\"", error));
  EXPECT_EQ(error, "untouched");
  EXPECT_FALSE(ExecUnlha(window_, "x_rc32789", error));
  EXPECT_EQ(error, "32789");
  EXPECT_FALSE(ExecZip(window_, "x_rc-3", error));
  EXPECT_EQ(error, "-3");
  EXPECT_EQ(Calls(),
            (Lines{"Unlha|window=4660|size=256|U \"a.lzh\" \"a\"",
                   "Zip|window=4660|size=256|-u \"a.zip\" \"a\"",
                   "UnZip|window=4660|size=256|-x \"a.zip\" \"d/\"",
                   "Unlha|window=4660|size=256|x_rc32789", "Zip|window=4660|size=256|x_rc-3"}));
  // Kept loaded: the library's own call counter went on (a reload would restart it).
  const Lines raw = SplitLines(ReadFile(callLog_), "\n");
  EXPECT_EQ(std::stoi(raw[3].substr(raw[3].find("seq=") + 4)),
            std::stoi(raw[0].substr(raw[0].find("seq=") + 4)) + 1);
}

TEST_F(ArchiverWrapperTest, ArchiveCheckPassesOnlyOnExactlyOneAndLeavesTheTextAlone) {
  std::string error = "untouched";
  EXPECT_TRUE(CheckUnlhaArchive("/d/a.lzh", 1, error));
  EXPECT_FALSE(CheckUnlhaArchive("/d/notarc.lzh", 1, error));
  EXPECT_FALSE(CheckUnZipArchive("/d/b_chk2.zip", 1, error));
  EXPECT_TRUE(CheckUnZipArchive("/d/b.zip", 1, error));
  EXPECT_EQ(error, "untouched");
  EXPECT_EQ(Calls()[0], "UnlhaCheckArchive|mode=1|/d/a.lzh");
  EXPECT_EQ(Calls()[3], "UnZipCheckArchive|mode=1|/d/b.zip");
}

TEST_F(ArchiverWrapperTest, MissingOrBrokenLibraryReportsThePlatformText) {
  const std::string empty = root_ + "/nothing-here";
  SetSysDirForTesting(empty);
  ASSERT_EQ(dlopen((empty + "/libunlha32.so").c_str(), RTLD_NOW), nullptr);
  const std::string expected = dlerror();
  std::string error;
  EXPECT_FALSE(ExecUnlha(window_, "U \"a\" \"b\"", error));
  EXPECT_EQ(error, expected);
  error.clear();
  EXPECT_FALSE(CheckUnlhaArchive("/d/a.lzh", 1, error));
  EXPECT_EQ(error, expected);
  EXPECT_FALSE(ExecZip(window_, "x", error));
  EXPECT_NE(error.find(empty + "/libzip32j.so"), std::string::npos) << error;

  // A file that is no shared object.
  WriteFile(root_ + "/libunzip32.so", "not a library\n");
  SetSysDirForTesting(root_);
  error.clear();
  EXPECT_FALSE(ExecUnZip(window_, "x", error));
  EXPECT_NE(error.find(root_ + "/libunzip32.so"), std::string::npos) << error;
  EXPECT_EQ(error.find("No such file"), std::string::npos) << error;

  // Found once the component directory points to where the library is.
  SetSysDirForTesting(TAVRUN_FAKE_DIR);
  EXPECT_TRUE(ExecUnlha(window_, "b", error));
  EXPECT_EQ(Calls(), (Lines{"Unlha|window=4660|size=256|b"}));
}

TEST_F(ArchiverWrapperTest, MissingEntryPointReportsThePlatformText) {
  SetSysDirForTesting(TAVRUN_FAKE_PARTIAL_DIR);
  std::string error;
  EXPECT_FALSE(ExecUnlha(window_, "U \"a\" \"b\"", error));
  EXPECT_NE(error.find("undefined symbol: Unlha"), std::string::npos) << error;
  EXPECT_FALSE(ExecZip(window_, "x", error));
  EXPECT_NE(error.find("undefined symbol: Zip"), std::string::npos) << error;
  EXPECT_FALSE(CheckUnZipArchive("/d/a.zip", 1, error));
  EXPECT_NE(error.find("undefined symbol: UnZipCheckArchive"), std::string::npos) << error;
  // The entry points that are there still work.
  error = "untouched";
  EXPECT_TRUE(CheckUnlhaArchive("/d/a.lzh", 1, error));
  EXPECT_TRUE(ExecUnZip(window_, "x", error));
  EXPECT_EQ(error, "untouched");
}

}  // namespace
}  // namespace tavrun::test
