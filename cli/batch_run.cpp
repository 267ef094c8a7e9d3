#include "cli/batch_run.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <vector>

#include "app/settings.h"
#include "cli/messages.h"
#include "cli/progress.h"
#include "common/log.h"
#include "common/paths.h"
#include "engine/batch.h"
#include "engine/errors.h"
#include "engine/file_step.h"
#include "engine/host.h"
#include "engine/plan.h"
#include "engine/run_command.h"

namespace tavrun::cli {
namespace {

// Set from the signal handler; the batch and the running calls watch it through the session.
std::atomic<bool> stopRequested{false};
std::atomic<RunSession*> runningSession{nullptr};
volatile sig_atomic_t stopSignal = 0;
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
static_assert(std::atomic<RunSession*>::is_always_lock_free, "read from a signal handler");

void OnStopSignal(int signal) {
  stopSignal = signal;
  stopRequested.store(true);
  if (RunSession* session = runningSession.load()) session->RequestCancel();
}

// Nobody sits behind this window: the libraries get handle 0 and ask nobody.
class NoWindow : public RunWindow {
 public:
  RunInputs Inputs() const override { return {}; }
  void SetInputsEnabled(bool) override {}
  void Focus(RunFocus) override {}
  void SetStatusPanelText(const std::string&) override {}
  uintptr_t NativeHandle() const override { return 0; }
};

using Result = FileStatus;

// A file's result with the lines the log and the summary get.
struct Outcome {
  FileResult result;
  std::vector<LogEntry> log;
};

void Print(std::FILE* stream, const std::string& text) {
  std::fprintf(stream, "%s\n", text.c_str());
}

int UsageError(const std::string& text) {
  Print(stderr, "tavrun-cli: " + text);
  return ExitUsage;
}

// The settings file goes through the start-up reader, so a value the window would repair is
// repaired the same way. That reader takes Tavrun.ini from a directory: a private directory
// holding a link of that name lets any file name be used.
bool LoadSettingsFile(const std::string& file, std::string& errorText) {
  if (!IsPlainFile(file) || access(file.c_str(), R_OK) != 0) {
    errorText = PlatformErrorText(IsPlainFile(file) ? EACCES : ENOENT);
    return false;
  }
  char* real = realpath(file.c_str(), nullptr);
  if (real == nullptr) {
    errorText = PlatformErrorText(errno);
    return false;
  }
  const std::string target = real;
  free(real);
  std::string directory = "/tmp/tavrun-cli-XXXXXX";
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
    directory = std::string(tmp) + "/tavrun-cli-XXXXXX";
  }
  if (mkdtemp(directory.data()) == nullptr) {
    errorText = PlatformErrorText(errno);
    return false;
  }
  const std::string link = directory + "/Tavrun.ini";
  bool loaded = symlink(target.c_str(), link.c_str()) == 0;
  if (!loaded) errorText = PlatformErrorText(errno);
  if (loaded) loaded = InitAppIn(directory, errorText);
  unlink(link.c_str());
  unlink((directory + "/Tavrun.log").c_str());
  rmdir(directory.c_str());
  return loaded;
}

void LoadDefaults() {
  AppState& app = App();
  app.SettingKeys = DefaultSettingKeys();
  app.AppSettings.assign(SettingCount, std::string());
  for (int i = 0; i < SettingCount; ++i) {
    app.AppSettings[static_cast<size_t>(i)] = SettingDefault(static_cast<SettingIndex>(i));
  }
}

void ApplyOptions(const Options& options) {
  Setting(ArchiveType) = options.compress ? "0" : "1";
  Setting(CompressType) = options.zip ? "1" : "0";
  Setting(ExtractType) = options.zip ? "1" : "0";
  Setting(FromDirectory) = options.source;
  Setting(ToDirectory) = options.target;
  for (const auto& [index, value] : options.settings) Setting(index) = value;
  App().LogFilePath = options.logFile;
  if (options.logFile.empty()) {
    Setting(LogLevel) = std::to_string(LogOff);
  } else if (!options.logLevelGiven && Setting(LogLevel) == std::to_string(LogOff)) {
    // Asking for a log file and getting an empty one would make no sense.
    Setting(LogLevel) = std::to_string(LogLevelInfo);
  }
}

// The window's input check, then what the tool needs beyond it: a target that is a directory.
bool CheckDirectories(std::string& errorText) {
  NoWindow window;
  RunFocus focus = RunFocus::Compress;
  std::string message;
  if (!CheckInput(window, focus, message)) {
    const std::string& from = Setting(FromDirectory);
    const std::string& to = Setting(ToDirectory);
    if (focus == RunFocus::Source) {
      errorText = from.empty() ? Text(Msg::SourceEmpty) : Text(Msg::SourceMissing, {from});
    } else if (focus == RunFocus::Target) {
      errorText = to.empty() ? Text(Msg::TargetEmpty) : Text(Msg::TargetMissing, {to});
    } else {
      errorText = message;
    }
    return false;
  }
  if (!IsDirectory(Setting(ToDirectory))) {
    errorText = Text(Msg::TargetNotDirectory, {Setting(ToDirectory)});
    return false;
  }
  return true;
}

void Log(const std::string& text, int16_t level) {
  WriteLog(App().LogFilePath, text, level, LogThresholdOrOff());
}

// The window's step for one file, without a window: nobody is asked.
Outcome RunFile(Operation operation, const FilePlan& plan) {
  Outcome outcome;
  outcome.result = RunFileStep(operation, plan, 0);
  outcome.log = LogEntriesFor(operation, plan, outcome.result);
  return outcome;
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// A library's text may run over several lines; they stay under their file in the summary.
std::string Indented(const std::string& text) {
  std::string result;
  for (char c : text) {
    result += c;
    if (c == '\n') result += "    ";
  }
  while (!result.empty() && (result.back() == ' ' || result.back() == '\n')) result.pop_back();
  return result;
}

struct Tally {
  size_t counts[4] = {0, 0, 0, 0};
  std::vector<std::string> lines[4];  // by Result: what the summary lists
};

void PrintSummary(const Tally& tally, size_t fileCount, bool quiet) {
  auto count = [&](Result r) { return std::to_string(tally.counts[static_cast<int>(r)]); };
  const auto& failed = tally.lines[static_cast<int>(Result::Failed)];
  if (quiet) {
    for (const std::string& line : failed) Print(stderr, line);
    return;
  }
  Print(stdout,
        Text(Msg::Summary, {std::to_string(fileCount), count(Result::Done), count(Result::Kept),
                            count(Result::Skipped), count(Result::Failed)}));
  const std::pair<Result, Msg> sections[] = {{Result::Kept, Msg::KeptHeading},
                                             {Result::Skipped, Msg::SkippedHeading},
                                             {Result::Failed, Msg::FailedHeading}};
  for (const auto& [result, heading] : sections) {
    const auto& lines = tally.lines[static_cast<int>(result)];
    if (lines.empty()) continue;
    Print(stdout, Text(heading));
    for (const std::string& line : lines) Print(stdout, "  " + line);
  }
}

}  // namespace

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

namespace {

// The listed files with everything decided before the first one runs.
struct Batch {
  Operation operation = Operation::CompressLzh;
  std::vector<FilePlan> plans;
  std::vector<std::string> keys;
  std::vector<uint64_t> sizes;
  uint64_t totalBytes = 0;
};

// Settings from the defaults or the file, the options over them, then the directories.
bool PrepareSettings(const Options& options, std::string& errorText) {
  if (options.settingsFile.empty()) {
    LoadDefaults();
  } else if (!LoadSettingsFile(options.settingsFile, errorText)) {
    errorText = Text(Msg::SettingsUnreadable, {options.settingsFile, errorText});
    return false;
  }
  ApplyOptions(options);
  // The log writer is silent about failures, as the window wants; a script asking for a log
  // is told at once instead of finding none afterwards.
  if (!options.logFile.empty()) {
    const int fd = open(options.logFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      errorText = Text(Msg::LogUnwritable, {options.logFile, PlatformErrorText(errno)});
      return false;
    }
    close(fd);
  }
  return CheckDirectories(errorText);
}

// As the window's run: both directories end in "/", then the engine's listing.
bool ListSource(std::vector<std::string>& names, std::string& errorText) {
  std::string ignored;
  Setting(FromDirectory) = AddBackslash(Setting(FromDirectory), ignored);
  Setting(ToDirectory) = AddBackslash(Setting(ToDirectory), ignored);
  if (ListFiles(Setting(FromDirectory), "*.*", names, errorText) >= 0) return true;
  Log(errorText, LogLevelError);
  errorText = Text(Msg::ListFailed, {Setting(FromDirectory), errorText});
  return false;
}

bool PlanBatch(const std::vector<std::string>& names, Batch& batch, std::string& errorText) {
  bool directoryPerArchive = false;
  try {
    if (!SelectedOperation(batch.operation)) {
      errorText = Text(Msg::UsageHint);
      return false;
    }
    directoryPerArchive = SettingAsInt16(MakeDirectory) == 1;
  } catch (...) {
    errorText = CurrentErrorText();
    return false;
  }
  const std::string prefix = SwitchesFor(batch.operation);
  for (const std::string& name : names) {
    batch.plans.push_back(PlanFile(batch.operation, prefix, Setting(FromDirectory),
                                   Setting(ToDirectory), name, directoryPerArchive));
    batch.keys.push_back(batch.plans.back().groupKey);
    batch.sizes.push_back(FileSize(batch.plans.back().source));
    batch.totalBytes += batch.sizes.back();
  }
  return true;
}

// One summary line per file that was not simply done.
void Count(Tally& tally, const FilePlan& plan, const Outcome& outcome) {
  const FileResult& result = outcome.result;
  const int r = static_cast<int>(result.status);
  ++tally.counts[r];
  if (result.status == Result::Done) return;
  std::string line = plan.source;
  const std::string reason = ReasonText(result, JapaneseLocale());
  if (!reason.empty()) line += ": " + Indented(reason);
  if (result.status != Result::Skipped && result.code > 0) {
    line += " (" + std::to_string(result.code) + ")";
  }
  tally.lines[r].push_back(line);
}

// The files on the workers; their log lines and summary lines in list order. Returns the
// number of files that ran.
size_t RunFiles(const Batch& batch, const Options& options, Tally& tally) {
  std::vector<Outcome> outcomes(batch.plans.size());
  std::atomic<size_t> doneFiles{0};
  std::atomic<uint64_t> doneBytes{0};
  ProgressLine progress(!options.quiet, stderr, batch.plans.size(), batch.totalBytes);
  bool stopAnnounced = false;

  BatchCallbacks callbacks;
  callbacks.work = [&](size_t i) {
    outcomes[i] = RunFile(batch.operation, batch.plans[i]);
    doneBytes += batch.sizes[i];
    ++doneFiles;
  };
  callbacks.deliver = [&](size_t i) {
    for (const LogEntry& entry : outcomes[i].log) Log(entry.text, entry.level);
    Count(tally, batch.plans[i], outcomes[i]);
  };
  callbacks.tick = [&] {
    if (stopRequested.load() && !stopAnnounced && !options.quiet) {
      progress.Clear();
      Print(stderr, Text(Msg::Stopping));
      stopAnnounced = true;
    }
    progress.Update(doneFiles.load(), doneBytes.load());
  };
  // Drawn once before the first file, so a short batch on a terminal shows it ran at all.
  progress.Update(0, 0);
  const unsigned processors = AvailableProcessors();
  const unsigned jobs =
      std::max(1u, std::min<unsigned>(options.jobs > 0 ? options.jobs : processors,
                                      static_cast<unsigned>(batch.plans.size())));
  // One budget of processors: files at once times threads per file never exceeds it.
  RunSession session;
  session.SetThreadsPerCall(std::max(1u, processors / jobs));
  runningSession.store(&session);
  if (stopRequested.load()) session.RequestCancel();
  const size_t ran = RunGrouped(batch.keys, jobs, callbacks, stopRequested);
  runningSession.store(nullptr);
  progress.Clear();
  return ran;
}

}  // namespace

int RunBatchCommand(const Options& options) {
  std::string errorText;
  std::vector<std::string> names;
  Batch batch;
  if (!PrepareSettings(options, errorText) || !ListSource(names, errorText)) {
    return UsageError(errorText);
  }
  if (names.empty()) {
    Log(NoFilesText, LogLevelInfo);
    if (!options.quiet) Print(stdout, Text(Msg::NoFiles));
    return ExitDone;
  }
  if (!PlanBatch(names, batch, errorText)) return UsageError(errorText);

  Tally tally;
  const size_t ran = RunFiles(batch, options, tally);
  PrintSummary(tally, batch.plans.size(), options.quiet);
  if (stopRequested.load()) {
    Print(stderr, Text(Msg::Interrupted, {std::to_string(batch.plans.size() - ran)}));
    return stopSignal == SIGTERM ? 128 + SIGTERM : ExitInterrupted;
  }
  return tally.counts[static_cast<int>(Result::Failed)] > 0 ? ExitFailed : ExitDone;
}

}  // namespace tavrun::cli
