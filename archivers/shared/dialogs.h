// The archiver libraries' own dialogs, owned by the caller's window. With window 0 (or a
// handle that is no widget of this process) nothing is shown and nothing blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tavrun::arc {

class Progress {
 public:
  virtual ~Progress() = default;
  // Shows the member being worked on and the percentage (0-100) of the whole call.
  // Returns false once the user has cancelled.
  virtual bool Update(const std::string& memberName, int percent) = 0;
  virtual bool Cancelled() const = 0;
};

// A modal progress dialog (title, member name, bar, "キャンセル" button) when `show` is true
// and the window is a widget of this process; otherwise an object that only counts.
std::unique_ptr<Progress> MakeProgress(uintptr_t window, bool show, const std::string& title);

enum class OverwriteAnswer { Yes, No, YesToAll, NoToAll };

// Asks whether `path` may be replaced (yes / no / yes to all / no to all). Without a window
// the answer is No and nothing is shown. `question` is the line shown above the path.
OverwriteAnswer AskOverwrite(uintptr_t window, const std::string& title,
                             const std::string& question, const std::string& path);

// True when `window` is a widget of this process that can own a dialog.
bool HasOwnerWindow(uintptr_t window);

}  // namespace tavrun::arc
