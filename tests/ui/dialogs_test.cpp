// Message boxes as the program shows them, the about dialog, and the log and readme commands.
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/settings.h"
#include "ui/commands.h"
#include "ui/qt_seams.h"
#include "ui/version_dialog.h"
#include "ui_fixture.h"

#if TAVRUN_TEST_AS_NOBODY
#include "test_support.h"
#endif

namespace tavrun::uitest {
namespace {

namespace fs = std::filesystem;

// ---- Message boxes -----------------------------------------------------------------------

struct BoxCase {
  int32_t style;
  QMessageBox::Icon icon;
  std::vector<std::string> buttons;
  std::string defaultButton;
  int32_t enterAnswer;
};

class MessageBoxTest : public ::testing::TestWithParam<BoxCase> {};

std::vector<std::string> ButtonTexts(QMessageBox& box) {
  std::vector<std::string> texts;
  for (QAbstractButton* b : box.buttons()) texts.push_back(b->text().toStdString());
  std::sort(texts.begin(), texts.end());
  return texts;
}

TEST_P(MessageBoxTest, StyleGivesIconButtonsDefaultAndTheAnswerToEnter) {
  const BoxCase& c = GetParam();
  auto box = ui::BuildMessageBox("line one\r\nline two <b>", c.style, "Tavrun", nullptr);
  EXPECT_EQ(box->windowTitle(), QStringLiteral("Tavrun"));
  EXPECT_EQ(box->icon(), c.icon);
  std::vector<std::string> expected = c.buttons;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ButtonTexts(*box), expected);
  ASSERT_NE(box->defaultButton(), nullptr);
  EXPECT_EQ(box->defaultButton()->text().toStdString(), c.defaultButton);
  EXPECT_EQ(box->text(), QStringLiteral("line one\nline two <b>"));
  EXPECT_EQ(box->textFormat(), Qt::PlainText);

  QTimer::singleShot(0, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      QTest::keyClick(modal, Qt::Key_Return);
    }
  });
  EXPECT_EQ(ui::ExecMessageBox(*box), c.enterAnswer);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxTest,
    ::testing::Values(
        BoxCase{16, QMessageBox::Critical, {"OK"}, "OK", IdOk},
        BoxCase{36, QMessageBox::Question, {"はい(&Y)", "いいえ(&N)"}, "はい(&Y)", IdYes},
        BoxCase{48, QMessageBox::Warning, {"OK"}, "OK", IdOk},
        BoxCase{64, QMessageBox::Information, {"OK"}, "OK", IdOk},
        BoxCase{292, QMessageBox::Question, {"はい(&Y)", "いいえ(&N)"}, "いいえ(&N)", IdNo}),
    [](const auto& info) { return "Style" + std::to_string(info.param.style); });

TEST(QtSeamsTest, QuestionsShowTheArrowAndTheWaitPointerNeverStacks) {
  ui::InstallQtSeams();
  SetMousePointer(PointerHourglass);
  SetMousePointer(PointerHourglass);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  Qt::CursorShape during = Qt::BlankCursor;
  QTimer::singleShot(0, [&during] {
    if (QGuiApplication::overrideCursor()) during = QGuiApplication::overrideCursor()->shape();
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    for (QAbstractButton* b : box->buttons()) {
      if (b->text() == QStringLiteral("はい(&Y)")) b->click();
    }
  });
  EXPECT_EQ(ShowMessage("続けますか？", MsgYesNoDefNo, "Tavrun"), IdYes);
  EXPECT_EQ(during, Qt::ArrowCursor);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  SetMousePointer(PointerDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "one reset restores the pointer";
  SetMessageBoxHandler(nullptr);
  SetMousePointerHandler(nullptr);
  SetShellOpenHandler(nullptr);
}

// ---- About dialog ------------------------------------------------------------------------

class VersionDialogTest : public UiTest {};

TEST_F(VersionDialogTest, ShowsTitleLongVersionAndAddressAndFitsItsWindow) {
  Init();
  ui::FrmTavrunVersion dialog;
  dialog.Form_Load();
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Tavrun Ver.0.1"));
  auto* label1 = dialog.findChild<QLabel*>(QStringLiteral("Label1"));
  auto* label2 = dialog.findChild<QLabel*>(QStringLiteral("Label2"));
  auto* label3 = dialog.findChild<QLabel*>(QStringLiteral("Label3"));
  EXPECT_EQ(label1->text(), QStringLiteral("Tavrun"));
  EXPECT_EQ(label2->text(), QStringLiteral("Ver.0.01.0000"));
  EXPECT_EQ(label3->text(), QString::fromUtf8(ui::kMakerWebAddress));
  EXPECT_EQ(label1->font().pointSize(), 12);
  EXPECT_TRUE(label1->font().bold());
  EXPECT_EQ(label2->font().pointSize(), 9);
  EXPECT_TRUE(label3->font().bold());
  EXPECT_EQ(dialog.size(), QSize(227, 135));
  for (QLabel* label : {label1, label2, label3}) {
    EXPECT_LE(label->geometry().right(), dialog.width()) << label->objectName().toStdString();
    EXPECT_GE(label->width(), label->sizeHint().width());
  }
  auto* image = dialog.findChild<QLabel*>(QStringLiteral("Image1"));
  EXPECT_EQ(image->pixmap().size(), QSize(32, 32));
}

TEST_F(VersionDialogTest, EscapeDoesNotCloseButEnterDoesAndItHasNoOwner) {
  Init();
  OpenMain();
  for (int round = 0; round < 2; ++round) {
    bool stayedOpen = false;
    bool ownerless = false;
    std::string title;
    QTimer::singleShot(0, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      ownerless = modal->parentWidget() == nullptr;
      title = modal->windowTitle().toStdString();
      QTest::keyClick(modal, Qt::Key_Escape);
      stayedOpen = QApplication::activeModalWidget() == modal && modal->isVisible();
      QTest::keyClick(modal, Qt::Key_Return);
    });
    window_->findChild<QAction*>(QStringLiteral("mnuVersion"))->trigger();
    EXPECT_TRUE(stayedOpen) << "round " << round;
    EXPECT_TRUE(ownerless);
    EXPECT_EQ(title, "Tavrun Ver.0.1");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
}

// ---- Log and readme commands -------------------------------------------------------------

class CommandsTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    SetShellOpenHandler([this](const std::string& path) { opened_.push_back(path); });
  }
  BoxScript Expect(const std::string& text, int32_t style, int32_t answer = IdOk) {
    return [text, style, answer](const MessageRecord& box) {
      EXPECT_EQ(box.prompt, text);
      EXPECT_EQ(box.style, style);
      EXPECT_EQ(box.title, "Tavrun");
      return answer;
    };
  }
  std::vector<std::string> opened_;
};

