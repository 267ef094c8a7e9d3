// The options dialog: settings into controls and back into the file, and the ways it closes.
#include "ui/option_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "app/settings.h"
#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

class OptionDialogTest : public UiTest {
 protected:
  void Open() {
    dialog_ = std::make_unique<ui::FrmTavrunOption>();
    dialog_->Form_Load();
  }
  template <class T = QWidget>
  T* In(const QString& name) const {
    return dialog_->findChild<T*>(name);
  }
  // The check boxes and radio buttons by name (Check1_0, Check2_0.., Check3_0.., Option1_0..
  // the LZH method, Option2_0.. the log level) as 1 or 0 by group, then the slider.
  std::string Shown() const {
    auto buttons = dialog_->findChildren<QAbstractButton*>(QRegularExpression("^(Check|Option)"));
    std::sort(buttons.begin(), buttons.end(),
              [](auto* a, auto* b) { return a->objectName() < b->objectName(); });
    std::string shown;
    QString group = buttons.front()->objectName().section('_', 0, 0);
    for (QAbstractButton* b : buttons) {
      if (b->objectName().section('_', 0, 0) != group) shown += ' ';
      group = b->objectName().section('_', 0, 0);
      shown += b->isChecked() ? '1' : '0';
    }
    return shown + " " + std::to_string(In<QSlider>("Slider1")->value());
  }
  // The file's option keys, MakeDirectory to UNZIP OverwriteConfirm.
  std::string SavedOptions() const {
    SettingValueTable values;
    std::string errorText, saved;
    EXPECT_TRUE(ReadIniValues(ini_, SettingCount, App().SettingKeys, values, errorText));
    for (int i = MakeDirectory; i < SettingCount; ++i) saved += values[i] + " ";
    return saved;
  }
  std::unique_ptr<ui::FrmTavrunOption> dialog_;
};

struct MappingCase {
  const char* name;
  const char* ini;
  const char* shown;
  const char* saved;  // by Save without a change
  friend void PrintTo(const MappingCase& c, std::ostream* os) { *os << c.name; }
};

class MappingTest : public OptionDialogTest, public ::testing::WithParamInterface<MappingCase> {};

