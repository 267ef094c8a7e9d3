// The start procedure and the ways the program ends.
#include "ui/startup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QLockFile>
#include <filesystem>

#include "app/runtime.h"
#include "app/settings.h"
#include "ui/main_window.h"
#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

namespace fs = std::filesystem;

class StartupTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    components_ = dir_ + "/lib";
    fs::create_directories(components_);
    fs::copy_file(std::string(TAVRUN_COMPONENT_DIR) + "/qtbase_ja.qm",
                  components_ + "/qtbase_ja.qm");
    SetSysDirForTesting(components_);
    paths_ = ui::StartupPaths{dir_, dir_};
  }
  void TearDown() override {
    if (ui::FrmTavrunMain* w = ui::MainWindow()) delete w;
    ui::ReleaseInstanceLock();
    UiTest::TearDown();
  }
  ui::StartupPaths paths_;
  std::string components_;
};

TEST_F(StartupTest, ShowsTheMainWindowFilledFromTheSettings) {
  WriteFile(ini_, "[INIT]\r\nArchiveType=1\r\nFromDirectory=/from\r\n");
  ASSERT_TRUE(ui::Main(paths_));
  ui::FrmTavrunMain* w = ui::MainWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Tavrun Ver.0.1"));
  EXPECT_EQ(w->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), QStringLiteral("/from"));
  EXPECT_TRUE(w->OptionSelected("Option1", 1));
  EXPECT_EQ(CurrentMousePointer(), PointerDefault);
  EXPECT_TRUE(Messages().empty());
  // Qt's own dialogs now speak Japanese, from the file in the component directory.
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "&Open"), QStringLiteral("開く(&O)"));
}

TEST_F(StartupTest, ASecondInstanceIsRefusedAndTouchesNothing) {
  QLockFile first(QString::fromStdString(ui::InstanceLockPath(paths_)));
  ASSERT_TRUE(first.tryLock(0));
  Script({[](const MessageRecord& box) {
    EXPECT_EQ(box.prompt, "既に起動しています。");
    EXPECT_EQ(box.style, MsgExclamation);
    EXPECT_EQ(box.title, "Tavrun");
    EXPECT_EQ(CurrentMousePointer(), PointerHourglass);
    return IdOk;
  }});
  EXPECT_FALSE(ui::Main(paths_));
  EXPECT_EQ(ui::MainWindow(), nullptr);
  EXPECT_FALSE(FileExists(ini_));
  EXPECT_EQ(CurrentMousePointer(), PointerDefault);
  EXPECT_TRUE(first.isLocked()) << "the running instance keeps its lock";
}

TEST_F(StartupTest, InstallsInOtherDirectoriesRunSideBySide) {
  const std::string other = MakeScratchDirectory();
  QLockFile elsewhere(QString::fromStdString(ui::InstanceLockPath({other, dir_})));
  ASSERT_TRUE(elsewhere.tryLock(0));
  EXPECT_NE(ui::InstanceLockPath({other, dir_}), ui::InstanceLockPath(paths_));
  EXPECT_TRUE(ui::Main(paths_));
  RemoveTree(other);
}

