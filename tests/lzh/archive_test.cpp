// The U and E commands through the exported entry points: update rules, atomic replacement,
// extraction switches, command lines, the output buffer, the archive check, hand-made archives.
#include <signal.h>
#include <sys/resource.h>

#include <cstring>

#include "decoder.h"
#include "test_util.h"

using namespace lzhtest;
using namespace tavrun::lzh;

namespace {

class ArchiveTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directories(Path("in"));
    fs::create_directories(Path("out"));
  }
  fs::path In(const std::string& n) { return Path("in") / n; }
  int Add(const std::string& switches, const fs::path& file, const std::string& archive = "a.lzh") {
    return Run("U " + switches + " " + Q(Path(archive)) + " " + Q(file));
  }
  int Extract(const std::string& switches, const std::string& archive = "a.lzh") {
    return Run("E " + switches + " " + Q(Path(archive)) + " " + Q(Path("out")) + "/");
  }
};

}  // namespace

TEST_F(ArchiveTest, UpdateReplacesOnlyNewerFilesAndCopiesTheRestByteForByte) {
  WriteFile(In("a.txt"), std::string("first"));
  WriteFile(In("b.txt"), Text(20000, 6));
  SetMtime(In("a.txt"), 1600000000);
  SetMtime(In("b.txt"), 1500000000);
  ASSERT_EQ(Add("", In("a.txt")), 0);
  ASSERT_EQ(Add("-jm4 -y1", In("b.txt")), 0);
  EXPECT_EQ(Mtime(Path("a.lzh")), 1600000000);  // -y1: the newest member's time
  const Bytes before = ReadFile(Path("a.lzh"));
  const Bytes rawB(before.begin() + Members(Path("a.lzh")).at(1).offset, before.end() - 1);
  // clang-format off
  struct Step { std::string content; int64_t mtime; const char* switches; int rc; bool replaced; };
  const Step steps[] = {
      {"same date", 1600000000, "-t1", 0, false},
      {"older", 1500000000, "-t1", 0, false},
      {"newer, nobody to ask", 1700000000, "", UNLHA_ERROR_KEPT, false},
      {"newer", 1700000000, "-t1", 0, true},
      {"older with -c1", 1400000000, "-c1 -t1", 0, true},
  };
  // clang-format on
  std::string stored = "first";
  for (const Step& s : steps) {
    SCOPED_TRACE(s.content);
    WriteFile(In("a.txt"), s.content);
    SetMtime(In("a.txt"), s.mtime);
    EXPECT_EQ(Add(s.switches, In("a.txt")), s.rc) << output_;
    if (s.replaced) stored = s.content;
    const Bytes now = ReadFile(Path("a.lzh"));
    EXPECT_TRUE(stored != "first" || now == before);
    // a.txt is replaced in place: b.txt's member still ends the archive, byte for byte.
    ASSERT_EQ(Members(Path("a.lzh")).size(), 2u);
    EXPECT_EQ(Bytes(now.end() - 1 - static_cast<long>(rawB.size()), now.end() - 1), rawB);
    ASSERT_EQ(Extract("-y1 -c1"), 0) << output_;
    EXPECT_EQ(ReadText(Path("out/a.txt")), stored);
  }
  EXPECT_GT(Mtime(Path("a.lzh")), 1700000000);  // without -y1: the time of writing
}

TEST_F(ArchiveTest, FailedUpdatesLeaveTheArchiveIdentical) {
  WriteFile(In("keep.txt"), Text(30000, 7));
  ASSERT_EQ(Add("", In("keep.txt")), 0);
  const Bytes before = ReadFile(Path("a.lzh"));
  fs::create_directories(In("dir"));
  WriteFile(In("huge"), RandomBytes(400000, 8));
  std::ofstream(In("4g")).close();
  fs::resize_file(In("4g"), 4ull << 30);  // sparse
  // clang-format off
  struct Case { const char* what; fs::path file; int rc; rlim_t sizeLimit = RLIM_INFINITY; };
  const Case cases[] = {
      {"read fails", "/proc/self/mem", UNLHA_ERROR_SOURCE},
      {"missing", In("missing"), UNLHA_ERROR_SOURCE},
      {"a directory", In("dir"), UNLHA_ERROR_SOURCE},
      {"4 GiB", In("4g"), UNLHA_ERROR_TOO_LARGE},
      {"disk full", In("huge"), UNLHA_ERROR_WRITE, before.size() + 50000},
  };
  // clang-format on
  signal(SIGXFSZ, SIG_IGN);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rlimit old{}, r{};
    getrlimit(RLIMIT_FSIZE, &old);
    r = old;
    r.rlim_cur = c.sizeLimit;
    setrlimit(RLIMIT_FSIZE, &r);
    const int rc = Add("", c.file);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(rc, c.rc) << output_;
    EXPECT_EQ(ReadFile(Path("a.lzh")), before);
  }
  EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"a.lzh", "in/", "in/4g", "in/dir/", "in/huge",
                                                     "in/keep.txt", "out/"}));
  // What is not an archive, or a damaged one, is not rewritten: its members would be lost.
  Bytes damaged = before;
  damaged[5] ^= 0xFF;
  for (const Bytes& b : {damaged, Text(100, 1), Bytes{}}) {
    WriteFile(Path("d.lzh"), b);
    EXPECT_EQ(Add("", In("keep.txt"), "d.lzh"), UNLHA_ERROR_NOT_LZH);
    EXPECT_EQ(ReadFile(Path("d.lzh")), b);
  }
}

