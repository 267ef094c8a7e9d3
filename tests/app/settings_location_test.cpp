// Where the settings, the log and the readme live: beside a portable executable, or in the
// per-user folder for an installed or unwritable one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "app/settings.h"
#include "test_support.h"

namespace tavrun {
namespace {

using namespace testing;
namespace fs = std::filesystem;

enum class Layout { Bare, ReadmeBeside, Installed, Both };

struct LocationCase {
  const char* name;
  Layout layout;
  bool writable;
  const char* configHome;  // "~" stands for the scratch directory
  const char* home;
  bool portable;
  const char* directory;  // expected; "exe" for the executable's directory
  const char* readme;     // expected: "beside", "installed"
};

std::string Expand(const std::string& text, const std::string& root) {
  return !text.empty() && text[0] == '~' ? root + text.substr(1) : text;
}

class DecideSettingsLocationTest : public ::testing::TestWithParam<LocationCase> {};

TEST_P(DecideSettingsLocationTest, ChoosesTheFolderAndTheReadme) {
  const LocationCase& c = GetParam();
  TempDir root;
  const std::string exe = root / "prefix/bin";
  fs::create_directories(exe);
  if (c.layout == Layout::ReadmeBeside || c.layout == Layout::Both) {
    WriteBytes(exe + "/Readme.txt", "beside\r\n");
  }
  if (c.layout == Layout::Installed || c.layout == Layout::Both) {
    fs::create_directories(root / "prefix/share/tavrun");
    WriteBytes(root / "prefix/share/tavrun/Readme.txt", "installed\r\n");
  }
  const SettingsLocation got = DecideSettingsLocation(
      exe, c.writable, Expand(c.configHome, root.path()), Expand(c.home, root.path()));
  EXPECT_EQ(got.portable, c.portable);
  EXPECT_EQ(got.directory,
            std::string(c.directory) == "exe" ? exe : Expand(c.directory, root.path()));
  const std::string readme =
      std::string(c.readme) == "beside" ? exe + "/Readme.txt" : exe + "/../share/tavrun/Readme.txt";
  EXPECT_EQ(got.readmeFile, readme);
  EXPECT_FALSE(!got.portable && fs::exists(got.directory)) << "deciding creates nothing";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Layouts, DecideSettingsLocationTest, ::testing::Values(
    LocationCase{"BuildTree", Layout::ReadmeBeside, true, "~/cfg", "~/home", true, "exe", "beside"},
    LocationCase{"BareWritableFolder", Layout::Bare, true, "~/cfg", "~/home", true, "exe", "beside"},
    // Root can write /usr/bin: an install is still an install.
    LocationCase{"WritableInstall", Layout::Installed, true, "~/cfg", "~/home", false, "~/cfg/tavrun", "installed"},
    LocationCase{"InstallUsesConfigHome", Layout::Installed, false, "~/cfg/", "~/home", false, "~/cfg/tavrun", "installed"},
    LocationCase{"RelativeConfigHomeIsIgnored", Layout::Installed, false, "cfg", "~/home", false, "~/home/.config/tavrun", "installed"},
    LocationCase{"ReadOnlyUnpackedFolderKeepsItsReadme", Layout::Both, false, "", "~/home", false, "~/home/.config/tavrun", "beside"},
    LocationCase{"ReadOnlyWithoutAnyReadme", Layout::Bare, false, "", "~/home", false, "~/home/.config/tavrun", "beside"},
    LocationCase{"NoHomeAtAllStaysBeside", Layout::Installed, false, "", "", true, "exe", "beside"}),
    [](const ::testing::TestParamInfo<LocationCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(InitAppAt, MakesThePrivateFolderAndKeepsTheFormats) {
  TempDir root;
  const std::string folder = root / "config/deeper/tavrun";
  std::string error;
  ASSERT_TRUE(InitAppAt({folder, root / "share/Readme.txt", false}, error)) << error;
  EXPECT_EQ(ModeOf(folder), 0700);
  EXPECT_EQ(ModeOf(root / "config"), 0700);
  const AppState& app = App();
  EXPECT_EQ(app.IniFilePath, folder + "/Tavrun.ini");
  EXPECT_EQ(app.LogFilePath, folder + "/Tavrun.log");
  EXPECT_EQ(app.ReadmeFilePath, root / "share/Readme.txt");
  EXPECT_FALSE(Exists(app.IniFilePath)) << "starting writes no settings";

  // A later start reads what was saved there, in the same INI form.
  Setting(ArchiveType) = "1";
  ASSERT_TRUE(
      WriteIniValues(app.IniFilePath, SettingCount, app.SettingKeys, app.AppSettings, error));
  EXPECT_NE(ReadBytes(app.IniFilePath).find("[INIT]\r\nArchiveType=1\r\n"), std::string::npos);
  App().AppSettings.clear();
  ASSERT_TRUE(InitAppAt({folder, "", false}, error)) << error;
  EXPECT_EQ(Setting(ArchiveType), "1");
  EXPECT_EQ(App().ReadmeFilePath, folder + "/Readme.txt");

  // A folder that cannot be made (a file in the way) does not stop the start.
  WriteBytes(root / "file", "");
  EXPECT_TRUE(InitAppAt({root / "file/tavrun", "", false}, error));
  EXPECT_EQ(Setting(ArchiveType), SettingDefault(ArchiveType));
}

TEST(LocateSettings, AnUnwritableDirectoryUsesTheUsersFolder) {
  TempDir root;
  const std::string exe = root / "bin";
  fs::create_directories(exe);
  ASSERT_EQ(::chmod(exe.c_str(), 0555), 0);
  const std::string config = MakeSharedDir(root, "config");
  const std::string result = InChild([&]() -> std::string {
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const SettingsLocation location = LocateSettings(exe);
    if (location.portable || location.directory != config + "/tavrun") {
      return "got " + location.directory;
    }
    std::string error;
    if (!InitAppAt(location, error)) return error;
    if (!WriteIniValues(App().IniFilePath, SettingCount, App().SettingKeys, App().AppSettings,
                        error)) {
      return "cannot save: " + error;
    }
    return std::string();
  });
  EXPECT_EQ(result, "");
  EXPECT_TRUE(Exists(config + "/tavrun/Tavrun.ini"));
  EXPECT_FALSE(Exists(exe + "/Tavrun.ini"));

  // The same directory, writable, is portable for whoever can write it.
  ASSERT_EQ(::chmod(exe.c_str(), 0755), 0);
  EXPECT_EQ(InChild(
                [&]() -> std::string {
                  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
                  return LocateSettings(exe).portable ? "" : "not portable";
                },
                false),
            "");
}

}  // namespace
}  // namespace tavrun
