#include "ui/startup.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLockFile>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTranslator>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/runtime.h"
#include "app/settings.h"
#include "common/paths.h"
#include "common/seams.h"
#include "ui/handoff.h"
#include "ui/main_window.h"
#include "ui/run_scope.h"

namespace tavrun::ui {
namespace {

std::unique_ptr<QLockFile> instanceLock;
std::vector<std::unique_ptr<QTranslator>> translators;
std::function<void()> processEndHandler;
bool endingWithoutSaving = false;
int signalPipe[2] = {-1, -1};

void EndProcess() {
  if (processEndHandler) {
    processEndHandler();
    return;
  }
  ReleaseInstanceLock();
  std::_Exit(0);
}

// Nothing but a write may happen in a signal handler; the event loop does the rest.
void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// False only when another running process holds the lock. A lock that cannot be made at all
// (no writable temporary directory) does not keep the user from working.
bool AcquireInstanceLock(const StartupPaths& paths) {
  std::string ignored;
  if (!paths.portable) EnsureSettingsDirectory(paths.settingsDirectory, ignored);
  auto lock = std::make_unique<QLockFile>(QString::fromStdString(InstanceLockPath(paths)));
  lock->setStaleLockTime(0);  // held for the life of the process; a dead owner's is cleared
  if (lock->tryLock(0)) {
    instanceLock = std::move(lock);
    return true;
  }
  return lock->error() != QLockFile::LockFailedError;
}

// The Japanese texts of Qt's own dialogs (the folder chooser's buttons and labels), from the
// component directory the runtime check has just looked at.
void LoadQtTranslations() {
  std::string errorText;
  const QString dir = QString::fromStdString(GetSysDir(errorText));
  for (const std::string& name : RequiredRuntimeFiles()) {
    const QString file = QString::fromStdString(name);
    if (!file.endsWith(QStringLiteral(".qm"))) continue;
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(file, dir)) {
      QCoreApplication::installTranslator(translator.get());
      translators.push_back(std::move(translator));
    }
  }
}

}  // namespace

StartupPaths DefaultStartupPaths() {
  const SettingsLocation location = LocateSettings(ExecutableDirectory());
  return StartupPaths{location.directory, location.readmeFile, location.portable};
}

std::string InstanceLockPath(const StartupPaths& paths) {
  return paths.settingsDirectory + "/.Tavrun-" + std::to_string(::getuid()) + ".lock";
}

bool Main(const LaunchRequest& request) {
  return Main(DefaultStartupPaths(), request);
}

bool Main(const StartupPaths& paths, const LaunchRequest& request) {
  bool ok = true;
  bool shown = false;
  std::string errorText;
  SetMousePointer(PointerHourglass);
  try {
    // A start with a folder (a file manager's action) gives it to the open window instead.
    if (!AcquireInstanceLock(paths)) {
      if (request.sourceDirectory.empty() || HandOver(paths, request) != Handoff::Taken)
        ShowMessage("既に起動しています。", MsgExclamation, AppTitle);
      ok = false;
    }
  } catch (...) {
  }
  try {
    if (ok && !CheckRuntime(errorText)) {
      ShowMessage("ランタイムチェック中にエラーが発生しました。\r\n" + errorText, MsgStop,
                  AppTitle);
      ok = false;
    }
  } catch (...) {
  }
  try {
    if (ok) LoadQtTranslations();
  } catch (...) {
  }
  try {
    if (ok && !InitAppAt({paths.settingsDirectory, paths.readmeFile, paths.portable}, errorText)) {
      ShowMessage("初期化に失敗しました。\r\n" + errorText, MsgStop, AppTitle);
      ok = false;
    }
  } catch (...) {
  }
  try {
    if (ok) {
      auto* window = new FrmTavrunMain;
      window->setAttribute(Qt::WA_DeleteOnClose);
      SetMainWindow(window);
      window->Form_Load();
      ApplyLaunchRequest(*window, request);
      window->show();
      ListenForHandoffs(paths, *window);
      shown = true;
    }
  } catch (...) {
  }
  SetMousePointer(PointerDefault);
  if (!shown) ReleaseInstanceLock();
  return shown;
}

void ExitProgram() {
  if (ShowMessage("終了しますか？", MsgYesNoDefNo, AppTitle) != IdYes) return;
  // A library call under way is cancelled and finishes first: it leaves nothing half-written.
  CancelRunAndWait();
  std::string errorText;
  WriteIniValues(App().IniFilePath, SettingCount, App().SettingKeys, App().AppSettings, errorText);
  EndProcess();
}

void EndWithoutSaving() {
  endingWithoutSaving = true;
  // Even an end without saving lets a running library call stop cleanly: no temporary file
  // is left beside the archive it was writing.
  CancelRunAndWait();
  EndProcess();
}

bool EndingWithoutSaving() {
  return endingWithoutSaving;
}

void InstallTerminationHandlers(QApplication& app) {
  // The session manager asks for the data to be committed: the program ends there, nothing
  // is asked and nothing is saved.
  QObject::connect(
      &app, &QGuiApplication::commitDataRequest, &app, [](QSessionManager&) { EndWithoutSaving(); },
      Qt::DirectConnection);
  app.setQuitOnLastWindowClosed(true);

  if (signalPipe[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { EndWithoutSaving(); });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

void ReleaseInstanceLock() {
  if (instanceLock) instanceLock->unlock();
  instanceLock.reset();
}

void SetProcessEndHandler(std::function<void()> handler) {
  processEndHandler = std::move(handler);
}

}  // namespace tavrun::ui