TEST_F(ArchiveTest, ExtractSwitchesDecideWhatIsReplaced) {
  WriteFile(Path("a.lzh"), ArchiveOf({Level2Member("f.txt", "archived", {"d"})}));  // 1600000000
  // clang-format off
  struct Case { std::string existing; int64_t mtime; const char* switches; int rc; bool replaced; };
  const Case cases[] = {{"", 0, "", 0, true},
                        {"newer", 1700000000, "-y1", 0, false},
                        {"newer", 1700000000, "-y1 -c1", 0, true},
                        {"older", 1500000000, "", UNLHA_ERROR_KEPT, false},
                        {"older", 1500000000, "-y1", 0, true},
                        {"read-only", 1500000000, "-y1 -ga2", 0, false},
                        {"read-only", 1500000000, "-y1 -ga1", 0, true}};
  // clang-format on
  const fs::path f = Path("out/f.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.existing + " " + c.switches);
    fs::remove(f);
    if (!c.existing.empty()) WriteFile(f, c.existing);
    SetMtime(f, c.mtime);
    if (c.existing == "read-only") fs::permissions(f, fs::perms::owner_read);
    EXPECT_EQ(Extract(c.switches), c.rc) << output_;
    EXPECT_EQ(ReadText(f), c.replaced ? "archived" : c.existing);
  }
  EXPECT_EQ(Listing(Path("out")), std::vector<std::string>{"f.txt"});  // no directories without -x1
}

TEST_F(ArchiveTest, BadCommandLinesAreRefused) {
  WriteFile(In("x"), std::string("x"));
  const std::string a = Q(Path("a.lzh")), x = Q(In("x"));
  for (const std::string& line : {std::string(), "X " + a + " " + x, "U -jm5 " + a + " " + x,
                                  "U -q " + a + " " + x, "U " + a, "E " + a})
    EXPECT_EQ(Run(line), UNLHA_ERROR_COMMAND) << line;
  EXPECT_FALSE(fs::exists(Path("a.lzh")));
  EXPECT_EQ(Extract("", "none.lzh"), UNLHA_ERROR_ARCHIVE);
  ASSERT_EQ(Run("U " + a + " " + x), 0);
  EXPECT_EQ(Run("E " + a + " " + Q(Path("nowhere")) + "/"), UNLHA_ERROR_WRITE);
}

TEST_F(ArchiveTest, OutputBufferIsNeverOverrun) {
  const std::string line = "E " + Q(Path("missing.lzh")) + " " + Q(Path("out")) + "/";
  ASSERT_EQ(Run(line), UNLHA_ERROR_ARCHIVE);
  const std::string full = output_;
  ASSERT_GT(full.size(), 40u);
  for (uint32_t size : {0u, 1u, 2u, 7u, 40u}) {
    std::vector<char> buf(size + 16, '\x7F');
    EXPECT_EQ(Unlha(0, line.c_str(), buf.data(), size), UNLHA_ERROR_ARCHIVE);
    for (size_t i = size; i < buf.size(); ++i) ASSERT_EQ(buf[i], '\x7F') << size;
    if (size == 0) continue;
    ASSERT_LT(strnlen(buf.data(), size), size) << "not terminated";
    EXPECT_EQ(std::string(buf.data()), full.substr(0, size - 1));
  }
}

