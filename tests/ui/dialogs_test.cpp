// Message boxes as the program shows them, the wait pointer, and the log and readme commands.
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
#include <algorithm>
#include <filesystem>

#include "app/settings.h"
#include "ui/commands.h"
#include "ui/folder_select.h"
#include "ui/qt_seams.h"
#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

// ---- Message boxes and the pointer ---------------------------------------------------------

struct BoxCase {
  int32_t style;
  QMessageBox::Icon icon;
  std::vector<std::string> buttons;  // sorted
  std::string defaultButton;
  int32_t enterAnswer;
  friend void PrintTo(const BoxCase& c, std::ostream* os) { *os << "style " << c.style; }
};

class MessageBoxTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxTest, StyleGivesIconButtonsDefaultAndTheAnswerToEnter) {
  const BoxCase& c = GetParam();
  auto box = ui::BuildMessageBox("line one\r\nline two <b>", c.style, "Tavrun", nullptr);
  EXPECT_EQ(box->windowTitle(), QStringLiteral("Tavrun"));
  EXPECT_EQ(box->icon(), c.icon);
  std::vector<std::string> buttons;
  for (QAbstractButton* b : box->buttons()) buttons.push_back(b->text().toStdString());
  std::sort(buttons.begin(), buttons.end());
  EXPECT_EQ(buttons, c.buttons);
  ASSERT_NE(box->defaultButton(), nullptr);
  EXPECT_EQ(box->defaultButton()->text().toStdString(), c.defaultButton);
  EXPECT_EQ(box->text(), QStringLiteral("line one\nline two <b>"));
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  QTimer::singleShot(0, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) QTest::keyClick(modal, Qt::Key_Return);
  });
  EXPECT_EQ(ui::ExecMessageBox(*box), c.enterAnswer);
}

const std::vector<std::string> kYesNo{"いいえ(&N)", "はい(&Y)"};
INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxTest,
    ::testing::Values(BoxCase{16, QMessageBox::Critical, {"OK"}, "OK", IdOk},
                      BoxCase{36, QMessageBox::Question, kYesNo, "はい(&Y)", IdYes},
                      BoxCase{48, QMessageBox::Warning, {"OK"}, "OK", IdOk},
                      BoxCase{64, QMessageBox::Information, {"OK"}, "OK", IdOk},
                      BoxCase{292, QMessageBox::Question, kYesNo, "いいえ(&N)", IdNo},
                      BoxCase{0, QMessageBox::NoIcon, {"OK"}, "OK", IdOk}),
    [](const auto& info) { return "Style" + std::to_string(info.param.style); });

// The hourglass of a run covers its boxes: the confirmation and the result are shown with it.
TEST(QtSeamsTest, BoxesKeepTheWaitPointerAndItNeverStacks) {
  ui::InstallQtSeams();
  SetMousePointer(PointerHourglass);
  SetMousePointer(PointerHourglass);
  Qt::CursorShape during = Qt::BlankCursor;
  QTimer::singleShot(0, [&during] {
    during = QGuiApplication::overrideCursor()->shape();
    for (QAbstractButton* b : QApplication::activeModalWidget()->findChildren<QAbstractButton*>()) {
      if (b->text() == QStringLiteral("はい(&Y)")) b->click();
    }
  });
  EXPECT_EQ(ShowMessage("続けますか？", MsgYesNoDefNo, "Tavrun"), IdYes);
  EXPECT_EQ(during, Qt::WaitCursor);
  during = Qt::BlankCursor;
  QTimer::singleShot(0, [&during] {
    during = QGuiApplication::overrideCursor()->shape();
    QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
  });
  EXPECT_EQ(ShowMessage("処理が正常終了しました。", MsgInformation, "Tavrun"), IdOk);
  EXPECT_EQ(during, Qt::WaitCursor);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  SetMousePointer(PointerDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "one reset restores the pointer";
  SetMessageBoxHandler(nullptr);
  SetMousePointerHandler(nullptr);
  SetShellOpenHandler(nullptr);
}

// ---- The folder chooser -------------------------------------------------------------------

// The real chooser, looked at once it has listed "/": folders by name and date only (a type
// column would say "Folder" on every row), the date column wide enough for its dates, and the
// chooser's own labels in Japanese once the translation shipped with the program is loaded.
TEST(FolderChooserTest, ListsNamesAndWholeDatesInJapanese) {
  ui::ClearFolderChooserSeam();
  QTranslator translator;
  ASSERT_TRUE(
      translator.load(QStringLiteral("qtbase_ja.qm"), QStringLiteral(TAVRUN_COMPONENT_DIR)));
  QCoreApplication::installTranslator(&translator);
  std::string seen = "not shown";
  int ticks = 0;
  QTimer poll;
  // Waits, as QTRY_ does, until the listing shows whole dates, or gives up and reports.
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    auto* view = dialog ? dialog->findChild<QTreeView*>(QStringLiteral("treeView")) : nullptr;
    if (!view || view->model()->rowCount(view->rootIndex()) == 0) return;
    std::string state;
    for (int column = 0; column < view->model()->columnCount(view->rootIndex()); ++column) {
      if (!view->isColumnHidden(column)) {
        state += view->model()->headerData(column, Qt::Horizontal).toString().toStdString() + "|";
      }
    }
    int widest = 0;
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
      const QString date = view->model()->index(row, 3, view->rootIndex()).data().toString();
      widest = std::max(widest, view->fontMetrics().horizontalAdvance(date));
    }
    const int width = view->header()->sectionSize(3);
    state += width > widest ? "whole dates"
                            : "cut " + std::to_string(width) + " " + std::to_string(widest);
    auto* lookIn = dialog->findChild<QLabel*>(QStringLiteral("lookInLabel"));
    if (lookIn && lookIn->text() == QStringLiteral("Look in:")) state += " untranslated";
    seen = state;
    if (state.find("whole dates") == std::string::npos && ++ticks < 2000) return;
    poll.stop();
    dialog->reject();
  });
  poll.start(5);
  EXPECT_EQ(ui::SelectDirectory(nullptr), "");
  const std::string name = QCoreApplication::translate("QFileSystemModel", "Name").toStdString();
  const std::string date =
      QCoreApplication::translate("QFileSystemModel", "Date Modified").toStdString();
  QCoreApplication::removeTranslator(&translator);
  EXPECT_EQ(seen, name + "|" + date + "|whole dates");
}

