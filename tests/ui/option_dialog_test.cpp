// The options dialog: settings into controls, controls back into settings and the file,
// Cancel, the pages, the keys and the way the main window opens it.
#include "ui/option_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include "app/settings.h"
#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

using ui::FrmTavrunOption;

class OptionDialogTest : public UiTest {
 protected:
  std::unique_ptr<FrmTavrunOption> Open() {
    auto dialog = std::make_unique<FrmTavrunOption>();
    dialog->Form_Load();
    return dialog;
  }
  template <class T>
  static T* In(const std::unique_ptr<FrmTavrunOption>& d, const char* name) {
    T* found = d->findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  static bool Checked(const std::unique_ptr<FrmTavrunOption>& d, const char* name) {
    return In<QAbstractButton>(d, name)->isChecked();
  }
  // The one radio button of a frame that is on, by name; "" for none.
  static std::string OnIn(const std::unique_ptr<FrmTavrunOption>& d, const char* frame) {
    std::string on;
    for (QRadioButton* b : In<QGroupBox>(d, frame)->findChildren<QRadioButton*>()) {
      if (b->isChecked()) on += b->objectName().toStdString();
    }
    return on;
  }
  std::string IniValue(const char* section, const char* key) {
    std::string errorText;
    return GetIniString(ini_, section, key, errorText);
  }
};

// ---- Settings into controls --------------------------------------------------------------

struct LoadCase {
  SettingIndex field;
  const char* value;
  const char* frame;     // radio group, or nullptr for a check box or the slider
  const char* expected;  // radio button on, check box name that must be checked, or slider
};

class LoadTest : public OptionDialogTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTest, ShowsTheValue) {
  const LoadCase& c = GetParam();
  Init();
  Setting(c.field) = c.value;
  auto d = Open();
  if (c.field == ZipCompressRate) {
    EXPECT_EQ(In<QSlider>(d, "Slider1")->value(), std::stoi(c.expected));
  } else if (c.frame) {
    EXPECT_EQ(OnIn(d, c.frame), c.expected);
  } else {
    EXPECT_EQ(Checked(d, c.expected), std::string(c.value) == "1" || std::string(c.value) == "2")
        << c.expected << " for " << c.value;
  }
}

INSTANTIATE_TEST_SUITE_P(Values, LoadTest,
                         ::testing::Values(LoadCase{LogLevel, "9", "Frame4", "Option2_0"},
                                           LoadCase{LogLevel, "3", "Frame4", "Option2_1"},
                                           LoadCase{LogLevel, "2", "Frame4", "Option2_2"},
                                           LoadCase{LogLevel, "0", "Frame4", "Option2_3"},
                                           LoadCase{LogLevel, "1", "Frame4", "Option2_0"},
                                           LoadCase{LogLevel, "2.0", "Frame4", "Option2_2"},
                                           LoadCase{LzhCompressRate, "0", "Frame2", "Option1_0"},
                                           LoadCase{LzhCompressRate, "1", "Frame2", "Option1_1"},
                                           LoadCase{LzhCompressRate, "2", "Frame2", "Option1_1"},
                                           LoadCase{LzhCompressRate, "3", "Frame2", "Option1_2"},
                                           LoadCase{LzhCompressRate, "4", "Frame2", "Option1_3"},
                                           LoadCase{ZipCompressRate, "0", nullptr, "0"},
                                           LoadCase{ZipCompressRate, "9", nullptr, "9"},
                                           LoadCase{ZipCompressRate, "12", nullptr, "6"},
                                           LoadCase{ZipCompressRate, "abc", nullptr, "6"},
                                           LoadCase{MakeDirectory, "1", nullptr, "Check1_0"},
                                           LoadCase{LzhCheckTimestamp, "1", nullptr, "Check2_0"},
                                           LoadCase{LzhControlDialog, "1", nullptr, "Check2_1"},
                                           LoadCase{LzhArchiveTime, "1", nullptr, "Check2_2"},
                                           LoadCase{LzhOverwriteConfirm, "1", nullptr, "Check2_3"},
                                           LoadCase{ZipControlDialog, "1", nullptr, "Check3_0"},
                                           LoadCase{ZipArchiveTime, "1", nullptr, "Check3_1"},
                                           LoadCase{UnzipControlDialog, "1", nullptr, "Check3_2"}));

TEST_F(OptionDialogTest, ThreeStateFieldsCheckOnlyForTwo) {
  Init();
  for (const char* value : {"0", "1", "2"}) {
    Setting(LzhReadonlyConfirm) = value;
    Setting(UnzipOverwriteConfirm) = value;
    auto d = Open();
    const bool two = std::string(value) == "2";
    EXPECT_EQ(Checked(d, "Check2_4"), two) << value;
    EXPECT_EQ(Checked(d, "Check3_3"), two) << value;
  }
}

