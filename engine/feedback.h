// The run's two touches of the main window besides message boxes: the progress text and the
// lock of the window's inputs. Both swallow every failure of the window.
#pragma once

#include <string>

#include "engine/run_window.h"

namespace tavrun {

// Sets the first status-bar panel.
void SetStatusText(RunWindow& window, const std::string& text);

// Locks or unlocks the window's inputs (the window knows which, and in which order).
void SetControlsEnabled(RunWindow& window, bool enabled);

}  // namespace tavrun
