// Whole runs from the window with the archivers this build makes: the questions and results
// in order, the window locked while they show, progress, results on disk, and the window
// unlocked and focused afterwards.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "app/runtime.h"
#include "app/settings.h"
#include "ui/folder_select.h"
#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

namespace fs = std::filesystem;

const std::string kFailed = "処理が異常終了しました。\r\n";

class RunTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    SetSysDirForTesting(TAVRUN_COMPONENT_DIR);
    std::string errorText;
    ASSERT_TRUE(CheckRuntime(errorText)) << errorText;
    if (!App().CanCompress[0] || !App().CanCompress[1] || !App().CanExtract[1]) {
      GTEST_SKIP() << "the archivers are not built";
    }
    fs::create_directories(in_);
    fs::create_directories(out_);
    WriteBytes(in_ + "/a.txt", "alpha alpha alpha alpha\n");
    WriteBytes(in_ + "/b.dat", std::string(5000, 'b'));
  }
  // The archivers' progress dialogs off (nobody could close them), every log line on.
  void Prepare(const std::string& init) {
    Init("[INIT]\r\n" + init + "FromDirectory=" + in_ + "\r\nToDirectory=" + out_ +
         "\r\n[COMMON]\r\nLogLevel=0\r\n[LZH]\r\nControlDialog=1\r\n"
         "[ZIP]\r\nControlDialog=1\r\n[UNZIP]\r\nControlDialog=1\r\n");
    OpenMain();
  }
  // How many of the controls and menus a run locks are enabled, and the pointer.
  std::string LockState() const {
    int enabled = 0;
    for (const char* name :
         {"Label1", "Label2", "Text1", "Text2", "Command1", "Command2", "Command3", "Frame1",
          "Frame2", "Option1_0", "Option1_1", "Option2_0"}) {
      enabled += Find(name)->isEnabled();
    }
    for (const char* menu : {"mnuD", "mnuT", "mnuH"}) {
      enabled += Find<QMenu>(menu)->menuAction()->isEnabled();
    }
    return std::to_string(enabled) + (CurrentMousePointer() == PointerHourglass ? " wait" : "");
  }
  // The box answered while the window must be locked.
  BoxScript WhileLocked(BoxScript box) {
    return [this, box](const MessageRecord& record) {
      EXPECT_EQ(LockState(), "0 wait") << record.prompt;
      lastStatus_ = window_->statusPanelText(1).toStdString();
      return box(record);
    };
  }
  BoxScript Confirm(const std::string& from, const std::string& to, const std::string& what,
                    int32_t answer = IdYes) {
    return WhileLocked(Expect("[" + from + "] 以下にあるファイルを\r\n[" + to + "] 以下に" + what +
                                  "\r\n\r\n処理を実行しますか？",
                              MsgYesNo, answer));
  }
  std::string Idle() const { return LockState() + " " + FocusedName(); }

  const std::string in_ = dir_ + "/in", out_ = dir_ + "/out";
  std::string lastStatus_;
};

struct Format {
  const char* name;
  const char* button;
  const char* ext;
  const char* logTag;
  friend void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }
};

class RoundTripTest : public RunTest, public ::testing::WithParamInterface<Format> {};

