// Validation, the batch over a directory, and the Run command played with scripted answers.
#include "engine/run_command.h"

#include <algorithm>

#include "engine/feedback.h"
#include "engine_fixture.h"

namespace tavrun::test {
namespace {

using RunBatchTest = EngineTest;

TEST_F(RunBatchTest, CheckInputStopsAtTheFirstFailureAndNamesTheControl) {
  WriteFile(root_ + "/file", "x");
  const std::string none = root_ + "/none";
  struct Case {
    std::string from, to, operation, compressType, extractType, expected;
  };
  const std::vector<Case> cases = {
      {"", "", "0", "0", "0", "圧縮・解凍元ディレクトリが未入力です。|Text1"},
      {none, "", "0", "0", "0", "圧縮・解凍元ディレクトリが存在しません。|Text1"},
      {" " + in_, out_, "0", "0", "0", "圧縮・解凍元ディレクトリが存在しません。|Text1"},
      {root_ + "/file", "", "0", "0", "0", "圧縮・解凍先ディレクトリが未入力です。|Text2"},
      {in_, none, "-1", "0", "0", "圧縮・解凍先ディレクトリが存在しません。|Text2"},
      {in_, out_, "-1", "-1", "-1", "処理内容が選択されていません。|Option1(0)"},
      {in_, out_, "0", "-1", "0", "処理形式が選択されていません。|Option1(0)"},
      {in_, out_, "1", "0", "-1", "処理形式が選択されていません。|Option1(1)"},
      {in_, out_, "0", "1", "-1", "|kept"},
      {root_ + "/in", root_ + "/out", "2", "-1", "-1", "|kept"},
      {in_, out_, "zip", "0", "0", "型が一致しません。|kept"},
      {in_, out_, "70000", "0", "0", "オーバーフローしました。|kept"},
      {in_, out_, "1", "not looked at", "0", "|kept"},
  };
  for (const auto& c : cases) {
    Setting(FromDirectory) = c.from;
    Setting(ToDirectory) = c.to;
    Setting(ArchiveType) = c.operation;
    Setting(CompressType) = c.compressType;
    Setting(ExtractType) = c.extractType;
    std::string focus = "kept";
    std::string message = "stale";
    const bool ok = CheckInput(window_, focus, message);
    EXPECT_EQ(message + "|" + focus, c.expected);
    EXPECT_EQ(ok, message.empty());
    EXPECT_EQ(Setting(CompressType), c.compressType);
  }
}

TEST_F(RunBatchTest, ListsTopLevelPlainFilesAndAddsTheSlashes) {
  Setting(FromDirectory) = root_ + "/in";
  Setting(ToDirectory) = root_ + "/out";
  Setting(CompressType) = "1";
  Setting(ExtractType) = "0";
  WriteFile(in_ + "b.txt", "b");
  WriteFile(in_ + "a", "a");
  WriteFile(in_ + ".hidden", "h");
  mkdir((in_ + "sub").c_str(), 0755);
  WriteFile(in_ + "sub/deep.txt", "d");
  std::string message;
  ASSERT_TRUE(RunBatch(window_, message)) << message;
  EXPECT_EQ(Setting(FromDirectory), in_);
  EXPECT_EQ(Setting(ToDirectory), out_);
  Lines calls = Calls();
  std::sort(calls.begin(), calls.end());
  EXPECT_EQ(calls,
            (Lines{
                "Zip|window=4660|size=256|-u -S -v -j \"" + out_ + "a.zip\" \"" + in_ + "a\"",
                "Zip|window=4660|size=256|-u -S -v -j \"" + out_ + "b.zip\" \"" + in_ + "b.txt\"",
            }));
}

TEST_F(RunBatchTest, OperationAndFormatChooseOneOperation) {
  WriteFile(in_ + "f.dat", "x");
  const std::vector<Lines> cases = {
      {"0", "0", "1", "Unlha|"},
      {"0", "1", "0", "Zip|"},
      {"1", "1", "0", "UnlhaCheckArchive|"},
      {"1", "0", "1", "UnZipCheckArchive|"},
      {"0", "2", "0", ""},
      {"1", "1", "-1", ""},
      {"2", "0", "0", ""},
  };
  for (const auto& c : cases) {
    std::remove(callLog_.c_str());
    Setting(ArchiveType) = c[0];
    Setting(CompressType) = c[1];
    Setting(ExtractType) = c[2];
    std::string message;
    EXPECT_TRUE(RunBatch(window_, message));
    const std::string first = Calls().empty() ? "" : Calls()[0].substr(0, c[3].size());
    EXPECT_EQ(first, c[3]) << c[0] << c[1] << c[2];
  }
}

TEST_F(RunBatchTest, EmptySourceSucceedsAndUnlistableSourceFails) {
  mkdir((in_ + "only-a-directory").c_str(), 0755);
  WriteFile(in_ + ".only-hidden", "h");
  std::string message;
  ASSERT_TRUE(RunBatch(window_, message));
  EXPECT_EQ(message, "対象ファイルが存在しません。");
  EXPECT_EQ(LogLines(), (Lines{" [INFO] 対象ファイルが存在しません。"}));
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(window_.events.empty());

  ClearLog();
  Setting(FromDirectory) = root_ + "/gone";
  EXPECT_FALSE(RunBatch(window_, message));
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(LogLines(), (Lines{" [ERR] " + message}));

  ClearLog();
  Setting(FromDirectory) = in_;
  Setting(ArchiveType) = "compress";
  WriteFile(in_ + "a.txt", "x");
  EXPECT_FALSE(RunBatch(window_, message));
  EXPECT_EQ(message, "型が一致しません。");
  EXPECT_EQ(LogLines(), (Lines{" [ERR] 型が一致しません。"}));
  EXPECT_TRUE(Calls().empty());
}

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
  Lines Prompts() const {
    Lines prompts;
    for (const auto& m : MessageHistory()) {
      prompts.push_back(std::to_string(m.style) + ":" + m.prompt);
      EXPECT_EQ(m.title, "Tavrun");
    }
    return prompts;
  }
  std::string Confirmation(const std::string& verb) const {
    return "36:[" + root_ + "/in] 以下にあるファイルを\r\n[" + root_ + "/out] 以下に" + verb +
           "\r\n\r\n処理を実行しますか？";
  }
  // The lock list switched off and then on, in its order; the focus last; the pointer back.
  void ExpectUnlocked(const std::string& focus) {
    Lines off, on;
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
  }
  std::vector<int> pointers_;
};

TEST_F(RunCommandTest, InvalidInputShowsItsMessageAndFocusesTheControl) {
  WriteFile(in_ + "a.txt", "x");
  struct Case {
    std::string text1, text2;
    int operation, format;
    std::string message, focus;
  };
  const std::vector<Case> cases = {
      {"", "", 0, 1, "圧縮・解凍元ディレクトリが未入力です。", "Text1"},
      {root_ + "/none", "", 0, 1, "圧縮・解凍元ディレクトリが存在しません。", "Text1"},
      {root_ + "/in", "", 0, 1, "圧縮・解凍先ディレクトリが未入力です。", "Text2"},
      {root_ + "/in", root_ + "/none", 0, 1, "圧縮・解凍先ディレクトリが存在しません。", "Text2"},
      {root_ + "/in", root_ + "/out", -1, 1, "処理内容が選択されていません。", "Option1(0)"},
      {root_ + "/in", root_ + "/out", 0, -1, "処理形式が選択されていません。", "Option1(0)"},
      {root_ + "/in", root_ + "/out", 1, -1, "処理形式が選択されていません。", "Option1(1)"},
  };
  for (const auto& c : cases) {
    window_.boxes = {{"Text1", c.text1}, {"Text2", c.text2}};
    Select(c.operation, c.format);
    SetNextMessageAnswer(IdYes);  // would confirm, were a confirmation asked
    Command3_Click(window_);
    ClearMessageAnswers();
    EXPECT_EQ(Prompts(), (Lines{"48:" + c.message}));
    ExpectUnlocked(c.focus);
  }
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(Setting(ArchiveType), "1");
  EXPECT_EQ(Setting(CompressType), "-1");
  EXPECT_EQ(Setting(ExtractType), "-1");
}

TEST_F(RunCommandTest, AnythingButYesProcessesNothing) {
  WriteFile(in_ + "a.txt", "x");
  Setting(ExtractType) = "0";
  SetNextMessageAnswer(IdNo);
  Command3_Click(window_);
  EXPECT_EQ(Prompts(), (Lines{Confirmation("圧縮します。")}));
  EXPECT_TRUE(window_.StatusTexts().empty());
  ExpectUnlocked("Text1");
  Command3_Click(window_);  // no answer queued, no box: 0
  EXPECT_EQ(Prompts().size(), 1u);
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(LogLines().empty());
  // Both formats follow the format buttons; no slash is added without a batch.
  EXPECT_EQ(Setting(CompressType), "1");
  EXPECT_EQ(Setting(ExtractType), "1");
  EXPECT_EQ(Setting(FromDirectory), root_ + "/in");
}

TEST_F(RunCommandTest, ResultIsReportedBeforeTheStatusIsCleared) {
  WriteFile(in_ + "a.txt", "x");
  WriteFile(in_ + "b.txt", "y");
  Lines statusAtMessage;
  SetMessageBoxHandler([&](const std::string&, int32_t style, const std::string&) {
    statusAtMessage.push_back(window_.status);
    return style == MsgYesNo ? IdYes : IdOk;
  });
  Command3_Click(window_);
  EXPECT_EQ(Prompts(), (Lines{Confirmation("圧縮します。"), "64:処理が正常終了しました。"}));
  EXPECT_EQ(statusAtMessage, (Lines{"", "2 / 2"}));
  EXPECT_EQ(window_.StatusTexts().back(), "");
  EXPECT_EQ(LogLines().size(), 2u);
  ExpectUnlocked("Text1");
  EXPECT_EQ(Setting(FromDirectory), in_);
  EXPECT_EQ(Setting(ToDirectory), out_);
}

TEST_F(RunCommandTest, OneFailedFileOfThreeGivesTheAbnormalEndWithItsCode) {
  for (const char* name : {"a.txt", "b_rc14.txt", "c.txt"}) WriteFile(in_ + name, "x");
  Select(0, 0);
  SetNextMessageAnswer(IdYes);
  mnuRun_Click(window_);  // the menu entry plays the same run
  EXPECT_EQ(Prompts(), (Lines{Confirmation("圧縮します。"), "48:処理が異常終了しました。\r\n14"}));
  EXPECT_EQ(Calls().size(), 3u);
  EXPECT_EQ(window_.status, "");
  ExpectUnlocked("Text1");
}

TEST_F(RunCommandTest, EmptySourceDirectoryEndsNormally) {
  Select(1, 0);
  SetNextMessageAnswer(IdYes);
  Command3_Click(window_);
  EXPECT_EQ(Prompts(), (Lines{Confirmation("解凍します。"), "64:処理が正常終了しました。"}));
  EXPECT_EQ(LogLines(), (Lines{" [INFO] 対象ファイルが存在しません。"}));
}

TEST_F(RunCommandTest, BrokenControlsAndASecondClickDoNotDisturbTheRun) {
  window_.brokenControls = {"mnuD", "Text1"};
  WriteFile(in_ + "a.txt", "x");
  WriteFile(in_ + "b.txt", "x");
  window_.onYield = [this] { Command3_Click(window_); };
  SetNextMessageAnswer(IdYes);
  SetNextMessageAnswer(IdYes);
  Command3_Click(window_);
  EXPECT_EQ(Prompts(), (Lines{Confirmation("圧縮します。"), "64:処理が正常終了しました。"}));
  EXPECT_EQ(Calls().size(), 2u);
  EXPECT_TRUE(window_.enabled.at("Frame2") && window_.enabled.at("mnuT"));
  ExpectUnlocked("Text1");
}

}  // namespace
}  // namespace tavrun::test
