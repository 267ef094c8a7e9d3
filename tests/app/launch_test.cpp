// The command line of `tavrun`: which folder goes into the source box and which operation is
// selected, as the menu entry and the file managers' actions start it.
#include "app/launch.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace tavrun {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

class LaunchArgumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(tmp_ / "work/photos");
    testing::WriteBytes(tmp_ / "work/photos/a.jpg", "x");
  }
  LaunchRequest Parse(std::vector<std::string> arguments) {
    return ParseLaunchArguments(arguments, work_);
  }
  TempDir tmp_;
  const std::string work_ = tmp_ / "work";
};

TEST_F(LaunchArgumentsTest, APathBecomesTheAbsoluteFolderItStandsFor) {
  const std::string photos = work_ + "/photos";
  EXPECT_EQ(Parse({"photos"}).sourceDirectory, photos);
  EXPECT_EQ(Parse({"./photos/"}).sourceDirectory, photos);
  EXPECT_EQ(Parse({"../work/photos//"}).sourceDirectory, photos);
  EXPECT_EQ(Parse({photos + "/"}).sourceDirectory, photos);
  EXPECT_EQ(Parse({"."}).sourceDirectory, work_);
  EXPECT_EQ(Parse({"/"}).sourceDirectory, "/");
  // A file, as a file manager hands over a selection, stands for its folder.
  EXPECT_EQ(Parse({"photos/a.jpg"}).sourceDirectory, photos);
  EXPECT_EQ(Parse({photos + "/a.jpg", work_}).sourceDirectory, photos) << "the first path counts";
  // A missing path is kept, absolute, so the box shows it and a run names it; the stored
  // directory is not silently used instead.
  EXPECT_EQ(Parse({"gone/x"}).sourceDirectory, work_ + "/gone/x");
  EXPECT_EQ(Parse({"", "photos"}).sourceDirectory, photos) << "an empty argument is no path";
  EXPECT_EQ(Parse({}), LaunchRequest{});
}

TEST_F(LaunchArgumentsTest, OptionsChooseTheOperationAndUnknownOnesAreIgnored) {
  const std::string photos = work_ + "/photos";
  EXPECT_EQ(Parse({"--compress", "photos"}), (LaunchRequest{photos, LaunchOperation::Compress}));
  EXPECT_EQ(Parse({"photos", "--extract"}), (LaunchRequest{photos, LaunchOperation::Extract}));
  EXPECT_EQ(Parse({"--extract", "--compress"}), (LaunchRequest{"", LaunchOperation::Compress}))
      << "the last operation counts";
  EXPECT_EQ(Parse({"--later-option", "-x", "photos"}), (LaunchRequest{photos}));
  // After "--" everything is a path, even one that looks like an option.
  fs::create_directories(work_ + "/--extract");
  EXPECT_EQ(Parse({"--", "--extract"}), (LaunchRequest{work_ + "/--extract"}));
  EXPECT_EQ(Parse({"-"}).sourceDirectory, work_ + "/-") << "a lone dash is a name";
}

TEST_F(LaunchArgumentsTest, MainsArgumentsAreReadAgainstTheWorkingDirectory) {
  const fs::path before = fs::current_path();
  fs::current_path(work_);
  std::string program = "tavrun", option = "--extract", path = "photos/a.jpg";
  char* argv[] = {program.data(), option.data(), path.data(), nullptr};
  const LaunchRequest request = LaunchRequestFrom(3, argv);
  fs::current_path(before);
  EXPECT_EQ(request, (LaunchRequest{work_ + "/photos", LaunchOperation::Extract}));
  EXPECT_EQ(LaunchRequestFrom(1, argv), LaunchRequest{}) << "the program's name is no path";
}

}  // namespace
}  // namespace tavrun