// What a new user does: compress with the Run button, switch to extract, choose the folders
// by dropping and browsing, and extract from the menu, each archive into a folder of its own;
// a close request during the run is answered No.
TEST_P(RoundTripTest, CompressByButtonThenExtractByMenu) {
  const Format& f = GetParam();
  Prepare("ArchiveType=0\r\n");
  Setting(MakeDirectory) = "1";
  Click(f.button);
  std::vector<std::string> progress;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const std::string text = window_->statusPanelText(1).toStdString();
    if (!text.empty() && (progress.empty() || progress.back() != text)) progress.push_back(text);
  });
  watch.start(0);
  Script({Confirm(in_, out_, "圧縮します。"), WhileLocked(Expect(kDone, MsgInformation))});
  Click("Command3");
  watch.stop();
  EXPECT_EQ(progress, (std::vector<std::string>{"1 / 2", "2 / 2"}));
  EXPECT_EQ(lastStatus_, "2 / 2") << "the progress stays until the result is confirmed";
  EXPECT_TRUE(window_->statusPanelText(1).isEmpty());
  EXPECT_EQ(Idle(), "15 Text1");
  EXPECT_EQ(Setting(FromDirectory), in_ + "/");
  const std::string log = ReadBytes(dir_ + "/Tavrun.log");
  EXPECT_NE(log.find(f.logTag + in_ + "/b.dat]"), std::string::npos) << log;
  ASSERT_TRUE(Exists(out_ + "/a" + f.ext));

  const std::string back = dir_ + "/back";
  fs::create_directories(back);
  Click("Option1_1");
  EXPECT_TRUE(Find<QAbstractButton>(f.button)->isChecked()) << "the format carries over";
  EXPECT_TRUE(Drop("Text1", {QUrl::fromLocalFile(QString::fromStdString(out_))}));
  ui::SetNextDirectory(back);
  Click("Command2");
  BoxScript confirm = Confirm(out_, back, "解凍します。");
  Script({[&](const MessageRecord& box) {
            QTimer::singleShot(0, [this] {  // the close box while the run yields: No goes on
              bool cancel = false;
              window_->Form_QueryUnload(cancel, 0);
            });
            return confirm(box);
          },
          Expect("終了しますか？", MsgYesNoDefNo, IdNo),
          WhileLocked(Expect(kDone, MsgInformation))});
  Trigger("mnuRun");
  EXPECT_EQ(processEnds_, 0);
  EXPECT_EQ(ReadBytes(back + "/a/a.txt"), "alpha alpha alpha alpha\n");
  EXPECT_TRUE(ReadBytes(back + "/b/b.dat") == std::string(5000, 'b'));
  EXPECT_EQ(Idle(), "15 Text1");
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTripTest,
                         ::testing::Values(Format{"Lzh", "Option2_0", ".lzh", "[UNLHA32:"},
                                           Format{"Zip", "Option2_1", ".zip", "[ZIP32J:"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ToAllCase {
  Format format;
  const char* button;
  bool replaced;
  friend void PrintTo(const ToAllCase& c, std::ostream* os) { *os << c.format.name << c.button; }
};

class ToAllTest : public RunTest, public ::testing::WithParamInterface<ToAllCase> {};

// Re-extracting archives over copies that exist: the answer "to all" given for the first
// archive holds for every later archive of the run (each is a call of its own), and the
// next run asks again.
TEST_P(ToAllTest, AnAnswerToAllHoldsForEveryArchiveOfTheRun) {
  const ToAllCase& c = GetParam();
  Prepare("ArchiveType=0\r\n");
  Setting(LzhCheckTimestamp) = "1";  // replace whatever the dates say, after asking
  Click(c.format.button);
  WriteBytes(in_ + "/c.txt", "gamma\n");
  Script({Confirm(in_, out_, "圧縮します。"), Expect(kDone, MsgInformation)});
  Click("Command3");
  const std::string back = dir_ + "/back";
  fs::create_directories(back);
  const char* names[] = {"a.txt", "b.dat", "c.txt"};
  Click("Option1_1");
  Find<QLineEdit>("Text1")->setText(QString::fromStdString(out_));
  Find<QLineEdit>("Text2")->setText(QString::fromStdString(back));

  int questions = 0;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      auto* b = box && box->isVisible() ? box->findChild<QAbstractButton*>(c.button) : nullptr;
      if (b) {
        ++questions;
        b->click();
      }
    }
  });
  answer.start(2);
  for (int run = 0; run < 2; ++run) {
    for (const char* name : names) WriteBytes(back + "/" + name, "old");
    questions = 0;
    Script({Confirm(out_, back, "解凍します。"), Expect(kDone, MsgInformation)});
    Click("Command3");
    EXPECT_EQ(questions, 1) << "run " << run;
    for (const char* name : names) {
      EXPECT_EQ(ReadBytes(back + "/" + name) == ReadBytes(in_ + "/" + name), c.replaced) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ToAllTest,
    ::testing::Values(ToAllCase{{"Lzh", "Option2_0", ".lzh", ""}, "yesToAll", true},
                      ToAllCase{{"Lzh", "Option2_0", ".lzh", ""}, "noToAll", false},
                      ToAllCase{{"Zip", "Option2_1", ".zip", ""}, "yesToAll", true},
                      ToAllCase{{"Zip", "Option2_1", ".zip", ""}, "noToAll", false}),
    [](const auto& info) { return std::string(info.param.format.name) + info.param.button; });

TEST_F(RunTest, RefusedBoxesGetTheFocusAndUnlockingKeepsADisabledFormat) {
  Prepare("ArchiveType=0\r\n");
  App().CanCompress[1] = false;
  window_->Form_Load();
  Find<QLineEdit>("Text1")->clear();
  Script({WhileLocked(Expect("圧縮・解凍元ディレクトリが未入力です。", MsgExclamation))});
  Click("Command3");
  EXPECT_EQ(Idle(), "15 Text1");
  EXPECT_FALSE(Find("Option2_1")->isEnabled());

  Find<QLineEdit>("Text1")->setText(QString::fromStdString(in_));
  fs::remove_all(out_);
  Script({WhileLocked(Expect("圧縮・解凍先ディレクトリが存在しません。", MsgExclamation))});
  Trigger("mnuRun");
  EXPECT_EQ(Idle(), "15 Text2");
  EXPECT_FALSE(Exists(dir_ + "/Tavrun.log"));
}

TEST_F(RunTest, NoProcessesNothingAndAFailingFileFailsTheRunButNotTheOthers) {
  Prepare("ArchiveType=0\r\nCompressType=1\r\nExtractType=0\r\n");
  window_->SetStatusPanelText("earlier");
  Script({Confirm(in_, out_, "圧縮します。", IdNo)});
  Click("Command3");
  EXPECT_TRUE(fs::is_empty(out_));
  EXPECT_FALSE(Exists(dir_ + "/Tavrun.log"));
  EXPECT_EQ(window_->statusPanelText(1), QStringLiteral("earlier"));
  EXPECT_EQ(Setting(ExtractType), "1") << "the format in use is copied for both operations";
  EXPECT_EQ(Idle(), "15 Text1");

  fs::create_directories(out_ + "/a.zip");  // no archive can be written where a folder stands
  std::string prompt;
  Script({Confirm(in_, out_, "圧縮します。"), WhileLocked([&prompt](const MessageRecord& box) {
            EXPECT_EQ(box.style, MsgExclamation);
            prompt = box.prompt;
            return IdOk;
          })});
  Click("Command3");
  EXPECT_EQ(prompt.rfind(kFailed, 0), 0u) << prompt;
  EXPECT_GT(prompt.size(), kFailed.size()) << "the failure needs its detail";
  EXPECT_EQ(ReadBytes(out_ + "/b.zip").substr(0, 4), "PK\x03\x04");
  EXPECT_TRUE(window_->statusPanelText(1).isEmpty());
  EXPECT_EQ(Idle(), "15 Text1");
}

// After a failed run the result box keeps its text and code; each file that was not done is
// listed behind its details button with its reason, in the locale's language.
TEST_F(RunTest, AFailedRunListsEachFileWithItsReasonBehindTheResult) {
  Prepare("ArchiveType=0\r\nCompressType=1\r\n");
  fs::create_directories(out_ + "/a.zip");  // no archive can be written where a folder stands
  const struct {
    const char* locale;
    std::string heading, fileLine;
  } cases[] = {
      {"ja_JP.UTF-8", "失敗 1 件、既存のものを残した 0 件、スキップ 0 件", "[失敗] a.txt（コード "},
      {"C", "1 failed, 0 kept, 0 skipped", "[failed] a.txt (code "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    fs::remove(out_ + "/b.zip");  // an archive from before would be kept, not made
    setenv("LC_ALL", c.locale, 1);
    MessageRecord result;
    Script({Confirm(in_, out_, "圧縮します。"), [&result](const MessageRecord& box) {
              result = box;
              return IdOk;
            }});
    Click("Command3");
    unsetenv("LC_ALL");
    ASSERT_EQ(result.prompt.rfind(kFailed, 0), 0u) << result.prompt;
    const std::string code = result.prompt.substr(kFailed.size());
    EXPECT_EQ(result.style, MsgExclamation);
    EXPECT_GT(std::stoi(code), 0) << "the box keeps the bare code: " << code;
    // Heading, then the file with the same code and its reason on the next line.
    const std::string expected = c.heading + "\n\n" + c.fileLine + code;
    EXPECT_EQ(result.details.substr(0, expected.size()), expected) << result.details;
    const size_t reason = result.details.find("\n    ");
    ASSERT_NE(reason, std::string::npos) << result.details;
    EXPECT_GT(result.details.size(), reason + 5) << "the reason is missing";
    EXPECT_EQ(result.details.find("b.dat"), std::string::npos) << "b.dat was done";
  }
  // A run without failures shows the plain box.
  fs::remove(out_ + "/a.zip");
  fs::remove(out_ + "/b.zip");
  MessageRecord done;
  Script({Confirm(in_, out_, "圧縮します。"), [&done](const MessageRecord& box) {
            done = box;
            return IdOk;
          }});
  Click("Command3");
  EXPECT_EQ(done.prompt, kDone);
  EXPECT_EQ(done.details, "");
}

// Counts the progress dialogs the libraries show, wherever they are made.
class ProgressDialogCounter : public QObject {
 public:
  ProgressDialogCounter() { qApp->installEventFilter(this); }
  ~ProgressDialogCounter() override { qApp->removeEventFilter(this); }
  int shown = 0;
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Show && qobject_cast<QProgressDialog*>(object)) ++shown;
    return false;
  }
};

