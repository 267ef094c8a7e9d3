#include "dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>

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
  auto* dialog = owner.findChild<QProgressDialog*>();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(p->Update("ファイル.txt", 40));
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
  const std::pair<const char*, OverwriteAnswer> cases[] = {
      {"yes", OverwriteAnswer::Yes},
      {"no", OverwriteAnswer::No},
      {"yesToAll", OverwriteAnswer::YesToAll},
      {"noToAll", OverwriteAnswer::NoToAll}};
  for (const auto& [button, answer] : cases) {
    ClickWhenShown(button);
    EXPECT_EQ(AskOverwrite(handle, "t", "上書きしますか？", "/d/a.txt"), answer) << button;
  }
}

int main(int argc, char** argv) {
  // Test discovery runs this binary outside ctest, so no display may be assumed.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
