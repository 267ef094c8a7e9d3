// The main window on its own: what it shows after loading, the operation and format switches,
// the boxes (drops, focus, locking), the status bar and the window side of a run's lock.
#include <QAction>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>

#include "app/settings.h"
#include "engine/feedback.h"
#include "ui/folder_select.h"
#include "ui/key_state.h"
#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

using ui::FrmTavrunMain;

// What the two frames show: selected operation, and per format button enabled/selected.
struct Shown {
  int operation;  // -1 none
  bool lzhEnabled, lzhSelected, zipEnabled, zipSelected;
};

class MainWindowTest : public UiTest {
 protected:
  Shown State() {
    auto* op0 = Find<QRadioButton>("Option1_0");
    auto* op1 = Find<QRadioButton>("Option1_1");
    auto* lzh = Find<QRadioButton>("Option2_0");
    auto* zip = Find<QRadioButton>("Option2_1");
    return Shown{op0->isChecked()   ? 0
                 : op1->isChecked() ? 1
                                    : -1,
                 lzh->isEnabled(), lzh->isChecked(), zip->isEnabled(), zip->isChecked()};
  }
  void Click(const char* name) {
    auto* button = Find<QAbstractButton>(name);
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  }
  void Drop(const char* box, QMimeData* data) {
    auto* target = Find<QLineEdit>(box);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &enter);
    lastDragAccepted_ = enter.isAccepted();
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &drop);
  }
  bool lastDragAccepted_ = false;
};

void ExpectShown(const Shown& actual, const Shown& expected) {
  EXPECT_EQ(actual.operation, expected.operation);
  EXPECT_EQ(actual.lzhEnabled, expected.lzhEnabled);
  EXPECT_EQ(actual.lzhSelected, expected.lzhSelected);
  EXPECT_EQ(actual.zipEnabled, expected.zipEnabled);
  EXPECT_EQ(actual.zipSelected, expected.zipSelected);
}

// ---- The window itself -------------------------------------------------------------------

TEST_F(MainWindowTest, FixedWindowWithTheClientAreaOfTheLayoutAndItsCaption) {
  Init();
  FrmTavrunMain* w = OpenMain();
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Tavrun Ver.0.1"));
  // Client area below the menu bar: 394 x 234 pixels, the status bar its last 17 rows.
  QWidget* client = w->centralWidget();
  QWidget* bar = Find<QWidget>("StatusBar1");
  EXPECT_EQ(client->size(), QSize(394, 234));
  EXPECT_EQ(bar->geometry(), QRect(0, 217, 394, 17));
  EXPECT_EQ(w->height(), w->menuBar()->height() + 234);
  EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "the border must be fixed";
  EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(w->windowIcon().isNull());
  EXPECT_EQ(w->windowIcon().availableSizes().size(), 2);
}

TEST_F(MainWindowTest, EveryControlLiesInsideItsParentAndLabelsShowTheirWholeCaption) {
  Init();
  FrmTavrunMain* w = OpenMain();
  for (QWidget* child : w->centralWidget()->findChildren<QWidget*>()) {
    const QRect area = child->parentWidget()->rect();
    EXPECT_TRUE(area.contains(child->geometry()))
        << child->objectName().toStdString() << " leaves its parent";
  }
  for (const char* name : {"Label1", "Label2"}) {
    auto* label = Find<QLabel>(name);
    EXPECT_GE(label->width(), label->sizeHint().width()) << name;
  }
  // Frame captions fit their frames.
  for (const char* name : {"Frame1", "Frame2"}) {
    auto* frame = Find<QGroupBox>(name);
    EXPECT_LE(frame->fontMetrics().horizontalAdvance(frame->title()), frame->width()) << name;
  }
}

TEST_F(MainWindowTest, TabVisitsTheControlsInTheOrderOfTheLayout) {
  Init("[INIT]\r\nFromDirectory=/a\r\nToDirectory=/b\r\n");
  OpenMain();
  Find<QWidget>("Text1")->setFocus(Qt::TabFocusReason);
  std::vector<std::string> visited{FocusedName()};
  for (int i = 0; i < 9; ++i) {
    QTest::keyClick(FocusedWidget(), Qt::Key_Tab);
    visited.push_back(FocusedName());
  }
  // Radio buttons of one frame are one stop, at the selected button, as arrows move within.
  const std::vector<std::string> expected{"Text1",     "Command1", "Text2", "Command2", "Option1_0",
                                          "Option2_0", "Command3", "Text1", "Command1", "Text2"};
  EXPECT_EQ(visited, expected);
}

