// Other programs read what we write, and we read what another encoder wrote.
#include <fstream>
#include <sstream>

#include "test_util.h"

using namespace lzhtest;

namespace {

class InteropTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directories(Path("in"));
    files_ = {{"empty", {}},
              {"one", {'1'}},
              {"three", {'a', 'b', 'c'}},
              {"run", Bytes(100000, 0)},
              {"text.txt", Text(200000, 31)},
              {"random", RandomBytes(20000, 32)},
              {"表示.txt", Text(9000, 33)}};  // 0x5C as a CP932 trail byte
    Bytes far = RandomBytes(70000, 34);
    far.insert(far.end(), far.begin(), far.begin() + 40000);  // matches up to 70 KB back
    files_.push_back({"far.bin", far});
    for (const auto& [name, data] : files_) WriteFile(Path("in") / name, data);
  }
  fs::path Make(int jm) {
    fs::path a = Path("m" + std::to_string(jm) + ".lzh");
    for (const auto& f : files_)
      EXPECT_EQ(Run("U -jm" + std::to_string(jm) + " " + Q(a) + " " + Q(Path("in") / f.first)), 0) << output_;
    return a;
  }
  Bytes Concatenated() const {
    Bytes all;
    for (const auto& f : files_) all.insert(all.end(), f.second.begin(), f.second.end());
    return all;
  }
  std::vector<std::pair<std::string, Bytes>> files_;
};

std::string Slurp(const fs::path& p) {
  std::ifstream f(p);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace

TEST_F(InteropTest, LhasaTestsOurArchives) {
  if (!HaveTool("lhasa")) GTEST_SKIP() << "lhasa not installed";
  for (int jm : {0, 2, 3, 4}) {
    fs::path a = Make(jm);
    EXPECT_EQ(Shell("lhasa t " + Q(a) + " >/dev/null 2>&1"), 0) << jm;
    // lhasa stops silently at a header it rejects: it must list every member.
    EXPECT_EQ(Shell("test $(lhasa l " + Q(a) + " | grep -c -- '-rw') -eq " +
                    std::to_string(files_.size())), 0) << jm;
  }
}

TEST_F(InteropTest, BsdtarExtractsTheSameBytes) {
  if (!HaveTool("bsdtar")) GTEST_SKIP() << "bsdtar not installed";
  for (int jm : {0, 2, 3, 4}) {
    fs::path a = Make(jm);
    ASSERT_EQ(Shell("bsdtar -xOf " + Q(a) + " > " + Q(Path("cat.out")) + " 2>/dev/null"), 0) << jm;
    EXPECT_TRUE(ReadFile(Path("cat.out")) == Concatenated()) << jm;
  }
}

TEST_F(InteropTest, SevenZipTestsOurArchives) {
  if (!HaveTool("7zz")) GTEST_SKIP() << "7zz not installed";
  for (int jm : {0, 2, 3, 4}) {
    fs::path a = Make(jm);
    EXPECT_EQ(Shell("7zz t " + Q(a) + " >" + Q(Path("7z.out")) + " 2>&1"), 0) << jm;
    EXPECT_NE(Slurp(Path("7z.out")).find("Files: " + std::to_string(files_.size())), std::string::npos);
  }
}

TEST_F(InteropTest, UnarTestsOurArchives) {
  if (!HaveTool("lsar")) GTEST_SKIP() << "lsar not installed";
  for (int jm : {0, 2, 3, 4}) {
    fs::path a = Make(jm);
    // Its summary line goes to a file, not to this suite's output.
    Shell("lsar -t " + Q(a) + " >" + Q(Path("lsar.out")) + " 2>&1");
    EXPECT_NE(Slurp(Path("lsar.out")).find(std::to_string(files_.size()) + " passed, 0 failed"),
              std::string::npos) << jm;
  }
}

TEST_F(InteropTest, JlhaExtractsOurArchives) {
  if (!HaveTool("jlha")) GTEST_SKIP() << "jlha not installed";
  fs::path a = Make(4);
  fs::create_directories(Path("j"));
  ASSERT_EQ(Shell("cd " + Q(Path("j")) + " && jlha x " + Q(a) + " >/dev/null 2>&1"), 0);
  // jlha replaces non-ASCII names, so only the ASCII ones are compared by name.
  for (const auto& [name, data] : files_)
    if (IsAsciiName(name)) {
      EXPECT_TRUE(ReadFile(Path("j") / name) == data) << name;
    }
}

TEST_F(InteropTest, ArchivesOfAnotherEncoderExtract) {
  const fs::path fixtures = fs::path(LZH_FIXTURES) / "jlha";
  const fs::path expected = fixtures / "expected";
  int seen = 0;
  for (int level : {0, 1, 2}) {
    for (int method : {5, 6, 7}) {
      SCOPED_TRACE(std::to_string(level) + "/" + std::to_string(method));
      fs::path a = fixtures / ("j_l" + std::to_string(level) + "_lh" + std::to_string(method) + ".lzh");
      ASSERT_TRUE(fs::exists(a));
      ++seen;
      EXPECT_EQ(UnlhaCheckArchive(a.c_str(), 2), 1);
      fs::path out = Path("x" + std::to_string(level) + std::to_string(method));
      fs::create_directories(out);
      ASSERT_EQ(Run("E -x1 " + Q(a) + " " + Q(out) + "/"), 0) << output_;
      for (const char* f : {"text.txt", "bin.dat", "sub/inner.txt"})
        EXPECT_TRUE(ReadFile(out / f) == ReadFile(expected / f)) << f;
      fs::path flat = Path("flat");
      fs::remove_all(flat);
      fs::create_directories(flat);
      ASSERT_EQ(Run("E " + Q(a) + " " + Q(flat) + "/"), 0);
      EXPECT_EQ(Listing(flat), std::vector<std::string>({"bin.dat", "inner.txt", "text.txt"}));
    }
  }
  EXPECT_EQ(seen, 9);
}
