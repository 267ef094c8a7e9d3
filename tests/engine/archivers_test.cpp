// The wrappers over the archiver entry points, driven against the stand-in libraries.
#include <dlfcn.h>

#include <regex>

#include "engine/archivers.h"
#include "engine_fixture.h"

namespace tavrun::test {
namespace {

using ArchiverWrapperTest = EngineTest;

TEST_F(ArchiverWrapperTest, CommandEntryPointsGetTheLineTheWindowAndA256ByteBuffer) {
  std::string error = "untouched";
  EXPECT_TRUE(ExecUnlha(window_, "U \"a.lzh\" \"a\"", error));
  EXPECT_TRUE(ExecZip(window_, "-u \"a.zip\" \"a\"", error));
  EXPECT_TRUE(ExecUnZip(window_, "-x \"a.zip\" \"d/\"", error));
  EXPECT_EQ(error, "untouched");
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "Unlha|window=4660|size=256|U \"a.lzh\" \"a\"",
                         "Zip|window=4660|size=256|-u \"a.zip\" \"a\"",
                         "UnZip|window=4660|size=256|-x \"a.zip\" \"d/\"",
                     }));
}

TEST_F(ArchiverWrapperTest, NonZeroResultBecomesItsDecimalCode) {
  std::string error;
  EXPECT_FALSE(ExecUnlha(window_, "U \"x_rc32789\"", error));
  EXPECT_EQ(error, "32789");
  EXPECT_FALSE(ExecZip(window_, "\"x_rc-3\"", error));
  EXPECT_EQ(error, "-3");
  // The library's output text is not what the caller sees.
  EXPECT_FALSE(ExecUnZip(window_, "\"x_rc11\"", error));
  EXPECT_EQ(error, "11");
}

TEST_F(ArchiverWrapperTest, ArchiveCheckPassesOnlyOnExactlyOne) {
  std::string error = "untouched";
  EXPECT_TRUE(CheckUnlhaArchive("/d/a.lzh", 1, error));
  EXPECT_FALSE(CheckUnlhaArchive("/d/notarc.lzh", 1, error));
  EXPECT_FALSE(CheckUnZipArchive("/d/b_chk2.zip", 1, error));
  EXPECT_FALSE(CheckUnZipArchive("/d/b_chk-1.zip", 1, error));
  EXPECT_TRUE(CheckUnZipArchive("/d/b.zip", 1, error));
  EXPECT_EQ(error, "untouched");
  EXPECT_EQ(Calls()[0], "UnlhaCheckArchive|mode=1|/d/a.lzh");
  EXPECT_EQ(Calls()[4], "UnZipCheckArchive|mode=1|/d/b.zip");
}

TEST_F(ArchiverWrapperTest, LibraryStaysLoadedBetweenCalls) {
  std::string error;
  ASSERT_TRUE(ExecUnlha(window_, "first", error));
  ASSERT_TRUE(ExecUnlha(window_, "second", error));
  const std::regex sequence("seq=([0-9]+)");
  std::smatch first, second;
  const auto lines = SplitLines(ReadFile(callLog_), "\n");
  ASSERT_EQ(lines.size(), 2u);
  ASSERT_TRUE(std::regex_search(lines[0], first, sequence));
  ASSERT_TRUE(std::regex_search(lines[1], second, sequence));
  // A reloaded library would start counting afresh.
  EXPECT_EQ(std::stoi(second[1]), std::stoi(first[1]) + 1);
}

TEST_F(ArchiverWrapperTest, MissingLibraryReportsThePlatformText) {
  const std::string empty = root_ + "/nothing-here";
  UseComponentDirectory(empty);
  const std::string path = empty + "/libunlha32.so";
  // The text the platform gives for this very load.
  ASSERT_EQ(dlopen(path.c_str(), RTLD_NOW), nullptr);
  const std::string expected = dlerror();

  std::string error;
  EXPECT_FALSE(ExecUnlha(window_, "U \"a\" \"b\"", error));
  EXPECT_EQ(error, expected);
  EXPECT_NE(error.find(path), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(CheckUnlhaArchive("/d/a.lzh", 1, error));
  EXPECT_EQ(error, expected);
  error.clear();
  EXPECT_FALSE(ExecZip(window_, "x", error));
  EXPECT_NE(error.find(empty + "/libzip32j.so"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(ExecUnZip(window_, "x", error));
  EXPECT_NE(error.find(empty + "/libunzip32.so"), std::string::npos) << error;
}

TEST_F(ArchiverWrapperTest, FileThatIsNoLibraryReportsThePlatformText) {
  const std::string directory = root_ + "/garbage";
  ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
  WriteFile(directory + "/libunzip32.so", "not a shared object\n");
  UseComponentDirectory(directory);
  std::string error;
  EXPECT_FALSE(CheckUnZipArchive("/d/a.zip", 1, error));
  EXPECT_NE(error.find(directory + "/libunzip32.so"), std::string::npos) << error;
  EXPECT_EQ(error.find("No such file"), std::string::npos) << error;
  EXPECT_TRUE(Calls().empty());
}

TEST_F(ArchiverWrapperTest, MissingEntryPointReportsThePlatformText) {
  UseComponentDirectory(TAVRUN_FAKE_PARTIAL_DIR);
  std::string error;
  EXPECT_FALSE(ExecUnlha(window_, "U \"a\" \"b\"", error));
  EXPECT_NE(error.find("Unlha"), std::string::npos) << error;
  EXPECT_NE(error.find("undefined symbol"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(ExecZip(window_, "x", error));
  EXPECT_NE(error.find("undefined symbol: Zip"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(CheckUnZipArchive("/d/a.zip", 1, error));
  EXPECT_NE(error.find("undefined symbol: UnZipCheckArchive"), std::string::npos) << error;
  // The entry points that exist in the same libraries still work.
  error = "untouched";
  EXPECT_TRUE(CheckUnlhaArchive("/d/a.lzh", 1, error));
  EXPECT_TRUE(ExecUnZip(window_, "x", error));
  EXPECT_EQ(error, "untouched");
}

TEST_F(ArchiverWrapperTest, LibrariesAreLookedUpWhereTheComponentDirectoryNowIs) {
  std::string error;
  UseComponentDirectory(root_ + "/nothing-here");
  EXPECT_FALSE(ExecUnlha(window_, "a", error));
  UseFakeArchivers();
  error.clear();
  EXPECT_TRUE(ExecUnlha(window_, "b", error)) << error;
  EXPECT_EQ(Calls(), (std::vector<std::string>{"Unlha|window=4660|size=256|b"}));
}

}  // namespace
}  // namespace tavrun::test
