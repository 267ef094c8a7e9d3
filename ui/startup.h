// The start of the program: where its settings sit, the single-instance lock and the start
// procedure. Its end is in shutdown.h.
#pragma once

#include <functional>
#include <string>

#include "ui/shutdown.h"

class QApplication;

namespace tavrun::ui {

struct StartupPaths {
  std::string settingsDirectory;  // Tavrun.ini and Tavrun.log lie here
  std::string lockDirectory;      // where the single-instance lock is kept
  std::string readmeFile = {};    // empty: Readme.txt in settingsDirectory
  bool portable = true;           // settingsDirectory is the executable's own
};
// The settings location decided once from the executable's real directory. A portable
// folder keeps its lock in the system's temporary directory; the per-user folder keeps it in
// $XDG_RUNTIME_DIR, or in the folder itself.
StartupPaths DefaultStartupPaths();

// The lock file that keeps one user from running two instances on one settings folder. It is
// keyed on the user and the folder, so two users never block each other.
std::string InstanceLockPath(const StartupPaths& paths);

// The start procedure. Refuses a second instance, a failed runtime check or a failed
// initialisation with one message each; otherwise shows the main window. True when the
// window is shown, after which the caller runs the event loop.
bool Main(const StartupPaths& paths);
bool Main();

}  // namespace tavrun::ui
