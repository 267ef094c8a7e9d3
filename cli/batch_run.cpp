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
#include <utility>
#include <vector>

#include "app/settings.h"
#include "cli/inspect.h"
#include "cli/messages.h"
#include "cli/password.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/source_paths.h"
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
  // Absolute and without "." or "..": the libraries get the same paths whatever the working
  // directory, and ZIP refuses names with "..".
  Setting(FromDirectory) = RealPathOr(options.source);
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
  // A missing target is made with its parents, once the source is known to be there.
  const std::string target = Setting(ToDirectory);
  if (IsDirectory(Setting(FromDirectory)) && !target.empty() &&
      !MakeDirectories(target, errorText)) {
    errorText = Text(Msg::TargetUncreatable, {target, errorText});
    return false;
  }
  Setting(ToDirectory) = RealPathOr(target);
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

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
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
  std::string prefix;
  std::string from;
  std::vector<std::string> names;
  std::vector<FilePlan> plans;
  std::vector<std::string> keys;
  std::vector<uint64_t> sizes;
  uint64_t totalBytes = 0;
};

bool IsBatch(const Options& options) {
  return options.command == Command::Compress || options.command == Command::Extract;
}

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
  return !IsBatch(options) || CheckDirectories(errorText);
}

// As the window's run: both directories end in "/", then the engine's listing. `list` and
// `test` also take one archive as their source.
bool ListSource(const Options& options, Batch& batch, std::string& errorText) {
  std::string ignored;
  const std::string source = Setting(FromDirectory);
  if (!IsBatch(options) && !IsDirectory(source)) {
    if (!IsPlainFile(source)) {
      errorText = Text(Msg::SourceNotFound, {options.source});
      return false;
    }
    SplitPath(source, batch.from, batch.names.emplace_back());
    return true;
  }
  batch.from = Setting(FromDirectory) = AddBackslash(source, ignored);
  Setting(ToDirectory) = AddBackslash(Setting(ToDirectory), ignored);
  if (ListFiles(batch.from, "*.*", batch.names, errorText) >= 0) return true;
  Log(errorText, LogLevelError);
  errorText = Text(Msg::ListFailed, {batch.from, errorText});
  return false;
}

bool PlanBatch(const Options& options, Batch& batch, std::string& errorText) {
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
  batch.prefix = SwitchesFor(batch.operation);
  // The switch asks the library to encrypt; the password itself comes through the host.
  if (options.compress && !options.passwordFile.empty()) {
    batch.prefix += options.encryption == Encryption::ZipCrypto ? "-ez " : "-e ";
  }
  // list and test plan nothing in the target: each file's key is its own name.
  const std::string to = IsBatch(options) ? Setting(ToDirectory) : batch.from;
  for (const std::string& name : batch.names) {
    batch.plans.push_back(
        PlanFile(batch.operation, batch.prefix, batch.from, to, name, directoryPerArchive));
    if (!IsBatch(options)) batch.plans.back().groupKey = batch.plans.back().source;
    batch.keys.push_back(batch.plans.back().groupKey);
    batch.sizes.push_back(FileSize(batch.plans.back().source));
    batch.totalBytes += batch.sizes.back();
  }
  return true;
}

// One file as the command wants it.
Outcome RunFile(const Options& options, const Batch& batch, size_t i) {
  Outcome outcome;
  const FilePlan& plan = batch.plans[i];
  switch (options.command) {
    case Command::List:
      outcome.result = ListArchive(batch.operation, plan.source, outcome.members);
      break;
    case Command::Test:
      outcome.result = TestArchive(batch.operation, batch.prefix, batch.from, batch.names[i]);
      break;
    case Command::Compress:
    case Command::Extract:
      outcome.result = RunFileStep(batch.operation, plan, 0);
      outcome.log = LogEntriesFor(batch.operation, plan, outcome.result);
      break;
  }
  return outcome;
}

// Files at once: as asked (0: all processors), never more than files or processors.
unsigned JobCount(const Options& options, size_t files, unsigned processors) {
  unsigned jobs = options.jobs > 0 ? std::min(options.jobs, processors) : processors;
  return std::max(1u, std::min<unsigned>(jobs, static_cast<unsigned>(files)));
}

// The files on the workers; their log lines and reports in list order. Returns the number of
// files that ran.
size_t RunFiles(const Batch& batch, const Options& options, RunPassword& password, Report& report) {
  std::vector<Outcome> outcomes(batch.plans.size());
  std::atomic<size_t> doneFiles{0};
  std::atomic<uint64_t> doneBytes{0};
  ProgressLine progress(!options.quiet, stderr, batch.plans.size(), batch.totalBytes);
  bool stopAnnounced = false;

  BatchCallbacks callbacks;
  callbacks.work = [&](size_t i) {
    outcomes[i] = RunFile(options, batch, i);
    doneBytes += batch.sizes[i];
    ++doneFiles;
  };
  callbacks.deliver = [&](size_t i) {
    for (const LogEntry& entry : outcomes[i].log) Log(entry.text, entry.level);
    progress.Clear();
    report.Add(batch.plans[i], outcomes[i]);
    outcomes[i] = Outcome();
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
  const unsigned jobs = JobCount(options, batch.plans.size(), processors);
  // One budget of processors: files at once times threads per file never exceeds it.
  RunSession session;
  session.SetThreadsPerCall(std::max(1u, processors / jobs));
  password.Attach(session, options.compress);
  runningSession.store(&session);
  if (stopRequested.load()) session.RequestCancel();
  const size_t ran = RunGrouped(batch.keys, jobs, callbacks, stopRequested);
  runningSession.store(nullptr);
  progress.Clear();
  return ran;
}

// The password of the run: the file's first line; extraction, list and test may ask on the
// terminal instead when none is given.
bool PreparePassword(const Options& options, std::string& password, std::string& errorText) {
  if (options.passwordFile.empty()) return true;
  if (ReadPasswordFile(options.passwordFile, password, errorText)) return true;
  errorText = Text(Msg::PasswordUnreadable, {options.passwordFile, errorText});
  return false;
}

}  // namespace

int RunBatchCommand(const Options& options) {
  std::string errorText;
  Batch batch;
  std::string known;
  if (!PrepareSettings(options, errorText) || !ListSource(options, batch, errorText) ||
      !PreparePassword(options, known, errorText)) {
    return UsageError(errorText);
  }
  RunPassword password(std::move(known),
                       options.zip && !options.compress && isatty(STDIN_FILENO) == 1);
  if (batch.names.empty()) {
    Log(NoFilesText, LogLevelInfo);
    if (!options.quiet && !options.json) Print(stdout, Text(Msg::NoFiles));
    return ExitDone;
  }
  if (!PlanBatch(options, batch, errorText)) return UsageError(errorText);

  Report report(options);
  const size_t ran = RunFiles(batch, options, password, report);
  report.PrintSummary(batch.plans.size());
  if (stopRequested.load()) {
    Print(stderr, Text(Msg::Interrupted, {std::to_string(batch.plans.size() - ran)}));
    return stopSignal == SIGTERM ? 128 + SIGTERM : ExitInterrupted;
  }
  return report.Failed() > 0 ? ExitFailed : ExitDone;
}

}  // namespace tavrun::cli
