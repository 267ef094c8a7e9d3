#include "engine/run_command.h"

#include "app/settings.h"
#include "common/log.h"
#include "common/paths.h"
#include "common/seams.h"
#include "engine/batch.h"
#include "engine/errors.h"
#include "engine/feedback.h"
#include "engine/host.h"
#include "engine/operations.h"
#include "engine/plan.h"
#include "engine/reasons.h"

namespace tavrun {
namespace {

// A selected button's index as the settings keep it, "-1" for none.
std::string IndexText(int index) {
  return index >= 0 ? std::to_string(index) : "-1";
}

template <typename Step>
void Ignoring(Step step) {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

bool CheckInput(RunWindow& /*window*/, RunFocus& focusTarget, std::string& messageText) {
  try {
    messageText.clear();
    const std::string& from = Setting(FromDirectory);
    const std::string& to = Setting(ToDirectory);
    auto refuse = [&](const char* message, RunFocus focus) {
      messageText = message;
      focusTarget = focus;
      return false;
    };
    if (from.empty()) return refuse("圧縮・解凍元ディレクトリが未入力です。", RunFocus::Source);
    if (!PathExists(from))
      return refuse("圧縮・解凍元ディレクトリが存在しません。", RunFocus::Source);
    if (to.empty()) return refuse("圧縮・解凍先ディレクトリが未入力です。", RunFocus::Target);
    if (!PathExists(to))
      return refuse("圧縮・解凍先ディレクトリが存在しません。", RunFocus::Target);
    const int16_t operation = SettingAsInt16(ArchiveType);
    if (operation == -1) return refuse("処理内容が選択されていません。", RunFocus::Compress);
    if (operation == 0 && SettingAsInt16(CompressType) == -1) {
      return refuse("処理形式が選択されていません。", RunFocus::Compress);
    }
    if (operation == 1 && SettingAsInt16(ExtractType) == -1) {
      return refuse("処理形式が選択されていません。", RunFocus::Extract);
    }
    return true;
  } catch (...) {
    messageText = CurrentErrorText();
    return false;
  }
}

bool RunBatch(RunWindow& window, std::string& messageText) {
  try {
    bool result = true;
    FileList files;
    int32_t count = 0;
    std::string ignored;
    Setting(FromDirectory) = AddBackslash(Setting(FromDirectory), ignored);
    Setting(ToDirectory) = AddBackslash(Setting(ToDirectory), ignored);
    count = ListFiles(Setting(FromDirectory), "*.*", files, messageText);
    if (count < 0) {
      result = false;
      WriteLog(App().LogFilePath, messageText, LogLevelError, SettingAsInt16(LogLevel));
    }
    if (count == 0) {
      messageText = NoFilesText;
      WriteLog(App().LogFilePath, messageText, LogLevelInfo, SettingAsInt16(LogLevel));
    }
    if (result) {
      const int16_t operation = SettingAsInt16(ArchiveType);
      if (operation == 0) {
        const int16_t format = SettingAsInt16(CompressType);
        if (format == 0) result = CompressLzh(window, files, count, messageText);
        if (format == 1) result = CompressZip(window, files, count, messageText);
      } else if (operation == 1) {
        const int16_t format = SettingAsInt16(ExtractType);
        if (format == 0) result = ExtractLzh(window, files, count, messageText);
        if (format == 1) result = ExtractZip(window, files, count, messageText);
      }
    }
    return result;
  } catch (...) {
    messageText = CurrentErrorText();
    WriteLog(App().LogFilePath, messageText, LogLevelError, LogThresholdOrOff());
    return false;
  }
}

void Command3_Click(RunWindow& window) {
  // The locked controls keep a second run from starting during a yield; this keeps it so
  // even when a window lets one through.
  static bool running = false;
  if (running) return;
  running = true;
  bool proceed = true;
  std::string messageText;
  RunFocus focusTarget = RunFocus::Source;

  Ignoring([&] { SetMousePointer(PointerHourglass); });
  Ignoring([&] { SetControlsEnabled(window, false); });

  RunInputs inputs;
  Ignoring([&] { inputs = window.Inputs(); });
  Ignoring([&] { Setting(FromDirectory) = inputs.source; });
  Ignoring([&] { Setting(ToDirectory) = inputs.target; });
  Ignoring([&] { Setting(ArchiveType) = IndexText(inputs.operation); });
  Ignoring([&] {
    Setting(CompressType) = IndexText(inputs.format);
    Setting(ExtractType) = IndexText(inputs.format);
  });

  Ignoring([&] {
    if (!CheckInput(window, focusTarget, messageText)) {
      proceed = false;
      ShowMessage(messageText, MsgExclamation, AppTitle);
    }
  });

  if (proceed) {
    bool confirmed = false;
    Ignoring([&] {
      const std::string& operation = Setting(ArchiveType);
      std::string prompt = "[" + Setting(FromDirectory) + "] 以下にあるファイルを\r\n[" +
                           Setting(ToDirectory) + "] 以下に";
      if (operation == "0") prompt += "圧縮します。";
      if (operation == "1") prompt += "解凍します。";
      prompt += "\r\n\r\n処理を実行しますか？";
      confirmed = ShowMessage(prompt, MsgYesNo, AppTitle) == IdYes;
    });
    if (confirmed) {
      bool succeeded = false;
      Ignoring([&] {
        RunSession session;
        // The window does one file at a time: a large one may use every processor.
        session.SetThreadsPerCall(AvailableProcessors());
        ClearRunReports();
        window.RunBatchWork([&] { succeeded = RunBatch(window, messageText); });
      });
      Ignoring([&] {
        if (succeeded) {
          ShowMessage("処理が正常終了しました。", MsgInformation, AppTitle);
        } else {
          // The result box as it always was, with what each file met one button away.
          const std::vector<FileReport> reports = LastRunReports();
          const std::string details =
              reports.empty() ? std::string() : RunReportText(reports, LocaleWantsJapanese());
          ShowMessageWithDetails("処理が異常終了しました。\r\n" + messageText, MsgExclamation,
                                 AppTitle, details);
        }
      });
      Ignoring([&] { SetStatusText(window, ""); });
    }
  }

  Ignoring([&] { SetControlsEnabled(window, true); });
  Ignoring([&] { window.Focus(focusTarget); });
  Ignoring([&] { SetMousePointer(PointerDefault); });
  running = false;
}

void mnuRun_Click(RunWindow& window) {
  Ignoring([&] { Command3_Click(window); });
}

}  // namespace tavrun
