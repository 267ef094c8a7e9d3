// The start procedure, the ways the program ends, and the real executable.
#include "ui/startup.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QLockFile>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#include "app/runtime.h"
#include "app/settings.h"
#include "ui/handoff.h"
#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

namespace fs = std::filesystem;

class StartupTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    fs::create_directories(components_);
    fs::copy_file(TAVRUN_COMPONENT_DIR "/qtbase_ja.qm", components_ + "/qtbase_ja.qm");
    SetSysDirForTesting(components_);
  }
  void TearDown() override {
    delete ui::MainWindow();
    ui::ReleaseInstanceLock();
    UiTest::TearDown();
  }
  const std::string components_ = dir_ + "/lib";
  const ui::StartupPaths paths_{dir_};
  const QString lock_ = QString::fromStdString(ui::InstanceLockPath(paths_));
};

TEST_F(StartupTest, ShowsTheWindowFromTheSettingsWithTheFormatsFound) {
  WriteBytes(components_ + "/libunzip32.so", "");  // ZIP extraction only: no LZH
  WriteBytes(ini_, "[INIT]\r\nArchiveType=1\r\nExtractType=0\r\nFromDirectory=/from\r\n");
  ASSERT_TRUE(ui::Main(paths_));
  ui::FrmTavrunMain* w = ui::MainWindow();
  ASSERT_TRUE(w && w->isVisible());
  const RunInputs inputs = w->Inputs();
  EXPECT_EQ(inputs.source, "/from");
  EXPECT_TRUE(inputs.operation == 1 && inputs.format == 1);
  EXPECT_FALSE(w->findChild<QWidget*>(QStringLiteral("Option2_0"))->isEnabled());
  EXPECT_EQ(CurrentMousePointer(), PointerDefault);
  EXPECT_TRUE(MessageHistory().empty());
  // Qt's own dialogs speak Japanese, from the file in the component directory.
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "&Open"), QStringLiteral("開く(&O)"));
}

