// Where the folder chooser opens: at the folder the box holds, or the nearest one that still
// exists, so a user browsing for a neighbour of the current folder starts beside it.
#include "ui/folder_select.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <filesystem>

#include "test_support.h"

namespace tavrun::uitest {
namespace {

namespace fs = std::filesystem;

class ChooserStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ClearFolderChooserSeam();
    fs::create_directories(tmp_ / "a/b");
    testing::WriteBytes(tmp_ / "a/file.txt", "x");
  }
  void TearDown() override { ui::ClearFolderChooserSeam(); }
  testing::TempDir tmp_;
};

TEST_F(ChooserStartTest, OpensAtTheBoxsFolderOrItsNearestExistingParent) {
  const std::string a = tmp_ / "a";
  EXPECT_EQ(ui::ChooserStartFolder(a + "/b"), a + "/b");
  EXPECT_EQ(ui::ChooserStartFolder(a + "/b/"), a + "/b");
  EXPECT_EQ(ui::ChooserStartFolder(a + "/./b/../b"), a + "/b");
  EXPECT_EQ(ui::ChooserStartFolder(a + "/file.txt"), a) << "a dropped file: its folder";
  EXPECT_EQ(ui::ChooserStartFolder(a + "/gone/deeper/still/"), a) << "moved or unplugged";
  EXPECT_EQ(ui::ChooserStartFolder("/no-such-top-level-folder/x"), "/");
  EXPECT_EQ(ui::ChooserStartFolder(""), "/");
  EXPECT_EQ(ui::ChooserStartFolder("relative/text"), "/");
  EXPECT_EQ(ui::ChooserStartFolder("/"), "/");
}

TEST_F(ChooserStartTest, TheSeamSeesWhereEachCallWouldOpen) {
  ui::SetNextDirectory("/picked");
  EXPECT_EQ(ui::SelectDirectory(nullptr, tmp_ / "a/gone"), "/picked");
  EXPECT_EQ(ui::LastChooserStartFolder(), tmp_ / "a");
  ui::SetFolderChooserHandler([](QWidget*) { return std::string(); });
  EXPECT_EQ(ui::SelectDirectory(nullptr), "");
  EXPECT_EQ(ui::LastChooserStartFolder(), "/") << "an empty box opens at the top";
  EXPECT_EQ(ui::FolderChooserCalls(), 2);
}

// The real chooser, looked at as soon as it shows, then cancelled.
TEST_F(ChooserStartTest, TheRealChooserShowsTheStartFolder) {
  std::string shown = "not shown";
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    poll.stop();
    shown = dialog->directory().absolutePath().toStdString();
    dialog->reject();
  });
  poll.start(5);
  EXPECT_EQ(ui::SelectDirectory(nullptr, tmp_ / "a/b/missing.lzh"), "");
  EXPECT_EQ(shown, tmp_ / "a/b");
}

}  // namespace
}  // namespace tavrun::uitest