// A ZIP batch of many small files flashes no progress window: each call is over before the
// dialog would appear. With no delay the same batch shows them, so the count sees dialogs.
TEST_F(RunTest, ManySmallFilesShowNoProgressWindow) {
  constexpr int kFiles = 300;
  for (int i = 0; i < kFiles; ++i) WriteBytes(in_ + "/s" + std::to_string(i) + ".txt", "small");
  const std::string quick = dir_ + "/quick";
  fs::create_directories(quick);
  // The default settings: the progress dialogs are on.
  Init("[INIT]\r\nArchiveType=0\r\nCompressType=1\r\nFromDirectory=" + in_ +
       "\r\nToDirectory=" + out_ + "\r\n");
  OpenMain();
  const int files = kFiles + 2;
  auto run = [&](const std::string& into) {
    Drop("Text2", {QUrl::fromLocalFile(QString::fromStdString(into))});
    ProgressDialogCounter counter;
    Script({Confirm(in_, into, "圧縮します。"), Expect(kDone, MsgInformation)});
    Click("Command3");
    EXPECT_EQ(std::distance(fs::directory_iterator(into), fs::directory_iterator()), files);
    return counter.shown;
  };
  unsetenv("TAVRUN_PROGRESS_DELAY_MS");
  const int shownByDefault = run(out_);
  setenv("TAVRUN_PROGRESS_DELAY_MS", "0", 1);
  EXPECT_EQ(shownByDefault, 0);
  EXPECT_GT(run(quick), files / 2) << "the counter saw no dialog even without the delay";
}

}  // namespace
}  // namespace tavrun::uitest
