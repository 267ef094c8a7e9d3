#include "dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "host.h"
#include "tests/common/test_host.h"

using namespace tavrun::arc;

namespace {

// Clicks the button named `name` of the first modal message box once it appears.
void ClickWhenShown(const QString& name) {
  QTimer::singleShot(50, [name] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        if (auto* b = box->findChild<QPushButton*>(name)) b->click();
        return;
      }
    }
    ClickWhenShown(name);
  });
}

// Runs `work` on a thread of its own while this (the UI) thread keeps processing events, as
// the application does around a library call.
void OnWorker(const std::function<void()>& work) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
}

// A run of the host, as the libraries see it: the host's table while the scope lives.
struct Scope {
  tavrun::test::TestHost host;
  std::atomic<bool>& cancel = host.cancel;
  Scope() { SetHost(host.Table()); }
  ~Scope() { SetHost(nullptr); }
};

// Long enough for a progress dialog to show.
void LetTheCallLast() {
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
}

int VisibleBoxes() {
  int boxes = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    boxes += qobject_cast<QMessageBox*>(w) && w->isVisible();
  return boxes;
}

}  // namespace

TEST(Dialogs, WithoutAWindowNothingIsShownOrAsked) {
  EXPECT_FALSE(HasOwnerWindow(0));
  EXPECT_FALSE(HasOwnerWindow(0xDEADBEEF));  // not a widget of this process
  auto p = MakeProgress(0, true, "t");
  EXPECT_TRUE(p->Update("a.txt", 50));
  EXPECT_FALSE(p->Cancelled());
  EXPECT_EQ(AskOverwrite(0, "t", "q", "/x"), OverwriteAnswer::No);
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty() ||
              std::none_of(QApplication::topLevelWidgets().begin(),
                           QApplication::topLevelWidgets().end(),
                           [](QWidget* w) { return w->isVisible(); }));
}

TEST(Dialogs, ProgressDialogFollowsTheWorkAndReportsCancel) {
  QWidget owner;
  owner.show();
  const auto handle = static_cast<uintptr_t>(owner.winId());
  ASSERT_TRUE(HasOwnerWindow(handle));
  auto hidden = MakeProgress(handle, false, "t");  // switched off: no dialog
  EXPECT_EQ(owner.findChild<QProgressDialog*>(), nullptr);
  auto p = MakeProgress(handle, true, "圧縮");
  EXPECT_TRUE(p->Update("ファイル.txt", 40));
  auto* dialog = owner.findChild<QProgressDialog*>();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->value(), 40);
  EXPECT_EQ(dialog->labelText(), QString::fromUtf8("ファイル.txt"));
  dialog->cancel();
  EXPECT_FALSE(p->Update("next.txt", 60));
  EXPECT_TRUE(p->Cancelled());
}

TEST(Dialogs, OverwriteQuestionReturnsEachAnswer) {
  QWidget owner;
  owner.show();
  const auto handle = static_cast<uintptr_t>(owner.winId());
  const std::pair<const char*, OverwriteAnswer> cases[] = {{"yes", OverwriteAnswer::Yes},
                                                           {"no", OverwriteAnswer::No},
                                                           {"yesToAll", OverwriteAnswer::YesToAll},
                                                           {"noToAll", OverwriteAnswer::NoToAll}};
  for (const auto& [button, answer] : cases) {
    ClickWhenShown(button);
    EXPECT_EQ(AskOverwrite(handle, "t", "上書きしますか？", "/d/a.txt"), answer) << button;
  }
}

// A worker's question is shown on the UI thread; "to all" holds for the rest of the run (the
// host's run) for the same question only, and nothing is remembered without a host.
TEST(Dialogs, ToAllAnswersLastForTheRunAndQuestionsRunOnTheUiThread) {
  QWidget owner;
  owner.show();
  const auto handle = static_cast<uintptr_t>(owner.winId());
  QThread* boxThread = nullptr;
  int asked = 0;
  auto answerWith = [&](const char* button) {
    QTimer::singleShot(20, [&, button] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
          ++asked;
          boxThread = box->thread();
          box->findChild<QPushButton*>(button)->click();
          return;
        }
      }
      ADD_FAILURE() << "no question shown";
    });
  };
  auto ask = [&](const char* question) {
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    OnWorker([&] { answer = AskOverwrite(handle, "LZH解凍", question, "/d/a.txt"); });
    return answer;
  };

  {
    Scope scope;
    answerWith("yesToAll");
    EXPECT_EQ(ask("q1"), OverwriteAnswer::YesToAll);
    EXPECT_EQ(boxThread, QCoreApplication::instance()->thread());
    EXPECT_EQ(ask("q1"), OverwriteAnswer::YesToAll) << "a later call of the run";
    EXPECT_EQ(asked, 1);
    answerWith("noToAll");
    EXPECT_EQ(ask("q2"), OverwriteAnswer::NoToAll) << "another question is asked";
    EXPECT_EQ(ask("q2"), OverwriteAnswer::NoToAll);
    EXPECT_EQ(asked, 2);
    answerWith("no");
    EXPECT_EQ(ask("q3"), OverwriteAnswer::No);
    answerWith("yes");
    EXPECT_EQ(ask("q3"), OverwriteAnswer::Yes) << "a single answer is not kept";
    EXPECT_EQ(asked, 4);
  }
  answerWith("no");
  EXPECT_EQ(ask("q1"), OverwriteAnswer::No) << "the run ended: asked again";
  answerWith("yesToAll");
  EXPECT_EQ(ask("q1"), OverwriteAnswer::YesToAll);
  answerWith("no");
  EXPECT_EQ(ask("q1"), OverwriteAnswer::No) << "without a host nothing is kept";
  EXPECT_EQ(asked, 7);
}