TEST_F(ArchiveTest, CheckRefusesWhatIsNotAReadableArchive) {
  WriteFile(In("t.txt"), Text(20000, 9));
  ASSERT_EQ(Add("-jm3", In("t.txt")), 0);
  const Bytes good = ReadFile(Path("a.lzh"));
  Bytes badHeader = good, badData = good;
  badHeader[15] ^= 1;  // the time, covered by the header CRC
  badData[good.size() - 50] ^= 0x10;
  // clang-format off
  struct Case { const char* what; Bytes data; int headersOnly, decoded; };  // modes 1 and 2
  const Case cases[] = {
      {"good", good, 1, 1},
      {"empty", {}, 0, 0},
      {"end mark only", {0}, 0, 0},
      {"text", Text(3000, 10), 0, 0},
      {"cut in the header", Bytes(good.begin(), good.begin() + 20), 0, 0},
      {"cut in the data", Bytes(good.begin(), good.end() - 100), 0, 0},
      {"bad header CRC", badHeader, 0, 0},
      {"bad data", badData, 1, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    WriteFile(Path("c.lzh"), c.data);
    EXPECT_EQ(UnlhaCheckArchive(Path("c.lzh").c_str(), 1), c.headersOnly) << c.what;
    EXPECT_EQ(UnlhaCheckArchive(Path("c.lzh").c_str(), 2), c.decoded) << c.what;
  }
  const std::string dir = Path("in").string(), none = Path("none").string();
  for (const char* p : {dir.c_str(), none.c_str(), static_cast<const char*>(nullptr)})
    EXPECT_EQ(UnlhaCheckArchive(p, 1), 0);
}

// A self-extracting archive: a program in front of the first header, which the check and the
// extraction both find; a stray method id in the program's bytes is not taken for a header.
TEST_F(ArchiveTest, ArchivesWithAProgramInFrontAreFoundAndExtracted) {
  WriteFile(In("t.txt"), Text(30000, 4));
  ASSERT_EQ(Add("-jm2", In("t.txt")), 0);
  const Bytes archive = ReadFile(Path("a.lzh"));
  Bytes program = RandomBytes(70000, 5);
  program[0] = 'M', program[1] = 'Z';   // other readers look further only behind an .exe mark
  const std::string decoy = "xx-lh5-";  // a method id with no header around it
  std::copy(decoy.begin(), decoy.end(), program.begin() + 1000);
  Bytes sfx = program;
  sfx.insert(sfx.end(), archive.begin(), archive.end());
  WriteFile(Path("s.exe"), sfx);
  EXPECT_EQ(UnlhaCheckArchive(Path("s.exe").c_str(), 1), 1);
  EXPECT_EQ(UnlhaCheckArchive(Path("s.exe").c_str(), 2), 1);
  ASSERT_EQ(Extract("", "s.exe"), 0) << output_;
  EXPECT_EQ(ReadFile(Path("out/t.txt")), ReadFile(In("t.txt")));
  WriteFile(Path("p.exe"), program);  // the program alone is no archive
  EXPECT_EQ(UnlhaCheckArchive(Path("p.exe").c_str(), 1), 0);
  // bsdtar looks only 64 KiB far; 7-Zip, like us, further.
  if (!HaveTool("7zz")) GTEST_SKIP() << "7zz missing: the other reader's view is unchecked";
  EXPECT_EQ(Shell("7zz l " + Q(Path("s.exe")) + " | grep -q ' t.txt$'"), 0);
}

TEST_F(ArchiveTest, HandMadeArchivesOfOlderLevelsAndCp932NamesExtract) {
  // "表" (0x95 0x5C) and "ソ" (0x83 0x5C) end in the byte of '\'.
  const std::string hyo = "\x95\x5C", so = "\x83\x5C", sep = "\xFF";
  WriteFile(Path("a.lzh"), ArchiveOf({OldMember(0, so + "\\" + hyo + ".txt", "level 0"),
                                      OldMember(1, hyo + "1.txt", "level 1", so + sep + "d" + sep),
                                      Level2Member(so + hyo + ".txt", "level 2", {hyo}, 0),
                                      Level2Member("日本.txt", "UTF-8 without a code page", {}, 0),
                                      Level2Member("", "", {"空"}, 65001, 040755, "-lhd-")}));
  EXPECT_EQ(UnlhaCheckArchive(Path("a.lzh").c_str(), 2), 1);
  ASSERT_EQ(Extract("-x1"), 0) << output_;
  EXPECT_EQ(Listing(Path("out")),
            (std::vector<std::string>{"ソ/", "ソ/d/", "ソ/d/表1.txt", "ソ/表.txt", "日本.txt",
                                      "空/", "表/", "表/ソ表.txt"}));
  EXPECT_EQ(ReadText(Path("out/ソ/d/表1.txt")), "level 1");
  EXPECT_EQ(ReadText(Path("out/表/ソ表.txt")), "level 2");
  // Levels 0 and 1 hold local DOS time, level 2 UTC.
  EXPECT_EQ(Mtime(Path("out/ソ/表.txt")), DosTimeToUnix(kDosTime));
  EXPECT_EQ(Mtime(Path("out/表/ソ表.txt")), 1600000000);
}

namespace {

// A level-2 -lh0- member with exactly the given extended records (no header CRC record).
Bytes Level2Records(const std::vector<std::pair<uint8_t, std::string>>& records,
                    const std::string& data) {
  Bytes h = {0, 0, '-', 'l', 'h', '0', '-'};
  Put(h, data.size(), 4);
  Put(h, data.size(), 4);
  Put(h, 1600000000, 4);
  h.insert(h.end(), {0x20, 2});
  Put(h, Crc16(0, data.data(), data.size()), 2);
  h.push_back('W');
  Put(h, records.empty() ? 0 : records[0].second.size() + 3, 2);
  for (size_t i = 0; i < records.size(); ++i) {
    h.push_back(records[i].first);
    h.insert(h.end(), records[i].second.begin(), records[i].second.end());
    Put(h, i + 1 < records.size() ? records[i + 1].second.size() + 3 : 0, 2);
  }
  h[0] = static_cast<uint8_t>(h.size());
  h[1] = static_cast<uint8_t>(h.size() >> 8);
  h.insert(h.end(), data.begin(), data.end());
  return h;
}

}  // namespace

// Names as other tools write them: UTF-16 records beside code-page ones, a comment after a
// NUL, a member that its owner could not read.
TEST_F(ArchiveTest, MixedNameRecordsCommentsAndUnreadableModesExtractAsOtherReadersDo) {
  const std::string yuUtf16 = "\xE6\x30", hyoCp932 = "\x95\x5C", sep = "\xFF";
  const std::string mode0200 = {'\x80', '\x80'};  // 0100200
  WriteFile(Path("a.lzh"),
            ArchiveOf({Level2Records({{0x45, yuUtf16}, {0x01, hyoCp932 + ".txt"}}, "utf-16 dir"),
                       Level2Records({{0x02, hyoCp932 + sep},
                                      {0x44, yuUtf16 + std::string(".\0t\0x\0t\0", 8)}},
                                     "utf-16 name"),
                       OldMember(0, std::string("amiga.txt\0a file comment", 24), "comment"),
                       Level2Records({{0x01, "locked.txt"}, {0x50, mode0200}}, "mode 0200")}));
  EXPECT_EQ(UnlhaCheckArchive(Path("a.lzh").c_str(), 2), 1);
  ASSERT_EQ(Extract("-x1"), 0) << output_;
  EXPECT_EQ(Listing(Path("out")), (std::vector<std::string>{"amiga.txt", "locked.txt", "ユ/",
                                                            "ユ/表.txt", "表/", "表/ユ.txt"}));
  EXPECT_EQ(ReadText(Path("out/ユ/表.txt")), "utf-16 dir");
  EXPECT_EQ(ReadText(Path("out/表/ユ.txt")), "utf-16 name");
  EXPECT_EQ(ReadText(Path("out/amiga.txt")), "comment");
  const auto perms = fs::status(Path("out/locked.txt")).permissions();
  EXPECT_EQ(perms & fs::perms::owner_all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadText(Path("out/locked.txt")), "mode 0200");
}

// Unix tools wrote names in EUC-JP without a code-page record; Windows tools in CP932.
TEST_F(ArchiveTest, EucJpNamesFromUnixToolsAndCp932NamesFromWindowsTools) {
  const std::string eucTesuto = "\xA5\xC6\xA5\xB9\xA5\xC8", eucShiryo = "\xBB\xF1\xCE\xC1";
  WriteFile(Path("a.lzh"), ArchiveOf({Level2Member(eucTesuto + ".txt", "euc", {eucShiryo}, 0),
                                      OldMember(1, "\xC9\xBD.txt", "windows"),  // level 1: MS-DOS
                                      OldMember(0, "\x93\xFA\x96\x7B.txt", "cp932")}));
  ASSERT_EQ(Extract("-x1"), 0) << output_;
  EXPECT_EQ(Listing(Path("out")),
            (std::vector<std::string>{"日本.txt", "資料/", "資料/テスト.txt", "ﾉｽ.txt"}));
  EXPECT_EQ(ReadText(Path("out/資料/テスト.txt")), "euc");
}

// A name is CP932 whenever a Windows reader can show it: the characters Linux input methods
// type differently from Windows (〜 for ～) take their Windows codes, and such a name reads back
// as Windows shows it. One character without any CP932 code keeps the whole name UTF-8.
TEST_F(ArchiveTest, NamesAreCp932WheneverAWindowsReaderCanShowThem) {
  const struct {
    std::string name, stored, extracted;
    uint32_t codePage;
  } cases[] = {
      {"①②③ 〜.txt", "\x87\x40\x87\x41\x87\x42 \x81\x60.txt", "①②③ ～.txt", 932},
      {"〜‖−¢£¬—¦.txt", "\x81\x60\x81\x61\x81\x7C\x81\x91\x81\x92\x81\xCA\x81\x5C\xFA\x55.txt",
       "～∥－￠￡￢―￤.txt", 932},
      {"〜é.txt", "〜é.txt", "〜é.txt", 65001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(Path("a.lzh"));
    fs::remove_all(Path("out"));
    fs::create_directories(Path("out"));
    WriteFile(In(c.name), std::string("first"));
    ASSERT_EQ(Add("", In(c.name)), 0) << output_;
    // Added again under the Linux name: the member that reads back as ～ is the one replaced.
    WriteFile(In(c.name), std::string("second"));
    SetMtime(In(c.name), 2000000000);
    ASSERT_EQ(Add("-t1", In(c.name)), 0) << output_;
    const auto members = Members(Path("a.lzh"));
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].nameRaw, c.stored);
    EXPECT_EQ(members[0].codePage, c.codePage);
    ASSERT_EQ(Extract("-x1"), 0) << output_;
    EXPECT_EQ(Listing(Path("out")), std::vector<std::string>{c.extracted});
    EXPECT_EQ(ReadText(Path("out") / c.extracted), "second");
  }
}

