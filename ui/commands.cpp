#include "ui/commands.h"

#include <string>

#include "app/settings.h"
#include "common/paths.h"
#include "common/seams.h"

namespace tavrun::ui {

void ShowLogCommand() {
  const std::string& path = App().LogFilePath;
  if (!IsPlainFile(path)) {
    ShowMessage("ログファイルが存在しません。", MsgInformation, AppTitle);
    return;
  }
  ShellOpen(path);
}

void ClearLogCommand() {
  if (ShowMessage("ログを消去しますか？", MsgYesNoDefNo, AppTitle) != IdYes) return;
  const std::string& path = App().LogFilePath;
  if (!IsPlainFile(path)) {
    ShowMessage("ログファイルが存在しません。", MsgExclamation, AppTitle);
    return;
  }
  std::string errorText;
  if (RemoveFile(path, true, errorText)) {
    ShowMessage("消去しました。", MsgInformation, AppTitle);
  } else {
    ShowMessage("ログファイルを消去できません。\r\n" + errorText, MsgExclamation, AppTitle);
  }
}

void OpenReadmeCommand() {
  const std::string& path = App().ReadmeFilePath;
  if (!IsPlainFile(path)) {
    ShowMessage("「Readme.txt」が存在しません。", MsgExclamation, AppTitle);
    return;
  }
  ShellOpen(path);
}

}  // namespace tavrun::ui
