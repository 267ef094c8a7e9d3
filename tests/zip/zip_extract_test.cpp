// Extracting archives made by other tools and by hand: names, encodings, methods, overwrite
// rules, modes and dates.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include "unzip32.h"
#include "zip_fields.h"
#include "zip_test_util.h"

using namespace ziptest;

namespace {

Result Extract(const std::string& switches, const std::string& archive, const std::string& dest) {
  return RunUnZip(switches + " " + Quote(archive) + " " + Quote(dest + "/"));
}

std::string MakeDest(const TempDir& work, const std::string& name = "dest") {
  mkdir((work / name).c_str(), 0755);
  return work / name;
}

}  // namespace

TEST(ZipExtract, PythonArchiveWithDirectoriesUtf8NamesAndMethods) {
  TempDir work;
  std::string archive = work / "py.zip";
  const char* script = R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr(zipfile.ZipInfo('dir/', (2020, 1, 2, 3, 4, 6)), '')
    i = zipfile.ZipInfo('dir/日本語.txt', (2021, 5, 6, 7, 8, 10))
    i.external_attr = 0o100755 << 16
    z.writestr(i, 'utf8 name' * 100, zipfile.ZIP_DEFLATED)
    z.writestr('stored.txt', 'stored', zipfile.ZIP_STORED)
    z.writestr('bz.txt', 'bzip2 ' * 1000, zipfile.ZIP_BZIP2)
    with z.open('z64.txt', 'w', force_zip64=True) as f:
        f.write(b'zip64 member')
)";
  std::string out;
  ASSERT_EQ(Python(script, {archive}, &out), 0) << out;
  ASSERT_EQ(Check(archive), 1);
  std::string dest = MakeDest(work);
  Result r = Extract("-x -qq --i", archive, dest);
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(ReadFile(dest + "/dir/日本語.txt"), [] {
    std::string s;
    for (int i = 0; i < 100; ++i) s += "utf8 name";
    return s;
  }());
  EXPECT_EQ(Mode(dest + "/dir/日本語.txt") & 0700, 0700u);
  EXPECT_EQ(ReadFile(dest + "/stored.txt"), "stored");
  EXPECT_EQ(ReadFile(dest + "/bz.txt").size(), 6000u);
  EXPECT_EQ(ReadFile(dest + "/z64.txt"), "zip64 member");
  struct tm t {};
  t.tm_year = 121, t.tm_mon = 4, t.tm_mday = 6, t.tm_hour = 7, t.tm_min = 8, t.tm_sec = 10;
  t.tm_isdst = -1;
  EXPECT_EQ(Mtime(dest + "/dir/日本語.txt"), int64_t(mktime(&t)));
  t = {};
  t.tm_year = 120, t.tm_mon = 0, t.tm_mday = 2, t.tm_hour = 3, t.tm_min = 4, t.tm_sec = 6;
  t.tm_isdst = -1;
  EXPECT_EQ(Mtime(dest + "/dir"), int64_t(mktime(&t)));  // set after its files were written

  // Without -x: bare names, no directories.
  std::string flat = MakeDest(work, "flat");
  ASSERT_EQ(Extract("-qq --i", archive, flat).code, 0);
  EXPECT_EQ(ListTree(flat), (std::set<std::string>{"日本語.txt", "stored.txt", "bz.txt",
                                                   "z64.txt"}));
}

