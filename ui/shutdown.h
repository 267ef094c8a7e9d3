// The end of the program: the exit question and the ways the process ends. The main window
// asks for these; the start procedure (startup.cpp) implements them.
#pragma once

#include <functional>

class QApplication;

namespace tavrun::ui {

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