TEST_F(OptionDialogTest, DefaultsShowEverythingClearLh5AndLevelSix) {
  Init();
  auto d = Open();
  EXPECT_EQ(d->windowTitle(), QStringLiteral("Tavrun オプション"));
  for (QCheckBox* box : d->findChildren<QCheckBox*>()) {
    EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
  }
  EXPECT_EQ(OnIn(d, "Frame4"), "Option2_0");
  EXPECT_EQ(OnIn(d, "Frame2"), "Option1_1");
  EXPECT_EQ(In<QSlider>(d, "Slider1")->value(), 6);
  EXPECT_EQ(In<QSlider>(d, "Slider1")->minimum(), 0);
  EXPECT_EQ(In<QSlider>(d, "Slider1")->maximum(), 9);
}

// ---- Controls back into settings and the file --------------------------------------------

TEST_F(OptionDialogTest, SaveWritesEveryControlAsItsDecimalText) {
  Init();
  auto d = Open();
  for (const char* name : {"Check1_0", "Check2_0", "Check2_1", "Check2_2", "Check2_3", "Check2_4",
                           "Check3_0", "Check3_1", "Check3_2", "Check3_3"}) {
    In<QCheckBox>(d, name)->setChecked(true);
  }
  In<QRadioButton>(d, "Option2_1")->setChecked(true);  // エラー
  In<QRadioButton>(d, "Option1_3")->setChecked(true);  // lh7
  In<QSlider>(d, "Slider1")->setValue(0);
  In<QPushButton>(d, "Command1")->click();
  EXPECT_EQ(d->result(), QDialog::Accepted);
  const std::vector<std::string> expected{"1", "3", "1", "1", "1", "1", "4",
                                          "2", "1", "1", "0", "1", "2"};
  for (int i = MakeDirectory; i <= UnzipOverwriteConfirm; ++i) {
    EXPECT_EQ(Setting(static_cast<SettingIndex>(i)), expected[i - MakeDirectory]) << i;
  }
  EXPECT_EQ(IniValue("COMMON", "LogLevel"), "3");
  EXPECT_EQ(IniValue("LZH", "CompressRate"), "4");
  EXPECT_EQ(IniValue("LZH", "ReadonlyConfirm"), "2");
  EXPECT_EQ(IniValue("ZIP", "CompressRate"), "0");
  EXPECT_EQ(IniValue("UNZIP", "OverwriteConfirm"), "2");
}

TEST_F(OptionDialogTest, SaveWritesAllEighteenKeysIncludingTheMainWindowsOnes) {
  Init();
  Setting(ArchiveType) = "1";
  Setting(CompressType) = "-1";
  Setting(FromDirectory) = "/from here";
  auto d = Open();
  d->Command1_Click();
  std::string errorText;
  SettingValueTable values;
  ASSERT_TRUE(ReadIniValues(ini_, SettingCount, App().SettingKeys, values, errorText));
  EXPECT_EQ(values, App().AppSettings);
  const std::string text = ReadFile(ini_);
  for (const SettingKey& key : App().SettingKeys) {
    EXPECT_NE(text.find(key.key + "="), std::string::npos) << key.section << "/" << key.key;
  }
  EXPECT_EQ(IniValue("INIT", "FromDirectory"), "/from here");
  EXPECT_EQ(IniValue("INIT", "ToDirectory"), "");
}

TEST_F(OptionDialogTest, OddValuesFromTheFileAreNormalisedBySave) {
  Init(
      "[COMMON]\r\nLogLevel=1\r\nMakeDirectory=0.4\r\n[LZH]\r\nCompressRate=1\r\n"
      "[UNZIP]\r\nOverwriteConfirm=1\r\n");
  ASSERT_EQ(Setting(LogLevel), "1");
  auto d = Open();
  EXPECT_EQ(OnIn(d, "Frame4"), "Option2_0");
  EXPECT_EQ(OnIn(d, "Frame2"), "Option1_1");
  EXPECT_FALSE(Checked(d, "Check3_3"));
  EXPECT_FALSE(Checked(d, "Check1_0"));
  d->Command1_Click();
  EXPECT_EQ(IniValue("COMMON", "MakeDirectory"), "0");
  EXPECT_EQ(IniValue("COMMON", "LogLevel"), "9");
  EXPECT_EQ(IniValue("LZH", "CompressRate"), "2");
  EXPECT_EQ(IniValue("UNZIP", "OverwriteConfirm"), "0");
  EXPECT_EQ(Setting(UnzipOverwriteConfirm), "0");
}

TEST_F(OptionDialogTest, SavingUnchangedValuesWritesThemBack) {
  Init(
      "[COMMON]\r\nLogLevel=0\r\n[LZH]\r\nCompressRate=3\r\nReadonlyConfirm=2\r\n"
      "[ZIP]\r\nCompressRate=9\r\n");
  const SettingValueTable before = App().AppSettings;
  Open()->Command1_Click();
  EXPECT_EQ(App().AppSettings, before);
  EXPECT_EQ(IniValue("COMMON", "LogLevel"), "0");
  EXPECT_EQ(IniValue("ZIP", "CompressRate"), "9");
}

