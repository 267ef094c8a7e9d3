// The start of the program: where its settings sit, the single-instance lock and the start
// procedure. Its end is in shutdown.h.
#pragma once

#include <functional>
#include <string>

#include "app/launch.h"
#include "ui/shutdown.h"

class QApplication;

namespace tavrun::ui {

struct StartupPaths {
  std::string settingsDirectory;  // Tavrun.ini, Tavrun.log and the instance lock lie here
  std::string readmeFile = {};    // empty: Readme.txt in settingsDirectory
  bool portable = true;           // settingsDirectory is the executable's own
};
// The settings location decided once from the executable's real directory.
StartupPaths DefaultStartupPaths();

// The lock file that keeps one user from running two instances on one settings folder: a
// hidden file in that folder, named after the user, so two users never block each other and
// nothing in the environment but the folder itself decides which lock a start meets.
std::string InstanceLockPath(const StartupPaths& paths);

// The start procedure. Refuses a second instance, a failed runtime check or a failed
// initialisation with one message each; otherwise shows the main window, with the command
// line's directory in the source box and its operation selected. True when the window is
// shown, after which the caller runs the event loop.
bool Main(const StartupPaths& paths, const LaunchRequest& request = {});
bool Main(const LaunchRequest& request = {});

}  // namespace tavrun::ui
