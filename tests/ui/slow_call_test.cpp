// A run whose library call lasts until the test lets it end: the window keeps processing
// events during the call, a close request asks at once, No lets the run finish, Yes cancels
// the call, writes the settings and leaves nothing half-written; a cancel in the progress
// dialog stops the whole batch.
#include <xcb/xcb.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The window system's own close request (what a window manager sends for the close box) while
// a file runs with the progress dialog that the default settings show. Only an X display
// carries such a request; ctest runs these under Xvfb (tavrun_ui_xvfb_tests).
class WindowSystemCloseTest : public SlowCallTest {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
      GTEST_SKIP() << "needs an X display: ctest runs this under Xvfb";
    }
    SlowCallTest::SetUp();
    unsetenv("TAVRUN_PROGRESS_DELAY_MS");  // the dialog waits as long as it does for a user
    // Default settings: nothing about the dialogs, so the progress dialog is on.
    Init("[INIT]\r\nArchiveType=0\r\nCompressType=0\r\nFromDirectory=" + in_ +
         "\r\nToDirectory=" + out_ + "\r\n[COMMON]\r\nLogLevel=0\r\n");
    // Shown and exposed; with no window manager nothing makes it the active window.
    window_ = std::make_unique<ui::FrmTavrunMain>();
    window_->Form_Load();
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override {
    setenv("TAVRUN_PROGRESS_DELAY_MS", "0", 1);
    SlowCallTest::TearDown();
  }
  QProgressDialog* ShownProgress() const {
    auto* dialog = window_->findChild<QProgressDialog*>();
    return dialog != nullptr && dialog->isVisible() ? dialog : nullptr;
  }
  // WM_DELETE_WINDOW to the main window, as the window manager sends it, through the server.
  void SendWindowSystemClose() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr);
    xcb_connection_t* connection = x11->connection();
    auto atom = [connection](const char* name) {
      xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
          connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name),
          nullptr);
      const xcb_atom_t value = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
      free(reply);
      return value;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window_->winId());
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    sent_.start();
  }
  // The exit question, asked while the call still runs and its progress dialog shows.
  BoxScript AskedDuringTheCall(int32_t answer) {
    return [this, answer](const MessageRecord& box) {
      EXPECT_EQ(box.prompt, kAskExit);
      askedAfterMs_ = sent_.isValid() ? sent_.elapsed() : -1;
      callRunning_ = Started() && !Exists(gate_);
      progressShown_ = ShownProgress() != nullptr;
      return answer;
    };
  }
  void ExpectAskedDuringTheCall() const {
    EXPECT_TRUE(callRunning_) << "the question waited for the call";
    EXPECT_TRUE(progressShown_);
    ASSERT_GE(askedAfterMs_, 0) << "asked before the close request was sent";
    // The request must reach the question at once, not when the file ends.
    EXPECT_LT(askedAfterMs_, 1000);
    ::testing::Test::RecordProperty("asked_after_ms", static_cast<int>(askedAfterMs_));
    std::printf("exit question %lld ms after the close request\n",
                static_cast<long long>(askedAfterMs_));
  }

  QElapsedTimer sent_;
  qint64 askedAfterMs_ = -1;
  bool callRunning_ = false, progressShown_ = false;
};

TEST_F(WindowSystemCloseTest, NoDuringAFileWithItsProgressDialogLetsTheRunFinish) {
  const std::string ini = ReadBytes(dir_ + "/Tavrun.ini");
  Script({[](const MessageRecord&) { return IdYes; }, AskedDuringTheCall(IdNo),
          Expect(kDone, MsgInformation)});
  Steps({{[this] { return ShownProgress() != nullptr; }, [this] { SendWindowSystemClose(); }},
         {[this] { return askedAfterMs_ >= 0; }, [this] { OpenGate(); }}});
  Click("Command3");
  ExpectAskedDuringTheCall();
  EXPECT_EQ(processEnds_, 0);
  EXPECT_EQ(Output(), "a.lzh b.lzh ");
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(ReadBytes(dir_ + "/Tavrun.ini"), ini) << "nothing saved on No";
}

// Yes to the question a real close request brings during a file: the call stops there and
// cleans up, and the run ends without waiting for the file (this once hung: the progress
// dialog was made inside a call the worker waited for, with the close handled in it).
TEST_F(WindowSystemCloseTest, YesDuringAFileWithItsProgressDialogStopsTheRunThere) {
  std::string outputAtEnd = "?";
  Script({[](const MessageRecord&) { return IdYes; }, AskedDuringTheCall(IdYes),
          Expect("処理が異常終了しました。\r\n7", MsgExclamation)});
  ui::SetProcessEndHandler([&] {
    ++processEnds_;
    outputAtEnd = Output();
  });
  Steps({{[this] { return ShownProgress() != nullptr; }, [this] { SendWindowSystemClose(); }}});
  Click("Command3");
  ExpectAskedDuringTheCall();
  EXPECT_EQ(processEnds_, 1);
  EXPECT_EQ(outputAtEnd, "") << "the call had stopped and cleaned up before the end";
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(Calls(), 1);
}

}  // namespace
}  // namespace tavrun::uitest
