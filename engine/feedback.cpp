#include "engine/feedback.h"

namespace tavrun {

void SetStatusText(RunWindow& window, const std::string& text) {
  try {
    window.SetStatusPanelText(text);
  } catch (...) {
  }
}

void SetControlsEnabled(RunWindow& window, bool enabled) {
  for (const char* control : LockList) {
    try {
      window.SetControlEnabled(control, enabled);
    } catch (...) {
    }
  }
}

}  // namespace tavrun
