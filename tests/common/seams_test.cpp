// The message-box, pointer and shell-open seams.
#include "common/seams.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace tavrun {
namespace {

TEST(Seams, MessageBoxesAnswerFromTheQueueThenTheHandlerAndAreAllRecorded) {
  ClearMessageHistory();
  EXPECT_EQ(ShowMessage("unanswered", MsgYesNo, "Tavrun"), 0);
  std::vector<std::string> shown;
  SetMessageBoxHandler([&](const std::string& prompt, int32_t, const std::string&) {
    shown.push_back(prompt);
    return IdNo;
  });
  SetNextMessageAnswer(IdYes);
  SetNextMessageAnswer(IdOk);
  EXPECT_EQ(ShowMessage("first", MsgYesNo, "Tavrun"), IdYes);
  EXPECT_EQ(ShowMessage("second", MsgInformation, "Tavrun"), IdOk);
  EXPECT_EQ(ShowMessage("third", MsgYesNoDefNo, "Title"), IdNo);
  EXPECT_EQ(shown, std::vector<std::string>{"third"});
  // A handler that cannot show its box gives no answer.
  SetMessageBoxHandler([](const std::string&, int32_t, const std::string&) -> int32_t {
    throw std::runtime_error("no display");
  });
  EXPECT_EQ(ShowMessage("fourth", MsgYesNo, "Tavrun"), 0);
  SetMessageBoxHandler(nullptr);

  const auto& history = MessageHistory();
  ASSERT_EQ(history.size(), 5u);
  EXPECT_EQ(history[1].prompt, "first");
  EXPECT_EQ(history[2].answer, IdOk);
  EXPECT_EQ(history[3].style, MsgYesNoDefNo);
  EXPECT_EQ(history[3].title, "Title");
  EXPECT_EQ(history[4].answer, 0);
  ClearMessageHistory();
}

TEST(Seams, PointerIsNeverStackedAndShellOpenGoesToTheHandler) {
  std::vector<int> calls;
  SetMousePointerHandler([&](int shape) { calls.push_back(shape); });
  SetMousePointer(PointerHourglass);
  SetMousePointer(PointerHourglass);
  SetMousePointer(PointerDefault);  // one reset after two sets restores the pointer
  EXPECT_EQ(CurrentMousePointer(), PointerDefault);
  SetMousePointer(PointerDefault);
  EXPECT_EQ(calls, (std::vector<int>{PointerHourglass, PointerDefault}));
  SetMousePointerHandler(nullptr);

  ShellOpen("/nowhere/Readme.txt");  // no handler: nothing happens
  std::vector<std::string> opened;
  SetShellOpenHandler([&](const std::string& path) { opened.push_back(path); });
  ShellOpen("/x/Tavrun.log");
  SetShellOpenHandler(nullptr);
  EXPECT_EQ(opened, std::vector<std::string>{"/x/Tavrun.log"});
}

}  // namespace
}  // namespace tavrun
