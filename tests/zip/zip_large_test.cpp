// Large members: deflated in pieces by several threads (the host's budget), the same archive
// whatever the number of threads, read back by every other reader; extracted streaming in
// bounded memory; cancelled mid-file with nothing left behind.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "tavrun_host.h"
#include "zip_test_util.h"

namespace {

using namespace ziptest;

constexpr size_t kMiB = 1u << 20;
constexpr size_t kPiece = 4 * kMiB;  // the engine's piece size

// The run's cancel, as a host asks for it.
std::atomic<bool> g_cancel{false};

// The host the tests hand to the libraries: a thread budget and the run's cancel.
struct TestHost {
  unsigned threads = 1;
  TavrunHost table{};
  TestHost() {
    table.size = sizeof table;
    table.version = TAVRUN_HOST_VERSION;
    table.context = this;
    table.threads_per_call = [](void* c) -> uint32_t { return static_cast<TestHost*>(c)->threads; };
    table.cancel_requested = [](void*) -> int32_t { return g_cancel.load() ? 1 : 0; };
  }
};

// Cancels the run through the host, as a window-less program does, once this
// process has read or written (`counter`: "rchar:" or "wchar:") `bytes` more than when the
// object was made: in the middle of a large file, whatever the speed of the machine.
class CancelAfterIo {
 public:
  CancelAfterIo(const char* counter, uint64_t bytes) {
    const uint64_t start = Io(counter);
    watcher_ = std::thread([this, counter, start, bytes] {
      while (!done_ && Io(counter) < start + bytes)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      g_cancel = true;
    });
  }
  ~CancelAfterIo() {
    done_ = true;
    watcher_.join();
    g_cancel = false;
  }

 private:
  static uint64_t Io(const char* counter) {
    std::ifstream io("/proc/self/io");
    std::string line;
    while (std::getline(io, line))
      if (line.rfind(counter, 0) == 0) return std::stoull(line.substr(std::strlen(counter)));
    return 0;
  }
  std::atomic<bool> done_{false};
  std::thread watcher_;
};

// Hands `host` to both libraries for the life of the object, and takes it back after.
class HostScope {
 public:
  explicit HostScope(const TestHost& host) { Set(&host.table); }
  ~HostScope() { Set(nullptr); }

 private:
  static void Set(const TavrunHost* table) {
    // Both libraries export TavrunSetHost: each is looked up in its own library.
    for (const char* lib : {"libzip32j.so", "libunzip32.so"}) {
      void* handle = dlopen(lib, RTLD_NOW | RTLD_NOLOAD);
      ASSERT_NE(handle, nullptr) << lib;
      auto set = reinterpret_cast<TavrunSetHostFunction>(dlsym(handle, TAVRUN_SET_HOST_SYMBOL));
      ASSERT_NE(set, nullptr) << lib;
      set(table);
      dlclose(handle);
    }
  }
};

// A file of `size` bytes, text with a random stretch from `noiseFrom` on (none when beyond
// the end), written a MiB at a time so the test holds little of it.
void WriteLarge(const std::string& path, size_t size, size_t noiseFrom = SIZE_MAX) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  for (size_t at = 0; at < size; at += kMiB) {
    const size_t n = std::min(kMiB, size - at);
    const std::string chunk =
        at >= noiseFrom ? RandomData(n, unsigned(at / kMiB)) : TextData(n, unsigned(at / kMiB));
    f.write(chunk.data(), std::streamsize(n));
  }
  SetMtime(path, 1700000000);
}

std::string ZipWithThreads(const TempDir& work, const std::string& file, int level,
                           unsigned threads) {
  TestHost host;
  host.threads = threads;
  HostScope scope(host);
  const std::string archive = work / ("t" + std::to_string(threads) + ".zip");
  std::remove(archive.c_str());
  const Result r = ZipFiles("-q -j -" + std::to_string(level), archive, {file});
  EXPECT_EQ(r.code, 0) << r.output;
  return archive;
}

// Peak resident memory an UnZip call adds, in a child (the peak is reset before the call).
long UnZipPeakKiB(const std::string& archive, const std::string& dest, int32_t& code) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    const auto field = [](const char* name) {
      std::ifstream status("/proc/self/status");
      std::string line;
      while (std::getline(status, line))
        if (line.rfind(name, 0) == 0) return std::atol(line.c_str() + std::strlen(name));
      return -1L;
    };
    std::ofstream("/proc/self/clear_refs") << "5";  // resets VmHWM to the current size
    const long before = field("VmRSS:");
    const int32_t rc = UnZipTo("-x -qq --i -o", archive, dest).code;
    const long values[2] = {field("VmHWM:") - before, long(rc)};
    ssize_t ignored = write(pipeFds[1], values, sizeof values);
    (void)ignored;
    _exit(0);
  }
  close(pipeFds[1]);
  long values[2] = {-1, -1};
  const ssize_t n = read(pipeFds[0], values, sizeof values);
  close(pipeFds[0]);
  waitpid(child, nullptr, 0);
  code = n == ssize_t(sizeof values) ? int32_t(values[1]) : -1;
  return n == ssize_t(sizeof values) ? values[0] : -1;
}

}  // namespace

