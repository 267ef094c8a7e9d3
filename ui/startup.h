// Start and end of the program: the start procedure, the exit question and the ways the
// process ends.
#pragma once

#include <functional>
#include <string>

class QApplication;

namespace tavrun::ui {

struct StartupPaths {
  std::string exeDirectory;   // the settings, log and readme lie here
  std::string lockDirectory;  // where the single-instance lock is kept
};
// The executable's real directory and the system's temporary directory.
StartupPaths DefaultStartupPaths();

// The lock file that keeps one install running once: two installs in different directories
// have different locks.
std::string InstanceLockPath(const StartupPaths& paths);

// The start procedure. Refuses a second instance, a failed runtime check or a failed
// initialisation with one message each; otherwise shows the main window. True when the
// window is shown, after which the caller runs the event loop.
bool Main(const StartupPaths& paths);
bool Main();

// "終了しますか？": on Yes writes all 18 settings and ends the process at once.
void ExitProgram();

// The session ends or the process is told to terminate: end without asking or saving.
void EndWithoutSaving();
bool EndingWithoutSaving();

// Installs the end of the session and SIGTERM, SIGINT and SIGHUP as EndWithoutSaving.
void InstallTerminationHandlers(QApplication& app);

// Lets go of the instance lock (the process is about to end).
void ReleaseInstanceLock();

// Test seam: what ending the process does. The default releases the lock and ends the
// process at once, so no window handler runs after the settings were written.
void SetProcessEndHandler(std::function<void()> handler);

}  // namespace tavrun::ui
