// Extracting archives made by other tools and by hand: names, encodings, methods, modes,
// dates and the overwrite rules.
#include <gtest/gtest.h>
#include <zlib.h>

#include "zip_test_util.h"

using namespace ziptest;

namespace {

// The body of a Unicode-path field: version 1, the CRC of the stored name, the UTF-8 name.
std::string UnicodePath(const std::string& raw, const std::string& name, uint32_t crcXor = 0) {
  uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(raw.data()), uInt(raw.size())));
  crc ^= crcXor;
  return std::string(1, '\x01') + std::string(reinterpret_cast<char*>(&crc), 4) + name;
}

}  // namespace

TEST(ZipExtract, PythonArchiveWithDirectoriesUtf8NamesMethodsAndModes) {
  TempDir work;
  const std::string archive = work / "py.zip", data = work / "data", dir = work / "d";
  WriteFile(data, TextData(30000, 5));
  SetMtime(data, 1620000000);
  mkdir(dir.c_str(), 0755);
  SetMtime(dir, 1610000000);
  const char* script = R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.write(sys.argv[3], 'dir')
    z.write(sys.argv[2], 'dir/日本語.txt', zipfile.ZIP_DEFLATED)
    z.write(sys.argv[2], 'bz.txt', zipfile.ZIP_BZIP2)
    with z.open('z64.txt', 'w', force_zip64=True) as f:
        f.write(b'zip64 member')
    for name, attr, system in (('exec.sh', 0o100755 << 16, 3), ('suid', 0o106755 << 16, 3),
                               ('none', 0o100000 << 16, 3), ('dos-ro.txt', 0x21, 0)):
        i = zipfile.ZipInfo(name)
        i.external_attr, i.create_system = attr, system
        z.writestr(i, name)  # stored)";
  std::string out;
  ASSERT_EQ(Python(script, {archive, data, dir}, &out), 0) << out;
  ASSERT_EQ(Check(archive), 1);
  const mode_t old = umask(022);
  Result r = UnZipTo("-x -qq --i", archive, work / "x");
  umask(old);
  ASSERT_EQ(r.code, 0) << r.output;
  const std::set<std::string> files = {"bz.txt", "z64.txt", "exec.sh",
                                       "suid",   "none",    "dos-ro.txt"};
  std::set<std::string> tree = files;
  tree.insert({"dir/", "dir/日本語.txt"});
  EXPECT_EQ(ListTree(work / "x"), tree);
  EXPECT_EQ(ReadFile(work / "x/dir/日本語.txt"), TextData(30000, 5));
  EXPECT_EQ(ReadFile(work / "x/bz.txt"), TextData(30000, 5));
  EXPECT_EQ(ReadFile(work / "x/z64.txt"), "zip64 member");
  EXPECT_EQ(ReadFile(work / "x/exec.sh"), "exec.sh");
  EXPECT_EQ(Mtime(work / "x/dir/日本語.txt"), 1620000000);
  EXPECT_EQ(Mtime(work / "x/dir"), 1610000000);  // set after its files were written
  // The Unix mode without special bits; the owner may always read and write.
  EXPECT_EQ(Stat(work / "x/exec.sh").st_mode & 07777, 0755u);
  EXPECT_EQ(Stat(work / "x/suid").st_mode & 07777, 0755u);
  EXPECT_EQ(Stat(work / "x/none").st_mode & 0600, 0600u);
  EXPECT_EQ(Stat(work / "x/dos-ro.txt").st_mode & 0600, 0600u);

  // Without -x: bare names, no directories.
  ASSERT_EQ(UnZipTo("-qq --i", archive, work / "flat").code, 0);
  tree = files;
  tree.insert("日本語.txt");
  EXPECT_EQ(ListTree(work / "flat"), tree);
}

