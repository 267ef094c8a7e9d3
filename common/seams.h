// Seams between the program's logic and the window system. The UI installs Qt handlers;
// tests queue answers and read what would have been shown. Nothing here needs Qt.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tavrun {

// Message-box styles used by the program and the button identifiers they return.
inline constexpr int32_t MsgStop = 16;         // OK, stop icon
inline constexpr int32_t MsgYesNo = 36;        // Yes/No, question icon, Yes default
inline constexpr int32_t MsgExclamation = 48;  // OK, exclamation icon
inline constexpr int32_t MsgInformation = 64;  // OK, information icon
inline constexpr int32_t MsgYesNoDefNo = 292;  // Yes/No, question icon, No default
inline constexpr int32_t IdOk = 1;
inline constexpr int32_t IdCancel = 2;
inline constexpr int32_t IdYes = 6;
inline constexpr int32_t IdNo = 7;

struct MessageRecord {
  std::string prompt;
  int32_t style = 0;
  std::string title;
  int32_t answer = 0;
  std::string details;  // ShowMessageWithDetails only
};

using MessageBoxHandler =
    std::function<int32_t(const std::string& prompt, int32_t style, const std::string& title)>;

// Shows a modal message box (prompt line breaks are CR LF) and returns the button pressed.
// A queued answer is taken first and no box is shown; with neither a queued answer nor a
// handler the result is 0, which every caller treats as No. Every call is recorded.
int32_t ShowMessage(const std::string& prompt, int32_t style, const std::string& title);
// As ShowMessage, with a longer text the box keeps behind a button of its own (what each file
// of a run met); prompt, icon and buttons are those of the style alone.
int32_t ShowMessageWithDetails(const std::string& prompt, int32_t style, const std::string& title,
                               const std::string& details);
// The details of the box being shown, for the handler; empty for a plain box.
const std::string& CurrentMessageDetails();
void SetMessageBoxHandler(MessageBoxHandler handler);
void SetNextMessageAnswer(int32_t answer);  // queued, first in first out
void ClearMessageAnswers();
const std::vector<MessageRecord>& MessageHistory();
void ClearMessageHistory();

// Pointer shape for the whole program: 11 hourglass, 0 default. Never stacked.
inline constexpr int PointerDefault = 0;
inline constexpr int PointerHourglass = 11;
void SetMousePointer(int shape);
void SetMousePointerHandler(std::function<void(int shape)> handler);
int CurrentMousePointer();

// Opens a file with the associated program; never blocks, result ignored.
void ShellOpen(const std::string& path);
void SetShellOpenHandler(std::function<void(const std::string& path)> handler);

}  // namespace tavrun
