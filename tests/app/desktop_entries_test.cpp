// The desktop's ways in: the menu entry, Dolphin's service menu and Thunar's Send To entries.
// Their keys are read as the file managers read them, and every Exec line is run through the
// program's own argument parsing with the file manager's folder in place of %F or %f, so an
// entry cannot start the program with an option it does not know.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/launch.h"
#include "test_support.h"

namespace tavrun {
namespace {

namespace fs = std::filesystem;
using Group = std::map<std::string, std::string>;
using Entry = std::map<std::string, Group>;

// A desktop entry file: [groups] of key=value lines; comments and blank lines skipped.
Entry ReadEntry(const std::string& name) {
  std::ifstream in(std::string(TAVRUN_PACKAGING_DIR) + "/" + name);
  EXPECT_TRUE(in) << name;
  Entry entry;
  std::string line, group;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      group = line.substr(1, line.size() - 2);
      EXPECT_FALSE(entry.contains(group)) << name << ": group twice: " << group;
      entry[group];
      continue;
    }
    const size_t equals = line.find('=');
    EXPECT_NE(equals, std::string::npos) << name << ": " << line;
    EXPECT_FALSE(group.empty()) << name << ": a key before any group";
    EXPECT_TRUE(entry[group].emplace(line.substr(0, equals), line.substr(equals + 1)).second)
        << name << ": key twice: " << line;
  }
  return entry;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  for (std::string part; std::getline(stream, part, separator);) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

// What the window is asked for when the file manager starts `exec` on `folder`.
LaunchRequest Started(const std::string& exec, const std::string& folder) {
  std::vector<std::string> words = Split(exec, ' ');
  EXPECT_FALSE(words.empty());
  if (words.empty()) return {};
  EXPECT_EQ(words.front(), "tavrun") << exec;
  words.erase(words.begin());
  for (std::string& word : words) {
    if (word == "%F" || word == "%f") word = folder;
  }
  return ParseLaunchArguments(words, "/");
}

class DesktopEntriesTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(folder_); }
  testing::TempDir tmp_;
  const std::string folder_ = tmp_ / "reports 2026";
};

TEST_F(DesktopEntriesTest, TheMenuEntryOpensAFolderInTheSourceBox) {
  const Group entry = ReadEntry("jp.tavrun.Tavrun.desktop")["Desktop Entry"];
  EXPECT_EQ(entry.at("Type"), "Application");
  EXPECT_EQ(Split(entry.at("MimeType"), ';'), std::vector<std::string>{"inode/directory"});
  EXPECT_EQ(Started(entry.at("Exec"), folder_), LaunchRequest{folder_});
  EXPECT_EQ(Started(entry.at("Exec"), ""), LaunchRequest{}) << "from the menu, no folder";
}

TEST_F(DesktopEntriesTest, DolphinsServiceMenuOffersBothOperationsOnOneLocalFolder) {
  Entry menu = ReadEntry("filemanagers/kde-servicemenu.desktop");
  const Group& main = menu["Desktop Entry"];
  EXPECT_EQ(main.at("Type"), "Service");
  EXPECT_EQ(main.at("X-KDE-ServiceTypes"), "KonqPopupMenu/Plugin");
  EXPECT_EQ(Split(main.at("MimeType"), ';'), std::vector<std::string>{"inode/directory"});
  EXPECT_EQ(main.at("X-KDE-Protocols"), "file") << "the window works on local folders";
  EXPECT_EQ(main.at("X-KDE-MaxNumberOfUrls"), "1") << "the window takes one folder";
  EXPECT_EQ(main.at("X-KDE-Submenu"), "Tavrun");
  const std::vector<std::string> actions = Split(main.at("Actions"), ';');
  ASSERT_EQ(actions, (std::vector<std::string>{"compressEach", "extractAll"}));
  const std::map<std::string, LaunchOperation> operation = {
      {"compressEach", LaunchOperation::Compress}, {"extractAll", LaunchOperation::Extract}};
  for (const std::string& action : actions) {
    ASSERT_TRUE(menu.contains("Desktop Action " + action)) << action;
    const Group& group = menu["Desktop Action " + action];
    for (const char* key : {"Name", "Name[ja]", "Icon", "Exec"}) {
      EXPECT_TRUE(group.contains(key)) << action << " lacks " << key;
    }
    EXPECT_EQ(Started(group.at("Exec"), folder_), (LaunchRequest{folder_, operation.at(action)}));
  }
  EXPECT_EQ(menu["Desktop Action compressEach"]["Name[ja]"], "各ファイルを個別にLZH/ZIPで圧縮…");
  EXPECT_EQ(menu["Desktop Action extractAll"]["Name[ja]"], "フォルダ内の書庫を一括解凍…");
  EXPECT_EQ(menu.size(), 3u) << "no group beyond the entry and its two actions";
}

TEST_F(DesktopEntriesTest, ThunarsSendToEntriesStartEachOperationOnOneFolder) {
  for (const auto& [name, operation] : {std::pair{"compress", LaunchOperation::Compress},
                                        std::pair{"extract", LaunchOperation::Extract}}) {
    const Group entry =
        ReadEntry(std::string("filemanagers/thunar-sendto-") + name + ".desktop")["Desktop Entry"];
    EXPECT_EQ(Split(entry.at("MimeType"), ';'), std::vector<std::string>{"inode/directory"});
    // %f, not %F: Thunar then offers the entry for a single selected folder only.
    EXPECT_NE(entry.at("Exec").find("%f"), std::string::npos) << name;
    EXPECT_EQ(Started(entry.at("Exec"), folder_), (LaunchRequest{folder_, operation})) << name;
  }
}

}  // namespace
}  // namespace tavrun