TEST_F(OptionDialogTest, CancelKeepsTheSettingsAndTheFile) {
  const std::string original =
      "[COMMON]\r\nLogLevel=2\r\n[UNZIP]\r\nOverwriteConfirm=1\r\n; a remark\r\n";
  Init(original);
  const SettingValueTable before = App().AppSettings;
  {
    auto d = Open();
    In<QCheckBox>(d, "Check1_0")->setChecked(true);
    In<QRadioButton>(d, "Option2_3")->setChecked(true);
    In<QSlider>(d, "Slider1")->setValue(1);
    In<QPushButton>(d, "Command2")->click();
    EXPECT_EQ(d->result(), QDialog::Rejected);
  }
  EXPECT_EQ(App().AppSettings, before);
  EXPECT_EQ(Setting(UnzipOverwriteConfirm), "1");
  EXPECT_EQ(ReadFile(ini_), original);
  // A fresh dialog shows the old values.
  auto again = Open();
  EXPECT_FALSE(Checked(again, "Check1_0"));
  EXPECT_EQ(OnIn(again, "Frame4"), "Option2_2");
  EXPECT_EQ(In<QSlider>(again, "Slider1")->value(), 6);
}

// ---- Pages -------------------------------------------------------------------------------

TEST_F(OptionDialogTest, TabsShowOnePageAtATimeAndHiddenValuesAreSaved) {
  Init();
  auto d = Open();
  d->show();
  auto visible = [&d] {
    std::string shown;
    for (int i = 0; i < 3; ++i) {
      if (d->findChild<QWidget*>(QStringLiteral("Frame1_%1").arg(i))->isVisible()) {
        shown += std::to_string(i);
      }
    }
    return shown;
  };
  EXPECT_EQ(visible(), "0");
  In<QTabBar>(d, "TabStrip1_tabs")->setCurrentIndex(2);
  EXPECT_EQ(visible(), "2");
  In<QSlider>(d, "Slider1")->setValue(3);
  d->TabStrip1_Click(2);
  EXPECT_EQ(visible(), "1");
  d->TabStrip1_Click(4);  // no such tab
  EXPECT_EQ(visible(), "1");
  In<QCheckBox>(d, "Check2_1")->setChecked(true);
  In<QTabBar>(d, "TabStrip1_tabs")->setCurrentIndex(0);
  d->Command1_Click();
  EXPECT_EQ(Setting(ZipCompressRate), "3");
  EXPECT_EQ(Setting(LzhControlDialog), "1");
}

TEST_F(OptionDialogTest, FixedSizeAndEveryControlFitsItsPage) {
  Init();
  auto d = Open();
  EXPECT_EQ(d->size(), QSize(394, 256));
  EXPECT_EQ(d->minimumSize(), d->maximumSize());
  for (QWidget* child : d->findChildren<QWidget*>()) {
    if (child->objectName().isEmpty() || child->objectName().startsWith(QStringLiteral("qt_")))
      continue;
    EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry()))
        << child->objectName().toStdString();
  }
}

// ---- Keys and the way the main window opens it --------------------------------------------

TEST_F(OptionDialogTest, EnterSavesAndEscapeCancels) {
  Init();
  OpenMain();
  std::string owner;
  QTimer::singleShot(0, [&owner] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    owner = modal->parentWidget() ? modal->parentWidget()->objectName().toStdString() : "";
    modal->findChild<QCheckBox*>(QStringLiteral("Check1_0"))->setChecked(true);
    QTest::keyClick(modal, Qt::Key_Escape);
  });
  window_->findChild<QAction*>(QStringLiteral("mnuOption"))->trigger();
  EXPECT_EQ(owner, "frmTavrunMain");
  EXPECT_EQ(Setting(MakeDirectory), "0");
  EXPECT_FALSE(FileExists(ini_));

  QTimer::singleShot(0, [] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    modal->findChild<QCheckBox*>(QStringLiteral("Check1_0"))->setChecked(true);
    QTest::keyClick(modal, Qt::Key_Return);
  });
  window_->mnuOption_Click();
  EXPECT_EQ(Setting(MakeDirectory), "1");
  EXPECT_EQ(IniValue("COMMON", "MakeDirectory"), "1");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(OptionDialogTest, TabOrderFollowsTheTabIndexes) {
  Init();
  auto d = Open();
  d->show();
  QApplication::setActiveWindow(d.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(d.get()));
  d->TabStrip1_Click(1);
  In<QWidget>(d, "TabStrip1_tabs")->setFocus(Qt::TabFocusReason);
  std::vector<std::string> visited;
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(QApplication::focusWidget()->objectName().toStdString());
  }
  // On the first page: its check box, the two buttons, the log level group, then round.
  EXPECT_EQ(visited, (std::vector<std::string>{"Check1_0", "Command1", "Command2", "Option2_0",
                                               "TabStrip1_tabs"}));
}

}  // namespace
}  // namespace tavrun::uitest