TEST(ZipExtract, ArchivesFromOtherTools) {
  TempDir src, work;
  mkdir((src / "フォルダ").c_str(), 0755);
  WriteFile(src / "フォルダ/データ.txt", TextData(30000, 5));
  WriteFile(src / "plain.txt", "plain");
  SetMtime(src / "plain.txt", 1600000001);  // odd: a DOS time alone cannot carry it
  const std::set<std::string> all = {"フォルダ/", "フォルダ/データ.txt", "plain.txt"};
  const std::string pyLzma =
      "python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1], \"w\", "
      "zipfile.ZIP_LZMA); [z.write(f) for f in sys.argv[2:]]; z.write(\"フォルダ/データ.txt\")'";
  const struct {
    std::string make;  // the tool's command, followed by the archive and the files
    int32_t code;
    std::set<std::string> tree;
    bool exactTime = true;  // the tool keeps the odd second in an extra field
  } cases[] = {
      {"7zz a -tzip -mm=Deflate", TAVRUN_ZIP_OK, all},
      {"7zz a -tzip -mm=BZip2", TAVRUN_ZIP_OK, all},
      {"7zz a -tzip -mm=Copy", TAVRUN_ZIP_OK, all},
      {"7zz a -tzip -mm=LZMA", TAVRUN_ZIP_OK, all},
      {"7zz a -tzip -mm=Deflate64", TAVRUN_ZIP_E_UNSUPPORTED, {"フォルダ/", "plain.txt"}},
      {"7zz a -tzip -mm=PPMd", TAVRUN_ZIP_E_UNSUPPORTED, {"フォルダ/", "plain.txt"}},
      {"7zz a -tzip -psecret -mem=ZipCrypto", TAVRUN_ZIP_E_ENCRYPTED, {"フォルダ/"}},
      {"7zz a -tzip -psecret -mem=AES256", TAVRUN_ZIP_E_ENCRYPTED, {"フォルダ/"}},
      {"bsdtar --format zip -cf", TAVRUN_ZIP_OK, all},
      {"zip -qr", TAVRUN_ZIP_OK, all},
      {"jar cfM", TAVRUN_ZIP_OK, all, false},
      {pyLzma, TAVRUN_ZIP_OK, all, false},
      {"python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1], \"w\").close()'",
       TAVRUN_ZIP_OK,
       {}},
  };
  int n = 0;
  for (const auto& c : cases) {
    if (!HaveTool(c.make.substr(0, c.make.find(' ')))) {
      ADD_FAILURE() << "missing tool (scripts/install-deps.sh installs it): " << c.make;
      continue;
    }
    const std::string archive = work / (std::to_string(++n) + ".zip"),
                      dest = work / std::to_string(n);
    ASSERT_EQ(Shell("cd " + Sh(src.path()) + " && " + c.make + " " + Sh(archive) +
                    " フォルダ plain.txt >/dev/null"),
              0)
        << c.make;
    EXPECT_EQ(Check(archive), 1) << c.make;
    // Encrypted members and unknown methods fail the full check.
    EXPECT_EQ(Check(archive, 2), c.code == TAVRUN_ZIP_OK ? 1 : 0) << c.make;
    Result r = UnZipTo("-x -qq --i", archive, dest);
    EXPECT_EQ(r.code, c.code) << c.make << " " << r.output;
    EXPECT_EQ(ListTree(dest), c.tree) << c.make;
    if (c.tree.count("フォルダ/データ.txt")) {
      EXPECT_EQ(ReadFile(dest + "/フォルダ/データ.txt"), TextData(30000, 5)) << c.make;
      EXPECT_EQ(ReadFile(dest + "/plain.txt"), "plain") << c.make;
      EXPECT_NEAR(double(Mtime(dest + "/plain.txt")), 1600000001.0, c.exactTime ? 0 : 2) << c.make;
    }
  }
}

