// The engine's only view of the main window: what a run reads from it and the few things it
// does to it. The UI implements it over its widgets; tests implement it over plain data.
// Which widgets these are is the UI's business: no control is named here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tavrun {

// The inputs a run copies into the settings. -1: no button of the group selected.
struct RunInputs {
  std::string source;
  std::string target;
  int operation = -1;  // 0 compress, 1 extract
  int format = -1;     // 0 LZH, 1 ZIP
};

// The inputs validation can send the focus to.
enum class RunFocus { Source, Target, Compress, Extract };

class RunWindow {
 public:
  virtual ~RunWindow() = default;

  // UI thread only.
  virtual RunInputs Inputs() const = 0;
  // Locks (false) or unlocks (true) the window's inputs for a run; the close box stays.
  virtual void SetInputsEnabled(bool enabled) = 0;
  virtual void Focus(RunFocus control) = 0;

  // Any thread: the progress text of the status bar.
  virtual void SetStatusPanelText(const std::string& text) = 0;
  // Any thread: the native window id handed to the archiver libraries; 0 for none.
  virtual uintptr_t NativeHandle() const = 0;

  // Runs the whole batch and returns when it has finished. The UI runs it on one worker
  // thread and keeps processing events meanwhile (repaint, the close box, the libraries'
  // dialogs); an exception thrown by `batch` is rethrown here.
  virtual void RunBatchWork(const std::function<void()>& batch) { batch(); }
};

}  // namespace tavrun
