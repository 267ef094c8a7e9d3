#include "common/seams.h"

#include <deque>
#include <utility>

namespace tavrun {
namespace {

struct SeamState {
  MessageBoxHandler messageHandler;
  std::deque<int32_t> answers;
  std::vector<MessageRecord> history;
  std::function<void(int)> pointerHandler;
  int pointer = PointerDefault;
  std::function<void(const std::string&)> shellOpenHandler;
  std::string details;  // of the box being shown
};

SeamState& State() {
  static SeamState state;
  return state;
}

// A box shown while another one waits (the exit question over a result) has details of its
// own, so the outer box's are put aside for it.
int32_t Show(const std::string& prompt, int32_t style, const std::string& title,
             const std::string& details) {
  SeamState& s = State();
  int32_t answer = 0;
  std::string outer = std::move(s.details);
  try {
    s.details = details;
    if (!s.answers.empty()) {
      answer = s.answers.front();
      s.answers.pop_front();
    } else if (s.messageHandler) {
      answer = s.messageHandler(prompt, style, title);
    }
  } catch (...) {
    answer = 0;  // a box that cannot be shown answers No
  }
  try {
    s.history.push_back(MessageRecord{prompt, style, title, answer, details});
  } catch (...) {
  }
  s.details = std::move(outer);
  return answer;
}

}  // namespace

int32_t ShowMessage(const std::string& prompt, int32_t style, const std::string& title) {
  return Show(prompt, style, title, {});
}

int32_t ShowMessageWithDetails(const std::string& prompt, int32_t style, const std::string& title,
                               const std::string& details) {
  return Show(prompt, style, title, details);
}

const std::string& CurrentMessageDetails() {
  return State().details;
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
  State().messageHandler = std::move(handler);
}

void SetNextMessageAnswer(int32_t answer) {
  State().answers.push_back(answer);
}

void ClearMessageAnswers() {
  State().answers.clear();
}

const std::vector<MessageRecord>& MessageHistory() {
  return State().history;
}

void ClearMessageHistory() {
  State().history.clear();
}

void SetMousePointer(int shape) {
  SeamState& s = State();
  int wanted = shape == PointerHourglass ? PointerHourglass : PointerDefault;
  // Setting the same shape twice changes nothing, so one reset always restores the pointer.
  if (wanted == s.pointer) return;
  s.pointer = wanted;
  if (s.pointerHandler) {
    try {
      s.pointerHandler(wanted);
    } catch (...) {
    }
  }
}

void SetMousePointerHandler(std::function<void(int shape)> handler) {
  State().pointerHandler = std::move(handler);
}

int CurrentMousePointer() {
  return State().pointer;
}

void ShellOpen(const std::string& path) {
  SeamState& s = State();
  if (!s.shellOpenHandler) return;
  try {
    s.shellOpenHandler(path);
  } catch (...) {
  }
}

void SetShellOpenHandler(std::function<void(const std::string& path)> handler) {
  State().shellOpenHandler = std::move(handler);
}

}  // namespace tavrun
