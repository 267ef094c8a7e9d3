// With an owner window the library asks before replacing and shows a progress dialog that
// can cancel; the answers are given here by pressing the dialogs' buttons.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

#include "lzh_builders.h"
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
    window_ = std::make_unique<QWidget>();
    window_->show();
    fs::create_directories(Path("dest"));
  }
  void TearDown() override {
    window_.reset();
    ScratchTest::TearDown();
  }
  uintptr_t Window() const { return static_cast<uintptr_t>(window_->winId()); }

  // Presses the button `objectName` of every question box that comes up; counts them.
  void AnswerQuestions(const QString& objectName) {
    auto* timer = new QTimer(window_.get());
    QObject::connect(timer, &QTimer::timeout, [this, objectName] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible()) continue;
        if (auto* b = box->findChild<QAbstractButton*>(objectName)) {
          ++questions_;
          b->click();
        }
      }
    });
    timer->start(10);
  }

  // Five members dated 1600000000, and files of the same names dated `existingTime`.
  void PrepareExisting(int64_t existingTime) {
    std::vector<Bytes> members;
    for (int i = 0; i < 5; ++i) {
      std::string n = "f" + std::to_string(i) + ".txt";
      members.push_back(Level2Member(n, "archived " + n));  // member time 1600000000
      WriteFile(Path("dest") / n, "existing");
      SetMtime(Path("dest") / n, existingTime);
    }
    WriteFile(Path("a.lzh"), ArchiveOf(members));
  }
  int CountArchived() {
    int n = 0;
    for (int i = 0; i < 5; ++i) {
      Bytes b = ReadFile(Path("dest") / ("f" + std::to_string(i) + ".txt"));
      n += std::string(b.begin(), b.end()).rfind("archived", 0) == 0;
    }
    return n;
  }
  int Extract(const std::string& switches) {
    std::string line = "E " + switches + " " + Q(Path("a.lzh")) + " " + Q(Path("dest")) + "/";
    char out[256];
    int rc = Unlha(Window(), line.c_str(), out, sizeof out);
    last_ = out;
    return rc;
  }

  std::unique_ptr<QWidget> window_;
  int questions_ = 0;
  std::string last_;
};

}  // namespace

TEST_F(DialogTest, YesToAllAsksOnceAndReplacesEverything) {
  PrepareExisting(1500000000);
  AnswerQuestions("yesToAll");
  EXPECT_EQ(Extract("-n1"), 0);
  EXPECT_EQ(questions_, 1);
  EXPECT_EQ(CountArchived(), 5);
}

TEST_F(DialogTest, NoToAllKeepsEverythingWithoutAnError) {
  PrepareExisting(1500000000);
  AnswerQuestions("noToAll");
  EXPECT_EQ(Extract("-n1"), 0);
  EXPECT_EQ(questions_, 1);
  EXPECT_EQ(CountArchived(), 0);
}

TEST_F(DialogTest, EachYesAndNoIsForOneFile) {
  PrepareExisting(1500000000);
  AnswerQuestions("no");
  EXPECT_EQ(Extract("-n1"), 0);
  EXPECT_EQ(questions_, 5);
  EXPECT_EQ(CountArchived(), 0);
  // -y1 asks nothing; newer existing files are not even considered without -c1.
  questions_ = 0;
  EXPECT_EQ(Extract("-n1 -y1"), 0);
  EXPECT_EQ(questions_, 0);
  EXPECT_EQ(CountArchived(), 5);
}

TEST_F(DialogTest, UpdateAsksBeforeReplacingAMember) {
  WriteFile(Path("m.txt"), "v1");
  SetMtime(Path("m.txt"), 1500000000);
  char out[256];
  std::string line = "U -n1 " + Q(Path("u.lzh")) + " " + Q(Path("m.txt"));
  ASSERT_EQ(Unlha(Window(), line.c_str(), out, sizeof out), 0);
  const Bytes v1 = ReadFile(Path("u.lzh"));
  WriteFile(Path("m.txt"), "v2");
  SetMtime(Path("m.txt"), 1600000000);
  AnswerQuestions("no");
  EXPECT_EQ(Unlha(Window(), line.c_str(), out, sizeof out), 0);
  EXPECT_EQ(questions_, 1);
  EXPECT_EQ(ReadFile(Path("u.lzh")), v1);
}

TEST_F(DialogTest, CancelInTheProgressDialogLeavesNothingHalfDone) {
  WriteFile(Path("big.bin"), RandomBytes(4u << 20, 40));
  char out[256];
  ASSERT_EQ(Unlha(0, ("U -jm0 " + Q(Path("a.lzh")) + " " + Q(Path("big.bin"))).c_str(), out, sizeof out), 0);
  const Bytes archive = ReadFile(Path("a.lzh"));
  int dialogs = 0;
  auto* timer = new QTimer(window_.get());
  QObject::connect(timer, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* p = qobject_cast<QProgressDialog*>(w)) {
        ++dialogs;
        p->cancel();
      }
  });
  timer->start(1);
  int rc = Extract("");
  EXPECT_EQ(rc, UNLHA_ERROR_CANCELLED);
  EXPECT_GT(dialogs, 0) << last_;
  EXPECT_EQ(Listing(Path("dest")), std::vector<std::string>());
  // The same for an update: the archive stays as it was.
  WriteFile(Path("more.bin"), RandomBytes(4u << 20, 41));
  EXPECT_EQ(Unlha(Window(), ("U " + Q(Path("a.lzh")) + " " + Q(Path("more.bin"))).c_str(), out, sizeof out),
            UNLHA_ERROR_CANCELLED);
  EXPECT_EQ(ReadFile(Path("a.lzh")), archive);
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find("a.lzh."), std::string::npos) << e.path();
}