TEST(ZipExtract, ArchivesInsideOtherBytes) {
  TempDir work;
  const std::string data = TextData(50000, 7);
  WriteFile(work / "a.txt", data);
  ASSERT_TRUE(HaveTool("zip")) << "scripts/install-deps.sh installs zip";
  ASSERT_EQ(Shell("cd " + Sh(work.path()) + " && zip -q plain.zip a.txt"), 0);
  const std::string zip = ReadFile(work / "plain.zip"), stub = RandomData(70000, 8);
  // Self-extracting: a program in front, offsets as the archive had them or adjusted by
  // Info-ZIP's zip -A; bytes after the end record (padding, a signature block).
  WriteFile(work / "sfx.exe", stub + zip);
  WriteFile(work / "adjusted.exe", stub + zip);
  ASSERT_EQ(Shell("cd " + Sh(work.path()) + " && zip -qA adjusted.exe"), 0);
  ASSERT_NE(ReadFile(work / "adjusted.exe"), stub + zip);
  WriteFile(work / "trailer.zip", zip + std::string(4096, '\0') + "SIGNATURE");
  WriteFile(work / "both.exe", stub + zip + RandomData(60000, 9));
  for (const char* name : {"sfx.exe", "adjusted.exe", "trailer.zip", "both.exe"}) {
    EXPECT_EQ(Check(work / name), 1) << name;
    EXPECT_EQ(Check(work / name, 2), 1) << name;
    Result r = UnZipTo("-x -qq --i", work / name, work / (std::string(name) + ".d"));
    EXPECT_EQ(r.code, 0) << name << " " << r.output;
    EXPECT_EQ(ReadFile(work / (std::string(name) + ".d/a.txt")), data) << name;
    // Python's zipfile reads the same member from the same file.
    std::string out;
    EXPECT_EQ(Python("import sys, zipfile; sys.stdout.write(str(zipfile.ZipFile(sys.argv[1])"
                     ".read('a.txt') == open(sys.argv[2], 'rb').read()))",
                     {work / name, work / "a.txt"}, &out),
              0);
    EXPECT_EQ(out, "True") << name;
  }
}

TEST(ZipExtract, MethodsLibzipLacksAndOlderTimeFields) {
  TempDir work;
  const std::string data = TextData(200000, 11);
  WriteFile(work / "data", data);
  std::string xz, zstd;
  // From a pipe, as streaming writers do: the stream then declares its level's whole window
  // (64 MiB for xz -9), however small the member.
  ASSERT_EQ(Shell("xz -c -9 < " + Sh(work / "data"), &xz), 0);
  ASSERT_EQ(Shell("zstd -q -c -19 < " + Sh(work / "data"), &zstd), 0) << "needs zstd";
  // The older Info-ZIP Unix field: access time, then modification time.
  HandMember old = Stored("old.txt", "old");
  old.extra = Le(0x5855, 2) + Le(8, 2) + Le(1500000000, 4) + Le(1234567891, 4);
  HandMember damaged{"bad.zst", zstd, 93, Crc(data), data.size()};
  damaged.stored[damaged.stored.size() / 2] ^= 0x55;
  HandMember liar{"liar.xz", xz, 95, Crc(data), data.size() + 1};
  WriteFile(work / "m.zip", HandZip({{"a.xz", xz, 95, Crc(data), data.size()},
                                     {"a.zst", zstd, 93, Crc(data), data.size()},
                                     old,
                                     damaged,
                                     liar}));
  Result r = UnZipTo("-x -qq --i", work / "m.zip", work / "out");
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_DATA) << r.output;
  EXPECT_EQ(ListTree(work / "out"), (std::set<std::string>{"a.xz", "a.zst", "old.txt"}));
  EXPECT_EQ(ReadFile(work / "out/a.xz"), data);
  EXPECT_EQ(ReadFile(work / "out/a.zst"), data);
  EXPECT_EQ(Mtime(work / "out/old.txt"), 1234567891);
  EXPECT_EQ(Check(work / "m.zip", 2), 0);
}

