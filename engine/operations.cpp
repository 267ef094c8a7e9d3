#include "engine/operations.h"

#include "app/settings.h"
#include "common/log.h"
#include "common/paths.h"
#include "engine/archivers.h"
#include "engine/errors.h"
#include "engine/feedback.h"
#include "engine/plan.h"

namespace tavrun {
namespace {

using ExecFunction = bool (*)(const RunWindow&, const std::string&, std::string&, int32_t*);
using CheckFunction = bool (*)(const std::string&, int32_t, std::string&);

struct CompressKind {
  Operation operation;
  ExecFunction exec;
};

struct ExtractKind {
  Operation operation;
  CheckFunction check;
  ExecFunction exec;
};

const CompressKind kCompressLzh = {Operation::CompressLzh, ExecUnlha};
const CompressKind kCompressZip = {Operation::CompressZip, ExecZip};
const ExtractKind kExtractLzh = {Operation::ExtractLzh, CheckUnlhaArchive, ExecUnlha};
const ExtractKind kExtractZip = {Operation::ExtractZip, CheckUnZipArchive, ExecUnZip};

// The threshold is read for every line, as the options dialog may change it between runs and
// a broken value has to surface as the operation's error.
void Log(const std::string& text, int16_t level) {
  WriteLog(App().LogFilePath, text, level, SettingAsInt16(LogLevel));
}

bool Fail(std::string& messageText) {
  messageText = CurrentErrorText();
  WriteLog(App().LogFilePath, messageText, LogLevelError, LogThresholdOrOff());
  return false;
}

// The library calls go through the window, which may run them off its own thread.
bool CallArchiver(ExecFunction exec, RunWindow& window, const std::string& commandLine,
                  std::string& messageText, int32_t& code) {
  bool ok = false;
  code = 0;
  window.RunArchiverCall([&] { ok = exec(window, commandLine, messageText, &code); });
  return ok;
}

bool CheckArchive(CheckFunction check, RunWindow& window, const std::string& source) {
  bool isArchive = false;
  window.RunArchiverCall([&] {
    std::string scratch;
    isArchive = check(source, ArchiveCheckMode, scratch);
  });
  return isArchive;
}

// Logs one file's outcome. A cancel stops the whole batch, so the files after it are left
// and the log says how many.
enum class Next { Go, Stop };
Next LogOutcome(bool ok, int32_t code, Operation operation, const std::string& source,
                const std::string& messageText, int32_t left) {
  if (ok) {
    Log(SuccessLogText(operation, source), LogLevelInfo);
    return Next::Go;
  }
  Log(FailureLogText(operation, messageText, source), LogLevelError);
  if (code != ArchiverCancelled) return Next::Go;
  Log(CancelledRunText(left), LogLevelWarn);
  return Next::Stop;
}

// One file's library call and log line; a failure turns the batch's result false.
Next RunFile(ExecFunction exec, Operation operation, RunWindow& window, const FilePlan& plan,
             std::string& messageText, int32_t left, bool& result) {
  int32_t code = 0;
  const bool ok = CallArchiver(exec, window, plan.commandLine, messageText, code);
  if (!ok) result = false;
  return LogOutcome(ok, code, operation, plan.source, messageText, left);
}

const std::string& FileAt(const FileList& files, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= files.size()) {
    throw EngineError(IndexOutOfRangeText);
  }
  return files[static_cast<size_t>(index)];
}

bool Compress(const CompressKind& kind, RunWindow& window, const FileList& files, int32_t count,
              std::string& messageText) {
  try {
    bool result = true;
    const std::string prefix = SwitchesFor(kind.operation);
    const std::string from = Setting(FromDirectory);
    const std::string to = Setting(ToDirectory);
    for (int32_t i = 0; i < count; ++i) {
      SetStatusText(window, ProgressText(i + 1, count));
      window.ProcessPendingEvents();
      const FilePlan plan = PlanFile(kind.operation, prefix, from, to, FileAt(files, i), false);
      if (RunFile(kind.exec, kind.operation, window, plan, messageText, count - i - 1, result) ==
          Next::Stop) {
        break;
      }
    }
    return result;
  } catch (...) {
    return Fail(messageText);
  }
}

bool Extract(const ExtractKind& kind, RunWindow& window, const FileList& files, int32_t count,
             std::string& messageText) {
  try {
    bool result = true;
    const std::string prefix = SwitchesFor(kind.operation);
    const std::string from = Setting(FromDirectory);
    const std::string to = Setting(ToDirectory);
    for (int32_t i = 0; i < count; ++i) {
      SetStatusText(window, ProgressText(i + 1, count));
      window.ProcessPendingEvents();
      const std::string& name = FileAt(files, i);
      const std::string source = from + name;
      if (!CheckArchive(kind.check, window, source)) {
        Log(NotArchiveLogText(kind.operation, source), LogLevelWarn);
        continue;
      }
      const FilePlan plan =
          PlanFile(kind.operation, prefix, from, to, name, SettingAsInt16(MakeDirectory) == 1);
      if (!PrepareDestination(plan)) {
        Log(MissingDestinationLogText(plan.source, plan.destination), LogLevelWarn);
        result = false;
        continue;
      }
      if (RunFile(kind.exec, kind.operation, window, plan, messageText, count - i - 1, result) ==
          Next::Stop) {
        break;
      }
    }
    return result;
  } catch (...) {
    return Fail(messageText);
  }
}

}  // namespace