// ---- The log and readme commands --------------------------------------------------------

class CommandsTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    SetShellOpenHandler([this](const std::string& path) { opened_.push_back(path); });
    Init();
    OpenMain();
  }
  std::vector<std::string> opened_;
};

TEST_F(CommandsTest, LogAndReadmeOpenWhenTheyArePlainFilesAndAreMissedOtherwise) {
  Script({Expect("ログファイルが存在しません。", MsgInformation),
          Expect("ログファイルが存在しません。", MsgInformation),
          Expect("「Readme.txt」が存在しません。", MsgExclamation)});
  Trigger("mnuLog");
  std::filesystem::create_directory(App().LogFilePath);  // a folder of that name is no log
  Trigger("mnuLog");
  Trigger("mnuReadme");
  EXPECT_TRUE(opened_.empty());
  std::filesystem::remove(App().LogFilePath);
  WriteBytes(App().LogFilePath, "a line\r\n");
  WriteBytes(App().ReadmeFilePath, "readme\r\n");
  Trigger("mnuLog");
  Trigger("mnuReadme");
  EXPECT_EQ(opened_, (std::vector<std::string>{dir_ + "/Tavrun.log", dir_ + "/Readme.txt"}));
}

TEST_F(CommandsTest, ClearLogAsksFirstDeletesEvenAReadOnlyLogAndNamesWhyItCannot) {
  const std::string ask = "ログを消去しますか？";
  Script(
      {Expect(ask, MsgYesNoDefNo, IdYes), Expect("ログファイルが存在しません。", MsgExclamation)});
  Trigger("mnuClearLog");
  WriteBytes(App().LogFilePath, "old\r\n");
  ::chmod(App().LogFilePath.c_str(), 0444);
  Script({Expect(ask, MsgYesNoDefNo, IdNo)});
  Trigger("mnuClearLog");
  EXPECT_EQ(ReadBytes(App().LogFilePath), "old\r\n");
  Script({Expect(ask, MsgYesNoDefNo, IdYes), Expect("消去しました。", MsgInformation)});
  Trigger("mnuClearLog");
  EXPECT_FALSE(Exists(App().LogFilePath));

  // A log in a folder the user may not change (root may change any: the child is nobody).
  ::chmod(dir_.c_str(), 0755);
  std::filesystem::create_directory(dir_ + "/locked");
  App().LogFilePath = dir_ + "/locked/Tavrun.log";
  WriteBytes(App().LogFilePath, "stays\r\n");
  const std::string shown = testing::InChild([this, ask] {
    std::string second;
    script_ = {Expect(ask, MsgYesNoDefNo, IdYes), [&second](const MessageRecord& box) {
                 second = std::to_string(box.style) + " " + box.prompt;
                 return IdOk;
               }};
    ui::ClearLogCommand();
    return second;
  });
  const std::string cannot = "48 ログファイルを消去できません。\r\n";
  EXPECT_EQ(shown.rfind(cannot, 0), 0u) << shown;
  EXPECT_GT(shown.size(), cannot.size()) << "the cause must be named";
  EXPECT_EQ(ReadBytes(App().LogFilePath), "stays\r\n");
}

}  // namespace
}  // namespace tavrun::uitest
