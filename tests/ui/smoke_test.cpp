// The real executable: it starts in an install-like tree, shows its window, refuses a second
// start, and ends on SIGTERM without saving and without leaving its lock behind.
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <filesystem>
#include <functional>

#include "ui_fixture.h"

namespace tavrun::uitest {
namespace {

namespace fs = std::filesystem;

class SmokeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(TAVRUN_EXECUTABLE).empty()) GTEST_SKIP() << "the executable is not built";
    root_ = MakeScratchDirectory();
    fs::create_directories(root_ + "/bin");
    fs::create_directories(root_ + "/lib/tavrun");
    fs::create_directories(root_ + "/tmp");
    fs::copy_file(TAVRUN_EXECUTABLE, root_ + "/bin/tavrun");
    fs::copy_file(std::string(TAVRUN_COMPONENT_DIR) + "/qtbase_ja.qm",
                  root_ + "/lib/tavrun/qtbase_ja.qm");
  }
  void TearDown() override {
    for (QProcess* p : {&first_, &second_}) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(3000);
      }
    }
    if (xvfb_.state() != QProcess::NotRunning) {
      xvfb_.terminate();
      xvfb_.waitForFinished(3000);
    }
    RemoveTree(root_);
  }

  // An X server of our own, so the windows can be looked for; false when there is none.
  bool StartDisplay() {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty()) {
      return false;
    }
    for (int n = 150 + getpid() % 200; n < 400; n += 7) {
      if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
          fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
        continue;
      }
      display_ = QStringLiteral(":%1").arg(n);
      xvfb_.start(
          xvfb, {display_, QStringLiteral("-screen"), QStringLiteral("0"),
                 QStringLiteral("800x600x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
      if (!xvfb_.waitForStarted(3000)) return false;
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      if (WaitFor([&] { return fs::exists(socket); }, 5000)) return true;
      xvfb_.kill();
      xvfb_.waitForFinished(2000);
    }
    return false;
  }

  void Start(QProcess& p) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(root_ + "/tmp"));
    if (display_.isEmpty()) {
      env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
      env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
      env.insert(QStringLiteral("DISPLAY"), display_);
    }
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(root_ + "/bin/tavrun"), {});
    ASSERT_TRUE(p.waitForStarted(5000));
  }

  // Window names and sizes as the X server lists them.
  QString Windows() {
    QProcess list;
    list.start(QStringLiteral("xwininfo"), {QStringLiteral("-display"), display_,
                                            QStringLiteral("-root"), QStringLiteral("-tree")});
    list.waitForFinished(3000);
    return QString::fromUtf8(list.readAllStandardOutput());
  }

  static bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
      if (done()) return true;
      QThread::msleep(50);
    }
    return done();
  }

  // A tool run against our display; its exit code, -1 when it could not run.
  int Tool(const QString& program, const QStringList& args) {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    tool.setProcessEnvironment(env);
    tool.start(program, args);
    if (!tool.waitForFinished(5000)) return -1;
    return tool.exitCode();
  }

  // A message box: a window titled with the program's name alone, larger than Qt's helpers.
  bool BoxShown() {
    static const QRegularExpression box(
        QStringLiteral("\"Tavrun\": \\(\"tavrun\" \"Tavrun\"\\)\\s+[0-9]+x"));
    return box.match(Windows()).hasMatch();
  }

  std::vector<fs::path> LockFiles() {
    std::vector<fs::path> locks;
    for (const auto& entry : fs::directory_iterator(root_ + "/tmp")) {
      if (entry.path().extension() == ".lock") locks.push_back(entry.path());
    }
    return locks;
  }

  std::string root_;
  QString display_;
  QProcess xvfb_, first_, second_;
};

TEST_F(SmokeTest, StartsShowsItsWindowRefusesASecondStartAndEndsOnTerm) {
  EXPECT_TRUE(fs::exists(fs::path(TAVRUN_EXECUTABLE).parent_path() / "Readme.txt"))
      << "the readme belongs beside the executable";
  const bool x = StartDisplay();
  Start(first_);
  if (x) {
    EXPECT_TRUE(
        WaitFor([&] { return Windows().contains(QStringLiteral("\"Tavrun Ver.0.1\"")); }, 10000))
        << Windows().toStdString();
  }
  ASSERT_TRUE(WaitFor([&] { return LockFiles().size() == 1; }, 10000));
  EXPECT_EQ(first_.state(), QProcess::Running);

  Start(second_);
  if (x) {
    // The refusal is a message box titled with the program's name alone.
    const QRegularExpression box(
        QStringLiteral("\"Tavrun\": \\(\"tavrun\" \"Tavrun\"\\)\\s+([0-9]+)x"));
    EXPECT_TRUE(WaitFor([&] { return box.match(Windows()).hasMatch(); }, 10000))
        << Windows().toStdString();
  } else {
    QThread::msleep(500);
  }
  EXPECT_EQ(second_.state(), QProcess::Running) << "the refusal waits for its OK";
  second_.terminate();
  EXPECT_TRUE(second_.waitForFinished(5000));

  first_.terminate();
  ASSERT_TRUE(first_.waitForFinished(5000));
  EXPECT_EQ(first_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first_.exitCode(), 0);
  EXPECT_TRUE(LockFiles().empty()) << "the lock goes with the process";
  EXPECT_FALSE(fs::exists(root_ + "/bin/Tavrun.ini")) << "ending on TERM saves nothing";
}

TEST_F(SmokeTest, TheCloseBoxAsksNoKeepsTheWindowAndYesSavesAndEnds) {
  const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
  if (std::string(TAVRUN_SEND_CLOSE).empty() || xdotool.isEmpty() || !StartDisplay()) {
    GTEST_SKIP() << "needs an X server, Xlib and xdotool";
  }
  Start(first_);
  const QString title = QStringLiteral("Tavrun Ver.0.1");
  ASSERT_TRUE(WaitFor([&] { return Windows().contains("\"" + title + "\""); }, 10000));
  const QString sendClose = QStringLiteral(TAVRUN_SEND_CLOSE);

  ASSERT_EQ(Tool(sendClose, {title}), 0);
  ASSERT_TRUE(WaitFor([&] { return BoxShown(); }, 10000)) << "no exit question";
  Tool(xdotool, {QStringLiteral("key"), QStringLiteral("Return")});  // No is the default
  EXPECT_TRUE(WaitFor([&] { return !BoxShown(); }, 5000));
  EXPECT_TRUE(Windows().contains("\"" + title + "\""));
  EXPECT_EQ(first_.state(), QProcess::Running);
  EXPECT_FALSE(fs::exists(root_ + "/bin/Tavrun.ini"));

  ASSERT_EQ(Tool(sendClose, {title}), 0);
  ASSERT_TRUE(WaitFor([&] { return BoxShown(); }, 10000));
  Tool(xdotool, {QStringLiteral("key"), QStringLiteral("alt+y")});
  ASSERT_TRUE(first_.waitForFinished(5000)) << "Yes must end the program";
  EXPECT_EQ(first_.exitCode(), 0);
  const std::string ini = ReadFile(root_ + "/bin/Tavrun.ini");
  int keys = 0;
  for (size_t at = ini.find('='); at != std::string::npos; at = ini.find('=', at + 1)) ++keys;
  EXPECT_EQ(keys, 18) << ini;
  EXPECT_TRUE(LockFiles().empty());
}

}  // namespace
}  // namespace tavrun::uitest
