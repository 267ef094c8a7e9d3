// The Run command played with scripted answers: validation, confirmation, the batch over the
// source directory and the result message.
#include "engine/run_command.h"

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
    Lines prompts, events;
    for (const auto& m : MessageHistory()) {
      prompts.push_back(std::to_string(m.style) + ":" + m.prompt);
    }
    events = {"disable", "enable", "focus:" + focus};
    EXPECT_EQ(window_.events, events);
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

TEST_F(RunCommandTest, EachInvalidInputIsRefusedAndNoAtTheConfirmationProcessesNothing) {
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
      {in, out, 0, 1, "", "Text1"},  // valid: the confirmation, answered No
  };
  // clang-format on
  for (const auto& c : cases) {
    window_.boxes = {{"Text1", c.text1}, {"Text2", c.text2}};
    Select(c.operation, c.format);
    SetNextMessageAnswer(IdNo);
    Command3_Click(window_);
    ClearMessageAnswers();
    const std::string shown = c.message.empty() ? Confirmation("圧縮します。") : "48:" + c.message;
    EXPECT_EQ(Finish(c.focus), (Lines{shown})) << c.message;
  }
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(Setting(FromDirectory), in);  // no slash added without a batch
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
  window_.onStatus = [this] { Command3_Click(window_); };  // a second click is not started
  Command3_Click(window_);
  EXPECT_EQ(Finish("Text1"), (Lines{Confirmation("圧縮します。"), "64:処理が正常終了しました。"}));
  EXPECT_EQ(statusAtMessage, (Lines{"", "2 / 2"}));
  EXPECT_EQ(window_.status, "");
  EXPECT_EQ(window_.batches, 1);  // the whole batch in one piece of work
  EXPECT_EQ(Calls().size(), 2u);
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_EQ(Setting(FromDirectory), in_);
  EXPECT_EQ(Setting(ToDirectory), out_);
}

TEST_F(RunCommandTest, OneFailedFileOfThreeGivesTheAbnormalEndWithItsCode) {
  for (const char* name : {"a.zip", "b_rc14.zip", "c.zip"}) WriteFile(in_ + name, "x");
  Select(1, 1);
  SetNextMessageAnswer(IdYes);
  mnuRun_Click(window_);  // the menu entry plays the same run
  EXPECT_EQ(Finish("Text1"),
            (Lines{Confirmation("解凍します。"), "48:処理が異常終了しました。\r\n14"}));
  EXPECT_EQ(Calls().size(), 6u);
  EXPECT_EQ(Calls()[0].substr(0, 18), "UnZipCheckArchive ");
  EXPECT_EQ(window_.status, "");
}

TEST_F(RunCommandTest, EmptySourceDirectoryEndsNormally) {
  mkdir((in_ + "only-a-directory").c_str(), 0755);
  Select(0, 0);
  SetNextMessageAnswer(IdYes);
  Command3_Click(window_);
  EXPECT_EQ(Finish("Text1"), (Lines{Confirmation("圧縮します。"), "64:処理が正常終了しました。"}));
  EXPECT_EQ(LogLines(), (Lines{" [INFO] 対象ファイルが存在しません。"}));
  EXPECT_TRUE(Calls().empty());
}

}  // namespace
}  // namespace tavrun::test