TEST_F(MainWindowTest, LabelAccessKeysLeadToTheirBoxes) {
  Init();
  OpenMain();
  Find<QWidget>("Command3")->setFocus();
  QTest::keyClick(window_.get(), Qt::Key_F, Qt::AltModifier);
  EXPECT_EQ(FocusedName(), "Text1");
}

TEST_F(MainWindowTest, NoButtonAnswersEnterOrEscape) {
  Init("[INIT]\r\nFromDirectory=/nonexistent-source\r\n");
  OpenMain();
  for (const char* name : {"Command1", "Command2", "Command3"}) {
    auto* button = Find<QPushButton>(name);
    EXPECT_FALSE(button->isDefault()) << name;
    EXPECT_FALSE(button->autoDefault()) << name;
  }
  Find<QWidget>("Text1")->setFocus();
  QTest::keyClick(FocusedWidget(), Qt::Key_Return);
  QTest::keyClick(FocusedWidget(), Qt::Key_Escape);
  EXPECT_TRUE(Messages().empty()) << "Enter or Escape started something";
}

// ---- State after loading -----------------------------------------------------------------

struct StartCase {
  const char* name;
  std::string ini;
  Libraries libraries;
  Shown shown;
  std::string compressType, extractType;
};

class StartStateTest : public MainWindowTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartStateTest, ShowsTheStoredOperationAndAnAvailableFormat) {
  const StartCase& c = GetParam();
  Init(c.ini, c.libraries);
  OpenMain();
  ExpectShown(State(), c.shown);
  EXPECT_EQ(Setting(CompressType), c.compressType);
  EXPECT_EQ(Setting(ExtractType), c.extractType);
  EXPECT_TRUE(window_->statusPanelText(1).isEmpty());
}

const Libraries kAll{true, true, true};
const Libraries kNone{false, false, false};
const Libraries kNoZipCreate{true, false, true};
const Libraries kOnlyZipExtract{false, false, true};