TEST_F(StartupTest, TheLockOfACrashedInstanceDoesNotBlock) {
  const std::string lockPath = ui::InstanceLockPath(paths_);
  const pid_t child = fork();
  if (child == 0) {
    QLockFile lock(QString::fromStdString(lockPath));
    lock.setStaleLockTime(0);
    _exit(lock.tryLock(0) ? 0 : 1);  // ends without letting go, as a crash would
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(FileExists(lockPath));
  EXPECT_TRUE(ui::Main(paths_));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(StartupTest, AMissingRuntimeFileIsListedAndNothingIsRead) {
  fs::remove(components_ + "/qtbase_ja.qm");
  WriteFile(ini_, "[INIT]\r\nArchiveType=1\r\n");
  const std::string before = ReadFile(ini_);
  Script({[this](const MessageRecord& box) {
    EXPECT_EQ(box.prompt, "ランタイムチェック中にエラーが発生しました。\r\n必要なランタイム\r\n" +
                              components_ + "/qtbase_ja.qm\r\nがありません。");
    EXPECT_EQ(box.style, MsgStop);
    return IdOk;
  }});
  App().AppSettings.clear();
  EXPECT_FALSE(ui::Main(paths_));
  EXPECT_EQ(ui::MainWindow(), nullptr);
  EXPECT_TRUE(App().AppSettings.empty()) << "the settings must not have been read";
  EXPECT_EQ(ReadFile(ini_), before);
  EXPECT_EQ(CurrentMousePointer(), PointerDefault);
  // The refused start let go of its lock: a later start works.
  QLockFile probe(QString::fromStdString(ui::InstanceLockPath(paths_)));
  EXPECT_TRUE(probe.tryLock(0));
}

TEST_F(StartupTest, ArchiverAvailabilityComesFromTheComponentDirectory) {
  // Only the ZIP extraction library present: the others' formats cannot be chosen.
  WriteFile(components_ + "/libunzip32.so", "");
  WriteFile(ini_, "[INIT]\r\nArchiveType=1\r\nExtractType=0\r\n");
  ASSERT_TRUE(ui::Main(paths_));
  ui::FrmTavrunMain* w = ui::MainWindow();
  EXPECT_FALSE(w->findChild<QWidget*>(QStringLiteral("Option2_0"))->isEnabled());
  EXPECT_TRUE(w->OptionSelected("Option2", 1));
  EXPECT_EQ(Setting(ExtractType), "1");
}

// ---- Ending ------------------------------------------------------------------------------

class ExitTest : public UiTest {};

TEST_F(ExitTest, CloseBoxAnsweredNoKeepsTheWindowAndWritesNothing) {
  Init("[INIT]\r\nFromDirectory=/a\r\n");
  OpenMain();
  const std::string before = ReadFile(ini_);
  Script({[](const MessageRecord& box) {
    EXPECT_EQ(box.prompt, "終了しますか？");
    EXPECT_EQ(box.style, MsgYesNoDefNo);
    return IdNo;
  }});
  bool cancel = false;
  window_->Form_QueryUnload(cancel, 0);
  EXPECT_TRUE(cancel);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(ReadFile(ini_), before);
  EXPECT_EQ(processEnds_, 0);
}

TEST_F(ExitTest, YesWritesAllEighteenSettingsAsTheyStandInMemoryAndEnds) {
  Init("[INIT]\r\nFromDirectory=/loaded\r\n[COMMON]\r\nMakeDirectory=0.4\r\n");
  OpenMain();
  // A browse after loading changes the box, not the setting that is saved.
  window_->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("/browsed"));
  window_->findChild<QAbstractButton*>(QStringLiteral("Option1_1"))->click();
  Script({Answer(IdYes)});
  window_->findChild<QAction*>(QStringLiteral("mnuExit"))->trigger();
  EXPECT_EQ(processEnds_, 1);
  std::string errorText;
  SettingValueTable saved;
  ASSERT_TRUE(ReadIniValues(ini_, SettingCount, App().SettingKeys, saved, errorText));
  EXPECT_EQ(saved, App().AppSettings);
  EXPECT_EQ(saved[FromDirectory], "/loaded");
  EXPECT_EQ(saved[ArchiveType], "1");
  EXPECT_EQ(saved[MakeDirectory], "0.4") << "a value kept as read is written as read";
  const std::string text = ReadFile(ini_);
  for (const char* section : {"[INIT]", "[COMMON]", "[LZH]", "[ZIP]", "[UNZIP]"}) {
    EXPECT_NE(text.find(section), std::string::npos) << section;
  }
}

TEST_F(ExitTest, ClosingByProgramOrSessionEndAsksNothingAndSavesNothing) {
  Init();
  OpenMain();
  bool cancel = false;
  window_->Form_QueryUnload(cancel, 1);
  EXPECT_FALSE(cancel);
  EXPECT_TRUE(window_->close()) << "a close by program code goes through";
  EXPECT_FALSE(window_->isVisible());
  ui::EndWithoutSaving();
  EXPECT_EQ(processEnds_, 1);
  EXPECT_FALSE(FileExists(ini_));
  EXPECT_TRUE(Messages().empty());
}

}  // namespace
}  // namespace tavrun::uitest
