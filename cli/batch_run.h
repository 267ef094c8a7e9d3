// One tavrun-cli run: settings, checks, the engine's listing and per-file plan, the files on
// worker threads, the log in list order and the summary.
#pragma once

#include "cli/options.h"

namespace tavrun::cli {

inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
inline constexpr int ExitInterrupted = 130;

// Runs the batch the options describe and returns the exit status.
int RunBatchCommand(const Options& options);

// Ctrl+C and SIGTERM stop the batch: no new file is started, the running ones finish.
void InstallStopHandlers();

}  // namespace tavrun::cli
