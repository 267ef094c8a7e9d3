// A run whose library call lasts until the test lets it end: the window keeps processing
// events during the call, a close request asks at once, No lets the run finish, Yes cancels
// the call, writes the settings and leaves nothing half-written; a cancel in the progress
// dialog stops the whole batch.
#include <QPaintEvent>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include "app/runtime.h"
#include "app/settings.h"
#include "ui/run_scope.h"
#include "ui/startup.h"
#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

namespace fs = std::filesystem;

const std::string kAskExit = "終了しますか？";

// Counts the paint events of one widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint;
    return false;
  }
};

class SlowCallTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    SetSysDirForTesting(TAVRUN_WAITING_DIR);
    setenv("TAVRUN_WAIT_GATE", gate_.c_str(), 1);
    fs::create_directories(in_);
    fs::create_directories(out_);
    WriteBytes(in_ + "/a.txt", "a");
    WriteBytes(in_ + "/b.txt", "b");
  }
  void TearDown() override {
    step_.stop();
    unsetenv("TAVRUN_WAIT_GATE");
    UiTest::TearDown();
  }
  void Prepare(const std::string& dialogOff) {
    Init("[INIT]\r\nArchiveType=0\r\nCompressType=0\r\nFromDirectory=" + in_ + "\r\nToDirectory=" +
         out_ + "\r\n[COMMON]\r\nLogLevel=0\r\n[LZH]\r\nControlDialog=" + dialogOff + "\r\n");
    OpenMain();
  }
  // Runs each step on the UI thread's event loop in turn, every step once its condition holds.
  // Steps can only run while the library call lets the UI thread process events.
  struct Step {
    std::function<bool()> ready;
    std::function<void()> act;
  };
  void Steps(std::vector<Step> steps) {
    steps_ = std::move(steps);
    QObject::connect(&step_, &QTimer::timeout, [this] {
      if (next_ < steps_.size() && steps_[next_].ready()) steps_[next_++].act();
    });
    step_.start(2);
  }
  bool Started() const { return Exists(gate_ + ".started"); }
  // The command lines the library was called with.
  int Calls() const {
    const std::string calls = ReadBytes(gate_ + ".started");
    return static_cast<int>(std::count(calls.begin(), calls.end(), '\n'));
  }
  // What the output directory holds: finished archives and temporary files.
  std::string Output() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const auto& name : names) joined += name + " ";
    return joined;
  }
  void OpenGate() const { WriteBytes(gate_, ""); }
  void CloseBox() {
    bool cancel = false;
    window_->Form_QueryUnload(cancel, 0);  // what the close box does
    EXPECT_TRUE(cancel) << "the window stays until the process ends";
  }
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    const std::string log = ReadBytes(dir_ + "/Tavrun.log");
    for (size_t at = 0, end; at < log.size(); at = end + 2) {
      end = log.find("\r\n", at);
      lines.push_back(log.substr(at + 20, end - at - 20));  // without the time stamp
    }
    return lines;
  }

  const std::string in_ = dir_ + "/in", out_ = dir_ + "/out", gate_ = dir_ + "/gate";
  QTimer step_;
  std::vector<Step> steps_;
  size_t next_ = 0;
};

TEST_F(SlowCallTest, TheWindowLivesDuringTheCallAndNoLetsTheRunFinish) {
  Prepare("1");
  const std::string ini = ReadBytes(dir_ + "/Tavrun.ini");
  std::string outputDuringCall;
  PaintCounter counter;
  window_->installEventFilter(&counter);
  std::string statusDuringCall;
  bool scopeDuringCall = false;
  Script({Expect("[" + in_ + "] 以下にあるファイルを\r\n[" + out_ +
                     "] 以下に圧縮します。\r\n\r\n処理を実行しますか？",
                 MsgYesNo, IdYes),
          [&](const MessageRecord& box) {
            EXPECT_EQ(box.prompt, kAskExit);
            EXPECT_EQ(box.style, MsgYesNoDefNo);
            outputDuringCall = Output();
            return IdNo;
          },
          Expect(kDone, MsgInformation)});
  Steps({{[this] { return Started(); },
          [&] {
            statusDuringCall = window_->statusPanelText(1).toStdString();
            scopeDuringCall = ui::RunScope::Current() != nullptr;
            counter.paints = 0;
            window_->update();
          }},
         {[&] { return counter.paints > 0; }, [this] { CloseBox(); }},
         {[] { return true; }, [this] { OpenGate(); }}});
  Click("Command3");
  EXPECT_EQ(next_, 3u) << "every step ran while the call waited";
  EXPECT_EQ(statusDuringCall, "1 / 2");
  EXPECT_TRUE(scopeDuringCall);
  EXPECT_EQ(ui::RunScope::Current(), nullptr) << "the scope ends with the run";
  EXPECT_EQ(processEnds_, 0);
  EXPECT_TRUE(outputDuringCall == "a.lzh.part " || outputDuringCall == "b.lzh.part ")
      << "asked while the call runs: " << outputDuringCall;
  EXPECT_EQ(Output(), "a.lzh b.lzh ");
  EXPECT_EQ(ReadBytes(dir_ + "/Tavrun.ini"), ini) << "nothing saved on No";
}

TEST_F(SlowCallTest, YesCancelsTheCallWritesTheSettingsAndLeavesNothingHalfWritten) {
  Prepare("1");
  std::string iniAtEnd, outputAtEnd = "?";
  Script({[](const MessageRecord&) { return IdYes; },  // the confirmation
          Expect(kAskExit, MsgYesNoDefNo, IdYes),
          // The test's process end returns, so the run goes on and reports the cancel.
          Expect("処理が異常終了しました。\r\n7", MsgExclamation)});
  ui::SetProcessEndHandler([&] {
    ++processEnds_;
    iniAtEnd = ReadBytes(dir_ + "/Tavrun.ini");
    outputAtEnd = Output();
  });
  Steps({{[this] { return Started(); }, [this] { CloseBox(); }}});
  Click("Command3");
  EXPECT_EQ(processEnds_, 1);
  EXPECT_EQ(outputAtEnd, "") << "the call had stopped and cleaned up before the end";
  EXPECT_NE(iniAtEnd.find("FromDirectory=" + in_ + "/\r\n"), std::string::npos) << iniAtEnd;
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(Calls(), 1);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("[ERR] 7 [UNLHA32:" + in_ + "/", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "[WARN] キャンセルにより処理を中止しました。未処理ファイル数：1");
}

// キャンセル in the library's progress dialog stops the batch: the second file is not asked
// for, and the result names the cancel's code.
TEST_F(SlowCallTest, CancelInTheProgressDialogStopsTheWholeBatch) {
  Prepare("0");
  Script({[](const MessageRecord&) { return IdYes; },
          Expect("処理が異常終了しました。\r\n7", MsgExclamation)});
  Steps({{[this] { return window_->findChild<QProgressDialog*>() != nullptr; },
          [this] { window_->findChild<QProgressDialog*>()->cancel(); }}});
  Click("Command3");
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(Calls(), 1) << "the second file was called";
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "[WARN] キャンセルにより処理を中止しました。未処理ファイル数：1");
  EXPECT_EQ(window_->findChild<QProgressDialog*>(), nullptr);
}

}  // namespace
}  // namespace tavrun::uitest
