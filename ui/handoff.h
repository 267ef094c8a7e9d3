// A second start with a folder (a file manager's action while the window is open) hands the
// folder to the window already open instead of being refused: the window takes it into its
// source box, as its own command line would, when it is idle. The two meet on a socket in
// Linux's abstract namespace, named after the instance lock, so nothing is left in the
// settings folder and only a start that meets the same lock finds it; the window takes
// requests from its own user only.
#pragma once

#include <string>

#include "app/launch.h"

namespace tavrun::ui {

class FrmTavrunMain;
struct StartupPaths;

enum class Handoff {
  Taken,  // the open window took the folder
  Busy,   // it is running a batch or asking something: it takes nothing now
  NoOne,  // nobody listens (an older or a hung instance holds the lock)
};

// The socket's name, the same for every start that meets the same instance lock. It begins
// with a slash, so that Qt takes it as it is (not under $TMPDIR).
std::string HandoffName(const StartupPaths& paths);

// The open window's side: from now on, requests go into `window` while the process lives.
void ListenForHandoffs(const StartupPaths& paths, FrmTavrunMain& window);

// The second start's side: hands `request` over and waits up to `timeoutMs` for the answer.
Handoff HandOver(const StartupPaths& paths, const LaunchRequest& request, int timeoutMs = 3000);

// What ApplyLaunchRequest does at start-up, for a window already open.
void ApplyLaunchRequest(FrmTavrunMain& window, const LaunchRequest& request);

}  // namespace tavrun::ui