// The sizes around the piece boundary, the empty and one-byte file and a file that turns
// random: one archive whatever the number of threads.
TEST(ZipLarge, SameArchiveWhateverTheNumberOfThreads) {
  TempDir work;
  const std::vector<std::pair<std::string, size_t>> files = {
      {"empty", 0},          {"one", 1},
      {"below", kPiece - 1}, {"piece", kPiece},
      {"above", kPiece + 1}, {"mixed", 3 * kPiece + 12345}};
  for (const auto& [name, size] : files) {
    WriteLarge(work / name, size, name == "mixed" ? kPiece + kMiB : SIZE_MAX);
    for (int level : name == "mixed" ? std::vector<int>{6, 9} : std::vector<int>{6}) {
      SCOPED_TRACE(name + " at -" + std::to_string(level));
      const std::string one = ReadFile(ZipWithThreads(work, work / name, level, 1));
      ASSERT_FALSE(one.empty());
      for (unsigned threads : {2u, 4u})
        EXPECT_TRUE(ReadFile(ZipWithThreads(work, work / name, level, threads)) == one)
            << threads << " threads";
      EXPECT_EQ(Check(work / "t1.zip", 2), 1);
    }
  }
}

// What several threads wrote, every other reader reads: Python's zipfile, bsdtar, 7-Zip and
// Info-ZIP's unzip, each checking the CRC.
TEST(ZipLarge, OtherReadersReadThePiecesJoined) {
  for (const char* tool : {"python3", "bsdtar", "7zz", "unzip"})
    ASSERT_TRUE(HaveTool(tool)) << tool << " not installed (scripts/install-deps.sh)";
  TempDir work;
  WriteLarge(work / "big.txt", 3 * kPiece + 777, 2 * kPiece);
  const std::string archive = ZipWithThreads(work, work / "big.txt", 6, 3);
  const std::string original = ReadFile(work / "big.txt");
  std::string out;
  EXPECT_EQ(Python("import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                   "sys.exit(z.testzip() is not None or z.read('big.txt') != open(sys.argv[2], "
                   "'rb').read())",
                   {archive, work / "big.txt"}, &out),
            0)
      << out;
  EXPECT_EQ(Shell("bsdtar -xOf " + Sh(archive) + " big.txt", &out), 0);
  EXPECT_TRUE(out == original) << "bsdtar";
  EXPECT_EQ(Shell("7zz t " + Sh(archive) + " 2>&1", &out), 0) << out;
  EXPECT_EQ(Shell("unzip -tqq " + Sh(archive) + " 2>&1", &out), 0) << out;
  EXPECT_EQ(Shell("unzip -p " + Sh(archive) + " big.txt", &out), 0);
  EXPECT_TRUE(out == original) << "unzip";
}

// A member far larger than the memory the extraction may take, and one with a random tail:
// extracted whole, in a few MiB.
TEST(ZipLarge, ExtractionStreamsInBoundedMemory) {
  TempDir work;
  constexpr size_t size = 96 * kMiB;
  WriteLarge(work / "big.txt", size, size - 8 * kMiB);
  ASSERT_EQ(ZipFiles("-q -j -1", work / "a.zip", {work / "big.txt"}).code, 0);
  int32_t code = -1;
  const long peak = UnZipPeakKiB(work / "a.zip", work / "out", code);
  EXPECT_EQ(code, 0);
  EXPECT_GT(peak, 0);
  RecordProperty("peak_kib", std::to_string(peak));
  EXPECT_LT(peak, 24 * 1024) << "KiB added by extracting a 96 MiB member";
  EXPECT_TRUE(ReadFile(work / "out/big.txt") == ReadFile(work / "big.txt"));
}

// Cancelled while a large file is being deflated (several threads) or extracted: the call
// says so, no archive is made, no old archive changes, nothing is left beside them.
TEST(ZipLarge, CancelMidFileLeavesNothing) {
  TempDir work;
  mkdir((work / "in").c_str(), 0755);
  WriteLarge(work / "in/big.txt", 5 * kPiece);
  WriteFile(work / "in/small.txt", "small");
  ASSERT_EQ(ZipFiles("-q -j", work / "old.zip", {work / "in/small.txt"}).code, 0);
  const std::string old = ReadFile(work / "old.zip");
  TestHost host;
  host.threads = 2;
  HostScope scope(host);
  for (const std::string archive : {"new.zip", "old.zip"}) {
    CancelAfterIo cancel("rchar:", 3 * kPiece);
    EXPECT_EQ(ZipFiles("-q -j", work / archive, {work / "in/big.txt"}).code, TAVRUN_ZIP_E_CANCELLED)
        << archive;
  }
  EXPECT_TRUE(ReadFile(work / "old.zip") == old);
  EXPECT_EQ(ListTree(work.path()),
            (std::set<std::string>{"in/", "in/big.txt", "in/small.txt", "old.zip"}));

  ASSERT_EQ(ZipFiles("-q -j", work / "big.zip", {work / "in/big.txt"}).code, 0);
  mkdir((work / "out").c_str(), 0755);
  CancelAfterIo cancel("wchar:", 2 * kPiece);
  EXPECT_EQ(UnZipTo("-x -qq --i", work / "big.zip", work / "out").code, TAVRUN_ZIP_E_CANCELLED);
  EXPECT_EQ(ListTree(work / "out"), std::set<std::string>{});
}
