// Whole batches through the engine without a window: 10,000 files of 1 KiB and 20 files of
// 20 MB, compressed and extracted in both formats. Reports the wall time per file spent
// outside the library calls, the total against a shell loop of one `7zz a` process per file,
// and the peak memory of each batch.
//
//   tavrun_engine_bench [--small N] [--large N] [--large-mb M] [--no-7zz] [--engine-only]
//                       [--work DIR]
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/runtime.h"
#include "app/settings.h"
#include "engine/run_command.h"
#include "engine/run_window.h"

namespace fs = std::filesystem;
using namespace tavrun;

namespace {

// Feedback that goes nowhere: the engine's own cost is what is measured.
class NullWindow : public RunWindow {
 public:
  RunInputs Inputs() const override { return {}; }
  void SetInputsEnabled(bool) override {}
  void Focus(RunFocus) override {}
  void SetStatusPanelText(const std::string& text) override { last_ = text; }
  uintptr_t NativeHandle() const override { return 0; }

 private:
  std::string last_;
};

struct ProxyCounters {
  int64_t (*elapsed)() = nullptr;
  int64_t (*calls)() = nullptr;
  void (*reset)() = nullptr;
  void (*forward)(int) = nullptr;
};

ProxyCounters Counters(const char* file) {
  const std::string path = std::string(TAVRUN_BENCH_PROXY_DIR) + "/" + file;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    std::exit(1);
  }
  ProxyCounters c;
  c.elapsed = reinterpret_cast<int64_t (*)()>(dlsym(handle, "ProxyElapsedNs"));
  c.calls = reinterpret_cast<int64_t (*)()>(dlsym(handle, "ProxyCalls"));
  c.reset = reinterpret_cast<void (*)()>(dlsym(handle, "ProxyReset"));
  c.forward = reinterpret_cast<void (*)(int)>(dlsym(handle, "ProxySetForwarding"));
  return c;
}

// Peak resident memory since the last reset, in KiB (Linux 4.0+: "5" resets VmHWM).
void ResetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}
long PeakMemoryKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Text-like content: compressible, but not trivially.
std::string Content(size_t size, uint32_t seed) {
  static const char* words[] = {"archive ", "batch ", "file ",   "directory ", "level ",
                                "header ",  "crc ",   "method ", "0123 ",      "\n",
                                "圧縮 ",    "解凍 ",  "lzh ",    "zip ",       "data "};
  std::string text;
  text.reserve(size + 16);
  uint32_t state = seed * 2654435761u + 1;
  while (text.size() < size) {
    state = state * 1103515245u + 12345u;
    if ((state >> 28) == 0) {
      for (int i = 0; i < 8; ++i) text += static_cast<char>((state >> (i * 3)) & 0xff);
    } else {
      text += words[(state >> 16) % 15];
    }
  }
  text.resize(size);
  return text;
}

void MakeDataset(const std::string& dir, int count, size_t size) {
  fs::create_directories(dir);
  for (int i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "f%05d.txt", i);
    std::ofstream(dir + "/" + name, std::ios::binary) << Content(size, static_cast<uint32_t>(i));
  }
}

