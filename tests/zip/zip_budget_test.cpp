// One memory budget for every decoder, whatever a member declares: a lying LZMA dictionary or
// Zstandard window is refused as a method we do not decode (code 11) before anything is
// allocated, in extraction and in the full check; a member within the budget decodes. Peak
// memory is measured in a child process.
#include <gtest/gtest.h>

#include <functional>

#include "zip_crypt_util.h"
#include "zip_test_util.h"

using namespace ziptest;

namespace {

// A value of /proc/self/status in KiB ("VmHWM", "VmRSS").
long StatusKiB(const std::string& key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  return -1;
}

struct Measured {
  long code = -1;
  long riseKiB = -1;  // how far the peak resident memory rose above the start of the call
};

// Runs `call` in a child process whose peak is reset first (clear_refs 5), so the rise is the
// call's own and not the test program's history.
Measured PeakOf(const std::function<int32_t()>& call) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = StatusKiB("VmRSS");
    const long code = call();
    long values[2] = {code, StatusKiB("VmHWM") - before};
    _exit(write(fds[1], values, sizeof values) == sizeof values ? 0 : 2);
  }
  close(fds[1]);
  Measured m;
  long values[2];
  if (child > 0 && read(fds[0], values, sizeof values) == ssize_t(sizeof values))
    m = {values[0], values[1]};
  close(fds[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  return m;
}

constexpr uint32_t kLyingDictionary = 0x60000000;  // 1.5 GiB
constexpr long kMiB = 1024;                        // in KiB

class Budget : public ::testing::Test {
 protected:
  std::string Archive(const std::string& name, const std::vector<HandMember>& members) {
    const std::string a = work_ / name;
    WriteFile(a, HandZip(members));
    return a;
  }
  Measured Extract(const std::string& archive, const std::string& dest) {
    mkdir(dest.c_str(), 0755);
    return PeakOf(
        [&] { return RunUnZip("-qq --i -o " + Quote(archive) + " " + Quote(dest + "/")).code; });
  }
  TempDir work_;
};

}  // namespace

TEST_F(Budget, LzmaDictionaryBeyondTheBudgetIsRefusedUnallocated) {
  // 64 MiB of zeros in a few KiB, declaring a 1.5 GiB dictionary and 1 GiB of data.
  const std::string zeros(64u << 20, '\0');
  HandMember liar{"liar.bin", LzmaCompress(zeros, 1 << 20, kLyingDictionary), 14, Crc(zeros),
                  1ull << 30};
  const std::string a = Archive("liar.zip", {liar, Stored("ok.txt", "ok")});
  const Measured m = Extract(a, work_ / "d");
  EXPECT_EQ(m.code, TAVRUN_ZIP_E_UNSUPPORTED);
  EXPECT_LT(m.riseKiB, 16 * kMiB);
  EXPECT_EQ(ListTree(work_ / "d"), std::set<std::string>{"ok.txt"});
  const Measured check = PeakOf([&] { return Check(a, 2); });
  EXPECT_EQ(check.code, 0);
  EXPECT_LT(check.riseKiB, 16 * kMiB);
  // The reason names the budget.
  Result r = RunUnZip("-qq --i -o " + Quote(a) + " " + Quote(work_ / "d/"));
  EXPECT_NE(r.output.find("256 MiB allowed"), std::string::npos) << r.output;
}

TEST_F(Budget, LzmaDictionaryFollowsTheDeclaredSizeWithinTheBudget) {
  // The same lie with 48 MiB declared: no more than that is decoded, so no larger dictionary
  // is taken, and the member comes out.
  const std::string zeros(48u << 20, '\0');
  HandMember fits{"fits.bin", LzmaCompress(zeros, 1 << 20, kLyingDictionary), 14, Crc(zeros),
                  zeros.size()};
  const std::string a = Archive("fits.zip", {fits});
  const Measured check = PeakOf([&] { return Check(a, 2); });
  EXPECT_EQ(check.code, 1);
  EXPECT_LT(check.riseKiB, 48 * kMiB + 24 * kMiB);
  // Declaring 1 MiB of it: decoding stops there, in little memory, and the member is damaged.
  HandMember shrunk = fits;
  shrunk.size = 1u << 20;
  const Measured m = Extract(Archive("shrunk.zip", {shrunk}), work_ / "s");
  EXPECT_EQ(m.code, TAVRUN_ZIP_E_DATA);
  EXPECT_LT(m.riseKiB, 16 * kMiB);
  EXPECT_TRUE(ListTree(work_ / "s").empty());
}

TEST_F(Budget, ZstdWindowBeyondTheBudgetIsRefusedAndWithinItDecodes) {
  const std::string data = TextData(100000, 2);
  std::string frame = ZstdCompress(data, 10);
  // Frame header: magic, descriptor (no content size, not single-segment), window byte.
  ASSERT_EQ(uint8_t(frame[4]) & 0x20, 0);
  HandMember within{"within.txt", frame, 93, Crc(data), data.size()};
  frame[5] = char((30 - 10) << 3);  // a 1 GiB window
  HandMember beyond{"beyond.txt", frame, 93, Crc(data), data.size()};
  const std::string a = Archive("zstd.zip", {beyond, within});
  const Measured m = Extract(a, work_ / "z");
  EXPECT_EQ(m.code, TAVRUN_ZIP_E_UNSUPPORTED);
  EXPECT_LT(m.riseKiB, 16 * kMiB);
  EXPECT_EQ(ListTree(work_ / "z"), std::set<std::string>{"within.txt"});
  EXPECT_EQ(ReadFile(work_ / "z/within.txt"), data);
}
