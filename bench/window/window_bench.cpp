// The window's batch against tavrun-cli's on the same small files: CPU seconds of the whole
// window process for one run (Run clicked, confirmation and result answered by the seam),
// beside the CPU of `tavrun-cli --jobs 1` as a child process, alternating, in one run.
//
//   tavrun_window_bench [--files N] [--rounds R] [--format lzh|zip] [--work DIR]
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise. The settings are the defaults, so the
// libraries' progress dialogs are on, as a user has them.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/runtime.h"
#include "app/settings.h"
#include "common/seams.h"
#include "ui/main_window.h"
#include "ui/qt_seams.h"

namespace fs = std::filesystem;
using namespace tavrun;

namespace {

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Small text files of 0.5-4 KiB, all different, as a folder of notes would be.
void MakeFiles(const std::string& dir, int count) {
  fs::create_directories(dir);
  std::mt19937 rng(7);
  const char* words[] = {"archive", "ファイル", "member",
                         "圧縮",    "解凍",     "0123456789",
                         "data",    "report",   "int main() { return 0; }\n"};
  for (int i = 0; i < count; ++i) {
    std::string text;
    const size_t size = 512 + rng() % 3584;
    while (text.size() < size) text += std::string(words[rng() % 9]) + " ";
    std::ofstream(dir + "/note" + std::to_string(i) + ".txt", std::ios::binary) << text;
  }
}

double WindowRun(ui::FrmTavrunMain& window, const std::string& out) {
  fs::remove_all(out);
  fs::create_directories(out);
  const double before = CpuSeconds(RUSAGE_SELF);
  window.Command3_Click();
  return CpuSeconds(RUSAGE_SELF) - before;
}

double CliRun(const std::string& cli, const std::string& format, const std::string& in,
              const std::string& out) {
  fs::remove_all(out);
  fs::create_directories(out);
  const double before = CpuSeconds(RUSAGE_CHILDREN);
  const pid_t pid = fork();
  if (pid == 0) {
    execl(cli.c_str(), cli.c_str(), "compress", "--format", format.c_str(), "--jobs", "1", "-q",
          in.c_str(), out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "tavrun-cli failed (status %d)\n", status);
  }
  return CpuSeconds(RUSAGE_CHILDREN) - before;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int files = 800, rounds = 3;
  std::string format = "lzh";
  std::string work = (fs::temp_directory_path() / "tavrun-window-bench").string();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (arg == "--files") {
      files = std::stoi(next());
    } else if (arg == "--rounds") {
      rounds = std::stoi(next());
    } else if (arg == "--format") {
      format = next();
    } else if (arg == "--work") {
      work = next();
    } else {
      std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  QApplication app(argc, argv);
  ui::InstallQtSeams();
  fs::remove_all(work);
  const std::string in = work + "/in", outWindow = work + "/window", outCli = work + "/cli";
  MakeFiles(in, files);
  const std::string cli = (fs::path(argv[0]).parent_path() / "tavrun-cli").string();

  std::string error;
  if (!InitAppIn(work, error)) {
    std::fprintf(stderr, "settings: %s\n", error.c_str());
    return 1;
  }
  App().CanCompress[0] = App().CanCompress[1] = true;
  Setting(ArchiveType) = "0";
  Setting(CompressType) = format == "zip" ? "1" : "0";
  Setting(FromDirectory) = in;
  Setting(ToDirectory) = outWindow;
  // Confirmation Yes, result OK: nobody sits at the bench.
  SetMessageBoxHandler([](const std::string&, int32_t style, const std::string&) {
    return style == MsgYesNo ? IdYes : IdOk;
  });
  ui::FrmTavrunMain window;
  window.Form_Load();
  window.show();
  QCoreApplication::processEvents();

  std::vector<double> windowCpu, cliCpu;
  for (int r = 0; r < rounds; ++r) {
    windowCpu.push_back(WindowRun(window, outWindow));
    cliCpu.push_back(CliRun(cli, format, in, outCli));
  }
  const double bestWindow = *std::min_element(windowCpu.begin(), windowCpu.end());
  const double bestCli = *std::min_element(cliCpu.begin(), cliCpu.end());
  std::printf("%d files to %s, best of %d rounds (CPU seconds):\n", files, format.c_str(), rounds);
  std::printf("  window        %.3f\n  cli --jobs 1  %.3f\n  ratio         %.2fx\n", bestWindow,
              bestCli, bestWindow / bestCli);
  fs::remove_all(work);
  return 0;
}