void FreshDirectory(const std::string& dir) {
  fs::remove_all(dir);
  fs::create_directories(dir);
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

struct Result {
  double total = 0;
  double inLibrary = 0;
  int64_t calls = 0;
  long peakKiB = 0;
  bool ok = false;
};

Result Batch(const std::string& operation, const std::string& format, const std::string& from,
             const std::string& to, ProxyCounters& a, ProxyCounters& b) {
  Setting(ArchiveType) = operation;
  Setting(CompressType) = format;
  Setting(ExtractType) = format;
  Setting(FromDirectory) = from;
  Setting(ToDirectory) = to;
  a.reset();
  b.reset();
  ResetPeakMemory();
  NullWindow window;
  std::string message;
  const auto start = std::chrono::steady_clock::now();
  Result r;
  r.ok = RunBatch(window, message);
  r.total = Seconds(std::chrono::steady_clock::now() - start);
  r.inLibrary = (a.elapsed() + b.elapsed()) / 1e9;
  r.calls = a.calls() + b.calls();
  r.peakKiB = PeakMemoryKiB();
  if (!r.ok) std::fprintf(stderr, "  batch failed: %s\n", message.c_str());
  return r;
}

void Print(const char* what, int files, const Result& r) {
  std::printf(
      "%-34s %6d files  total %8.3f s  in library %8.3f s  outside %7.4f ms/file"
      "  peak %7.1f MiB%s\n",
      what, files, r.total, r.inLibrary, (r.total - r.inLibrary) * 1000.0 / files,
      r.peakKiB / 1024.0, r.ok ? "" : "  (FAILED)");
  std::fflush(stdout);
}

double Shell(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  if (status != 0) std::fprintf(stderr, "  shell loop ended with status %d\n", status);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int small = 10000;
  int large = 20;
  size_t largeMiB = 20;
  bool with7zz = true;
  bool engineOnly = false;
  std::string work = (fs::temp_directory_path() / "tavrun-engine-bench").string();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (arg == "--small") {
      small = std::stoi(next());
    } else if (arg == "--large") {
      large = std::stoi(next());
    } else if (arg == "--large-mb") {
      largeMiB = std::stoul(next());
    } else if (arg == "--no-7zz") {
      with7zz = false;
    } else if (arg == "--engine-only") {
      engineOnly = true;
    } else if (arg == "--work") {
      work = next();
    } else {
      std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
      return 2;
    }
  }

  App().AppSettings.clear();
  for (int i = 0; i < SettingCount; ++i) {
    App().AppSettings.push_back(SettingDefault(static_cast<SettingIndex>(i)));
  }
  FreshDirectory(work);
  App().LogFilePath = work + "/Tavrun.log";
  Setting(LzhControlDialog) = "1";
  Setting(ZipControlDialog) = "1";
  Setting(UnzipControlDialog) = "1";
  Setting(UnzipOverwriteConfirm) = "2";
  Setting(LzhOverwriteConfirm) = "1";
  SetSysDirForTesting(TAVRUN_BENCH_PROXY_DIR);
  ProxyCounters lzh = Counters("libunlha32.so");
  ProxyCounters zipj = Counters("libzip32j.so");
  ProxyCounters unzip = Counters("libunzip32.so");
  setenv("TAVRUN_BENCH_REAL_DIR", TAVRUN_REAL_COMPONENT_DIR, 1);

  struct Dataset {
    const char* name;
    int count;
    size_t size;
  };
  const Dataset datasets[] = {{"small", small, 1024}, {"large", large, largeMiB << 20}};
  for (const auto& set : datasets) {
    if (set.count <= 0) continue;
    const std::string src = work + "/" + set.name;
    MakeDataset(src, set.count, set.size);
    std::printf("== %d files of %zu bytes\n", set.count, set.size);

    // The engine alone: the proxies answer at once.
    for (auto* proxy : {&lzh, &zipj, &unzip}) proxy->forward(0);
    for (const char* logLevel : {"9", "0"}) {
      Setting(LogLevel) = logLevel;
      const std::string tag = std::string(" log ") + (logLevel[0] == '9' ? "off" : "on");
      const std::string out = work + "/null-out";
      FreshDirectory(out);
      Print(("engine only, compress LZH" + tag).c_str(), set.count,
            Batch("0", "0", src, out, lzh, zipj));
      Print(("engine only, compress ZIP" + tag).c_str(), set.count,
            Batch("0", "1", src, out, lzh, zipj));
      Print(("engine only, extract LZH" + tag).c_str(), set.count,
            Batch("1", "0", src, out, lzh, unzip));
      Print(("engine only, extract ZIP" + tag).c_str(), set.count,
            Batch("1", "1", src, out, lzh, unzip));
    }
    if (engineOnly) continue;
    if (!fs::exists(std::string(TAVRUN_REAL_COMPONENT_DIR) + "/libunlha32.so")) {
      std::printf("(real archivers not built; skipping the library runs)\n");
      continue;
    }

    // The real libraries behind the proxies; the log on, as a user would have it.
    for (auto* proxy : {&lzh, &zipj, &unzip}) proxy->forward(1);
    Setting(LogLevel) = "0";
    for (const char* format : {"0", "1"}) {
      const bool isLzh = format[0] == '0';
      const std::string archives = work + (isLzh ? "/lzh" : "/zip");
      const std::string extracted = work + "/extracted";
      FreshDirectory(archives);
      FreshDirectory(extracted);
      Print(isLzh ? "compress LZH" : "compress ZIP", set.count,
            Batch("0", format, src, archives, lzh, zipj));
      Print(isLzh ? "extract LZH" : "extract ZIP", set.count,
            Batch("1", format, archives, extracted, lzh, unzip));
    }

    if (with7zz) {
      const std::string out = work + "/7zz-out";
      const std::string extracted = work + "/7zz-extracted";
      FreshDirectory(out);
      FreshDirectory(extracted);
      const double compress = Shell("cd '" + src + "' && for f in *; do 7zz a -tzip -mx=6 '" + out +
                                    "'/\"${f%.*}.zip\" \"$f\" >/dev/null || exit 1; done");
      std::printf("%-34s %6d files  total %8.3f s\n", "shell loop of 7zz a (ZIP)", set.count,
                  compress);
      const double extract = Shell("for a in '" + out + "'/*.zip; do 7zz x -y -o'" + extracted +
                                   "' \"$a\" >/dev/null || exit 1; done");
      std::printf("%-34s %6d files  total %8.3f s\n", "shell loop of 7zz x (ZIP)", set.count,
                  extract);
      std::fflush(stdout);
    }
    fs::remove_all(work + "/lzh");
    fs::remove_all(work + "/zip");
    fs::remove_all(work + "/extracted");
    fs::remove_all(work + "/7zz-out");
    fs::remove_all(work + "/7zz-extracted");
    fs::remove_all(src);
  }
  fs::remove_all(work);
  return 0;
}
