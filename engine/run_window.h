// The engine's only view of the main window. The UI implements it over its widgets; tests
// implement it over plain data. Controls are addressed by their names.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tavrun {

class RunWindow {
 public:
  virtual ~RunWindow() = default;

  // Current text of "Text1" (source) or "Text2" (target).
  virtual std::string BoxText(const std::string& control) const = 0;
  // Number of elements of the option-button array "Option1" or "Option2", and whether
  // element `index` is selected.
  virtual int OptionCount(const std::string& group) const = 0;
  virtual bool OptionSelected(const std::string& group, int index) const = 0;
  // Enables or disables one control of the lock list by name: "mnuD", "mnuT", "mnuH",
  // "Label1", "Label2", "Text1", "Text2", "Command1", "Command2", "Command3", "Frame1",
  // "Frame2".
  virtual void SetControlEnabled(const std::string& control, bool enabled) = 0;
  // Text of the first status-bar panel.
  virtual void SetStatusPanelText(const std::string& text) = 0;
  // Keyboard focus to "Text1", "Text2", "Option1(0)" or "Option1(1)".
  virtual void FocusControl(const std::string& control) = 0;
  // Lets the window system process pending events once.
  virtual void ProcessPendingEvents() = 0;
  // The native window id handed to the archiver libraries; 0 for none. Also called from the
  // thread that RunArchiverCall uses, so it must not touch the window system there.
  virtual uintptr_t NativeHandle() const = 0;
  // Runs one archiver call and returns when it has returned. The UI runs it off its own
  // thread and keeps processing events meanwhile, so the window repaints and its close box
  // answers during a long file; an exception thrown by the call is rethrown here.
  virtual void RunArchiverCall(const std::function<void()>& call) { call(); }
};

}  // namespace tavrun
