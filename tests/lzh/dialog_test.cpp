// With an owner window the library asks before replacing and shows a progress dialog that
// can cancel; the answers are given here by pressing the dialogs' buttons.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>
#include <set>

#include "test_util.h"

using namespace lzhtest;

namespace {

class DialogTest : public ScratchTest {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "lzh_dialog_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
  }
  void SetUp() override {
    ScratchTest::SetUp();
    // Progress dialogs show from the first update, so the test can cancel them.
    setenv("TAVRUN_PROGRESS_DELAY_MS", "0", 1);
    fs::create_directories(Path("dest"));
    window_ = std::make_unique<QWidget>();
    window_->show();
    // Presses `button_` in every question that comes up; "cancel" cancels progress dialogs.
    auto* timer = new QTimer(window_.get());
    QObject::connect(timer, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        auto* b = box && box->isVisible() ? box->findChild<QAbstractButton*>(button_) : nullptr;
        if (b) {
          titles_.insert(box->windowTitle().toStdString());
          ++questions_;
          b->click();
        }
        auto* progress = qobject_cast<QProgressDialog*>(w);
        if (progress && progress->isVisible())
          titles_.insert(progress->windowTitle().toStdString());
        if (progress && button_ == "cancel") {
          ++progressDialogs_;
          progress->cancel();
        }
      }
    });
    timer->start(2);
  }
  int Call(const std::string& line) {
    char out[256];
    const int rc = Unlha(static_cast<uintptr_t>(window_->winId()), line.c_str(), out, sizeof out);
    output_ = out;
    return rc;
  }

  std::unique_ptr<QWidget> window_;
  QString button_;
  int questions_ = 0, progressDialogs_ = 0;
  std::set<std::string> titles_;  // of every question and progress dialog seen
};

}  // namespace

TEST_F(DialogTest, EachOverwriteAnswerDoesWhatItSays) {
  std::vector<Bytes> members;
  for (int i = 0; i < 5; ++i) members.push_back(Level2Member("f" + std::to_string(i), "archived"));
  WriteFile(Path("a.lzh"), ArchiveOf(members));  // members dated 1600000000
  // clang-format off
  struct Case { const char* button; const char* switches; int questions, replaced; };
  const Case cases[] = {{"yes", "-n1", 5, 5}, {"no", "-n1", 5, 0}, {"yesToAll", "-n1", 1, 5},
                        {"noToAll", "-n1", 1, 0}, {"no", "-n1 -y1", 0, 5}};
  // clang-format on
  const auto existing = [&](int i) { return Path("dest/f" + std::to_string(i)); };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.button) + " " + c.switches);
    for (int i = 0; i < 5; ++i) WriteFile(existing(i), std::string("old"));
    for (int i = 0; i < 5; ++i) SetMtime(existing(i), 1500000000);
    button_ = c.button;
    questions_ = 0;
    EXPECT_EQ(
        Call("E " + std::string(c.switches) + " " + Q(Path("a.lzh")) + " " + Q(Path("dest/"))), 0);
    EXPECT_EQ(questions_, c.questions);
    int replaced = 0;
    for (int i = 0; i < 5; ++i) replaced += ReadText(existing(i)) == "archived";
    EXPECT_EQ(replaced, c.replaced);
  }
  EXPECT_EQ(titles_, std::set<std::string>{"LZH解凍"});
}

TEST_F(DialogTest, CancelInTheProgressDialogLeavesNothingHalfDone) {
  WriteFile(Path("big.bin"), RandomBytes(4u << 20, 40));
  ASSERT_EQ(Run("U -jm0 " + Q(Path("a.lzh")) + " " + Q(Path("big.bin"))), 0) << output_;
  const Bytes archive = ReadFile(Path("a.lzh"));
  WriteFile(Path("more.bin"), RandomBytes(4u << 20, 41));
  button_ = "cancel";
  EXPECT_EQ(Call("E " + Q(Path("a.lzh")) + " " + Q(Path("dest")) + "/"), UNLHA_ERROR_CANCELLED)
      << output_;
  EXPECT_GT(progressDialogs_, 0);
  EXPECT_EQ(Call("U " + Q(Path("a.lzh")) + " " + Q(Path("more.bin"))), UNLHA_ERROR_CANCELLED)
      << output_;
  EXPECT_EQ(ReadFile(Path("a.lzh")), archive);
  EXPECT_EQ(titles_, (std::set<std::string>{"LZH圧縮", "LZH解凍"}));
  EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"a.lzh", "big.bin", "dest/", "more.bin"}));
}
