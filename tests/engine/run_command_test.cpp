// Validation, the batch over a directory and the Run command played with scripted answers.
#include <sys/stat.h>

#include <algorithm>

#include "common/seams.h"
#include "engine/feedback.h"
#include "engine/run_command.h"
#include "engine_fixture.h"

namespace tavrun::test {
namespace {

using Lines = std::vector<std::string>;

// --- CheckInput -----------------------------------------------------------------------------

class CheckInputTest : public EngineTest {
 protected:
  // Runs the check with the given settings; returns "message|focus" or "ok|focus".
  std::string Check(const std::string& from, const std::string& to, const std::string& operation,
                    const std::string& compressType, const std::string& extractType) {
    Setting(FromDirectory) = from;
    Setting(ToDirectory) = to;
    Setting(ArchiveType) = operation;
    Setting(CompressType) = compressType;
    Setting(ExtractType) = extractType;
    std::string focus = "unchanged";
    std::string message = "stale";
    const bool ok = CheckInput(window_, focus, message);
    EXPECT_EQ(ok, message.empty()) << message;
    return (ok ? std::string("ok") : message) + "|" + focus;
  }
};

TEST_F(CheckInputTest, ChecksRunInOrderAndNameTheControlToCorrect) {
  const std::string missing = root_ + "/missing";
  const std::string file = root_ + "/file.txt";
  WriteFile(file, "x");
  EXPECT_EQ(Check("", "", "0", "0", "0"), "圧縮・解凍元ディレクトリが未入力です。|Text1");
  EXPECT_EQ(Check(missing, "", "0", "0", "0"), "圧縮・解凍元ディレクトリが存在しません。|Text1");
  // An existing file passes the existence test; the target is looked at next.
  EXPECT_EQ(Check(file, "", "0", "0", "0"), "圧縮・解凍先ディレクトリが未入力です。|Text2");
  EXPECT_EQ(Check(in_, missing, "-1", "0", "0"), "圧縮・解凍先ディレクトリが存在しません。|Text2");
  EXPECT_EQ(Check(in_, out_, "-1", "-1", "-1"), "処理内容が選択されていません。|Option1(0)");
  EXPECT_EQ(Check(in_, out_, "0", "-1", "0"), "処理形式が選択されていません。|Option1(0)");
  EXPECT_EQ(Check(in_, out_, "1", "0", "-1"), "処理形式が選択されていません。|Option1(1)");
  EXPECT_EQ(Check(in_, out_, "0", "1", "-1"), "ok|unchanged");
  EXPECT_EQ(Check(in_, out_, "1", "-1", "1"), "ok|unchanged");
  EXPECT_EQ(Check(root_ + "/in", root_ + "/out", "2", "-1", "-1"), "ok|unchanged");
}

TEST_F(CheckInputTest, ExactTextIsTestedUntrimmed) {
  EXPECT_EQ(Check(" " + in_, out_, "0", "0", "0"),
            "圧縮・解凍元ディレクトリが存在しません。|Text1");
  EXPECT_EQ(Check(in_, out_ + " ", "0", "0", "0"),
            "圧縮・解凍先ディレクトリが存在しません。|Text2");
}

TEST_F(CheckInputTest, SettingThatIsNoNumberEndsTheCheckWithItsDescription) {
  EXPECT_EQ(Check(in_, out_, "zip", "0", "0"), "型が一致しません。|unchanged");
  EXPECT_EQ(Check(in_, out_, "0", "", "0"), "型が一致しません。|unchanged");
  EXPECT_EQ(Check(in_, out_, "70000", "0", "0"), "オーバーフローしました。|unchanged");
  // Only the format of the selected operation is converted.
  EXPECT_EQ(Check(in_, out_, "1", "bad", "0"), "ok|unchanged");
  EXPECT_EQ(Setting(CompressType), "bad");
}

// --- RunBatch -------------------------------------------------------------------------------

class RunBatchTest : public EngineTest {
 protected:
  std::vector<std::string> SortedCalls() const {
    auto calls = Calls();
    std::sort(calls.begin(), calls.end());
    return calls;
  }
  std::string message_;
};

TEST_F(RunBatchTest, ListsOnlyTopLevelPlainFilesAndAddsTheSlashes) {
  Setting(FromDirectory) = root_ + "/in";
  Setting(ToDirectory) = root_ + "/out";
  Setting(CompressType) = "1";
  Setting(ExtractType) = "0";  // not looked at when compressing
  WriteFile(in_ + "b.txt", "b");
  WriteFile(in_ + "a", "a");
  WriteFile(in_ + ".hidden", "h");
  ASSERT_EQ(mkdir((in_ + "sub").c_str(), 0755), 0);
  WriteFile(in_ + "sub/deep.txt", "d");
  ASSERT_TRUE(RunBatch(window_, message_)) << message_;
  EXPECT_EQ(Setting(FromDirectory), in_);
  EXPECT_EQ(Setting(ToDirectory), out_);
  EXPECT_EQ(SortedCalls(), (Lines{
      "Zip|window=4660|size=256|-u -S -v -j \"" + out_ + "a.zip\" \"" + in_ + "a\"",
      "Zip|window=4660|size=256|-u -S -v -j \"" + out_ + "b.zip\" \"" + in_ + "b.txt\"",
  }));
  // Already ending in "/": unchanged.
  ASSERT_TRUE(RunBatch(window_, message_));
  EXPECT_EQ(Setting(FromDirectory), in_);
}

TEST_F(RunBatchTest, OperationAndFormatChooseExactlyOneOperation) {
  WriteFile(in_ + "f.dat", "x");
  struct Case {
    std::string operation, compressType, extractType, entry;
  };
  const std::vector<Case> cases = {
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
    Setting(ArchiveType) = c.operation;
    Setting(CompressType) = c.compressType;
    Setting(ExtractType) = c.extractType;
    message_.clear();
    EXPECT_TRUE(RunBatch(window_, message_)) << c.operation << c.compressType << c.extractType;
    const auto calls = Calls();
    if (c.entry.empty()) {
      EXPECT_TRUE(calls.empty()) << c.operation << c.compressType << c.extractType;
    } else {
      ASSERT_FALSE(calls.empty());
      EXPECT_EQ(calls[0].substr(0, c.entry.size()), c.entry);
    }
  }
}

TEST_F(RunBatchTest, EmptySourceSucceedsAndSaysSoInTheLog) {
  ASSERT_EQ(mkdir((in_ + "only-a-directory").c_str(), 0755), 0);
  WriteFile(in_ + ".only-hidden", "h");
  ASSERT_TRUE(RunBatch(window_, message_));
  EXPECT_EQ(message_, "対象ファイルが存在しません。");
  EXPECT_EQ(LogLines(), (Lines{" [INFO] 対象ファイルが存在しません。"}));
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(window_.events.empty());
  Setting(LogLevel) = "2";
  ASSERT_TRUE(RunBatch(window_, message_));
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(RunBatchTest, UnlistableSourceFailsWithThePlatformText) {
  Setting(FromDirectory) = root_ + "/gone";
  EXPECT_FALSE(RunBatch(window_, message_));
  EXPECT_FALSE(message_.empty());
  EXPECT_EQ(LogLines(), (Lines{" [ERR] " + message_}));
  EXPECT_TRUE(Calls().empty());
}

TEST_F(RunBatchTest, OperationResultAndDetailBecomeTheRunsResult) {
  WriteFile(in_ + "bad_rc21.txt", "x");
  Setting(ArchiveType) = "0";
  EXPECT_FALSE(RunBatch(window_, message_));
  EXPECT_EQ(message_, "21");
}

TEST_F(RunBatchTest, BrokenOperationSettingIsReportedAndLogged) {
  WriteFile(in_ + "a.txt", "x");
  Setting(ArchiveType) = "compress";
  EXPECT_FALSE(RunBatch(window_, message_));
  EXPECT_EQ(message_, "型が一致しません。");
  EXPECT_EQ(LogLines(), (Lines{" [ERR] 型が一致しません。"}));
  EXPECT_TRUE(Calls().empty());
}

// --- Command3_Click -------------------------------------------------------------------------

class RunCommandTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetMousePointer(PointerDefault);
    SetMousePointerHandler([this](int shape) { pointers_.push_back(shape); });
    window_.boxes["Text1"] = root_ + "/in";
    window_.boxes["Text2"] = root_ + "/out";
    Select("Option1", 0);
    Select("Option2", 1);
  }
  void TearDown() override {
    SetMousePointerHandler({});
    SetMessageBoxHandler({});
    EngineTest::TearDown();
  }
  void Select(const std::string& group, int index) {
    window_.options[group] = {index == 0, index == 1};
  }
  std::string Confirmation(const std::string& verb) const {
    return "[" + root_ + "/in] 以下にあるファイルを\r\n[" + root_ + "/out] 以下に" + verb +
           "\r\n\r\n処理を実行しますか？";
  }
  // The lock list switched off, then on, in its order, with nothing between.
  void ExpectLockedAndUnlocked() const {
    Lines off, on;
    for (const auto& event : window_.events) {
      if (event.rfind("disable:", 0) == 0) off.push_back(event.substr(8));
      if (event.rfind("enable:", 0) == 0) on.push_back(event.substr(7));
    }
    const Lines expected(LockList.begin(), LockList.end());
    EXPECT_EQ(off, expected);
    EXPECT_EQ(on, expected);
    for (const auto& control : LockList) EXPECT_TRUE(window_.enabled.at(control)) << control;
    EXPECT_EQ(pointers_, (std::vector<int>{PointerHourglass, PointerDefault}));
  }
  std::vector<int> pointers_;
};

TEST_F(RunCommandTest, InvalidInputShowsItsMessageAndFocusesTheControl) {
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
  WriteFile(in_ + "a.txt", "x");
  for (const auto& c : cases) {
    window_.events.clear();
    pointers_.clear();
    ClearMessageHistory();
    window_.boxes["Text1"] = c.text1;
    window_.boxes["Text2"] = c.text2;
    Select("Option1", c.operation);
    Select("Option2", c.format);
    SetNextMessageAnswer(IdYes);  // would confirm, were a confirmation asked
    Command3_Click(window_);
    ClearMessageAnswers();
    ASSERT_EQ(MessageHistory().size(), 1u) << c.message;
    EXPECT_EQ(MessageHistory()[0].prompt, c.message);
    EXPECT_EQ(MessageHistory()[0].style, MsgExclamation);
    EXPECT_EQ(MessageHistory()[0].title, "Tavrun");
    EXPECT_EQ(window_.events.back(), "focus:" + c.focus) << c.message;
    ExpectLockedAndUnlocked();
    EXPECT_TRUE(window_.StatusTexts().empty());
  }
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(LogLines().empty());
  // What the boxes said stays in the settings, with nothing added.
  EXPECT_EQ(Setting(FromDirectory), root_ + "/in");
  EXPECT_EQ(Setting(ArchiveType), "1");
  EXPECT_EQ(Setting(CompressType), "-1");
  EXPECT_EQ(Setting(ExtractType), "-1");
}

TEST_F(RunCommandTest, NoAtTheConfirmationProcessesNothing) {
  WriteFile(in_ + "a.txt", "x");
  Setting(ExtractType) = "0";
  SetNextMessageAnswer(IdNo);
  Command3_Click(window_);
  ASSERT_EQ(MessageHistory().size(), 1u);
  EXPECT_EQ(MessageHistory()[0].prompt, Confirmation("圧縮します。"));
  EXPECT_EQ(MessageHistory()[0].style, MsgYesNo);
  EXPECT_EQ(MessageHistory()[0].title, "Tavrun");
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(LogLines().empty());
  EXPECT_TRUE(window_.StatusTexts().empty());
  EXPECT_EQ(window_.events.back(), "focus:Text1");
  ExpectLockedAndUnlocked();
  // Both format settings follow the format buttons; no slash is added without a run.
  EXPECT_EQ(Setting(CompressType), "1");
  EXPECT_EQ(Setting(ExtractType), "1");
  EXPECT_EQ(Setting(FromDirectory), root_ + "/in");
}

TEST_F(RunCommandTest, AnythingButYesCountsAsNo) {
  WriteFile(in_ + "a.txt", "x");
  Command3_Click(window_);  // no answer queued and no box: 0
  EXPECT_EQ(MessageHistory().size(), 1u);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(RunCommandTest, SuccessfulRunReportsAndClearsTheStatusAfterwards) {
  WriteFile(in_ + "a.txt", "x");
  WriteFile(in_ + "b.txt", "y");
  std::vector<std::string> statusAtMessage;
  SetMessageBoxHandler([&](const std::string&, int32_t style, const std::string&) {
    statusAtMessage.push_back(window_.status);
    return style == MsgYesNo ? IdYes : IdOk;
  });
  Command3_Click(window_);
  ASSERT_EQ(MessageHistory().size(), 2u);
  EXPECT_EQ(MessageHistory()[1].prompt, "処理が正常終了しました。");
  EXPECT_EQ(MessageHistory()[1].style, MsgInformation);
  EXPECT_EQ(MessageHistory()[1].title, "Tavrun");
  EXPECT_EQ(statusAtMessage, (Lines{"", "2 / 2"}));
  EXPECT_EQ(window_.status, "");
  EXPECT_EQ(window_.StatusTexts().back(), "");
  EXPECT_EQ(Calls().size(), 2u);
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_EQ(window_.events.back(), "focus:Text1");
  ExpectLockedAndUnlocked();
  EXPECT_EQ(Setting(FromDirectory), in_);
  EXPECT_EQ(Setting(ToDirectory), out_);
}

TEST_F(RunCommandTest, OneFailedFileOfThreeGivesTheAbnormalEndWithItsCode) {
  WriteFile(in_ + "a.txt", "x");
  WriteFile(in_ + "b_rc14.txt", "y");
  WriteFile(in_ + "c.txt", "z");
  Select("Option2", 0);
  SetNextMessageAnswer(IdYes);
  Command3_Click(window_);
  ASSERT_EQ(MessageHistory().size(), 2u);
  EXPECT_EQ(MessageHistory()[1].prompt, "処理が異常終了しました。\r\n14");
  EXPECT_EQ(MessageHistory()[1].style, MsgExclamation);
  EXPECT_EQ(Calls().size(), 3u);
  EXPECT_EQ(window_.status, "");
  ExpectLockedAndUnlocked();
}

TEST_F(RunCommandTest, EmptySourceDirectoryEndsNormally) {
  Select("Option1", 1);
  SetNextMessageAnswer(IdYes);
  Command3_Click(window_);
  ASSERT_EQ(MessageHistory().size(), 2u);
  EXPECT_EQ(MessageHistory()[0].prompt, Confirmation("解凍します。"));
  EXPECT_EQ(MessageHistory()[1].prompt, "処理が正常終了しました。");
  EXPECT_EQ(LogLines(), (Lines{" [INFO] 対象ファイルが存在しません。"}));
}

TEST_F(RunCommandTest, MenuEntryPlaysTheSameRun) {
  WriteFile(in_ + "a_rc3.txt", "x");
  SetNextMessageAnswer(IdYes);
  mnuRun_Click(window_);
  ASSERT_EQ(MessageHistory().size(), 2u);
  EXPECT_EQ(MessageHistory()[0].prompt, Confirmation("圧縮します。"));
  EXPECT_EQ(MessageHistory()[1].prompt, "処理が異常終了しました。\r\n3");
  ExpectLockedAndUnlocked();
}

TEST_F(RunCommandTest, FailingWindowControlsDoNotStopTheCommand) {
  window_.brokenControls = {"mnuD", "Text1"};
  WriteFile(in_ + "a.txt", "x");
  SetNextMessageAnswer(IdYes);
  Command3_Click(window_);
  EXPECT_EQ(MessageHistory().size(), 2u);
  // Every other control is still switched, both ways.
  EXPECT_TRUE(window_.enabled.at("Frame2"));
  EXPECT_TRUE(window_.enabled.at("mnuT"));
  EXPECT_EQ(std::count(window_.events.begin(), window_.events.end(), "disable:Frame2"), 1);
  EXPECT_EQ(window_.events.back(), "focus:Text1");
  EXPECT_EQ(pointers_, (std::vector<int>{PointerHourglass, PointerDefault}));
}

TEST_F(RunCommandTest, DirectoryWithTrailingSlashIsShownAsTyped) {
  window_.boxes["Text1"] = in_;
  SetNextMessageAnswer(IdNo);
  Command3_Click(window_);
  ASSERT_EQ(MessageHistory().size(), 1u);
  EXPECT_EQ(MessageHistory()[0].prompt.substr(0, in_.size() + 2), "[" + in_ + "]");
}

}  // namespace
}  // namespace tavrun::test
