// Other programs read what we write, and we read what another encoder wrote.
#include <fstream>
#include <functional>
#include <sstream>

#include "header.h"
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
    // A 210-byte name makes our header exactly 256 bytes long before it is grown.
    files_.push_back({std::string(206, 'n') + ".txt", Text(3000, 35)});
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

TEST_F(InteropTest, EveryReaderAcceptsOurArchives) {
  const std::string n = std::to_string(files_.size());
  struct Reader {
    const char* tool;
    std::function<bool(const fs::path&)> accepts;
  };
  const std::vector<Reader> readers = {
      // lhasa stops silently at a header it rejects: it must also list every member.
      {"lhasa", [&](const fs::path& a) {
         return Shell("lhasa t " + Q(a) + " >/dev/null 2>&1") == 0 &&
                Shell("test $(lhasa l " + Q(a) + " | grep -c -- '-rw') -eq " + n) == 0;
       }},
      {"bsdtar", [&](const fs::path& a) {
         return Shell("bsdtar -xOf " + Q(a) + " > " + Q(Path("cat.out")) + " 2>/dev/null") == 0 &&
                ReadFile(Path("cat.out")) == Concatenated();
       }},
      {"7zz", [&](const fs::path& a) {
         return Shell("7zz t " + Q(a) + " >" + Q(Path("7z.out")) + " 2>&1") == 0 &&
                Slurp(Path("7z.out")).find("Files: " + n) != std::string::npos;
       }},
      // Its summary line goes to a file, not to this suite's output.
      {"lsar", [&](const fs::path& a) {
         Shell("lsar -t " + Q(a) + " >" + Q(Path("lsar.out")) + " 2>&1");
         return Slurp(Path("lsar.out")).find(n + " passed, 0 failed") != std::string::npos;
       }},
  };
  int ran = 0;
  for (int jm : {0, 2, 3, 4}) {
    const fs::path a = Make(jm);
    for (const auto& r : readers) {
      if (!HaveTool(r.tool)) continue;
      ++ran;
      EXPECT_TRUE(r.accepts(a)) << r.tool << " rejects -jm" << jm;
    }
  }
  if (ran == 0) GTEST_SKIP() << "none of lhasa, bsdtar, 7zz, lsar is installed";
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

TEST_F(InteropTest, UpdatingAnotherEncodersArchiveKeepsItsMembers) {
  const fs::path fixtures = fs::path(LZH_FIXTURES) / "jlha";
  for (int level : {0, 1, 2}) {
    SCOPED_TRACE(level);
    const fs::path original = fixtures / ("j_l" + std::to_string(level) + "_lh6.lzh");
    const fs::path a = Path("u" + std::to_string(level) + ".lzh");
    fs::copy_file(original, a);
    // Added: the old members are the old bytes, in front of the new one and the end mark.
    ASSERT_EQ(Run("U -jm4 " + Q(a) + " " + Q(Path("in") / "one")), 0) << output_;
    const Bytes before = ReadFile(original), added = ReadFile(a);
    ASSERT_GT(added.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end() - 1, added.begin()));
    // Replaced in place (the first member): everything after it is copied unchanged.
    ASSERT_EQ(Run("U -c1 -t1 " + Q(a) + " " + Q(Path("in") / "text.txt")), 0) << output_;
    const Bytes replaced = ReadFile(a);
    EXPECT_EQ(UnlhaCheckArchive(a.c_str(), 2), 1);
    if (HaveTool("lhasa")) {
      EXPECT_EQ(Shell("lhasa t " + Q(a) + " >/dev/null 2>&1"), 0);
    }
    fs::path out = Path("o" + std::to_string(level));
    fs::create_directories(out);
    ASSERT_EQ(Run("E -x1 " + Q(a) + " " + Q(out) + "/"), 0) << output_;
    EXPECT_TRUE(ReadFile(out / "text.txt") == ReadFile(Path("in") / "text.txt"));
    EXPECT_TRUE(ReadFile(out / "one") == ReadFile(Path("in") / "one"));
    EXPECT_TRUE(ReadFile(out / "bin.dat") == ReadFile(fixtures / "expected/bin.dat"));
    EXPECT_TRUE(ReadFile(out / "sub/inner.txt") == ReadFile(fixtures / "expected/sub/inner.txt"));
    // The members after the replaced one are byte for byte those of the other encoder.
    tavrun::lzh::MemberHeader first;
    std::string reason;
    ASSERT_EQ(tavrun::lzh::ParseMemberHeader(before.data(), before.size(), first, reason),
              tavrun::lzh::ScanStatus::Member);
    const Bytes oldTail(before.begin() + static_cast<long>(first.totalSize()), before.end() - 1);
    ASSERT_GT(oldTail.size(), 20000u);
    EXPECT_NE(std::search(replaced.begin(), replaced.end(), oldTail.begin(), oldTail.end()), replaced.end());
  }
}