TEST(ZipExtract, UnflaggedNamesAreDecodedOncePerArchive) {
  TempDir work;
  // 予定表 holds the byte 0x5C inside its characters; ﾃｽﾄ in CP932 is valid UTF-8 (ﾃｽ).
  const std::string yotei = "\x97\x5C\x92\xE8\x95\x5C.txt", tesuto = "\xC3\xBD\xC4.txt";
  const std::string cp437 = "\x80\xFF.txt";
  const struct {
    const char* label;
    std::vector<CraftMember> members;
    std::set<std::string> expected;
  } cases[] = {
      {"cp932 from windows",
       {{yotei, "a", false, 0}, {"\x83\x74\x83\x48\x83\x8B\x83\x5F\\" + yotei, "b", false, 0}},
       {"予定表.txt", "フォルダ/", "フォルダ/予定表.txt"}},
      {"half-width katakana from windows", {{tesuto, "k", false, 0}}, {"ﾃｽﾄ.txt"}},
      {"utf-8 from unix", {{"\xE6\x97\xA5\xE6\x9C\xAC.txt", "u", false, 3}}, {"日本.txt"}},
      // One name that only CP932 explains decides for the whole archive, even from Unix.
      {"utf-8 and cp932 from unix",
       {{"\xE6\x97\xA5.txt", "u"}, {"\x97\x5C.txt", "y"}},
       {"譌･.txt", "予.txt"}},
      // Japanese Unix tools wrote EUC-JP; through CP932 it reads as half-width katakana.
      {"euc-jp from unix",
       {{"\xBB\xF1\xCE\xC1/\xA5\xC6\xA5\xB9\xA5\xC8.txt", "e", false, 3}},
       {"資料/", "資料/テスト.txt"}},
      {"the same bytes from windows", {{"\xC9\xBD.txt", "w", false, 0}}, {"ﾉｽ.txt"}},
      {"neither, from dos: cp437", {{cp437, "c", false, 0}}, {"Ç\u00A0.txt"}},
      // As unzip, bsdtar and 7-Zip do: what we store for a name from old media comes back.
      {"neither, from unix: the bytes", {{cp437, "c", false, 3}}, {cp437}},
      {"flagged utf-8 beside cp932",
       {{"ﾃｽﾄ.txt", "f", true, 0}, {yotei, "y", false, 0}},
       {"ﾃｽﾄ.txt", "予定表.txt"}},
      {"unicode-path field for its name",
       {{.rawName = cp437, .data = "u", .unicodePath = UnicodePath(cp437, "本当.txt")}},
       {"本当.txt"}},
      {"unicode-path field for another name",
       {{.rawName = cp437,
         .data = "u",
         .opsys = 0,
         .unicodePath = UnicodePath(cp437, "本当.txt", 1)}},
       {"Ç\u00A0.txt"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string archive = work / (std::to_string(++n) + ".zip"),
                      dest = work / std::to_string(n);
    CraftArchive(archive, c.members);
    Result r = UnZipTo("-x -qq --i", archive, dest);
    EXPECT_EQ(r.code, 0) << c.label << r.output;
    EXPECT_EQ(ListTree(dest), c.expected) << c.label;
  }
}

TEST(ZipExtract, OverwriteRules) {
  TempDir work;
  const std::string archive = work / "o.zip", dest = work / "dest";
  CraftArchive(archive, {{"a.txt", "new a"}, {"b.txt", "new b"}});
  mkdir(dest.c_str(), 0755);
  WriteFile(dest + "/a.txt", "old a");
  // Nobody to ask: kept and reported, the other member still extracted.
  Result r = UnZipTo("-x -qq --i", archive, dest);
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_KEPT_EXISTING) << r.output;
  EXPECT_EQ(ReadFile(dest + "/a.txt"), "old a");
  EXPECT_EQ(ReadFile(dest + "/b.txt"), "new b");
  EXPECT_EQ(UnZipTo("-x -qq --i -n", archive, dest).code, 0);  // kept on purpose
  EXPECT_EQ(ReadFile(dest + "/a.txt"), "old a");
  chmod((dest + "/a.txt").c_str(), 0444);
  EXPECT_EQ(UnZipTo("-x -qq --i -o", archive, dest).code, 0);  // replaced, read-only or not
  EXPECT_EQ(ReadFile(dest + "/a.txt"), "new a");
  EXPECT_EQ(UnZipTo("-x -o -n", archive, dest).code, TAVRUN_ZIP_E_COMMAND_LINE);
  EXPECT_EQ(ListTree(dest), (std::set<std::string>{"a.txt", "b.txt"}));
}