INSTANTIATE_TEST_SUITE_P(
    Cases, StartStateTest,
    ::testing::Values(StartCase{"NoFile", "", kAll, {0, true, true, true, false}, "0", "0"},
                      StartCase{"ExtractZip",
                                "[INIT]\r\nArchiveType=1\r\nExtractType=1\r\n",
                                kAll,
                                {1, true, false, true, true},
                                "0",
                                "1"},
                      StartCase{"CompressZipWithoutZipLibrary",
                                "[INIT]\r\nCompressType=1\r\n",
                                kNoZipCreate,
                                {0, true, true, false, false},
                                "0",
                                "0"},
                      StartCase{"NoLibraryAtAll",
                                "[INIT]\r\nCompressType=1\r\nExtractType=1\r\n",
                                kNone,
                                {0, false, false, false, false},
                                "-1",
                                "1"},
                      StartCase{"ExtractWithOnlyZipExtraction",
                                "[INIT]\r\nArchiveType=1\r\n",
                                kOnlyZipExtract,
                                {1, false, false, true, true},
                                "0",
                                "1"},
                      // A value kept as read ("1.0" is a valid 1) is read as a whole number.
                      StartCase{"FractionalText",
                                "[INIT]\r\nArchiveType=1.0\r\nExtractType=1.0\r\n",
                                kAll,
                                {1, true, false, true, true},
                                "0",
                                "1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, BoxesShowTheStoredDirectoriesWithMatchingTooltips) {
  Init("[INIT]\r\nFromDirectory=/srv/in dir\r\nToDirectory=/srv/out\r\n");
  OpenMain();
  EXPECT_EQ(Find<QLineEdit>("Text1")->text(), QStringLiteral("/srv/in dir"));
  EXPECT_EQ(Find<QLineEdit>("Text1")->toolTip(), QStringLiteral("/srv/in dir"));
  EXPECT_EQ(Find<QLineEdit>("Text2")->text(), QStringLiteral("/srv/out"));
  EXPECT_EQ(Find<QLineEdit>("Text2")->toolTip(), QStringLiteral("/srv/out"));
}

// ---- Operation and format switches -------------------------------------------------------

TEST_F(MainWindowTest, SwitchingToExtractKeepsTheFormatInUse) {
  Init("[INIT]\r\nCompressType=1\r\nExtractType=0\r\n", kAll);
  OpenMain();
  ExpectShown(State(), {0, true, false, true, true});
  Click("Option1_1");
  ExpectShown(State(), {1, true, false, true, true});
  EXPECT_EQ(Setting(ArchiveType), "1");
  EXPECT_EQ(Setting(ExtractType), "1");
}

TEST_F(MainWindowTest, MissingZipCreationFallsBackToLzhAndBack) {
  Init("[INIT]\r\nArchiveType=1\r\nExtractType=1\r\n", kNoZipCreate);
  OpenMain();
  ExpectShown(State(), {1, true, false, true, true});
  Click("Option1_0");
  ExpectShown(State(), {0, true, true, false, false});
  EXPECT_EQ(Setting(CompressType), "0");
  Click("Option1_1");
  // ZIP is usable again, but the format in use (LZH) carries over.
  ExpectShown(State(), {1, true, true, true, false});
  EXPECT_EQ(Setting(ExtractType), "0");
}

TEST_F(MainWindowTest, WithoutLibrariesEverySwitchLeavesNoFormat) {
  Init("", kNone);
  OpenMain();
  for (const char* op : {"Option1_1", "Option1_0", "Option1_1"}) {
    Click(op);
    const Shown s = State();
    EXPECT_FALSE(s.lzhEnabled || s.lzhSelected || s.zipEnabled || s.zipSelected) << op;
  }
  EXPECT_EQ(Setting(ArchiveType), "1");
  EXPECT_EQ(Setting(CompressType), "-1");
  EXPECT_EQ(Setting(ExtractType), "-1");
}

TEST_F(MainWindowTest, FormatClicksAreRememberedPerOperation) {
  Init("", kAll);
  OpenMain();
  Click("Option2_1");  // compress with ZIP
  EXPECT_EQ(Setting(CompressType), "1");
  EXPECT_EQ(Setting(ExtractType), "0");
  Click("Option1_1");
  Click("Option2_0");  // extract with LZH
  EXPECT_EQ(Setting(ExtractType), "0");
  EXPECT_EQ(Setting(CompressType), "1");
  Click("Option1_0");  // the format in use, LZH, carries over to compress
  EXPECT_EQ(Setting(CompressType), "0");
  ExpectShown(State(), {0, true, true, true, false});
}

TEST_F(MainWindowTest, FormatSwitchWithoutAnOperationChangesNoSetting) {
  Init("", kAll);
  OpenMain();
  Setting(ArchiveType) = "-1";
  window_->Option2_Click(1);
  EXPECT_EQ(Setting(CompressType), "0");
  EXPECT_EQ(Setting(ExtractType), "0");
}

TEST_F(MainWindowTest, ArrowKeysSwitchTheOperationLikeAClick) {
  Init("[INIT]\r\nCompressType=1\r\n", kAll);
  OpenMain();
  Find<QWidget>("Option1_0")->setFocus();
  QTest::keyClick(FocusedWidget(), Qt::Key_Right);
  EXPECT_EQ(Setting(ArchiveType), "1");
  EXPECT_EQ(Setting(ExtractType), "1");
}

// ---- The directory boxes -----------------------------------------------------------------

TEST_F(MainWindowTest, DroppingFilesTakesTheFirstPathAsDropped) {
  Init();
  OpenMain();
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(QStringLiteral("/data/one file.txt")),
                 QUrl::fromLocalFile(QStringLiteral("/data/two")),
                 QUrl::fromLocalFile(QStringLiteral("/data/three"))});
  Drop("Text2", &files);
  EXPECT_TRUE(lastDragAccepted_);
  EXPECT_EQ(Find<QLineEdit>("Text2")->text(), QStringLiteral("/data/one file.txt"));
  EXPECT_EQ(Find<QLineEdit>("Text2")->toolTip(), QStringLiteral("/data/one file.txt"));
  EXPECT_TRUE(Find<QLineEdit>("Text1")->text().isEmpty());
  // A drop never touches the settings; only a run copies the boxes.
  EXPECT_EQ(Setting(ToDirectory), "");
}

TEST_F(MainWindowTest, DroppingTextOrWebAddressesChangesNothing) {
  Init("[INIT]\r\nFromDirectory=/kept\r\n");
  OpenMain();
  QMimeData text;
  text.setText(QStringLiteral("/typed/path"));
  Drop("Text1", &text);
  EXPECT_FALSE(lastDragAccepted_);
  QMimeData web;
  web.setUrls({QUrl(QStringLiteral("https://example.org/file.zip"))});
  Drop("Text1", &web);
  EXPECT_FALSE(lastDragAccepted_);
  EXPECT_EQ(Find<QLineEdit>("Text1")->text(), QStringLiteral("/kept"));
}