TEST_P(MappingTest, LoadShowsAndSaveWritesTheMappedValue) {
  Init(GetParam().ini);
  Open();
  EXPECT_EQ(Shown(), GetParam().shown);
  In<QAbstractButton>("Command1")->click();
  EXPECT_EQ(SavedOptions(), GetParam().saved);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Values, MappingTest, ::testing::Values(
    MappingCase{"Defaults", "", "0 00000 0000 0100 1000 6", "0 9 0 0 0 0 2 0 0 0 6 0 0 "},
    MappingCase{"ErrorsLh0Zip0", "[COMMON]\r\nLogLevel=3\r\n[LZH]\r\nCompressRate=0\r\n[ZIP]\r\n"
                "CompressRate=0", "0 00000 0000 1000 0100 0", "0 3 0 0 0 0 0 0 0 0 0 0 0 "},
    MappingCase{"WarningsLh6Zip9", "[COMMON]\r\nLogLevel=2.0\r\n[LZH]\r\nCompressRate=3\r\n"
                "[ZIP]\r\nCompressRate=9", "0 00000 0000 0010 0010 9", "0 2 0 0 0 0 3 0 0 0 9 0 0 "},
    MappingCase{"AllLh7Zip12", "[COMMON]\r\nLogLevel=0\r\n[LZH]\r\nCompressRate=4\r\n[ZIP]\r\n"
                "CompressRate=12", "0 00000 0000 0001 0001 6", "0 0 0 0 0 0 4 0 0 0 6 0 0 "},
    // Values without a control of their own show as their neighbours and are saved so.
    MappingCase{"OddValues", "[COMMON]\r\nLogLevel=1\r\n[LZH]\r\nCompressRate=1\r\n[UNZIP]\r\n"
                "OverwriteConfirm=1", "0 00000 0000 0100 1000 6", "0 9 0 0 0 0 2 0 0 0 6 0 0 "},
    // The two questions of the extraction are on at 2 only.
    MappingCase{"EveryFlagOne", "[COMMON]\r\nMakeDirectory=1\r\n[LZH]\r\nCheckTimestamp=1\r\n"
                "ControlDialog=1\r\nArchiveTime=1\r\nOverwriteConfirm=1\r\nReadonlyConfirm=1\r\n"
                "[ZIP]\r\nControlDialog=1\r\nArchiveTime=1\r\n[UNZIP]\r\nControlDialog=1\r\n"
                "OverwriteConfirm=1", "1 11110 1110 0100 1000 6", "1 9 1 1 1 1 2 0 1 1 6 1 0 "},
    MappingCase{"QuestionsAtTwo", "[COMMON]\r\nMakeDirectory=0.4\r\n[LZH]\r\nReadonlyConfirm=2"
                "\r\n[UNZIP]\r\nOverwriteConfirm=2", "0 00001 0001 0100 1000 6",
                "0 9 0 0 0 0 2 2 0 0 6 0 2 "}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Opened from the menu over the window: Cancel and Escape keep the settings and the file as
// they were, Enter saves.
TEST_F(OptionDialogTest, FromTheMenuCancelAndEscapeKeepEverythingAndEnterSaves) {
  const std::string original = "[COMMON]\r\nLogLevel=2\r\n[UNZIP]\r\nOverwriteConfirm=1\r\n; x\r\n";
  Init(original);
  const SettingValueTable before = App().AppSettings;
  OpenMain();
  for (int round = 0; round < 3; ++round) {
    std::string owner;
    QTimer::singleShot(0, [&owner, round] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      owner = modal->parentWidget() ? modal->parentWidget()->objectName().toStdString() : "";
      for (QCheckBox* box : modal->findChildren<QCheckBox*>()) box->setChecked(true);
      modal->findChild<QSlider*>(QStringLiteral("Slider1"))->setValue(1);
      if (round == 0) modal->findChild<QAbstractButton*>(QStringLiteral("Command2"))->click();
      if (round > 0) QTest::keyClick(modal, round == 1 ? Qt::Key_Escape : Qt::Key_Return);
    });
    Trigger("mnuOption");
    EXPECT_EQ(owner, "frmTavrunMain");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    if (round < 2) {
      EXPECT_EQ(App().AppSettings, before) << round;
      EXPECT_EQ(ReadBytes(ini_), original) << round;
    }
  }
  // Every page's controls, shown or not, and all 18 keys.
  EXPECT_EQ(SavedOptions(), "1 2 1 1 1 1 2 2 1 1 1 1 2 ");
  const std::string text = ReadBytes(ini_);
  EXPECT_EQ(std::count(text.begin(), text.end(), '='), 18);
}

// An option group is one tab stop: Tab and Shift+Tab land on its selected button and leave
// the group on the next press, whichever button is selected.
TEST_F(OptionDialogTest, TabIntoAnOptionGroupLandsOnItsSelectedButton) {
  for (const char* rate : {"0", "3", "4"}) {
    SCOPED_TRACE(rate);
    Init(std::string("[LZH]\r\nCompressRate=") + rate + "\r\n");
    Open();
    dialog_->TabStrip1_Click(2);
    dialog_->show();
    QApplication::setActiveWindow(dialog_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
    QString selected;
    for (auto* b : dialog_->findChildren<QRadioButton*>(QRegularExpression("^Option1_"))) {
      if (b->isChecked()) selected = b->objectName();
    }
    ASSERT_FALSE(selected.isEmpty());
    In("Check2_3")->setFocus(Qt::OtherFocusReason);
    std::vector<std::string> visited;
    const Qt::Key keys[] = {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Backtab};
    for (Qt::Key key : keys) {
      QTest::keyClick(QApplication::focusWidget(), key);
      visited.push_back(FocusedName());
    }
    const std::string s = selected.toStdString();
    EXPECT_EQ(visited, (std::vector<std::string>{s, "Check2_4", s, "Check2_3"}));
    dialog_.reset();
  }
}

}  // namespace
}  // namespace tavrun::uitest
