#include "engine/operations.h"

#include <mutex>

#include "app/settings.h"
#include "common/log.h"
#include "engine/errors.h"
#include "engine/feedback.h"
#include "engine/file_step.h"
#include "engine/plan.h"

namespace tavrun {
namespace {

std::mutex g_reportsMutex;
std::vector<FileReport> g_reports;

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

const std::string& FileAt(const FileList& files, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= files.size()) {
    throw EngineError(IndexOutOfRangeText);
  }
  return files[static_cast<size_t>(index)];
}

void Keep(const FilePlan& plan, const FileResult& result) {
  if (result.status == FileStatus::Done) return;
  std::lock_guard<std::mutex> lock(g_reportsMutex);
  g_reports.push_back({plan.source, result.status, result.code, ReasonText(result, true),
                       ReasonText(result, false)});
}

// One listed file: its step, its log lines, and what it means for the batch. The result
// turns false on a failure; the message keeps the failure's error text.
enum class Next { Go, Stop };
Next RunOne(Operation operation, RunWindow& window, const FilePlan& plan, int32_t left,
            bool& result, std::string& messageText) {
  const FileResult outcome = RunFileStep(operation, plan, window.NativeHandle());
  for (const LogEntry& entry : LogEntriesFor(operation, plan, outcome)) {
    Log(entry.text, entry.level);
  }
  Keep(plan, outcome);
  // Any code but 0 from a library fails the window's run, "kept because nobody could be
  // asked" included; a kept file the library reported with 0 does not.
  const bool failed =
      outcome.status == FileStatus::Failed || outcome.note == StepNote::LibraryFailed;
  if (!failed) return Next::Go;
  result = false;
  if (!outcome.errorText.empty()) messageText = outcome.errorText;
  if (!outcome.cancelled) return Next::Go;
  Log(CancelledRunText(left), LogLevelWarn);
  return Next::Stop;
}

bool RunOperation(Operation operation, RunWindow& window, const FileList& files, int32_t count,
                  std::string& messageText) {
  try {
    bool result = true;
    const std::string prefix = SwitchesFor(operation);
    const std::string from = Setting(FromDirectory);
    const std::string to = Setting(ToDirectory);
    const bool directoryPerArchive =
        !IsCompression(operation) && SettingAsInt16(MakeDirectory) == 1;
    for (int32_t i = 0; i < count; ++i) {
      SetStatusText(window, ProgressText(i + 1, count));
      const FilePlan plan =
          PlanFile(operation, prefix, from, to, FileAt(files, i), directoryPerArchive);
      if (RunOne(operation, window, plan, count - i - 1, result, messageText) == Next::Stop) {
        break;
      }
    }
    return result;
  } catch (...) {
    return Fail(messageText);
  }
}

}  // namespace

std::string CancelledRunText(int32_t filesLeft) {
  return "キャンセルにより処理を中止しました。未処理ファイル数：" + std::to_string(filesLeft);
}

std::string ProgressText(int32_t number, int32_t count) {
  return std::to_string(number) + " / " + std::to_string(count);
}

std::vector<FileReport> LastRunReports() {
  std::lock_guard<std::mutex> lock(g_reportsMutex);
  return g_reports;
}

void ClearRunReports() {
  std::lock_guard<std::mutex> lock(g_reportsMutex);
  g_reports.clear();
}

std::string RunReportText(const std::vector<FileReport>& reports, bool japanese) {
  int counts[4] = {};
  for (const FileReport& report : reports) ++counts[static_cast<int>(report.status)];
  const int failed = counts[static_cast<int>(FileStatus::Failed)];
  const int kept = counts[static_cast<int>(FileStatus::Kept)];
  const int skipped = counts[static_cast<int>(FileStatus::Skipped)];
  std::string text = japanese ? "失敗 " + std::to_string(failed) + " 件、既存のものを残した " +
                                    std::to_string(kept) + " 件、スキップ " +
                                    std::to_string(skipped) + " 件"
                              : std::to_string(failed) + " failed, " + std::to_string(kept) +
                                    " kept, " + std::to_string(skipped) + " skipped";
  for (const FileReport& report : reports) {
    const char* state = "";
    switch (report.status) {
      case FileStatus::Failed: state = japanese ? "失敗" : "failed"; break;
      case FileStatus::Kept: state = japanese ? "残した" : "kept"; break;
      case FileStatus::Skipped: state = japanese ? "スキップ" : "skipped"; break;
      case FileStatus::Done: continue;
    }
    // The batch is one folder: the name is what the user knows the file by.
    const size_t slash = report.source.find_last_of('/');
    text += "\n\n[" + std::string(state) + "] " + report.source.substr(slash + 1);
    if (report.code > 0) {
      text += japanese ? "（コード " + std::to_string(report.code) + "）"
                       : " (code " + std::to_string(report.code) + ")";
    }
    const std::string& reason = japanese ? report.reasonJapanese : report.reasonEnglish;
    if (!reason.empty()) text += "\n    " + reason;
  }
  return text;
}

bool CompressLzh(RunWindow& window, const FileList& files, int32_t count,
                 std::string& messageText) {
  return RunOperation(Operation::CompressLzh, window, files, count, messageText);
}

bool ExtractLzh(RunWindow& window, const FileList& files, int32_t count, std::string& messageText) {
  return RunOperation(Operation::ExtractLzh, window, files, count, messageText);
}

bool CompressZip(RunWindow& window, const FileList& files, int32_t count,
                 std::string& messageText) {
  return RunOperation(Operation::CompressZip, window, files, count, messageText);
}

bool ExtractZip(RunWindow& window, const FileList& files, int32_t count, std::string& messageText) {
  return RunOperation(Operation::ExtractZip, window, files, count, messageText);
}

}  // namespace tavrun
