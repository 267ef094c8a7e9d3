// The archiver libraries' own dialogs, owned by the caller's window. With window 0 (or a
// handle that is no widget of this process, or no QApplication) nothing is shown, nobody is
// asked and nothing blocks.
//
// Threads: a library may be called on any thread. The dialogs always live on the UI thread:
// a call from another thread asks the UI thread to show them and waits for the answer, so
// the UI thread must keep processing events while a library call runs with a window.
//
// The host (host.h): once it asks to stop, every Progress reports a cancel and no more
// questions are asked. A "to all" answer is kept by the host and answers the same question
// for the rest of its run; without a host nothing outlives one call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tavrun::arc {

class Progress {
 public:
  virtual ~Progress() = default;
  // Shows the member being worked on and the percentage (0-100) of the whole call.
  // Returns false once the user (or the run, through its scope) has cancelled.
  virtual bool Update(const std::string& memberName, int percent) = 0;
  virtual bool Cancelled() const = 0;
};

// A modal progress dialog (title, member name, bar, "キャンセル" button) when `show` is true
// and the window is a widget of this process; otherwise an object that only counts (and
// still reports the run's cancel). The dialog appears once the call has lasted half a second,
// so short calls show none.
std::unique_ptr<Progress> MakeProgress(uintptr_t window, bool show, const std::string& title);

enum class OverwriteAnswer { Yes, No, YesToAll, NoToAll };

// Asks whether `path` may be replaced (yes / no / yes to all / no to all). Without a window,
// or once the run is cancelled, the answer is No and nothing is shown. A "to all" answer
// given earlier in the run to the same title and question is returned without asking.
// `question` is the line shown above the path.
OverwriteAnswer AskOverwrite(uintptr_t window, const std::string& title,
                             const std::string& question, const std::string& path);

// True when `window` is a widget of this process that can own a dialog.
bool HasOwnerWindow(uintptr_t window);

}  // namespace tavrun::arc
