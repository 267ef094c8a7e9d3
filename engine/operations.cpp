#include "engine/operations.h"

#include "app/settings.h"
#include "common/log.h"
#include "common/paths.h"
#include "engine/archivers.h"
#include "engine/errors.h"
#include "engine/feedback.h"

namespace tavrun {
namespace {

using ExecFunction = bool (*)(const RunWindow&, const std::string&, std::string&, int32_t*);
using CheckFunction = bool (*)(const std::string&, int32_t, std::string&);

struct CompressKind {
  std::string (*switches)();
  const char* extension;
  ExecFunction exec;
  const char* successText;  // followed by the source path and "]"
  const char* failureTag;   // between the library's text and the source path
};

struct ExtractKind {
  std::string (*switches)();
  CheckFunction check;
  ExecFunction exec;
  const char* notArchiveText;
  const char* successText;
  const char* failureTag;
};

const CompressKind kCompressLzh = {CompressLzhSwitches, ".lzh", ExecUnlha,
                                   "LZH圧縮しました [UNLHA32:", " [UNLHA32:"};
const CompressKind kCompressZip = {CompressZipSwitches, ".zip", ExecZip,
                                   "ZIP圧縮しました。[ZIP32J:", "[ZIP32J:"};
const ExtractKind kExtractLzh = {
    ExtractLzhSwitches,           CheckUnlhaArchive, ExecUnlha, "LZH書庫ではありません。[UNLHA32:",
    "LZH解凍しました。[UNLHA32:", "[UNLHA32:"};
const ExtractKind kExtractZip = {
    ExtractZipSwitches,           CheckUnZipArchive, ExecUnZip, "ZIP書庫ではありません。[UNZIP32:",
    "ZIP解凍しました。[UNZIP32:", "[UNZIP32:"};

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
Next LogOutcome(bool ok, int32_t code, const char* successText, const char* failureTag,
                const std::string& source, const std::string& messageText, int32_t left) {
  if (ok) {
    Log(successText + source + "]", LogLevelInfo);
    return Next::Go;
  }
  Log(messageText + failureTag + source + "]", LogLevelError);
  if (code != ArchiverCancelled) return Next::Go;
  Log(CancelledRunText(left), LogLevelWarn);
  return Next::Stop;
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
    const std::string prefix = kind.switches();
    const std::string from = Setting(FromDirectory);
    const std::string to = Setting(ToDirectory);
    for (int32_t i = 0; i < count; ++i) {
      SetStatusText(window, ProgressText(i + 1, count));
      window.ProcessPendingEvents();
      const std::string& name = FileAt(files, i);
      std::string ignored;
      const std::string archive = to + GetBaseName(name, ignored) + kind.extension;
      const std::string source = from + name;
      const std::string commandLine = prefix + QuoteArgument(archive) + " " + QuoteArgument(source);
      int32_t code = 0;
      const bool ok = CallArchiver(kind.exec, window, commandLine, messageText, code);
      if (!ok) result = false;
      if (LogOutcome(ok, code, kind.successText, kind.failureTag, source, messageText,
                     count - i - 1) == Next::Stop) {
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
    const std::string prefix = kind.switches();
    const std::string from = Setting(FromDirectory);
    const std::string to = Setting(ToDirectory);
    for (int32_t i = 0; i < count; ++i) {
      SetStatusText(window, ProgressText(i + 1, count));
      window.ProcessPendingEvents();
      const std::string& name = FileAt(files, i);
      const std::string source = from + name;
      if (!CheckArchive(kind.check, window, source)) {
        Log(kind.notArchiveText + source + "]", LogLevelWarn);
        continue;
      }
      std::string destination = to;
      if (SettingAsInt16(MakeDirectory) == 1) {
        std::string ignored;
        destination = AddBackslash(to + GetBaseName(name, ignored), ignored);
        // Only a directory will do: a plain file of that name makes the destination missing.
        if (!IsDirectory(destination)) MakeDir(destination, ignored);
      }
      if (!IsDirectory(destination)) {
        Log("解凍先ディレクトリがありません。[" + source + "][" + destination + "]", LogLevelWarn);
        result = false;
        continue;
      }
      const std::string commandLine =
          prefix + QuoteArgument(source) + " " + QuoteArgument(destination);
      int32_t code = 0;
      const bool ok = CallArchiver(kind.exec, window, commandLine, messageText, code);
      if (!ok) result = false;
      if (LogOutcome(ok, code, kind.successText, kind.failureTag, source, messageText,
                     count - i - 1) == Next::Stop) {
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
