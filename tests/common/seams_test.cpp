// The message-box, pointer and shell-open seams.
#include "common/seams.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavrun {
namespace {

class SeamsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetMessageBoxHandler(nullptr);
    ClearMessageAnswers();
    ClearMessageHistory();
    SetMousePointer(PointerDefault);
    SetMousePointerHandler(nullptr);
    SetShellOpenHandler(nullptr);
  }
};

TEST_F(SeamsTest, QueuedAnswersComeFirstInOrderThenTheHandler) {
  std::vector<std::string> shown;
  SetMessageBoxHandler([&](const std::string& prompt, int32_t, const std::string&) {
    shown.push_back(prompt);
    return IdNo;
  });
  SetNextMessageAnswer(IdYes);
  SetNextMessageAnswer(IdOk);
  EXPECT_EQ(ShowMessage("first", MsgYesNo, "Tavrun"), IdYes);
  EXPECT_EQ(ShowMessage("second", MsgInformation, "Tavrun"), IdOk);
  EXPECT_EQ(ShowMessage("third", MsgYesNoDefNo, "Tavrun"), IdNo);
  EXPECT_EQ(shown, std::vector<std::string>{"third"});

  const auto& history = MessageHistory();
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].prompt, "first");
  EXPECT_EQ(history[0].style, MsgYesNo);
  EXPECT_EQ(history[1].answer, IdOk);
  EXPECT_EQ(history[2].style, MsgYesNoDefNo);
  EXPECT_EQ(history[2].title, "Tavrun");
  EXPECT_EQ(history[2].answer, IdNo);
}

TEST_F(SeamsTest, WithNothingToAnswerTheResultIsZero) {
  EXPECT_EQ(ShowMessage("q", MsgYesNo, "Tavrun"), 0);
  SetNextMessageAnswer(IdYes);
  ClearMessageAnswers();
  EXPECT_EQ(ShowMessage("q", MsgYesNo, "Tavrun"), 0);
  // A handler that cannot show its box counts as No, and the call is still recorded.
  SetMessageBoxHandler([](const std::string&, int32_t, const std::string&) -> int32_t {
    throw std::runtime_error("no display");
  });
  EXPECT_EQ(ShowMessage("q", MsgYesNo, "Tavrun"), 0);
  EXPECT_EQ(MessageHistory().size(), 3u);
  ClearMessageHistory();
  EXPECT_TRUE(MessageHistory().empty());
}

TEST_F(SeamsTest, ThePointerIsNeverStacked) {
  std::vector<int> calls;
  SetMousePointerHandler([&](int shape) { calls.push_back(shape); });
  SetMousePointer(PointerHourglass);
  SetMousePointer(PointerHourglass);
  EXPECT_EQ(CurrentMousePointer(), PointerHourglass);
  SetMousePointer(PointerDefault);  // one reset after two sets restores the pointer
  EXPECT_EQ(CurrentMousePointer(), PointerDefault);
  SetMousePointer(PointerDefault);
  EXPECT_EQ(calls, (std::vector<int>{PointerHourglass, PointerDefault}));
}

TEST_F(SeamsTest, ShellOpenGoesToTheHandlerOrNowhere) {
  ShellOpen("/nowhere/Readme.txt");  // no handler: nothing happens
  std::vector<std::string> opened;
  SetShellOpenHandler([&](const std::string& path) { opened.push_back(path); });
  ShellOpen("/x/Tavrun.log");
  EXPECT_EQ(opened, std::vector<std::string>{"/x/Tavrun.log"});
}

}  // namespace
}  // namespace tavrun
