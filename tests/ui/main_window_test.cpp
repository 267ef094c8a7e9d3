// The main window on its own: the states loaded from the settings, the operation and format
// switches and drops.
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QTest>

#include "app/settings.h"
#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

class MainWindowTest : public UiTest {
 protected:
  // The frames in short: operation C, E or -, then LZH and ZIP each upper case when selected,
  // lower case when only enabled, - when disabled; then ArchiveType CompressType ExtractType.
  std::string Shown() const {
    std::string shown = Find<QRadioButton>("Option1_0")->isChecked()   ? "C "
                        : Find<QRadioButton>("Option1_1")->isChecked() ? "E "
                                                                       : "- ";
    for (auto [name, letter] : {std::pair{"Option2_0", 'L'}, {"Option2_1", 'Z'}}) {
      auto* b = Find<QRadioButton>(name);
      const char on = b->isChecked() ? letter : static_cast<char>(letter + 32);
      shown += b->isEnabled() ? on : b->isChecked() ? '!' : '-';
    }
    return shown + " " + Setting(ArchiveType) + " " + Setting(CompressType) + " " +
           Setting(ExtractType);
  }
  QString Text(const char* box) const { return Find<QLineEdit>(box)->text(); }
};

const Libraries kAll{}, kNone{false, false, false}, kNoZipCreate{true, false, true},
    kOnlyZipExtract{false, false, true};

struct SwitchCase {
  const char* name;
  const char* init;  // lines of [INIT]
  Libraries libraries;
  const char* steps;  // clicks on C compress, E extract, l LZH, z ZIP; > the right arrow key
  const char* shown;
  friend void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }
};

class SwitchTest : public MainWindowTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTest, ShowsTheOperationAndAnAvailableFormat) {
  Init(std::string("[INIT]\r\n") + GetParam().init, GetParam().libraries);
  OpenMain();
  for (const char step : std::string(GetParam().steps)) {
    if (step == '>') {
      Find("Option1_0")->setFocus();
      QTest::keyClick(Find("Option1_0"), Qt::Key_Right);
    } else {
      const char* buttons[] = {"Option1_0", "Option1_1", "Option2_0", "Option2_1"};
      Click(buttons[std::string("CElz").find(step)]);
    }
  }
  EXPECT_EQ(Shown(), GetParam().shown);
}

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

// clang-format off
INSTANTIATE_TEST_SUITE_P(StartUp, SwitchTest, ::testing::Values(
    SwitchCase{"NoFile", "", kAll, "", "C Lz 0 0 0"},
    SwitchCase{"ExtractZip", "ArchiveType=1\r\nExtractType=1\r\n", kAll, "", "E lZ 1 0 1"},
    SwitchCase{"ZipWithoutZipCreation", "CompressType=1\r\n", kNoZipCreate, "", "C L- 0 0 0"},
    SwitchCase{"NoLibrary", "CompressType=1\r\nExtractType=1\r\n", kNone, "", "C -- 0 -1 1"},
    SwitchCase{"OnlyZipExtraction", "ArchiveType=1\r\n", kOnlyZipExtract, "", "E -Z 1 0 1"},
    // "1.0" is a valid 1.
    SwitchCase{"Fractional", "ArchiveType=1.0\r\nExtractType=1.0\r\n", kAll, "", "E lZ 1 0 1"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(Switches, SwitchTest, ::testing::Values(
    SwitchCase{"ExtractKeepsTheFormat", "CompressType=1\r\n", kAll, "E", "E lZ 1 1 1"},
    SwitchCase{"ArrowKeyLikeAClick", "CompressType=1\r\n", kAll, ">", "E lZ 1 1 1"},
    SwitchCase{"ToLzh", "ArchiveType=1\r\nExtractType=1\r\n", kNoZipCreate, "C", "C L- 0 0 1"},
    SwitchCase{"LzhBack", "ArchiveType=1\r\nExtractType=1\r\n", kNoZipCreate, "CE", "E Lz 1 0 0"},
    SwitchCase{"DisabledZipIgnoresClicks", "", kNoZipCreate, "z", "C L- 0 0 0"},
    SwitchCase{"NoLibraryNoFormat", "", kNone, "ECE", "E -- 1 -1 -1"},
    SwitchCase{"FormatPerOperation", "", kAll, "zEl", "E Lz 1 1 0"},
    SwitchCase{"FormatInUseCarriesOver", "", kAll, "zElC", "C Lz 0 0 0"}),
    CaseName);
// clang-format on

TEST_F(MainWindowTest, FixedWindowWhoseControlsFitAndShowTheirCaptions) {
  Init();
  OpenMain();
  ui::FrmTavrunMain* w = window_.get();
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Tavrun Ver.0.1"));
  EXPECT_EQ(w->height(), w->menuBar()->height() + 234);
  EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "the border must be fixed";
  EXPECT_EQ(w->windowIcon().availableSizes().size(), 2);
  for (QWidget* child : w->centralWidget()->findChildren<QWidget*>()) {
    EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry()))
        << child->objectName().toStdString();
    if (auto* label = qobject_cast<QLabel*>(child); label && !label->text().isEmpty()) {
      EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
    }
  }
}

TEST_F(MainWindowTest, BoxesTakeTheFirstDroppedPathOnlyAndRefuseTyping) {
  Init("[INIT]\r\nFromDirectory=/kept\r\n");
  OpenMain();
  EXPECT_FALSE(Drop("Text1", {}, QStringLiteral("/typed/path")));
  EXPECT_FALSE(Drop("Text1", {QUrl(QStringLiteral("https://example.org/file.zip"))}));
  QTest::keyClicks(Find("Text1"), "xyz");
  QTest::keyClick(Find("Text1"), Qt::Key_Backspace);
  EXPECT_EQ(Text("Text1"), QStringLiteral("/kept"));
  EXPECT_TRUE(Drop("Text2", {QUrl::fromLocalFile(QStringLiteral("/data/one file.txt")),
                             QUrl::fromLocalFile(QStringLiteral("/data/two"))}));
  EXPECT_EQ(Text("Text2"), QStringLiteral("/data/one file.txt"));
  EXPECT_EQ(Find("Text2")->toolTip(), QStringLiteral("/data/one file.txt"));
  EXPECT_TRUE(Drop("Text1", {QUrl::fromLocalFile(QStringLiteral("/data/dir"))}));
  EXPECT_EQ(Text("Text1"), QStringLiteral("/data/dir"));
  EXPECT_EQ(Setting(FromDirectory), "/kept") << "only a run copies the boxes";
}

}  // namespace
}  // namespace tavrun::uitest