TEST(ZipExtract, ArchivesFromSevenZipAndBsdtar) {
  TempDir src, work;
  mkdir((src / "フォルダ").c_str(), 0755);
  WriteFile(src / "フォルダ/データ.txt", TextData(30000, 5));
  WriteFile(src / "plain.txt", "plain");
  SetMtime(src / "plain.txt", 1600000001);  // odd: a DOS time alone cannot carry it
  if (HaveTool("7zz")) {
    for (const char* method : {"Deflate", "BZip2", "Copy"}) {
      std::string archive = work / (std::string(method) + ".zip");
      ASSERT_EQ(Shell("cd " + Quote(src.path()) + " && 7zz a -tzip -mm=" + method + " " +
                      Quote(archive) + " フォルダ plain.txt >/dev/null"), 0);
      std::string dest = MakeDest(work, method);
      Result r = Extract("-x -qq --i", archive, dest);
      ASSERT_EQ(r.code, 0) << method << r.output;
      EXPECT_EQ(ReadFile(dest + "/フォルダ/データ.txt"), TextData(30000, 5)) << method;
      EXPECT_EQ(Mtime(dest + "/plain.txt"), Mtime(src / "plain.txt")) << method;
    }
    std::string archive = work / "d64.zip";
    ASSERT_EQ(Shell("cd " + Quote(src.path()) + " && 7zz a -tzip -mm=Deflate64 " +
                    Quote(archive) + " フォルダ >/dev/null"), 0);
    std::string dest = MakeDest(work, "d64");
    EXPECT_EQ(Extract("-x -qq --i", archive, dest).code, TAVRUN_ZIP_E_UNSUPPORTED);
    EXPECT_EQ(ListTree(dest), std::set<std::string>{"フォルダ/"});  // the directory only

    for (const char* enc : {"ZipCrypto", "AES256"}) {
      std::string enca = work / (std::string(enc) + ".zip");
      ASSERT_EQ(Shell("cd " + Quote(src.path()) + " && 7zz a -tzip -psecret -mem=" + enc + " " +
                      Quote(enca) + " plain.txt >/dev/null"), 0);
      EXPECT_EQ(Check(enca), 1) << enc;
      EXPECT_EQ(Check(enca, 2), 0) << enc;
      std::string d = MakeDest(work, std::string("e") + enc);
      Result r = Extract("-x -qq --i", enca, d);
      EXPECT_EQ(r.code, TAVRUN_ZIP_E_ENCRYPTED) << enc << r.output;
      EXPECT_TRUE(ListTree(d).empty()) << enc;
    }
  }
  if (HaveTool("bsdtar")) {
    std::string archive = work / "bsd.zip";
    ASSERT_EQ(Shell("cd " + Quote(src.path()) + " && bsdtar --format zip -cf " +
                    Quote(archive) + " フォルダ plain.txt"), 0);
    std::string dest = MakeDest(work, "bsd");
    Result r = Extract("-x -qq --i", archive, dest);
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(ReadFile(dest + "/フォルダ/データ.txt"), TextData(30000, 5));
    EXPECT_EQ(ReadFile(dest + "/plain.txt"), "plain");
  }
}

TEST(ZipExtract, EmptyArchive) {
  TempDir work;
  std::string archive = work / "empty.zip";
  WriteFile(archive, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_EQ(Check(archive), 1);
  std::string dest = MakeDest(work);
  EXPECT_EQ(Extract("-x -qq --i", archive, dest).code, 0);
  EXPECT_TRUE(ListTree(dest).empty());
}

TEST(ZipExtract, UnflaggedNamesAreDecodedOncePerArchive) {
  TempDir work;
  struct Case {
    const char* label;
    std::vector<CraftMember> members;
    std::set<std::string> expected;
  };
  // 予定表 holds the byte 0x5C inside its characters; ﾃｽﾄ in CP932 is valid UTF-8 (ﾃｽ).
  const std::string yotei = "\x97\x5C\x92\xE8\x95\x5C.txt";
  const std::string tesuto = "\xC3\xBD\xC4.txt";
  std::vector<Case> cases = {
      {"cp932 from windows",
       {{yotei, "a", false, 0}, {"\x83\x74\x83\x48\x83\x8B\x83\x5F\\" + yotei, "b", false, 0}},
       {"予定表.txt", "フォルダ/", "フォルダ/予定表.txt"}},
      {"half-width katakana from windows", {{tesuto, "k", false, 0}}, {"ﾃｽﾄ.txt"}},
      {"utf-8 without flag from unix", {{"\xE6\x97\xA5\xE6\x9C\xAC.txt", "u", false, 3}},
       {"日本.txt"}},
      {"neither: cp437", {{"\x80\xFF.txt", "c", false, 3}}, {"Ç\u00A0.txt"}},
      {"flagged utf-8 beside cp932", {{"ﾃｽﾄ.txt", "f", true, 0}, {yotei, "y", false, 0}},
       {"ﾃｽﾄ.txt", "予定表.txt"}},
  };
  for (const Case& c : cases) {
    std::string archive = work / "names.zip";
    CraftArchive(archive, c.members);
    std::string dest = work / "n";
    Shell("rm -rf " + Quote(dest));
    mkdir(dest.c_str(), 0755);
    Result r = Extract("-x -qq --i -o", archive, dest);
    EXPECT_EQ(r.code, 0) << c.label << r.output;
    EXPECT_EQ(ListTree(dest), c.expected) << c.label;
  }
}

TEST(ZipExtract, UnicodePathFieldCountsOnlyForItsOwnName) {
  TempDir work;
  const std::string raw = "\x80\xFF.txt";
  for (bool matching : {true, false}) {
    std::string archive = work / "up.zip";
    CraftArchive(archive, {{raw, "u"}});
    // Version 1, the CRC of the stored name, the UTF-8 name.
    uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(raw.data()), uInt(raw.size())));
    if (!matching) crc ^= 1;  // written for another name: must be ignored
    std::string field = std::string(1, '\x01') + std::string(reinterpret_cast<char*>(&crc), 4) +
                        "本当.txt";
    // libzip will not write this field itself: it goes in under another id, patched after.
    int err = 0;
    zip_t* za = zip_open(archive.c_str(), 0, &err);
    ASSERT_NE(za, nullptr);
    ASSERT_EQ(zip_file_extra_field_set(za, 0, 0x6666, ZIP_EXTRA_FIELD_NEW,
                                       reinterpret_cast<const zip_uint8_t*>(field.data()),
                                       zip_uint16_t(field.size()), ZIP_FL_LOCAL | ZIP_FL_CENTRAL), 0);
    ASSERT_EQ(zip_close(za), 0);
    std::string zip = ReadFile(archive);
    const std::string placed = std::string("\x66\x66", 2) + char(field.size()) + '\0' + field;
    for (int copy = 0; copy < 2; ++copy) {  // local header and central directory
      size_t at = zip.find(placed);
      ASSERT_NE(at, std::string::npos);
      zip[at] = '\x75';
      zip[at + 1] = '\x70';
    }
    WriteFile(archive, zip);
    std::string dest = work / (matching ? "m" : "n");
    mkdir(dest.c_str(), 0755);
    Result r = Extract("-x -qq --i", archive, dest);
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(ListTree(dest), std::set<std::string>{matching ? "本当.txt" : "Ç\u00A0.txt"});
  }
}