TEST_F(CommandsTest, ShowLogOpensAnExistingLogAndOtherwiseSaysItIsMissing) {
  Init();
  Script({Expect("ログファイルが存在しません。", MsgInformation)});
  ui::ShowLogCommand();
  EXPECT_TRUE(opened_.empty());

  fs::create_directory(App().LogFilePath);  // a folder of that name is no log
  Script({Expect("ログファイルが存在しません。", MsgInformation)});
  ui::ShowLogCommand();
  EXPECT_TRUE(opened_.empty());
  fs::remove(App().LogFilePath);

  WriteFile(App().LogFilePath, "a line\r\n");
  ui::ShowLogCommand();
  EXPECT_EQ(opened_, std::vector<std::string>{dir_ + "/Tavrun.log"});
}

TEST_F(CommandsTest, ClearLogAnsweredNoKeepsTheLog) {
  Init();
  WriteFile(App().LogFilePath, "kept\r\n");
  Script({Expect("ログを消去しますか？", MsgYesNoDefNo, IdNo)});
  ui::ClearLogCommand();
  EXPECT_EQ(ReadFile(App().LogFilePath), "kept\r\n");
}

TEST_F(CommandsTest, ClearLogWithoutALogAsksFirstThenWarns) {
  Init();
  Script({Expect("ログを消去しますか？", MsgYesNoDefNo, IdYes),
          Expect("ログファイルが存在しません。", MsgExclamation)});
  ui::ClearLogCommand();
}

TEST_F(CommandsTest, ClearLogDeletesAReadOnlyLog) {
  Init();
  WriteFile(App().LogFilePath, "old\r\n");
  ::chmod(App().LogFilePath.c_str(), 0444);
  Script({Expect("ログを消去しますか？", MsgYesNoDefNo, IdYes),
          Expect("消去しました。", MsgInformation)});
  ui::ClearLogCommand();
  EXPECT_FALSE(FileExists(App().LogFilePath));
  EXPECT_TRUE(FileExists(dir_)) << "only the file goes";
}

#if TAVRUN_TEST_AS_NOBODY
TEST_F(CommandsTest, ClearLogThatCannotBeDeletedNamesTheCauseAndKeepsTheLog) {
  Init();
  // A log in a folder the user may read but not change.
  ::chmod(dir_.c_str(), 0755);
  const std::string locked = dir_ + "/locked";
  fs::create_directory(locked);
  ::chmod(locked.c_str(), 0755);
  App().LogFilePath = locked + "/Tavrun.log";
  WriteFile(App().LogFilePath, "stays\r\n");
  const std::string outcome = testing::InChild([] {
    SetMessageBoxHandler(nullptr);
    ClearMessageHistory();
    SetNextMessageAnswer(IdYes);
    ui::ClearLogCommand();
    const auto& boxes = MessageHistory();
    if (boxes.size() != 2) return std::string("expected two boxes");
    const std::string first = "ログファイルを消去できません。\r\n";
    if (boxes[1].style != MsgExclamation) return "style " + std::to_string(boxes[1].style);
    if (boxes[1].prompt.rfind(first, 0) != 0) return "prompt: " + boxes[1].prompt;
    if (boxes[1].prompt.size() == first.size()) return std::string("no cause given");
    return std::string();
  });
  EXPECT_EQ(outcome, "");
  EXPECT_EQ(ReadFile(App().LogFilePath), "stays\r\n");
}
#endif

TEST_F(CommandsTest, ReadmeOpensWhenPresentAndIsNamedWhenMissing) {
  Init();
  Script({Expect("「Readme.txt」が存在しません。", MsgExclamation)});
  ui::OpenReadmeCommand();
  EXPECT_TRUE(opened_.empty());
  WriteFile(App().ReadmeFilePath, "readme\r\n");
  OpenMain();
  window_->findChild<QAction*>(QStringLiteral("mnuReadme"))->trigger();
  EXPECT_EQ(opened_, std::vector<std::string>{dir_ + "/Readme.txt"});
}

TEST_F(CommandsTest, LogMenuEntriesReachTheCommands) {
  Init();
  WriteFile(App().LogFilePath, "x\r\n");
  OpenMain();
  window_->findChild<QAction*>(QStringLiteral("mnuLog"))->trigger();
  EXPECT_EQ(opened_.size(), 1u);
  Script({Expect("ログを消去しますか？", MsgYesNoDefNo, IdYes),
          Expect("消去しました。", MsgInformation)});
  window_->findChild<QAction*>(QStringLiteral("mnuClearLog"))->trigger();
  EXPECT_FALSE(FileExists(App().LogFilePath));
}

}  // namespace
}  // namespace tavrun::uitest
