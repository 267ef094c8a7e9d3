// A file that fails to read (EIO) or changes while it is being added, on every path a file
// takes (read whole and deflated, deflated in pieces, stored as it streams): the call fails
// with the source code, says what happened with the system's own words, and the archive is
// left as it was. Run with the preloaded shim (eio_shim.c) that stands for the disk.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "zip_test_util.h"

namespace {

using namespace ziptest;

struct Case {
  const char* what;
  size_t size;
  const char* level;
  const char* after;  // bytes read before the failure or the change
};

// Small: read whole; large: deflated in pieces (the probe reads 4 MiB first); -0: stored.
const Case kCases[] = {{"small", 100000, "-6", "0"},
                       {"large", (12u << 20) + 5, "-6", "5242880"},
                       {"stored", 9u << 20, "-0", "1048576"}};

class ShimScope {
 public:
  ShimScope(const char* path, const char* mode, const char* after) {
    setenv("TAVRUN_SHIM_PATH", path, 1);
    setenv("TAVRUN_SHIM_MODE", mode, 1);
    setenv("TAVRUN_SHIM_AFTER", after, 1);
  }
  ~ShimScope() { unsetenv("TAVRUN_SHIM_PATH"); }
};

void AddFailingFile(const char* mode, const std::string& expectedReason,
                    const std::string& wrongReason) {
  ASSERT_NE(dlsym(RTLD_DEFAULT, "tavrun_eio_shim"), nullptr)
      << "run with LD_PRELOAD of the shim (ctest does)";
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.what) + ", " + mode);
    TempDir work;
    const std::string file = work / (std::string(c.what) + ".txt");
    WriteFile(file, TextData(c.size, 3));
    WriteFile(work / "first.txt", "first");
    ASSERT_EQ(ZipFiles("-q -j", work / "a.zip", {work / "first.txt"}).code, 0);
    const std::string before = ReadFile(work / "a.zip");
    Result r;
    {
      ShimScope shim((std::string("/") + c.what + ".txt").c_str(), mode, c.after);
      r = ZipFiles("-j " + std::string(c.level), work / "a.zip", {file});
    }
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_SOURCE) << r.output;
    EXPECT_NE(
        r.output.find(expectedReason == "changed" ? file + " changed while it was being read"
                                                  : "cannot read " + file + ": " + expectedReason),
        std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find(wrongReason), std::string::npos) << r.output;
    EXPECT_TRUE(ReadFile(work / "a.zip") == before);
    EXPECT_EQ(ListTree(work.path()),
              (std::set<std::string>{"a.zip", "first.txt", std::string(c.what) + ".txt"}));
  }
}

}  // namespace

TEST(ZipSource, AReadErrorIsReportedWithItsCauseAndChangesNothing) {
  AddFailingFile("eio", "Input/output error", "changed while");
}

TEST(ZipSource, AFileChangedWhileReadIsReportedChangedAndChangesNothing) {
  AddFailingFile("touch", "changed", "cannot read");
}