TEST_F(MainWindowTest, BoxesAreLockedButAcceptDropsAndLookLikeButtons) {
  Init("[INIT]\r\nFromDirectory=/kept\r\n");
  OpenMain();
  auto* box = Find<QLineEdit>("Text1");
  EXPECT_TRUE(box->acceptDrops());
  EXPECT_EQ(box->palette().color(QPalette::Base), box->palette().color(QPalette::Button));
  box->setFocus();
  QTest::keyClicks(box, "xyz");
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(box->text(), QStringLiteral("/kept"));
}

TEST_F(MainWindowTest, FocusSelectsTheWholeText) {
  Init("[INIT]\r\nFromDirectory=/a/b\r\nToDirectory=/c\r\n");
  OpenMain();
  Find<QWidget>("Command1")->setFocus();
  QTest::keyClick(FocusedWidget(), Qt::Key_Tab);
  auto* text2 = Find<QLineEdit>("Text2");
  ASSERT_EQ(FocusedWidget(), text2);
  EXPECT_EQ(text2->selectedText(), QStringLiteral("/c"));
  // The program giving the focus selects as well.
  window_->FocusControl("Text1");
  EXPECT_EQ(Find<QLineEdit>("Text1")->selectedText(), QStringLiteral("/a/b"));
}

TEST_F(MainWindowTest, AnEmptyBoxGetsTheFocusWithTheCaretAtTheStart) {
  Init();
  OpenMain();
  window_->FocusControl("Text2");
  auto* box = Find<QLineEdit>("Text2");
  EXPECT_FALSE(box->hasSelectedText());
  EXPECT_EQ(box->cursorPosition(), 0);
}

// ---- Browse buttons ----------------------------------------------------------------------

TEST_F(MainWindowTest, BrowsePutsTheChosenDirectoryInItsBox) {
  Init("[INIT]\r\nFromDirectory=/old\r\n");
  OpenMain();
  QWidget* owner = nullptr;
  ui::SetFolderChooserHandler([&owner](QWidget* w) {
    owner = w;
    return std::string("/");
  });
  Click("Command1");
  EXPECT_EQ(owner, window_.get());
  EXPECT_EQ(Find<QLineEdit>("Text1")->text(), QStringLiteral("/"));
  EXPECT_EQ(Find<QLineEdit>("Text1")->toolTip(), QStringLiteral("/"));
  EXPECT_EQ(FocusedName(), "Text1");
  EXPECT_EQ(Setting(FromDirectory), "/old");
}

TEST_F(MainWindowTest, CancelledBrowseKeepsTheTextAndSelectsIt) {
  Init("[INIT]\r\nToDirectory=/kept/here\r\n");
  OpenMain();
  ui::SetNextDirectory("");
  Click("Command2");
  auto* box = Find<QLineEdit>("Text2");
  EXPECT_EQ(box->text(), QStringLiteral("/kept/here"));
  EXPECT_EQ(FocusedWidget(), box);
  EXPECT_EQ(box->selectedText(), QStringLiteral("/kept/here"));
}

TEST_F(MainWindowTest, MenuEntriesBrowseLikeTheButtons) {
  Init();
  OpenMain();
  ui::SetNextDirectory("/from/menu");
  ui::SetNextDirectory("/to/menu");
  window_->findChild<QAction*>(QStringLiteral("mnuFrom"))->trigger();
  window_->findChild<QAction*>(QStringLiteral("mnuTo"))->trigger();
  EXPECT_EQ(Find<QLineEdit>("Text1")->text(), QStringLiteral("/from/menu"));
  EXPECT_EQ(Find<QLineEdit>("Text2")->text(), QStringLiteral("/to/menu"));
  EXPECT_EQ(FocusedName(), "Text2");
  EXPECT_EQ(ui::FolderChooserCalls(), 2);
}

// ---- Status bar --------------------------------------------------------------------------

