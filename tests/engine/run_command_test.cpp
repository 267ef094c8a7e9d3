// The Run command played with scripted answers: validation, confirmation, the batch over the
// source directory and the result message.
#include "engine/run_command.h"

#include <algorithm>

#include "engine/feedback.h"
#include "engine_fixture.h"

namespace tavrun::test {
namespace {

class RunCommandTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetMousePointer(PointerDefault);
    SetMousePointerHandler([this](int shape) { pointers_.push_back(shape); });
    window_.boxes = {{"Text1", root_ + "/in"}, {"Text2", root_ + "/out"}};
    Select(0, 1);
  }
  void TearDown() override {
    SetMousePointerHandler({});
    SetMessageBoxHandler({});
    EngineTest::TearDown();
  }
  void Select(int operation, int format) {
    window_.options["Option1"] = {operation == 0, operation == 1};
    window_.options["Option2"] = {format == 0, format == 1};
  }
  // The messages shown as "style:prompt", after checking that the window ended unlocked,
  // focused on `focus` and with the normal pointer; then starts afresh.
  Lines Finish(const std::string& focus) {
    Lines prompts, off, on;
    for (const auto& m : MessageHistory())
      prompts.push_back(std::to_string(m.style) + ":" + m.prompt);
    for (const auto& e : window_.events) {
      if (e.rfind("disable:", 0) == 0) off.push_back(e.substr(8));
      if (e.rfind("enable:", 0) == 0) on.push_back(e.substr(7));
    }
    EXPECT_EQ(off, Lines(LockList.begin(), LockList.end()));
    EXPECT_EQ(on, off);
    EXPECT_EQ(window_.events.back(), "focus:" + focus);
    EXPECT_EQ(pointers_, (std::vector<int>{PointerHourglass, PointerDefault}));
    window_.events.clear();
    pointers_.clear();
    ClearMessageHistory();
    return prompts;
  }
  std::string Confirmation(const std::string& verb) const {
    return "36:[" + root_ + "/in] 以下にあるファイルを\r\n[" + root_ + "/out] 以下に" + verb +
           "\r\n\r\n処理を実行しますか？";
  }
  std::vector<int> pointers_;
};

TEST_F(RunCommandTest, InvalidInputShowsItsMessageAndFocusesTheControl) {
  WriteFile(in_ + "a.txt", "x");
  const std::string in = root_ + "/in", out = root_ + "/out", none = root_ + "/none";
  struct Case {
    std::string text1, text2;
    int operation, format;
    std::string message, focus;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"", "", 0, 1, "圧縮・解凍元ディレクトリが未入力です。", "Text1"},
      {none, "", 0, 1, "圧縮・解凍元ディレクトリが存在しません。", "Text1"},
      {" " + in, out, 0, 1, "圧縮・解凍元ディレクトリが存在しません。", "Text1"},
      {in, "", 0, 1, "圧縮・解凍先ディレクトリが未入力です。", "Text2"},
      {in, none, 0, 1, "圧縮・解凍先ディレクトリが存在しません。", "Text2"},
      {in, out, -1, 1, "処理内容が選択されていません。", "Option1(0)"},
      {in, out, 0, -1, "処理形式が選択されていません。", "Option1(0)"},
      {in, out, 1, -1, "処理形式が選択されていません。", "Option1(1)"},
  };
  // clang-format on
  for (const auto& c : cases) {
    window_.boxes = {{"Text1", c.text1}, {"Text2", c.text2}};
    Select(c.operation, c.format);
    SetNextMessageAnswer(IdYes);  // would confirm, were a confirmation asked
    Command3_Click(window_);
    ClearMessageAnswers();
    EXPECT_EQ(Finish(c.focus), (Lines{"48:" + c.message})) << c.message;
  }
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(RunCommandTest, AnythingButYesProcessesNothing) {
  WriteFile(in_ + "a.txt", "x");
  SetNextMessageAnswer(IdNo);
  Command3_Click(window_);
  EXPECT_EQ(Finish("Text1"), (Lines{Confirmation("圧縮します。")}));
  Command3_Click(window_);  // no answer queued and no box to show: 0
  EXPECT_EQ(Finish("Text1"), (Lines{Confirmation("圧縮します。")}));
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(window_.status, "");
  EXPECT_EQ(Setting(FromDirectory), root_ + "/in");  // no slash without a batch
  EXPECT_EQ(Setting(ExtractType), "1");              // both formats follow the buttons
}

TEST_F(RunCommandTest, SuccessListsThePlainFilesAndAddsTheSlashes) {
  WriteFile(in_ + "b.txt", "b");
  WriteFile(in_ + "a", "a");
  WriteFile(in_ + ".hidden", "h");
  mkdir((in_ + "sub").c_str(), 0755);
  WriteFile(in_ + "sub/deep.txt", "d");
  Lines statusAtMessage;
  SetMessageBoxHandler([&](const std::string&, int32_t style, const std::string& title) {
    EXPECT_EQ(title, "Tavrun");
    statusAtMessage.push_back(window_.status);
    return style == MsgYesNo ? IdYes : IdOk;
  });
  window_.onYield = [this] { Command3_Click(window_); };  // a second click is not started
  Command3_Click(window_);
  EXPECT_EQ(Finish("Text1"), (Lines{Confirmation("圧縮します。"), "64:処理が正常終了しました。"}));
  EXPECT_EQ(statusAtMessage, (Lines{"", "2 / 2"}));
  EXPECT_EQ(window_.status, "");
  Lines calls = Calls();
  std::sort(calls.begin(), calls.end());
  EXPECT_EQ(calls, Expand({R"(Zip 4660/256 -u -S -v -j "@o/a.zip" "@i/a")",
                           R"(Zip 4660/256 -u -S -v -j "@o/b.zip" "@i/b.txt")"}));
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_EQ(Setting(FromDirectory), in_);
  EXPECT_EQ(Setting(ToDirectory), out_);
}

TEST_F(RunCommandTest, OneFailedFileOfThreeGivesTheAbnormalEndWithItsCode) {
  for (const char* name : {"a.txt", "b_rc14.txt", "c.txt"}) WriteFile(in_ + name, "x");
  Select(0, 0);
  SetNextMessageAnswer(IdYes);
  mnuRun_Click(window_);  // the menu entry plays the same run
  EXPECT_EQ(Finish("Text1"),
            (Lines{Confirmation("圧縮します。"), "48:処理が異常終了しました。\r\n14"}));
  EXPECT_EQ(Calls().size(), 3u);
  EXPECT_EQ(window_.status, "");
}

TEST_F(RunCommandTest, EmptySourceDirectoryEndsNormally) {
  mkdir((in_ + "only-a-directory").c_str(), 0755);
  Select(1, 0);
  SetNextMessageAnswer(IdYes);
  Command3_Click(window_);
  EXPECT_EQ(Finish("Text1"), (Lines{Confirmation("解凍します。"), "64:処理が正常終了しました。"}));
  EXPECT_EQ(LogLines(), (Lines{" [INFO] 対象ファイルが存在しません。"}));
  EXPECT_TRUE(Calls().empty());
}

}  // namespace
}  // namespace tavrun::test
