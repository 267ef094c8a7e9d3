// The libraries' dialogs with a real owner window (offscreen): cancel and the overwrite
// question, and the switches that turn the progress dialog off.
#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include "unzip32.h"
#include "zip_test_util.h"

using namespace ziptest;

namespace {

// Cancels the first progress dialog that appears below `owner`, once.
void CancelWhenShown(QWidget* owner, bool* seen) {
  QTimer::singleShot(0, owner, [owner, seen] {
    if (auto* d = owner->findChild<QProgressDialog*>()) {
      *seen = true;
      d->cancel();
      return;
    }
    CancelWhenShown(owner, seen);
  });
}

void ClickWhenShown(const QString& name) {
  QTimer::singleShot(20, [name] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        if (auto* b = box->findChild<QPushButton*>(name)) b->click();
        return;
      }
    }
    ClickWhenShown(name);
  });
}

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_.show();
    window_ = uintptr_t(owner_.winId());
    for (int i = 0; i < 3; ++i) {
      std::string name = "f" + std::to_string(i) + ".txt";
      WriteFile(src_ / name, TextData(400000, unsigned(i)));
      files_ += " " + Quote(src_ / name);
    }
  }
  void Drain() {
    // Stop a canceller that found nothing to cancel.
    for (QTimer* t : owner_.findChildren<QTimer*>()) t->stop();
    QCoreApplication::processEvents();
  }
  QWidget owner_;
  uintptr_t window_ = 0;
  TempDir src_, work_;
  std::string files_;
};

}  // namespace

TEST_F(Dialogs, CancelledCreateOrUpdateLeavesTheArchiveAsItWas) {
  std::string archive = work_ / "c.zip";
  ASSERT_EQ(RunZip("-q -j " + Quote(archive) + " " + Quote(src_ / "f0.txt")).code, 0);
  const std::string before = ReadFile(archive);
  for (const char* level : {"-0", "-6"}) {
    bool seen = false;
    CancelWhenShown(&owner_, &seen);
    Result r = RunZip("-j " + std::string(level) + " " + Quote(archive) + files_, window_);
    EXPECT_TRUE(seen) << level;
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_CANCELLED) << level << r.output;
    EXPECT_EQ(ReadFile(archive), before) << level;
    EXPECT_EQ(ListTree(work_.path()), std::set<std::string>{"c.zip"}) << level;
  }
  // A new archive cancelled is not created at all.
  bool seen = false;
  CancelWhenShown(&owner_, &seen);
  EXPECT_EQ(RunZip("-j " + Quote(work_ / "new.zip") + files_, window_).code,
            TAVRUN_ZIP_E_CANCELLED);
  EXPECT_FALSE(Exists(work_ / "new.zip"));
  // With -q there is no dialog, so nothing can cancel.
  CancelWhenShown(&owner_, &seen);
  EXPECT_EQ(RunZip("-q -j " + Quote(work_ / "q.zip") + files_, window_).code, 0);
  Drain();
}

TEST_F(Dialogs, CancelledExtractionLeavesNoPartialFile) {
  std::string archive = work_ / "e.zip";
  ASSERT_EQ(RunZip("-q -j -1 " + Quote(archive) + files_).code, 0);
  mkdir((work_ / "d").c_str(), 0755);
  bool seen = false;
  CancelWhenShown(&owner_, &seen);
  Result r = RunUnZip("-x -qq " + Quote(archive) + " " + Quote(work_ / "d/"), window_);
  EXPECT_TRUE(seen);
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_CANCELLED) << r.output;
  EXPECT_TRUE(ListTree(work_ / "d").empty());
  CancelWhenShown(&owner_, &seen);
  EXPECT_EQ(RunUnZip("-x -qq --i " + Quote(archive) + " " + Quote(work_ / "d/"), window_).code, 0);
  Drain();
  EXPECT_EQ(ListTree(work_ / "d").size(), 3u);
}

TEST_F(Dialogs, OverwriteQuestionAnswers) {
  std::string archive = work_ / "o.zip";
  ASSERT_EQ(RunZip("-q -j " + Quote(archive) + files_).code, 0);
  std::string d = work_ / "d";
  mkdir(d.c_str(), 0755);
  auto reset = [&] {
    for (int i = 0; i < 3; ++i) WriteFile(d + "/f" + std::to_string(i) + ".txt", "old");
  };
  auto replaced = [&] {
    int n = 0;
    for (int i = 0; i < 3; ++i) n += ReadFile(d + "/f" + std::to_string(i) + ".txt") != "old";
    return n;
  };
  const std::string cmd = "-x -qq --i " + Quote(archive) + " " + Quote(d + "/");
  reset();
  ClickWhenShown("yesToAll");
  EXPECT_EQ(RunUnZip(cmd, window_).code, 0);
  EXPECT_EQ(replaced(), 3);
  reset();
  ClickWhenShown("noToAll");
  EXPECT_EQ(RunUnZip(cmd, window_).code, 0);
  EXPECT_EQ(replaced(), 0);
  reset();
  ClickWhenShown("yes");  // first file only; then "no" for each of the others
  QTimer::singleShot(300, [] { ClickWhenShown("no"); });
  QTimer::singleShot(600, [] { ClickWhenShown("no"); });
  EXPECT_EQ(RunUnZip(cmd, window_).code, 0);
  EXPECT_EQ(replaced(), 1);
  EXPECT_NE(ReadFile(d + "/f0.txt"), "old");
  // -o and -n ask nobody.
  reset();
  EXPECT_EQ(RunUnZip("-o " + cmd, window_).code, 0);
  EXPECT_EQ(replaced(), 3);
}

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