// liblhasa still decodes the methods our decoder lacks; sizes and the CRC stay ours.
TEST_F(ArchiveTest, MethodsOnlyLiblhasaDecodesStillExtract) {
  const fs::path corpus = LZH_CORPUS;
  for (const char* a : {"lha_amiga_212/lh1.lzh", "larc333/lz5.lzs", "pmarc2/pm2.pma"}) {
    SCOPED_TRACE(a);
    fs::remove_all(Path("out"));
    fs::create_directories(Path("out"));
    const auto members = Members(corpus / a);
    ASSERT_FALSE(members.empty());
    EXPECT_FALSE(OwnDecoderSupports(members[0].method));
    EXPECT_EQ(Run("E -n1 -y1 " + Q(corpus / a) + " " + Q(Path("out")) + "/"), 0) << output_;
    uint64_t bytes = 0;
    for (const auto& e : fs::directory_iterator(Path("out"))) bytes += fs::file_size(e.path());
    uint64_t expected = 0;
    for (const auto& m : members) expected += m.originalSize;
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(UnlhaCheckArchive((corpus / a).c_str(), 2), 1);
  }
}

// What cannot compress is stored without a parse; what only copies from the window make
// compressible is parsed wherever the method's window reaches them, and extracts the same.
TEST_F(ArchiveTest, DataThatCannotCompressIsStoredAndWindowRepeatsAreNot) {
  Bytes repeats;  // random blocks, each twice: copies 48 KiB back
  for (uint32_t seed = 1; repeats.size() < (3u << 20); ++seed) {
    const Bytes block = RandomBytes(48 << 10, seed);
    repeats.insert(repeats.end(), block.begin(), block.end());
    repeats.insert(repeats.end(), block.begin(), block.end());
  }
  WriteFile(In("photo.jpg"), RandomBytes(3 << 20, 99));
  WriteFile(In("repeats.bin"), repeats);
  struct Case {
    const char* method;
    const char* file;
    const char* stored;
  };
  // -jm2: -lh5-, 8 KiB back; -jm4: -lh7-, 64 KiB back.
  const Case cases[] = {{"-jm2", "photo.jpg", "-lh0-"},
                        {"-jm4", "photo.jpg", "-lh0-"},
                        {"-jm2", "repeats.bin", "-lh0-"},
                        {"-jm4", "repeats.bin", "-lh7-"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.file);
    fs::remove(Path("a.lzh"));
    fs::remove_all(Path("out"));
    fs::create_directories(Path("out"));
    ASSERT_EQ(Add(c.method, In(c.file)), 0) << output_;
    const auto members = Members(Path("a.lzh"));
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].method, c.stored);
    if (members[0].method == "-lh7-") {
      EXPECT_LT(members[0].compressedSize, repeats.size() * 6 / 10);
    }
    ASSERT_EQ(Extract(""), 0) << output_;
    EXPECT_EQ(ReadFile(Path("out") / c.file), ReadFile(In(c.file)));
  }
}
