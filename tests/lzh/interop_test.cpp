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

// Many small and boundary-sized inputs through the encoder, each read back by every reader:
// every stream ending (the last command in a block of its own or sharing one) must decode
// everywhere, including in readers that look a whole code ahead.
TEST_F(InteropTest, GeneratedInputsOfEverySizeClassReadBackInEveryReader) {
  const std::vector<std::string> tools = {"lhasa", "bsdtar", "7zz", "unar", "jlha"};
  std::string missing;
  for (const std::string& t : tools)
    if (!HaveTool(t)) missing += " " + t;
  if (!missing.empty())
    GTEST_SKIP() << "readers not installed (scripts/install-deps.sh):" << missing;

  const Bytes text = Text(200000, 50);
  const auto prefix = [&](size_t n) { return Bytes(text.begin(), text.begin() + n); };
  std::vector<std::pair<std::string, Bytes>> inputs = {
      {"b0", {}}, {"b1", {'x'}}, {"b2", {'x', 'y'}}, {"b3", {'a', 'a', 'a'}}, {"b4", {0, 0, 0, 0}}};
  for (size_t n :
       {40, 100, 333, 1000, 2500, 4096, 8191, 8192, 8193, 32767, 32768, 32769, 65536, 140000})
    inputs.push_back({"t" + std::to_string(n), prefix(n)});
  std::mt19937 r(51);
  for (int i = 0; i < 12; ++i) {  // text with runs and noise, of random sizes
    Bytes b = prefix(r() % 20000 + 5);
    for (int k = 0; k < 30; ++k) b[r() % b.size()] = static_cast<uint8_t>(r());
    b.insert(b.end(), r() % 300, static_cast<uint8_t>(r()));
    inputs.push_back({"m" + std::to_string(i), b});
  }
  inputs.push_back({"letters", [&] {
                      Bytes b(70000);  // nearly all literals: more than one block of commands
                      for (uint8_t& c : b) c = static_cast<uint8_t>('a' + r() % 16);
                      return b;
                    }()});
  fs::create_directories(Path("gen"));
  for (const auto& [name, data] : inputs) WriteFile(Path("gen") / name, data);

  for (int jm : {2, 3, 4}) {
    SCOPED_TRACE("-jm" + std::to_string(jm));
    const fs::path a = Path("g" + std::to_string(jm) + ".lzh");
    std::string files;
    for (const auto& [name, data] : inputs) files += " " + Q(Path("gen") / name);
    ASSERT_EQ(Run("U -jm" + std::to_string(jm) + " " + Q(a) + files), 0) << output_;
    const std::string q = Q(a);
    const std::pair<std::string, std::string> readers[] = {{"ours", ""},
                                                           {"lhasa", "lhasa xq " + q},
                                                           {"bsdtar", "bsdtar -xf " + q},
                                                           {"7zz", "7zz x -y " + q},
                                                           {"unar", "unar -q -D " + q},
                                                           {"jlha", "jlha x " + q}};
    for (const auto& [tool, command] : readers) {
      const fs::path out = Path("r" + std::to_string(jm) + tool);
      fs::create_directories(out);
      if (tool == "ours")
        ASSERT_EQ(Run("E " + q + " " + Q(out) + "/"), 0) << output_;
      else
        EXPECT_EQ(Shell("cd " + Q(out) + " && " + command + " >/dev/null 2>&1"), 0) << tool;
      for (const auto& [name, data] : inputs) {
        // Some readers write nothing for an empty member.
        if (data.empty() && !fs::exists(out / name)) continue;
        EXPECT_TRUE(fs::exists(out / name) && ReadFile(out / name) == data) << tool << " " << name;
      }
    }
  }
}