TEST_F(StartupTest, ASecondInstanceIsRefusedButACrashedOneDoesNotBlock) {
  QLockFile first(lock_);
  ASSERT_TRUE(first.tryLock(0));
  Script({[](const MessageRecord& box) {
    EXPECT_EQ(CurrentMousePointer(), PointerHourglass);
    return Expect("既に起動しています。", MsgExclamation)(box);
  }});
  EXPECT_FALSE(ui::Main(paths_));
  EXPECT_EQ(ui::MainWindow(), nullptr);
  EXPECT_FALSE(Exists(ini_));
  EXPECT_EQ(CurrentMousePointer(), PointerDefault);
  EXPECT_TRUE(first.isLocked()) << "the running instance keeps its lock";
  EXPECT_NE(ui::InstanceLockPath({dir_ + "/other"}), lock_.toStdString());
  first.unlock();

  const pid_t child = fork();  // takes the lock and ends without letting go, as a crash does
  if (child == 0) _exit(QLockFile(lock_).tryLock(0) ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(Exists(lock_.toStdString()));
  EXPECT_TRUE(ui::Main(paths_));
}

// `tavrun --extract DIR`, as a file manager's action starts it: the folder is in the source
// box and extraction is selected, while the stored source directory stays as it was.
TEST_F(StartupTest, TheCommandLinesFolderAndOperationPrefillTheWindow) {
  WriteBytes(components_ + "/libunlha32.so", "");
  WriteBytes(ini_, "[INIT]\r\nArchiveType=0\r\nFromDirectory=/stored\r\nToDirectory=/to\r\n");
  ASSERT_TRUE(ui::Main(paths_, {"/from/the/file/manager", LaunchOperation::Extract}));
  ui::FrmTavrunMain* w = ui::MainWindow();
  ASSERT_TRUE(w && w->isVisible());
  EXPECT_EQ(w->Inputs().source, "/from/the/file/manager");
  EXPECT_EQ(w->Inputs().target, "/to");
  EXPECT_EQ(w->Inputs().operation, 1);
  EXPECT_EQ(w->Inputs().format, 0) << "the format buttons follow the operation";
  EXPECT_EQ(App().AppSettings[FromDirectory], "/stored") << "a box is no setting";
  delete w;
  ui::ReleaseInstanceLock();

  // Without an operation the stored one stays; without a folder the stored one shows.
  ASSERT_TRUE(ui::Main(paths_, {"/elsewhere"}));
  EXPECT_EQ(ui::MainWindow()->Inputs().source, "/elsewhere");
  EXPECT_EQ(ui::MainWindow()->Inputs().operation, 0);
  delete ui::MainWindow();
  ui::ReleaseInstanceLock();
  ASSERT_TRUE(ui::Main(paths_, {"", LaunchOperation::Extract}));
  EXPECT_EQ(ui::MainWindow()->Inputs().source, "/stored");
  EXPECT_EQ(ui::MainWindow()->Inputs().operation, 1);
}

// A file manager's action while the window is open: the folder goes into the open window;
// while the window asks something the start is refused as before; nobody listens for another
// settings folder, and another user's program is neither heard nor taken for the window.
TEST_F(StartupTest, ASecondStartWithAFolderHandsItToTheOpenWindow) {
  WriteBytes(components_ + "/libunlha32.so", "");
  WriteBytes(ini_, "[INIT]\r\nArchiveType=0\r\nFromDirectory=/stored\r\nToDirectory=/to\r\n");
  ASSERT_TRUE(ui::Main(paths_));
  ui::FrmTavrunMain* w = ui::MainWindow();
  // The second start waits for the answer: it runs on a thread of its own here, as in a
  // process of its own, while this thread's events serve it.
  auto second = [](const ui::StartupPaths& paths, const LaunchRequest& request) {
    std::atomic<bool> done{false};
    ui::Handoff answer = ui::Handoff::NoOne;
    std::thread start([&] {
      answer = ui::HandOver(paths, request, 2000);
      done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    start.join();
    return answer;
  };
  const std::string folder = "/from/the/file manager\nwith a newline";
  EXPECT_EQ(second(paths_, {folder, LaunchOperation::Extract}), ui::Handoff::Taken);
  EXPECT_EQ(w->Inputs().source, folder);
  EXPECT_EQ(w->Inputs().operation, 1);
  EXPECT_EQ(App().AppSettings[FromDirectory], "/stored") << "a box is no setting";

  {
    QDialog question(w);  // a question open: nothing changes under it
    question.setModal(true);
    question.show();
    EXPECT_EQ(second(paths_, {"/later", LaunchOperation::Compress}), ui::Handoff::Busy);
    EXPECT_EQ(w->Inputs().source, folder);
  }
  EXPECT_EQ(second({dir_ + "/other"}, {"/x", LaunchOperation::Compress}), ui::Handoff::NoOne);

  if (getuid() != 0) GTEST_SKIP() << "another user's request needs root to be made";
  const pid_t child = fork();  // another user sends a request with the socket calls alone
  if (child == 0) {
    const std::string name = ui::HandoffName(paths_);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: a NUL first
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (setuid(65534) != 0) _exit(2);
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) _exit(3);
    const std::string request = "tavrun-launch-1 2 %2Fintruder\n";
    // The window may drop the connection before the request is written (EPIPE): fine too.
    signal(SIGPIPE, SIG_IGN);
    (void)!write(fd, request.data(), request.size());
    char answer[16] = {};
    _exit(read(fd, answer, sizeof answer) > 0 ? 5 : 0);  // nothing comes back
  }
  int status = -1;
  while (waitpid(child, &status, WNOHANG) == 0)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  QCoreApplication::processEvents();
  EXPECT_EQ(w->Inputs().source, folder);

  // Nor is another user's program that listens under the name taken for the window.
  const ui::StartupPaths other{dir_ + "/other"};
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t impostor = fork();
  if (impostor == 0) {
    const std::string name = ui::HandoffName(other);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (setuid(65534) != 0) _exit(2);
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 1) != 0)
      _exit(3);
    if (write(ready[1], "r", 1) != 1) _exit(4);
    const int peer = accept(fd, nullptr, nullptr);
    _exit(peer >= 0 && write(peer, "taken\n", 6) == 6 ? 0 : 5);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_EQ(ui::HandOver(other, {"/x", LaunchOperation::Compress}, 2000), ui::Handoff::NoOne);
  kill(impostor, SIGKILL);
  waitpid(impostor, &status, 0);
  close(ready[0]);
  close(ready[1]);
}

// The lock lies in the settings folder whatever the environment says about temporary and
// runtime directories, so one user cannot run two copies on one Tavrun.ini by starting them
// from two environments (a desktop session and a plain terminal login).
TEST(InstanceLockTest, DependsOnTheSettingsFolderAlone) {
  auto lockWith = [](const char* runtime, const char* temporary) {
    runtime ? setenv("XDG_RUNTIME_DIR", runtime, 1) : unsetenv("XDG_RUNTIME_DIR");
    temporary ? setenv("TMPDIR", temporary, 1) : unsetenv("TMPDIR");
    const ui::StartupPaths paths = ui::DefaultStartupPaths();
    return std::make_pair(paths.settingsDirectory, ui::InstanceLockPath(paths));
  };
  const char* savedRuntime = getenv("XDG_RUNTIME_DIR");
  const char* savedTemporary = getenv("TMPDIR");
  const std::string keepRuntime = savedRuntime ? savedRuntime : "";
  const std::string keepTemporary = savedTemporary ? savedTemporary : "";
  testing::TempDir runtime, temporary;
  const auto bare = lockWith(nullptr, nullptr);
  const auto session = lockWith(runtime.path().c_str(), temporary.path().c_str());
  savedRuntime ? setenv("XDG_RUNTIME_DIR", keepRuntime.c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
  savedTemporary ? setenv("TMPDIR", keepTemporary.c_str(), 1) : unsetenv("TMPDIR");
  EXPECT_EQ(session, bare);
  EXPECT_EQ(fs::path(bare.second).parent_path(), fs::path(bare.first));
  EXPECT_EQ(fs::path(bare.second).filename(), ".Tavrun-" + std::to_string(getuid()) + ".lock");
}

TEST_F(StartupTest, AMissingRuntimeFileIsListedAndNothingIsRead) {
  fs::remove(components_ + "/qtbase_ja.qm");
  WriteBytes(ini_, "[INIT]\r\nArchiveType=1\r\n");
  Script({Expect("ランタイムチェック中にエラーが発生しました。\r\n必要なランタイム\r\n" +
                     components_ + "/qtbase_ja.qm\r\nがありません。",
                 MsgStop)});
  App().AppSettings.clear();
  EXPECT_FALSE(ui::Main(paths_));
  EXPECT_EQ(ui::MainWindow(), nullptr);
  EXPECT_TRUE(App().AppSettings.empty()) << "the settings must not have been read";
  EXPECT_EQ(ReadBytes(ini_), "[INIT]\r\nArchiveType=1\r\n");
  EXPECT_EQ(CurrentMousePointer(), PointerDefault);
  EXPECT_TRUE(QLockFile(lock_).tryLock(0)) << "the refused start let go of its lock";
}

class ExitTest : public UiTest {};

TEST_F(ExitTest, CloseBoxNoKeepsTheWindowAndYesWritesTheEighteenKeysAsInMemory) {
  Init("[INIT]\r\nFromDirectory=/loaded\r\n[COMMON]\r\nMakeDirectory=0.4\r\n");
  OpenMain();
  const std::string before = ReadBytes(ini_);
  Script({Expect("終了しますか？", MsgYesNoDefNo, IdNo)});
  bool cancel = false;
  window_->Form_QueryUnload(cancel, 0);
  EXPECT_TRUE(cancel);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(ReadBytes(ini_), before);
  EXPECT_EQ(processEnds_, 0);

  Find<QLineEdit>("Text1")->setText(QStringLiteral("/browsed"));  // a box is no setting
  Click("Option1_1");
  Script({Expect("終了しますか？", MsgYesNoDefNo, IdYes)});
  Trigger("mnuExit");
  EXPECT_EQ(processEnds_, 1);
  std::string errorText;
  SettingValueTable saved;
  ASSERT_TRUE(ReadIniValues(ini_, SettingCount, App().SettingKeys, saved, errorText));
  EXPECT_EQ(saved, App().AppSettings);
  EXPECT_EQ(saved[FromDirectory] + saved[ArchiveType], "/loaded1");
  EXPECT_EQ(saved[MakeDirectory], "0.4") << "a value kept as read is written as read";
  const std::string text = ReadBytes(ini_);
  EXPECT_EQ(std::count(text.begin(), text.end(), '='), 18);
}

TEST_F(ExitTest, ClosingByProgramOrSessionEndAsksNothingAndSavesNothing) {
  Init();
  OpenMain();
  EXPECT_TRUE(window_->close()) << "a close by program code goes through";
  ui::EndWithoutSaving();
  EXPECT_EQ(processEnds_, 1);
  EXPECT_FALSE(Exists(ini_));
  EXPECT_TRUE(MessageHistory().empty());
}

// The built program in an install-like tree under an X server of its own: it shows its window
// and ends on TERM, as at the session's end, without saving and without leaving its lock.
TEST(SmokeTest, TheExecutableShowsItsWindowAndEndsOnTerm) {
  if (std::string(TAVRUN_EXECUTABLE).empty()) GTEST_SKIP() << "the executable is not built";
  testing::TempDir root;
  for (const char* sub : {"/bin", "/lib/tavrun", "/tmp"}) fs::create_directories(root.path() + sub);
  fs::copy_file(TAVRUN_EXECUTABLE, root / "bin/tavrun");
  fs::copy_file(TAVRUN_COMPONENT_DIR "/qtbase_ja.qm", root / "lib/tavrun/qtbase_ja.qm");
  QProcess xvfb, program;
  // Xvfb picks a free display and tells its number.
  xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"});
  ASSERT_TRUE(xvfb.waitForReadyRead(10000)) << "needs Xvfb";
  const QString display = ":" + QString::fromUtf8(xvfb.readLine()).trimmed();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(root / "tmp"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QStringLiteral("DISPLAY"), display);
  program.setProcessEnvironment(env);
  program.start(QString::fromStdString(root / "bin/tavrun"), {});
  auto shown = [&] {
    QProcess list;
    list.start(QStringLiteral("xwininfo"), {"-display", display, "-root", "-tree"});
    list.waitForFinished(3000);
    return QString::fromUtf8(list.readAllStandardOutput()).contains("\"Tavrun Ver.0.1\"");
  };
  for (int i = 0; i < 200 && !shown(); ++i) QThread::msleep(50);
  EXPECT_TRUE(shown());
  const std::string lock = ui::InstanceLockPath({root / "bin"});
  EXPECT_TRUE(Exists(lock));
  program.terminate();
  ASSERT_TRUE(program.waitForFinished(5000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_FALSE(Exists(lock)) << "the lock goes with the process";
  EXPECT_FALSE(Exists(root / "bin/Tavrun.ini")) << "ending on TERM saves nothing";
  xvfb.terminate();
  xvfb.waitForFinished(3000);
}

}  // namespace
}  // namespace tavrun::uitest
