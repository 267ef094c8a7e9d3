// The options dialog: settings into controls and back into the file, Cancel, the pages and
// the way the main window opens it.
#include "ui/option_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTabBar>
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
};
void PrintTo(const MappingCase& c, std::ostream* os) {
  *os << c.name;
}

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
    MappingCase{"LogErrors", "[COMMON]\r\nLogLevel=3", "0 00000 0000 0100 0100 6",
                "0 3 0 0 0 0 2 0 0 0 6 0 0 "},
    MappingCase{"LogWarnings", "[COMMON]\r\nLogLevel=2.0", "0 00000 0000 0100 0010 6",
                "0 2 0 0 0 0 2 0 0 0 6 0 0 "},
    MappingCase{"LogAll", "[COMMON]\r\nLogLevel=0", "0 00000 0000 0100 0001 6",
                "0 0 0 0 0 0 2 0 0 0 6 0 0 "},
    MappingCase{"LogLevelOne", "[COMMON]\r\nLogLevel=1", "0 00000 0000 0100 1000 6",
                "0 9 0 0 0 0 2 0 0 0 6 0 0 "},
    MappingCase{"Lh0", "[LZH]\r\nCompressRate=0", "0 00000 0000 1000 1000 6",
                "0 9 0 0 0 0 0 0 0 0 6 0 0 "},
    MappingCase{"CompressRateOne", "[LZH]\r\nCompressRate=1", "0 00000 0000 0100 1000 6",
                "0 9 0 0 0 0 2 0 0 0 6 0 0 "},
    MappingCase{"Lh6", "[LZH]\r\nCompressRate=3", "0 00000 0000 0010 1000 6",
                "0 9 0 0 0 0 3 0 0 0 6 0 0 "},
    MappingCase{"Lh7", "[LZH]\r\nCompressRate=4", "0 00000 0000 0001 1000 6",
                "0 9 0 0 0 0 4 0 0 0 6 0 0 "},
    MappingCase{"ZipLevel0", "[ZIP]\r\nCompressRate=0", "0 00000 0000 0100 1000 0",
                "0 9 0 0 0 0 2 0 0 0 0 0 0 "},
    MappingCase{"ZipLevel9", "[ZIP]\r\nCompressRate=9", "0 00000 0000 0100 1000 9",
                "0 9 0 0 0 0 2 0 0 0 9 0 0 "},
    MappingCase{"ZipLevel12", "[ZIP]\r\nCompressRate=12", "0 00000 0000 0100 1000 6",
                "0 9 0 0 0 0 2 0 0 0 6 0 0 "},
    // The two questions of the extraction are on at 2 only: OverwriteConfirm 1 is off.
    MappingCase{"EveryFlagOne", "[COMMON]\r\nMakeDirectory=1\r\n[LZH]\r\nCheckTimestamp=1\r\n"
                "ControlDialog=1\r\nArchiveTime=1\r\nOverwriteConfirm=1\r\nReadonlyConfirm=1\r\n"
                "[ZIP]\r\nControlDialog=1\r\nArchiveTime=1\r\n[UNZIP]\r\nControlDialog=1\r\n"
                "OverwriteConfirm=1", "1 11110 1110 0100 1000 6", "1 9 1 1 1 1 2 0 1 1 6 1 0 "},
    MappingCase{"QuestionsAtTwo", "[COMMON]\r\nMakeDirectory=0.4\r\n[LZH]\r\nReadonlyConfirm=2"
                "\r\n[UNZIP]\r\nOverwriteConfirm=2", "0 00001 0001 0100 1000 6",
                "0 9 0 0 0 0 2 2 0 0 6 0 2 "}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(OptionDialogTest, SaveWritesEveryControlAndAllEighteenKeys) {
  Init("[INIT]\r\nArchiveType=1\r\nCompressType=-1\r\nFromDirectory=/from here\r\n");
  Open();
  EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("Tavrun オプション"));
  for (QCheckBox* box : dialog_->findChildren<QCheckBox*>()) box->setChecked(true);
  In<QRadioButton>("Option2_1")->setChecked(true);
  In<QRadioButton>("Option1_3")->setChecked(true);
  In<QSlider>("Slider1")->setValue(0);
  In<QAbstractButton>("Command1")->click();
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(SavedOptions(), "1 3 1 1 1 1 4 2 1 1 0 1 2 ");
  SettingValueTable values;
  std::string errorText;
  ASSERT_TRUE(ReadIniValues(ini_, SettingCount, App().SettingKeys, values, errorText));
  EXPECT_EQ(values, App().AppSettings);
  EXPECT_EQ(values[FromDirectory], "/from here");
  const std::string text = ReadBytes(ini_);
  for (const SettingKey& key : App().SettingKeys) {
    EXPECT_NE(text.find(key.key + "="), std::string::npos) << key.section << "/" << key.key;
  }
}

TEST_F(OptionDialogTest, TabsShowOnePageAtATimeAndHiddenPagesAreSaved) {
  Init();
  Open();
  dialog_->show();
  auto visible = [this] {
    std::string shown;
    for (int i = 0; i < 3; ++i)
      shown += In(QStringLiteral("Frame1_%1").arg(i))->isVisible() ? '1' : '0';
    return shown;
  };
  EXPECT_EQ(visible(), "100");
  In<QTabBar>("TabStrip1_tabs")->setCurrentIndex(2);
  EXPECT_EQ(visible(), "001");
  In<QSlider>("Slider1")->setValue(3);
  dialog_->TabStrip1_Click(2);
  dialog_->TabStrip1_Click(4);  // no such tab
  EXPECT_EQ(visible(), "010");
  In<QCheckBox>("Check2_1")->setChecked(true);
  In<QTabBar>("TabStrip1_tabs")->setCurrentIndex(0);
  dialog_->Command1_Click();
  EXPECT_EQ(SavedOptions(), "0 9 0 1 0 0 2 0 0 0 3 0 0 ");
}

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
  EXPECT_EQ(SavedOptions(), "1 2 1 1 1 1 2 2 1 1 1 1 2 ");
}

}  // namespace
}  // namespace tavrun::uitest
