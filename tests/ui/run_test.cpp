// Whole runs started from the window, with the archiver libraries this build makes: the
// dialogs in order, the window locked while they show, progress, results on disk, and the
// window unlocked and focused afterwards.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>

#include "app/runtime.h"
#include "app/settings.h"
#include "ui/folder_select.h"
#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

namespace fs = std::filesystem;

class RunTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    in_ = dir_ + "/in";
    out_ = dir_ + "/out";
    fs::create_directories(in_);
    fs::create_directories(out_);
    WriteFile(in_ + "/a.txt", "alpha alpha alpha alpha\n");
    WriteFile(in_ + "/b.dat", std::string(5000, 'b'));
  }

  // Settings with the progress dialogs off (nobody could close them in a test) and every log
  // line on; the archivers are the real ones of this build.
  void Prepare(const std::string& init) {
    const std::string ini = "[INIT]\r\n" + init + "FromDirectory=" + in_ +
                            "\r\nToDirectory=" + out_ +
                            "\r\n[COMMON]\r\nLogLevel=0\r\n[LZH]\r\nControlDialog=1\r\n" +
                            "[ZIP]\r\nControlDialog=1\r\n[UNZIP]\r\nControlDialog=1\r\n";
    WriteFile(ini_, ini);
    SetSysDirForTesting(TAVRUN_COMPONENT_DIR);
    std::string errorText;
    ASSERT_TRUE(CheckRuntime(errorText)) << errorText;
    ASSERT_TRUE(InitAppIn(dir_, errorText)) << errorText;
  }

  bool Locked() {
    return !Find<QWidget>("Command3")->isEnabled() && !Find<QWidget>("Text1")->isEnabled() &&
           !Find<QWidget>("Frame2")->isEnabled() &&
           !window_->findChild<QMenu*>(QStringLiteral("mnuD"))->menuAction()->isEnabled() &&
           CurrentMousePointer() == PointerHourglass;
  }

  // The confirmation for the boxes as they stand, answered after checking the window.
  BoxScript Confirm(const std::string& operation, int32_t answer) {
    return [this, operation, answer](const MessageRecord& box) {
      EXPECT_EQ(box.prompt, "[" + in_ + "] 以下にあるファイルを\r\n[" + out_ + "] 以下に" +
                                operation + "\r\n\r\n処理を実行しますか？");
      EXPECT_EQ(box.style, MsgYesNo);
      EXPECT_EQ(box.title, "Tavrun");
      EXPECT_TRUE(Locked()) << "the window must be locked while asking";
      return answer;
    };
  }

  BoxScript Result(const std::string& text, int32_t style) {
    return [this, text, style](const MessageRecord& box) {
      EXPECT_EQ(box.prompt, text);
      EXPECT_EQ(box.style, style);
      EXPECT_TRUE(Locked());
      resultStatus_ = window_->statusPanelText(1).toStdString();
      return IdOk;
    };
  }

  void ExpectIdleAndFocused(const char* focus = "Text1") {
    EXPECT_TRUE(Find<QWidget>("Command3")->isEnabled());
    EXPECT_TRUE(Find<QWidget>("Text1")->isEnabled());
    EXPECT_TRUE(window_->findChild<QMenu*>(QStringLiteral("mnuD"))->menuAction()->isEnabled());
    EXPECT_EQ(CurrentMousePointer(), PointerDefault);
    EXPECT_EQ(FocusedName(), focus);
  }

  std::string in_, out_, resultStatus_;
};

// GTEST_SKIP only leaves the function it stands in, so this has to be a macro.
#define SKIP_WITHOUT(available, what) \
  if (!(available)) GTEST_SKIP() << (what) << " is not built in this configuration"

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

TEST_F(RunTest, RunButtonCompressesEveryFileIntoAZipOfItsOwn) {
  Prepare("ArchiveType=0\r\nCompressType=1\r\n");
  SKIP_WITHOUT(App().CanCompress[1], "ZIP creation");
  OpenMain();
  std::vector<std::string> progress;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const std::string text = window_->statusPanelText(1).toStdString();
    if (!text.empty() && (progress.empty() || progress.back() != text)) progress.push_back(text);
  });
  watch.start(0);
  Script({Confirm("圧縮します。", IdYes), Result("処理が正常終了しました。", MsgInformation)});
  QTest::mouseClick(Find<QPushButton>("Command3"), Qt::LeftButton);
  watch.stop();

  EXPECT_TRUE(StartsWith(ReadFile(out_ + "/a.zip"), "PK\x03\x04"));
  EXPECT_TRUE(StartsWith(ReadFile(out_ + "/b.zip"), "PK\x03\x04"));
  EXPECT_EQ(progress, (std::vector<std::string>{"1 / 2", "2 / 2"}));
  EXPECT_EQ(resultStatus_, "2 / 2") << "the progress stays until the result is confirmed";
  EXPECT_TRUE(window_->statusPanelText(1).isEmpty());
  ExpectIdleAndFocused();
  EXPECT_EQ(Setting(FromDirectory), in_ + "/");
  EXPECT_EQ(Setting(ToDirectory), out_ + "/");
  const std::string log = ReadFile(dir_ + "/Tavrun.log");
  EXPECT_NE(log.find("[ZIP32J:" + in_ + "/a.txt]"), std::string::npos) << log;
  EXPECT_NE(log.find("[ZIP32J:" + in_ + "/b.dat]"), std::string::npos) << log;
}

