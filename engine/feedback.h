// The run's two touches of the main window besides message boxes: the progress text and the
// lock of the window's inputs. Both swallow every failure of the window.
#pragma once

#include <array>
#include <string>

#include "engine/run_window.h"

namespace tavrun {

// The controls locked during a run, in the order they are switched.
inline constexpr std::array<const char*, 12> LockList = {
    "mnuD",  "mnuT",     "mnuH",     "Label1",   "Label2", "Text1",
    "Text2", "Command1", "Command2", "Command3", "Frame1", "Frame2"};

// Sets the first status-bar panel.
void SetStatusText(RunWindow& window, const std::string& text);

// Switches every control of LockList; a failing control does not stop the others.
void SetControlsEnabled(RunWindow& window, bool enabled);

}  // namespace tavrun