// The run's cancel stops every progress of the run, shown or not, and silences questions.
TEST(Dialogs, RunCancelReachesEveryProgressAndQuestion) {
  QWidget owner;
  owner.show();
  const auto handle = static_cast<uintptr_t>(owner.winId());
  Scope scope;
  std::unique_ptr<Progress> shown, hidden;
  OnWorker([&] {
    shown = MakeProgress(handle, true, "ZIP圧縮");
    hidden = MakeProgress(handle, false, "ZIP圧縮");
    LetTheCallLast();
    EXPECT_TRUE(shown->Update("big.bin", 10));
    EXPECT_TRUE(hidden->Update("big.bin", 10));
  });
  auto* dialog = owner.findChild<QProgressDialog*>();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->thread(), QCoreApplication::instance()->thread());
  QCoreApplication::processEvents();
  EXPECT_EQ(dialog->labelText(), QStringLiteral("big.bin")) << "a worker's update is shown";
  EXPECT_EQ(dialog->value(), 10);

  scope.cancel = true;
  OnWorker([&] {
    EXPECT_FALSE(shown->Update("big.bin", 20));
    EXPECT_FALSE(hidden->Update("big.bin", 20));
    EXPECT_TRUE(hidden->Cancelled());
    EXPECT_EQ(AskOverwrite(handle, "t", "q", "/d/a.txt"), OverwriteAnswer::No);
    shown.reset();  // the dialog goes with it, on the UI thread
  });
  EXPECT_EQ(VisibleBoxes(), 0);
  EXPECT_EQ(owner.findChild<QProgressDialog*>(), nullptr);
}

// A program without windows cancels through its host table as well.
TEST(Dialogs, AWindowlessHostsCancelReachesWindowlessProgress) {
  Scope scope;
  auto progress = MakeProgress(0, true, "LZH圧縮");
  EXPECT_FALSE(progress->Cancelled());
  scope.cancel.store(true);
  EXPECT_TRUE(progress->Cancelled());
  EXPECT_FALSE(progress->Update("a.txt", 50));
  scope.cancel.store(false);
  EXPECT_FALSE(progress->Cancelled());
}

// A short call shows no progress dialog at all (a batch of small files flashes no windows);
// one that lasts gets it, without losing its cancel.
TEST(Dialogs, TheProgressDialogAppearsOnlyForACallThatLasts) {
  unsetenv("TAVRUN_PROGRESS_DELAY_MS");
  QWidget owner;
  owner.show();
  const auto handle = static_cast<uintptr_t>(owner.winId());
  {
    auto quick = MakeProgress(handle, true, "LZH圧縮");
    EXPECT_TRUE(quick->Update("a.txt", 50));
    EXPECT_TRUE(quick->Update("a.txt", 100));
    EXPECT_EQ(owner.findChild<QProgressDialog*>(), nullptr);
  }
  auto slow = MakeProgress(handle, true, "LZH圧縮");
  EXPECT_TRUE(slow->Update("big.bin", 1));
  EXPECT_EQ(owner.findChild<QProgressDialog*>(), nullptr);
  LetTheCallLast();
  EXPECT_TRUE(slow->Update("big.bin", 40));
  auto* dialog = owner.findChild<QProgressDialog*>();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->windowModality(), Qt::NonModal) << "the owner's close box stays usable";
  dialog->cancel();
  EXPECT_FALSE(slow->Update("big.bin", 50));
  setenv("TAVRUN_PROGRESS_DELAY_MS", "0", 1);
}

int main(int argc, char** argv) {
  // Progress dialogs show from the first update unless a test says otherwise.
  setenv("TAVRUN_PROGRESS_DELAY_MS", "0", 1);
  // Test discovery runs this binary outside ctest, so no display may be assumed.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
