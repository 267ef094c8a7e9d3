// The libraries' dialogs with a real owner window (offscreen): cancel and the overwrite
// question, and the switches that turn the progress dialog off.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "zip_test_util.h"

using namespace ziptest;

namespace {

// Calls `act` on every turn of the event loop (the libraries run their dialogs' loops) until
// it returns true. The timer belongs to `owner`, so the test can stop it.
template <typename F>
void Poll(QWidget* owner, F act) {
  auto* t = new QTimer(owner);
  QObject::connect(t, &QTimer::timeout, [t, act]() mutable {
    if (act()) t->deleteLater(), t->stop();
  });
  t->start(5);
}

void CancelProgress(QWidget* owner, bool* seen) {
  Poll(owner, [owner, seen] {
    auto* d = owner->findChild<QProgressDialog*>();
    if (d) *seen = true, d->cancel();
    return d != nullptr;
  });
}

// Answers each overwrite question as it is shown with the next of `buttons`.
void Answer(QWidget* owner, QStringList buttons) {
  Poll(owner, [buttons]() mutable {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        if (auto* b = box->findChild<QPushButton*>(buttons.takeFirst())) b->click();
        break;
      }
    return buttons.isEmpty();
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
  void TearDown() override { qDeleteAll(owner_.findChildren<QTimer*>()); }
  QWidget owner_;
  uintptr_t window_ = 0;
  TempDir src_, work_;
  std::string files_;
};

}  // namespace

TEST_F(Dialogs, CancelledCreateOrUpdateLeavesTheArchiveAsItWas) {
  const std::string archive = work_ / "c.zip";
  ASSERT_EQ(RunZip("-q -j " + Quote(archive) + " " + Quote(src_ / "f0.txt")).code, 0);
  const std::string before = ReadFile(archive);
  for (const char* level : {"-0", "-6"}) {
    bool seen = false;
    CancelProgress(&owner_, &seen);
    Result r = RunZip("-j " + std::string(level) + " " + Quote(archive) + files_, window_);
    EXPECT_TRUE(seen) << level;
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_CANCELLED) << level << r.output;
    EXPECT_EQ(ReadFile(archive), before) << level;
    EXPECT_EQ(ListTree(work_.path()), std::set<std::string>{"c.zip"}) << level;
  }
  bool seen = false;  // a new archive cancelled is not created at all
  CancelProgress(&owner_, &seen);
  EXPECT_EQ(RunZip("-j " + Quote(work_ / "new.zip") + files_, window_).code,
            TAVRUN_ZIP_E_CANCELLED);
  EXPECT_FALSE(Exists(work_ / "new.zip"));
  // With -q there is no dialog to cancel.
  EXPECT_EQ(RunZip("-q -j " + Quote(work_ / "q.zip") + files_, window_).code, 0);
}

TEST_F(Dialogs, CancelledExtractionLeavesNoPartialFile) {
  const std::string archive = work_ / "e.zip", dest = work_ / "d";
  ASSERT_EQ(RunZip("-q -j -1 " + Quote(archive) + files_).code, 0);
  mkdir(dest.c_str(), 0755);
  bool seen = false;
  CancelProgress(&owner_, &seen);
  Result r = RunUnZip("-x -qq " + Quote(archive) + " " + Quote(dest + "/"), window_);
  EXPECT_TRUE(seen);
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_CANCELLED) << r.output;
  EXPECT_TRUE(ListTree(dest).empty());
  // With --i there is no dialog to cancel.
  EXPECT_EQ(RunUnZip("-x -qq --i " + Quote(archive) + " " + Quote(dest + "/"), window_).code, 0);
  EXPECT_EQ(ListTree(dest).size(), 3u);
}

TEST_F(Dialogs, OverwriteQuestionAnswers) {
  const std::string archive = work_ / "o.zip", dest = work_ / "d";
  ASSERT_EQ(RunZip("-q -j " + Quote(archive) + files_).code, 0);
  mkdir(dest.c_str(), 0755);
  const struct {
    const char* switches;
    QStringList buttons;  // one answer per question, in member order
    std::string replaced;
  } cases[] = {{"", {"yesToAll"}, "111"},
               {"", {"noToAll"}, "000"},
               {"", {"yes", "no", "no"}, "100"},
               {"", {"no", "yesToAll"}, "011"},
               {"-o", {}, "111"}};  // asks nobody
  for (const auto& c : cases) {
    for (int i = 0; i < 3; ++i) WriteFile(dest + "/f" + std::to_string(i) + ".txt", "old");
    if (!c.buttons.isEmpty()) Answer(&owner_, c.buttons);
    Result r = RunUnZip(
        std::string(c.switches) + " -x -qq --i " + Quote(archive) + " " + Quote(dest + "/"),
        window_);
    EXPECT_EQ(r.code, 0) << r.output;
    std::string replaced;
    for (int i = 0; i < 3; ++i)
      replaced += ReadFile(dest + "/f" + std::to_string(i) + ".txt") == "old" ? '0' : '1';
    EXPECT_EQ(replaced, c.replaced) << c.buttons.join(",").toStdString();
  }
}

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