TEST_F(MainWindowTest, LockKeyPanelsFollowTheKeys) {
  Init();
  FrmTavrunMain* w = OpenMain();
  if (w->lockKeys().readsServerState()) GTEST_SKIP() << "lock states come from the X server";
  auto* caps = Find<QLabel>("StatusBar1_2");
  auto* num = Find<QLabel>("StatusBar1_3");
  auto* ins = Find<QLabel>("StatusBar1_4");
  EXPECT_EQ(caps->text(), QStringLiteral("CAPS"));
  EXPECT_EQ(num->text(), QStringLiteral("NUM"));
  EXPECT_EQ(ins->text(), QStringLiteral("INS"));
  EXPECT_FALSE(caps->isEnabled());
  QWindow* handle = w->windowHandle();
  QTest::keyClick(handle, Qt::Key_CapsLock);
  EXPECT_TRUE(caps->isEnabled());
  EXPECT_FALSE(num->isEnabled());
  QTest::keyClick(handle, Qt::Key_Insert);
  QTest::keyClick(handle, Qt::Key_NumLock);
  EXPECT_TRUE(ins->isEnabled());
  EXPECT_TRUE(num->isEnabled());
  QTest::keyClick(handle, Qt::Key_CapsLock);
  QTest::keyClick(handle, Qt::Key_Insert);
  EXPECT_FALSE(caps->isEnabled());
  EXPECT_FALSE(ins->isEnabled());
  EXPECT_TRUE(num->isEnabled());
  // Other keys and the progress text leave the indicators alone.
  QTest::keyClick(handle, Qt::Key_A);
  w->SetStatusPanelText("3 / 7");
  EXPECT_EQ(w->statusPanelText(1), QStringLiteral("3 / 7"));
  w->SetStatusPanelText("");
  EXPECT_TRUE(w->statusPanelText(1).isEmpty());
  EXPECT_TRUE(num->isEnabled());
  EXPECT_EQ(caps->text(), QStringLiteral("CAPS"));
}

TEST_F(MainWindowTest, IndicatorPanelsAreNarrowAndTheTextPanelTakesTheRest) {
  Init();
  OpenMain();
  for (const char* name : {"StatusBar1_2", "StatusBar1_3", "StatusBar1_4"}) {
    EXPECT_EQ(Find<QLabel>(name)->width(), 48) << name;
  }
  const int rest = Find<QLabel>("StatusBar1_1")->width();
  EXPECT_GE(rest, 96);
  EXPECT_GE(rest + 3 * 48, 394 - 12);  // only the bar's spacing between panels is left over
}

// ---- The window side of a run's lock -----------------------------------------------------

TEST_F(MainWindowTest, LockingDisablesEveryListedControlAndUnlockingRestoresThem) {
  Init("", kNoZipCreate);
  FrmTavrunMain* w = OpenMain();
  ASSERT_FALSE(Find<QWidget>("Option2_1")->isEnabled());
  SetControlsEnabled(*w, false);
  for (const char* name : {"mnuD", "mnuT", "mnuH"}) {
    EXPECT_FALSE(w->findChild<QMenu*>(QString::fromUtf8(name))->menuAction()->isEnabled()) << name;
  }
  for (const char* name : {"Label1", "Label2", "Text1", "Text2", "Command1", "Command2", "Command3",
                           "Frame1", "Frame2", "Option1_0", "Option2_0"}) {
    EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
  }
  // The menus cannot be opened, so their entries are out of reach too.
  EXPECT_FALSE(w->findChild<QMenu*>(QStringLiteral("mnuD"))->isEnabled());
  SetControlsEnabled(*w, true);
  for (const char* name : {"Label1", "Label2", "Text1", "Text2", "Command1", "Command2", "Command3",
                           "Frame1", "Frame2", "Option1_0", "Option1_1", "Option2_0"}) {
    EXPECT_TRUE(Find<QWidget>(name)->isEnabled()) << name;
  }
  EXPECT_TRUE(w->findChild<QMenu*>(QStringLiteral("mnuD"))->menuAction()->isEnabled());
  EXPECT_FALSE(Find<QWidget>("Option2_1")->isEnabled()) << "its own state is the window's";
}

TEST_F(MainWindowTest, TheEngineReadsTheWidgets) {
  Init("[INIT]\r\nArchiveType=1\r\nExtractType=1\r\nFromDirectory=/x\r\nToDirectory=/y\r\n");
  FrmTavrunMain* w = OpenMain();
  EXPECT_EQ(w->BoxText("Text1"), "/x");
  EXPECT_EQ(w->BoxText("Text2"), "/y");
  EXPECT_EQ(w->OptionCount("Option1"), 2);
  EXPECT_EQ(w->OptionCount("Option2"), 2);
  EXPECT_FALSE(w->OptionSelected("Option1", 0));
  EXPECT_TRUE(w->OptionSelected("Option1", 1));
  EXPECT_FALSE(w->OptionSelected("Option2", 0));
  EXPECT_TRUE(w->OptionSelected("Option2", 1));
  EXPECT_FALSE(w->OptionSelected("Option2", 2));
  EXPECT_NE(w->NativeHandle(), 0u);
  EXPECT_EQ(QWidget::find(static_cast<WId>(w->NativeHandle())), w);
  w->FocusControl("Option1(1)");
  EXPECT_EQ(FocusedName(), "Option1_1");
}

}  // namespace
}  // namespace tavrun::uitest