TEST(ZipExtract, ChoiceOfEncoding) {
  using tavrun::zip::ChooseEncoding;
  using tavrun::zip::NameEncoding;
  using tavrun::zip::RawName;
  auto raw = [](std::string b, bool dos) {
    RawName n;
    n.bytes = std::move(b);
    n.madeOnDos = dos;
    return n;
  };
  // One name that only CP932 explains decides for the archive, even on Unix.
  EXPECT_EQ(ChooseEncoding({raw("\xE6\x97\xA5.txt", false), raw("\x97\x5C.txt", false)}),
            NameEncoding::Cp932);
  EXPECT_EQ(ChooseEncoding({raw("\xE6\x97\xA5.txt", false)}), NameEncoding::Utf8);
  EXPECT_EQ(ChooseEncoding({raw("\xC3\xBD.txt", true)}), NameEncoding::Cp932);
  EXPECT_EQ(ChooseEncoding({raw("\x80\xFF", true)}), NameEncoding::Cp437);
  RawName flagged = raw("\xE6\x97\xA5", false);
  flagged.utf8Flagged = true;
  EXPECT_EQ(ChooseEncoding({flagged, raw("\xC3\xBD", true)}), NameEncoding::Cp932);
}

TEST(ZipExtract, OverwriteRules) {
  TempDir src, work;
  WriteFile(src / "a.txt", "new a");
  WriteFile(src / "b.txt", "new b");
  std::string archive = work / "o.zip";
  ASSERT_EQ(RunZip("-q -j " + Quote(archive) + " " + Quote(src / "a.txt") + " " +
                   Quote(src / "b.txt")).code, 0);
  std::string dest = MakeDest(work);
  WriteFile(dest + "/a.txt", "old a");

  // Nobody to ask: kept and reported, the other member still extracted.
  Result r = Extract("-x -qq --i", archive, dest);
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_KEPT_EXISTING) << r.output;
  EXPECT_EQ(ReadFile(dest + "/a.txt"), "old a");
  EXPECT_EQ(ReadFile(dest + "/b.txt"), "new b");
  // -n: kept on purpose, success.
  EXPECT_EQ(Extract("-x -qq --i -n", archive, dest).code, 0);
  EXPECT_EQ(ReadFile(dest + "/a.txt"), "old a");
  // -o: replaced, also when read-only.
  chmod((dest + "/a.txt").c_str(), 0444);
  EXPECT_EQ(Extract("-x -qq --i -o", archive, dest).code, 0);
  EXPECT_EQ(ReadFile(dest + "/a.txt"), "new a");
  EXPECT_EQ(Extract("-x -o -n", archive, dest).code, TAVRUN_ZIP_E_COMMAND_LINE);
  EXPECT_EQ(ListTree(dest), (std::set<std::string>{"a.txt", "b.txt"}));
}

TEST(ZipExtract, ModesAreRestoredWithoutSpecialBits) {
  TempDir work;
  std::string archive = work / "m.zip";
  CraftArchive(archive, {{"exec.sh", "#!/bin/sh\n", false, 3, 0100755},
                         {"suid", "s", false, 3, 0106755},
                         {"none", "n", false, 3, 0100000},
                         {"dos-ro.txt", "r", false, 0, 0100644, false, false, 0x21}});
  std::string dest = MakeDest(work);
  mode_t old = umask(022);
  Result r = Extract("-x -qq --i", archive, dest);
  umask(old);
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(Mode(dest + "/exec.sh"), 0755u);
  EXPECT_EQ(Mode(dest + "/suid"), 0755u);
  EXPECT_EQ(Mode(dest + "/none") & 0400, 0400u);
  EXPECT_EQ(Mode(dest + "/dos-ro.txt") & 0222, 0u);
}
