// A whole run as the user starts it from the main window: validation, confirmation, the
// batch over the source directory and the result message.
#pragma once

#include <string>

#include "engine/run_window.h"

namespace tavrun {

// Checks the inputs already copied into the settings. False with the message to show and the
// input to correct in `focusTarget` (left alone after an unexpected error).
bool CheckInput(RunWindow& window, RunFocus& focusTarget, std::string& messageText);

// Makes both directory settings end in "/", lists the plain files of the source directory and
// hands them to the operation chosen by the settings. False when the listing failed or the
// operation reported a failure; `messageText` then holds the detail.
bool RunBatch(RunWindow& window, std::string& messageText);

// The Run button and the menu entry. Every step runs whatever the previous one did, so the
// window always ends unlocked, focused and with the normal pointer. The batch itself runs in
// the window's RunBatchWork, inside a RunSession that the libraries see as their host.
void Command3_Click(RunWindow& window);
void mnuRun_Click(RunWindow& window);

}  // namespace tavrun