TEST_F(RunTest, MenuEntryRunsExactlyLikeTheButton) {
  Prepare("ArchiveType=0\r\nCompressType=1\r\n");
  SKIP_WITHOUT(App().CanCompress[1], "ZIP creation");
  OpenMain();
  Script({Confirm("圧縮します。", IdYes), Result("処理が正常終了しました。", MsgInformation)});
  QTest::mouseClick(Find<QPushButton>("Command3"), Qt::LeftButton);
  const std::vector<MessageRecord> byButton = Messages();
  fs::remove(out_ + "/a.zip");
  fs::remove(out_ + "/b.zip");
  ClearMessageHistory();

  Script({Confirm("圧縮します。", IdYes), Result("処理が正常終了しました。", MsgInformation)});
  window_->findChild<QAction*>(QStringLiteral("mnuRun"))->trigger();
  const std::vector<MessageRecord> byMenu = Messages();
  ASSERT_EQ(byMenu.size(), byButton.size());
  for (size_t i = 0; i < byMenu.size(); ++i) {
    EXPECT_EQ(byMenu[i].prompt, byButton[i].prompt);
    EXPECT_EQ(byMenu[i].style, byButton[i].style);
  }
  EXPECT_TRUE(FileExists(out_ + "/a.zip"));
  ExpectIdleAndFocused();
}

TEST_F(RunTest, EmptySourceBoxIsRefusedAndFocused) {
  Prepare("ArchiveType=0\r\n");
  OpenMain();
  Find<QLineEdit>("Text1")->clear();
  Find<QWidget>("Command3")->setFocus();
  Script({[this](const MessageRecord& box) {
    EXPECT_EQ(box.prompt, "圧縮・解凍元ディレクトリが未入力です。");
    EXPECT_EQ(box.style, MsgExclamation);
    EXPECT_TRUE(Locked());
    return IdOk;
  }});
  QTest::mouseClick(Find<QPushButton>("Command3"), Qt::LeftButton);
  ExpectIdleAndFocused("Text1");
  EXPECT_FALSE(FileExists(dir_ + "/Tavrun.log"));
}

TEST_F(RunTest, MissingTargetSendsTheFocusToTheTargetBox) {
  Prepare("ArchiveType=0\r\n");
  OpenMain();
  fs::remove_all(out_);
  Script({[](const MessageRecord& box) {
    EXPECT_EQ(box.prompt, "圧縮・解凍先ディレクトリが存在しません。");
    return IdOk;
  }});
  QTest::mouseClick(Find<QPushButton>("Command3"), Qt::LeftButton);
  ExpectIdleAndFocused("Text2");
}

TEST_F(RunTest, AnsweringNoProcessesNothingButKeepsTheCopiedInputs) {
  Prepare("ArchiveType=0\r\nCompressType=1\r\nExtractType=0\r\n");
  SKIP_WITHOUT(App().CanCompress[1], "ZIP creation");
  OpenMain();
  window_->SetStatusPanelText("earlier");
  Script({Confirm("圧縮します。", IdNo)});
  QTest::mouseClick(Find<QPushButton>("Command3"), Qt::LeftButton);
  EXPECT_TRUE(fs::is_empty(out_));
  EXPECT_FALSE(FileExists(dir_ + "/Tavrun.log"));
  EXPECT_EQ(window_->statusPanelText(1), QStringLiteral("earlier"));
  EXPECT_EQ(Setting(CompressType), "1");
  EXPECT_EQ(Setting(ExtractType), "1");
  EXPECT_EQ(Setting(FromDirectory), in_);
  ExpectIdleAndFocused();
}

TEST_F(RunTest, AFailingFileReportsTheRunAsFailedButTheOthersAreDone) {
  Prepare("ArchiveType=0\r\nCompressType=1\r\n");
  SKIP_WITHOUT(App().CanCompress[1], "ZIP creation");
  OpenMain();
  fs::create_directories(out_ + "/a.zip");  // no archive can be written where a folder stands
  std::string detail;
  Script({Confirm("圧縮します。", IdYes), [&detail](const MessageRecord& box) {
            EXPECT_EQ(box.style, MsgExclamation);
            EXPECT_TRUE(StartsWith(box.prompt, "処理が異常終了しました。\r\n")) << box.prompt;
            detail = box.prompt.substr(std::string("処理が異常終了しました。\r\n").size());
            return IdOk;
          }});
  QTest::mouseClick(Find<QPushButton>("Command3"), Qt::LeftButton);
  EXPECT_FALSE(detail.empty()) << "the failure needs its detail";
  EXPECT_TRUE(StartsWith(ReadFile(out_ + "/b.zip"), "PK\x03\x04"));
  EXPECT_TRUE(window_->statusPanelText(1).isEmpty());
  ExpectIdleAndFocused();
}

