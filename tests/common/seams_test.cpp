// The message-box and pointer seams the UI and its tests rely on.
#include "common/seams.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace tavrun {
namespace {

TEST(Seams, MessageBoxesAnswerFromTheQueueThenTheHandlerAndAreAllRecorded) {
  ClearMessageHistory();
  EXPECT_EQ(ShowMessage("unanswered", MsgYesNo, "Tavrun"), 0);
  SetMessageBoxHandler([](const std::string&, int32_t, const std::string&) { return IdNo; });
  SetNextMessageAnswer(IdYes);
  SetNextMessageAnswer(IdOk);
  EXPECT_EQ(ShowMessage("first", MsgYesNo, "Tavrun"), IdYes);
  EXPECT_EQ(ShowMessage("second", MsgInformation, "Tavrun"), IdOk);
  EXPECT_EQ(ShowMessage("third", MsgYesNoDefNo, "Title"), IdNo);
  // A handler that cannot show its box gives no answer.
  SetMessageBoxHandler([](const std::string&, int32_t, const std::string&) -> int32_t {
    throw std::runtime_error("no display");
  });
  EXPECT_EQ(ShowMessage("fourth", MsgYesNo, "Tavrun"), 0);
  SetMessageBoxHandler(nullptr);
  const auto& history = MessageHistory();
  ASSERT_EQ(history.size(), 5u);
  EXPECT_EQ(history[1].prompt, "first");
  EXPECT_EQ(history[3].style, MsgYesNoDefNo);
  EXPECT_EQ(history[3].title, "Title");
  EXPECT_EQ(history[3].answer, IdNo);
  ClearMessageHistory();
}

TEST(Seams, ThePointerIsNeverStacked) {
  std::vector<int> calls;
  SetMousePointerHandler([&](int shape) { calls.push_back(shape); });
  SetMousePointer(PointerHourglass);
  SetMousePointer(PointerHourglass);
  SetMousePointer(PointerDefault);  // one reset after two sets restores the pointer
  EXPECT_EQ(CurrentMousePointer(), PointerDefault);
  SetMousePointer(PointerDefault);
  SetMousePointerHandler(nullptr);
  EXPECT_EQ(calls, (std::vector<int>{PointerHourglass, PointerDefault}));
}

}  // namespace
}  // namespace tavrun