std::string CompressLzhSwitches() {
  std::string prefix = "U ";
  if (Setting(LzhCheckTimestamp) == "1") prefix += "-c1 ";
  if (Setting(LzhControlDialog) == "1") prefix += "-n1 ";
  if (Setting(LzhArchiveTime) == "1") prefix += "-y1 ";
  if (Setting(LzhOverwriteConfirm) == "1") prefix += "-t1 ";
  const std::string& rate = Setting(LzhCompressRate);
  if (rate == "0" || rate == "3" || rate == "4") prefix += "-jm" + rate + " ";
  return prefix;
}

std::string ExtractLzhSwitches() {
  std::string prefix = "E -x1 ";
  if (Setting(LzhCheckTimestamp) == "1") prefix += "-c1 ";
  if (Setting(LzhControlDialog) == "1") prefix += "-n1 ";
  if (Setting(LzhOverwriteConfirm) == "1") prefix += "-y1 ";
  if (Setting(LzhReadonlyConfirm) == "2") prefix += "-ga2 ";
  return prefix;
}

std::string CompressZipSwitches() {
  std::string prefix = "-u -S -v -j ";
  if (Setting(ZipControlDialog) == "1") prefix += "-q ";
  if (Setting(ZipArchiveTime) == "1") prefix += "-o ";
  const std::string& rate = Setting(ZipCompressRate);
  // Level 6 is the library's own default and gets no switch.
  if (rate.size() == 1 && rate[0] >= '0' && rate[0] <= '9' && rate != "6") {
    prefix += "-" + rate + " ";
  }
  return prefix;
}

std::string ExtractZipSwitches() {
  std::string prefix = "-x -qq ";
  if (Setting(UnzipControlDialog) == "1") prefix += "--i ";
  const std::string& overwrite = Setting(UnzipOverwriteConfirm);
  if (overwrite == "2") {
    prefix += "-o ";
  } else if (overwrite == "1") {
    prefix += "-n ";
  }
  return prefix;
}

std::string QuoteArgument(const std::string& path) {
  std::string token = "\"";
  for (char c : path) {
    if (c == '"') token += '"';
    token += c;
  }
  token += '"';
  return token;
}

std::string CancelledRunText(int32_t filesLeft) {
  return "キャンセルにより処理を中止しました。未処理ファイル数：" + std::to_string(filesLeft);
}

std::string ProgressText(int32_t number, int32_t count) {
  return std::to_string(number) + " / " + std::to_string(count);
}

bool CompressLzh(RunWindow& window, const FileList& files, int32_t count,
                 std::string& messageText) {
  return Compress(kCompressLzh, window, files, count, messageText);
}

bool ExtractLzh(RunWindow& window, const FileList& files, int32_t count, std::string& messageText) {
  return Extract(kExtractLzh, window, files, count, messageText);
}

bool CompressZip(RunWindow& window, const FileList& files, int32_t count,
                 std::string& messageText) {
  return Compress(kCompressZip, window, files, count, messageText);
}

bool ExtractZip(RunWindow& window, const FileList& files, int32_t count, std::string& messageText) {
  return Extract(kExtractZip, window, files, count, messageText);
}

}  // namespace tavrun
