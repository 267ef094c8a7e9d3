// The libraries' dialogs with a real owner window (offscreen): cancel, the overwrite question,
// and the switches that turn the progress dialog off.
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
  t->start(0);
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
      files_.push_back(src_ / ("f" + std::to_string(i) + ".txt"));
      WriteFile(files_.back(), TextData(400000, unsigned(i)));
    }
  }
  void TearDown() override { qDeleteAll(owner_.findChildren<QTimer*>()); }
  QWidget owner_;
  uintptr_t window_ = 0;
  TempDir src_, work_;
  std::vector<std::string> files_;
};

}  // namespace

TEST_F(Dialogs, CancelLeavesArchiveAndDestinationAsTheyWere) {
  const std::string archive = work_ / "c.zip", dest = work_ / "d";
  ASSERT_EQ(ZipFiles("-q -j", archive, {files_[0]}).code, 0);
  const std::string before = ReadFile(archive);
  // An update at either level, then a new archive, which is not created at all.
  for (const auto& [level, path] : {std::pair<const char*, std::string>{"-j -0", archive},
                                    {"-j -6", archive},
                                    {"-j", work_ / "new.zip"}}) {
    bool seen = false;
    CancelProgress(&owner_, &seen);
    Result r = ZipFiles(level, path, files_, window_);
    EXPECT_TRUE(seen) << level;
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_CANCELLED) << level << r.output;
    EXPECT_EQ(ReadFile(archive), before) << level;
    EXPECT_EQ(ListTree(work_.path()), std::set<std::string>{"c.zip"}) << level;
  }
  ASSERT_EQ(ZipFiles("-q -j -1", archive, files_, window_).code, 0);  // -q: no dialog to cancel
  bool seen = false;
  CancelProgress(&owner_, &seen);
  Result r = UnZipTo("-x -qq", archive, dest, window_);
  EXPECT_TRUE(seen);
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_CANCELLED) << r.output;
  EXPECT_TRUE(ListTree(dest).empty());                                  // no partial file
  EXPECT_EQ(UnZipTo("-x -qq --i -o", archive, dest, window_).code, 0);  // --i: no dialog
  EXPECT_EQ(ListTree(dest).size(), 3u);
}

TEST_F(Dialogs, OverwriteQuestionAnswers) {
  const std::string archive = work_ / "o.zip", dest = work_ / "d";
  ASSERT_EQ(ZipFiles("-q -j", archive, files_).code, 0);
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
    mkdir(dest.c_str(), 0755);
    for (int i = 0; i < 3; ++i) WriteFile(dest + "/f" + std::to_string(i) + ".txt", "old");
    if (!c.buttons.isEmpty()) Answer(&owner_, c.buttons);
    Result r = UnZipTo(std::string(c.switches) + " -x -qq --i", archive, dest, window_);
    EXPECT_EQ(r.code, 0) << r.output;
    std::string replaced;
    for (int i = 0; i < 3; ++i)
      replaced += ReadFile(dest + "/f" + std::to_string(i) + ".txt") == "old" ? '0' : '1';
    EXPECT_EQ(replaced, c.replaced) << c.buttons.join(",").toStdString();
  }
}

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Progress dialogs show from the first update, so a test can cancel them.
  setenv("TAVRUN_PROGRESS_DELAY_MS", "0", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
