// What we write reads back here and in other programs; what another encoder wrote reads here
// and keeps its members byte for byte when we update it.
#include "test_util.h"

using namespace lzhtest;

namespace {

struct File {
  std::string name;
  Bytes data;
  int packsFrom;  // the lowest -jm at which compressing pays off (9: never)
  mode_t mode = 0644;
};

class InteropTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directories(Path("in"));
    Bytes far = RandomBytes(60000, 34);
    far.insert(far.end(), far.begin(), far.begin() + 40000);  // 60,000 back: only -lh7- reaches
    // Few distinct bytes: short codes beside long ones, so the stream used to end fewer bits
    // after its last symbol than the longest code, which one reader cannot decode.
    Bytes letters(300000);
    std::mt19937 r(37);
    for (uint8_t& b : letters) b = static_cast<uint8_t>('a' + r() % 16);
    files_ = {{"empty", {}, 9},
              {"one", {'1'}, 9, 0600},
              {"three", {'a', 'b', 'c'}, 9},
              {"run", Bytes(100000, 0), 1},
              {"text.txt", Text(300000, 31), 1, 0755},
              {"random", RandomBytes(20000, 32), 9, 0640},
              {"表示.txt", Text(9000, 33), 1},                      // CP932, 0x5C as a trail byte
              {"café.txt", Text(5000, 36), 1},                      // not in CP932: stored as UTF-8
              {std::string(206, 'n') + ".txt", Text(3000, 35), 1},  // a 256-byte header, grown
              {"far.bin", far, 4},
              {"letters", letters, 1}};
    int64_t t = 1500000000;
    for (const File& f : files_) {
      WriteFile(Path("in") / f.name, f.data);
      fs::permissions(Path("in") / f.name, static_cast<fs::perms>(f.mode));
      SetMtime(Path("in") / f.name, t += 3601);
    }
  }
  std::vector<File> files_;
};

}  // namespace

TEST_F(InteropTest, OurArchivesAtEveryMethodReadBackHereAndInEveryOtherReader) {
  const std::string n = std::to_string(files_.size());
  Bytes all;
  for (const File& f : files_) all.insert(all.end(), f.data.begin(), f.data.end());
  WriteFile(Path("all"), all);
  const char* methods[] = {"-lh0-", "-lh5-", "-lh5-", "-lh6-", "-lh7-"};
  for (int jm = 0; jm <= 4; ++jm) {
    SCOPED_TRACE("-jm" + std::to_string(jm));
    const fs::path a = Path("m" + std::to_string(jm) + ".lzh"),
                   out = Path("out" + std::to_string(jm));
    for (const File& f : files_)
      ASSERT_EQ(Run("U -jm" + std::to_string(jm) + " " + Q(a) + " " + Q(Path("in") / f.name)), 0)
          << output_;
    const auto members = Members(a);
    ASSERT_EQ(members.size(), files_.size());
    for (size_t i = 0; i < files_.size(); ++i)
      EXPECT_EQ(members[i].method, jm >= files_[i].packsFrom ? methods[jm] : "-lh0-") << i;
    EXPECT_EQ(members[6].nameRaw, "\x95\x5C\x8E\xA6.txt");
    EXPECT_EQ(members[6].codePage, 932u);
    EXPECT_EQ(members[7].nameRaw, "café.txt");
    EXPECT_EQ(members[7].codePage, 65001u);
    EXPECT_EQ(members[8].headerSize, 257u);

    fs::create_directories(out);
    ASSERT_EQ(Run("E -x1 " + Q(a) + " " + Q(out) + "/"), 0) << output_;
    for (const File& f : files_) {
      EXPECT_TRUE(ReadFile(out / f.name) == f.data) << f.name;
      EXPECT_EQ(Mtime(out / f.name), Mtime(Path("in") / f.name)) << f.name;
      EXPECT_EQ(fs::status(out / f.name).permissions(), static_cast<fs::perms>(f.mode)) << f.name;
    }
    // Each reader's verdict as one command. lhasa stops silently at a header it rejects: it
    // must also list every member.
    const std::string q = Q(a);
    const std::pair<std::string, std::string> readers[] = {
        {"lhasa", "lhasa t " + q + " && test $(lhasa l " + q + " | grep -c -- '-rw') -eq " + n},
        {"bsdtar", "bsdtar -xOf " + q + " | cmp -s - " + Q(Path("all"))},
        {"7zz", "7zz t " + q + " >" + Q(Path("7z.out")) + " && grep -q 'Files: " + n + "' " +
                    Q(Path("7z.out"))},
        {"lsar", "lsar -t " + q + " | grep -q '" + n + " passed, 0 failed'"}};
    for (const auto& [tool, command] : readers)
      EXPECT_TRUE(!HaveTool(tool) || Shell("(" + command + ") >/dev/null 2>&1") == 0)
          << tool << " rejects the archive";
  }
}

TEST_F(InteropTest, ArchivesOfAnotherEncoderExtractAndKeepTheirMembersWhenUpdated) {
  const fs::path fixtures = fs::path(LZH_FIXTURES) / "jlha", expected = fixtures / "expected";
  for (int level : {0, 1, 2}) {
    for (int method : {5, 6, 7}) {
      const std::string id = "l" + std::to_string(level) + "_lh" + std::to_string(method);
      SCOPED_TRACE(id);
      const fs::path original = fixtures / ("j_" + id + ".lzh"), out = Path("x" + id);
      EXPECT_EQ(UnlhaCheckArchive(original.c_str(), 2), 1);
      fs::create_directories(out);
      ASSERT_EQ(Run("E -x1 " + Q(original) + " " + Q(out) + "/"), 0) << output_;
      for (const char* f : {"text.txt", "bin.dat", "sub/inner.txt"})
        EXPECT_TRUE(ReadFile(out / f) == ReadFile(expected / f)) << f;
      if (method != 6) continue;

      // Updated: the first member replaced in place, one added; the others stay byte for byte.
      const fs::path a = Path(id + ".lzh"), u = Path("u" + id);
      fs::copy_file(original, a);
      ASSERT_EQ(Run("U -c1 -t1 " + Q(a) + " " + Q(Path("in/text.txt")) + " " + Q(Path("in/one"))),
                0)
          << output_;
      const Bytes before = ReadFile(original), after = ReadFile(a);
      const auto old = Members(original), now = Members(a);
      ASSERT_EQ(now.size(), 4u);
      EXPECT_EQ(Bytes(after.begin() + now[1].offset, after.begin() + now[3].offset),
                Bytes(before.begin() + old[1].offset, before.end() - 1));
      fs::create_directories(u);
      ASSERT_EQ(Run("E -x1 " + Q(a) + " " + Q(u) + "/"), 0) << output_;
      EXPECT_TRUE(ReadFile(u / "text.txt") == files_[4].data &&
                  ReadFile(u / "one") == files_[1].data);
      EXPECT_TRUE(ReadFile(u / "bin.dat") == ReadFile(expected / "bin.dat"));
      EXPECT_TRUE(!HaveTool("lhasa") || Shell("lhasa t " + Q(a) + " >/dev/null 2>&1") == 0);
    }
  }
}
