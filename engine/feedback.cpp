#include "engine/feedback.h"

namespace tavrun {

void SetStatusText(RunWindow& window, const std::string& text) {
  try {
    window.SetStatusPanelText(text);
  } catch (...) {
  }
}

void SetControlsEnabled(RunWindow& window, bool enabled) {
  try {
    window.SetInputsEnabled(enabled);
  } catch (...) {
  }
}

}  // namespace tavrun
