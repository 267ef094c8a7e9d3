#include "app/runtime.h"

#include <exception>

#include "app/settings.h"
#include "common/paths.h"

namespace tavrun {
namespace {

std::string& SysDirOverride() {
  static std::string directory;
  return directory;
}

}  // namespace

std::string GetSysDir(std::string& errorText) {
  try {
    if (!SysDirOverride().empty()) return SysDirOverride();
    std::string exeDir = ExecutableDirectory();
    if (exeDir.empty()) {
      errorText = "実行ファイルのディレクトリを取得できません";  // cannot find our own directory
      return std::string();
    }
    // The real path has no links and no "." or "..", so one step up is its parent.
    std::size_t slash = exeDir.rfind('/');
    std::string parent = slash == 0 || slash == std::string::npos ? "" : exeDir.substr(0, slash);
    return parent + "/lib/tavrun";
  } catch (const std::exception& e) {
    errorText = e.what();
    return std::string();
  }
}

void SetSysDirForTesting(const std::string& directory) {
  SysDirOverride() = directory;
}

const std::vector<std::string>& RequiredRuntimeFiles() {
  // The Japanese texts of Qt's standard dialog buttons; without it every message box and
  // file dialog of the program would speak English.
  static const std::vector<std::string> files = {"qtbase_ja.qm"};
  return files;
}

bool CheckFilesExist(std::vector<std::string>& files, std::string& errorText) {
  try {
    bool all = true;
    for (std::string& file : files) {
      if (IsPlainFile(file)) {
        file.clear();
      } else {
        all = false;
      }
    }
    return all;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

bool CheckRuntime(std::string& errorText) {
  try {
    AppState& app = App();
    app.CanCompress[0] = app.CanCompress[1] = false;
    app.CanExtract[0] = app.CanExtract[1] = false;
    bool ok = true;
    std::string ignored;
    std::string dir = AddBackslash(GetSysDir(ignored), ignored);

    std::vector<std::string> list;
    for (const std::string& name : RequiredRuntimeFiles()) list.push_back(dir + name);
    std::string checkError;
    if (!CheckFilesExist(list, checkError)) {
      std::string missing;
      for (const std::string& entry : list) {
        if (!entry.empty()) {
          missing += entry + "\r\n";
          ok = false;
        }
      }
      if (ok) {
        // Nothing is missing, so the check itself failed.
        errorText = checkError;
        return false;
      }
      errorText = "必要なランタイム\r\n" + missing + "がありません。";
    }

    if (ok) {
      std::string err;
      list = {dir + UnlhaLibraryName};
      if (CheckFilesExist(list, err)) app.CanCompress[0] = app.CanExtract[0] = true;
      list = {dir + ZipjLibraryName, dir + ZipLibraryName};
      if (CheckFilesExist(list, err)) app.CanCompress[1] = true;
      list = {dir + UnzipLibraryName};
      if (CheckFilesExist(list, err)) app.CanExtract[1] = true;
    }
    return ok;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

}  // namespace tavrun