// What a new user does: compress with one format, switch to extract, choose the folders by
// dropping and browsing, extract each archive into a folder of its own.
class RoundTripTest : public RunTest, public ::testing::WithParamInterface<int> {};

TEST_P(RoundTripTest, CompressThenExtractEachArchiveIntoItsOwnFolder) {
  const int format = GetParam();
  Prepare("ArchiveType=0\r\n");
  SKIP_WITHOUT(App().CanCompress[format] && App().CanExtract[format],
               format == 0 ? "the LZH library" : "the ZIP libraries");
  Setting(MakeDirectory) = "1";
  OpenMain();
  const char* button = format == 0 ? "Option2_0" : "Option2_1";
  const std::string ext = format == 0 ? ".lzh" : ".zip";
  QTest::mouseClick(Find<QRadioButton>(button), Qt::LeftButton, {}, QPoint(4, 8));
  Script({Confirm("圧縮します。", IdYes), Result("処理が正常終了しました。", MsgInformation)});
  QTest::mouseClick(Find<QPushButton>("Command3"), Qt::LeftButton);
  ASSERT_TRUE(FileExists(out_ + "/a" + ext));

  const std::string back = dir_ + "/back";
  fs::create_directories(back);
  QTest::mouseClick(Find<QRadioButton>("Option1_1"), Qt::LeftButton, {}, QPoint(4, 8));
  EXPECT_TRUE(Find<QRadioButton>(button)->isChecked()) << "the format carries over";
  QMimeData drop;
  drop.setUrls({QUrl::fromLocalFile(QString::fromStdString(out_))});
  QDragEnterEvent enter(QPoint(4, 4), Qt::CopyAction, &drop, Qt::LeftButton, {});
  QCoreApplication::sendEvent(Find<QLineEdit>("Text1"), &enter);
  QDropEvent event(QPointF(4, 4), Qt::CopyAction, &drop, Qt::LeftButton, {});
  QCoreApplication::sendEvent(Find<QLineEdit>("Text1"), &event);
  ui::SetNextDirectory(back);
  QTest::mouseClick(Find<QPushButton>("Command2"), Qt::LeftButton);

  Script({[&](const MessageRecord& box) {
            EXPECT_EQ(box.prompt, "[" + out_ + "] 以下にあるファイルを\r\n[" + back +
                                      "] 以下に解凍します。\r\n\r\n処理を実行しますか？");
            return IdYes;
          },
          Result("処理が正常終了しました。", MsgInformation)});
  QTest::mouseClick(Find<QPushButton>("Command3"), Qt::LeftButton);
  EXPECT_EQ(ReadFile(back + "/a/a.txt"), "alpha alpha alpha alpha\n");
  EXPECT_EQ(ReadFile(back + "/b/b.dat"), std::string(5000, 'b'));
  ExpectIdleAndFocused();
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTripTest, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "Lzh" : "Zip"; });

TEST_F(RunTest, ClosingDuringARunAsksAndNoLetsTheRunGoOn) {
  Prepare("ArchiveType=0\r\nCompressType=1\r\n");
  SKIP_WITHOUT(App().CanCompress[1], "ZIP creation");
  OpenMain();
  bool asked = false;
  QTimer closer;
  closer.setSingleShot(true);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    bool cancel = false;
    window_->Form_QueryUnload(cancel, 0);  // the close box, while the run yields
    EXPECT_TRUE(cancel);
  });
  Script({[&](const MessageRecord& box) {
            closer.start(0);
            return Confirm("圧縮します。", IdYes)(box);
          },
          [&](const MessageRecord& box) {
            EXPECT_EQ(box.prompt, "終了しますか？");
            EXPECT_EQ(box.style, MsgYesNoDefNo);
            asked = true;
            return IdNo;
          },
          Result("処理が正常終了しました。", MsgInformation)});
  QTest::mouseClick(Find<QPushButton>("Command3"), Qt::LeftButton);
  EXPECT_TRUE(asked);
  EXPECT_EQ(processEnds_, 0);
  EXPECT_TRUE(FileExists(out_ + "/a.zip"));
  EXPECT_TRUE(FileExists(out_ + "/b.zip"));
  EXPECT_TRUE(window_->isVisible());
}

}  // namespace
}  // namespace tavrun::uitest
