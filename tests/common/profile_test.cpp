// The settings file reader and writer, checked against the bytes of the file.
#include "common/profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "test_support.h"

namespace tavrun {
namespace {

using testing::CountEntries;
using testing::Exists;
using testing::InChild;
using testing::MakeSharedDir;
using testing::ModeOf;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::string Lookup(const std::string& content, const std::string& section, const std::string& key) {
  std::string value;
  FindProfileValue(content, section, key, value);
  return value;
}

TEST(ProfileRead, NamesCompareWithoutCaseAndBlanksAroundThemAreIgnored) {
  const std::string content =
      "[  Common ]\r\n"
      "  LogLevel   =   3  \r\n"
      "[ZIP]\r\n"
      "compressrate=9\r\n";
  EXPECT_EQ(Lookup(content, "COMMON", "LOGLEVEL"), "3");
  EXPECT_EQ(Lookup(content, "common", "loglevel"), "3");
  EXPECT_EQ(Lookup(content, "Zip", "CompressRate"), "9");
  // A key of the same name in another section is a different setting.
  EXPECT_EQ(Lookup(content, "COMMON", "CompressRate"), "");
}

TEST(ProfileRead, MissingThingsReadAsEmpty) {
  const std::string content = "[INIT]\nArchiveType=1\nFromDirectory=\nBare\n";
  std::string value = "stale";
  EXPECT_FALSE(FindProfileValue(content, "NOPE", "ArchiveType", value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(FindProfileValue(content, "INIT", "Nope", value));
  EXPECT_TRUE(FindProfileValue(content, "INIT", "FromDirectory", value));
  EXPECT_EQ(value, "");
  EXPECT_TRUE(FindProfileValue(content, "INIT", "Bare", value));  // a key without "="
  EXPECT_EQ(value, "");
  EXPECT_EQ(Lookup("", "INIT", "ArchiveType"), "");
}

TEST(ProfileRead, KeysBeforeAnySectionAndCommentsAreNotSettings) {
  const std::string content =
      "ArchiveType=1\n"
      "[INIT]\n"
      ";ArchiveType=2\n"
      "[broken\n"
      "ExtractType=1\n";
  EXPECT_EQ(Lookup(content, "INIT", "ArchiveType"), "");
  EXPECT_EQ(Lookup(content, "INIT", ";ArchiveType"), "");
  // An unclosed bracket does not start a section, so the key still belongs to [INIT].
  EXPECT_EQ(Lookup(content, "INIT", "ExtractType"), "1");
}

TEST(ProfileRead, MatchingQuotesAroundTheValueAreRemoved) {
  const std::string content =
      "[S]\n"
      "a=\" 1\"\n"
      "b='x y'\n"
      "c=\"unbalanced\n"
      "d=\"mixed'\n"
      "e=\"\n"
      "f=\"\"\n"
      "g=in\"side\"\n";
  EXPECT_EQ(Lookup(content, "S", "a"), " 1");
  EXPECT_EQ(Lookup(content, "S", "b"), "x y");
  EXPECT_EQ(Lookup(content, "S", "c"), "\"unbalanced");
  EXPECT_EQ(Lookup(content, "S", "d"), "\"mixed'");
  EXPECT_EQ(Lookup(content, "S", "e"), "\"");
  EXPECT_EQ(Lookup(content, "S", "f"), "");
  EXPECT_EQ(Lookup(content, "S", "g"), "in\"side\"");
}

TEST(ProfileRead, LineEndsByteOrderMarkAndNul) {
  EXPECT_EQ(Lookup("\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k"), "v");
  EXPECT_EQ(Lookup("[S]\nk=v", "S", "k"), "v");  // no final line end
  EXPECT_EQ(Lookup("[S]\r\nk=v\r", "S", "k"), "v");
  EXPECT_EQ(Lookup(std::string("[S]\nk=ab\0cd\n", 12), "S", "k"), "ab");
}

TEST(ProfileRead, DuplicateSectionsAndKeysTakeTheFirstOccurrence) {
  const std::string content =
      "[S]\n"
      "k=first\n"
      "k=second\n"
      "[T]\n"
      "[s]\n"
      "k=third\n"
      "only=later\n";
  EXPECT_EQ(Lookup(content, "S", "k"), "first");
  EXPECT_EQ(Lookup(content, "S", "only"), "later");
}

TEST(ProfileRead, ValuesAreCutTo254BytesWithoutSplittingACharacter) {
  std::string ascii(300, 'a');
  EXPECT_EQ(Lookup("[S]\nk=" + ascii + "\n", "S", "k"), std::string(254, 'a'));

  // 253 ASCII bytes and then a three-byte character: the character does not fit whole.
  std::string kana = "\xE3\x81\x82";  // あ
  std::string v = std::string(253, 'a') + kana + "zz";
  EXPECT_EQ(Lookup("[S]\nk=" + v + "\n", "S", "k"), std::string(253, 'a'));
  // 251 + 3 fits exactly.
  v = std::string(251, 'a') + kana + kana;
  EXPECT_EQ(Lookup("[S]\nk=" + v + "\n", "S", "k"), std::string(251, 'a') + kana);
  // A four-byte character starting at 252.
  v = std::string(252, 'a') + "\xF0\x9F\x98\x80";
  EXPECT_EQ(Lookup("[S]\nk=" + v + "\n", "S", "k"), std::string(252, 'a'));
  // Stray continuation bytes are not characters: they are cut like any byte.
  v = std::string(250, 'a') + std::string(10, '\x80');
  EXPECT_EQ(Lookup("[S]\nk=" + v + "\n", "S", "k").size(), 254u);
  EXPECT_EQ(CutUtf8("abc", 254), "abc");
}

TEST(ProfileEdit, ReplacesOnlyTheValueAndKeepsEveryOtherByte) {
  const std::string before =
      "; settings\r\n"
      "[init]\r\n"
      "  ArchiveType = 1   \r\n"
      "Unknown=keep me\r\n"
      "\r\n"
      "[COMMON]\n"
      "LogLevel=2\n";
  std::string content = before;
  std::string error;
  ASSERT_TRUE(SetProfileValue(content, "INIT", "archivetype", "0", error));
  EXPECT_EQ(content,
            "; settings\r\n"
            "[init]\r\n"
            "  ArchiveType = 0\r\n"
            "Unknown=keep me\r\n"
            "\r\n"
            "[COMMON]\n"
            "LogLevel=2\n");
  ASSERT_TRUE(SetProfileValue(content, "COMMON", "LogLevel", "", error));
  EXPECT_EQ(content.substr(content.size() - 10), "LogLevel=\n");
}

TEST(ProfileEdit, NewKeysGoAfterTheLastLineOfTheirSection) {
  std::string content =
      "[INIT]\r\n"
      "ArchiveType=1\r\n"
      "; note\r\n"
      "\r\n"
      "[COMMON]\r\n"
      "LogLevel=2";  // no final line end
  std::string error;
  ASSERT_TRUE(SetProfileValue(content, "init", "CompressType", "1", error));
  ASSERT_TRUE(SetProfileValue(content, "COMMON", "MakeDirectory", "0", error));
  ASSERT_TRUE(SetProfileValue(content, "LZH", "CompressRate", "2", error));
  EXPECT_EQ(content,
            "[INIT]\r\n"
            "ArchiveType=1\r\n"
            "; note\r\n"
            "CompressType=1\r\n"
            "\r\n"
            "[COMMON]\r\n"
            "LogLevel=2\r\n"
            "MakeDirectory=0\r\n"
            "[LZH]\r\n"
            "CompressRate=2\r\n");
}

TEST(ProfileEdit, AKeyWithoutEqualsSignGetsOne) {
  std::string content = "[S]\nflag\nnext=1\n";
  std::string error;
  ASSERT_TRUE(SetProfileValue(content, "S", "flag", "1", error));
  EXPECT_EQ(content, "[S]\nflag=1\nnext=1\n");
}

TEST(ProfileEdit, DuplicatesUpdateTheLineThatIsRead) {
  std::string content = "[S]\nk=1\nk=2\n[S]\nj=3\n";
  std::string error;
  ASSERT_TRUE(SetProfileValue(content, "S", "k", "x", error));
  ASSERT_TRUE(SetProfileValue(content, "S", "j", "y", error));
  ASSERT_TRUE(SetProfileValue(content, "S", "new", "z", error));
  EXPECT_EQ(content, "[S]\nk=x\nk=2\nnew=z\r\n[S]\nj=y\n");
  EXPECT_EQ(Lookup(content, "S", "k"), "x");
  EXPECT_EQ(Lookup(content, "S", "j"), "y");
}

TEST(ProfileEdit, RefusesWhatWouldChangeTheFileStructure) {
  const std::string before = "[S]\nk=1\n";
  struct Case {
    const char* section;
    const char* key;
    std::string value;
  } cases[] = {
      {"S", "k", "two\r\n[INIT]\r\nArchiveType=1"},
      {"S", "k", std::string("a\0b", 3)},
      {"S]", "k", "1"},
      {"", "k", "1"},
      {"S", "", "1"},
      {"S", "k=x", "1"},
      {"S", " k", "1"},
      {"S", "[k", "1"},
      {"S", ";k", "1"},
      {"S\n", "k", "1"},
  };
  for (const Case& c : cases) {
    std::string content = before;
    std::string error;
    EXPECT_FALSE(SetProfileValue(content, c.section, c.key, c.value, error))
        << c.section << "/" << c.key;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(content, before);
  }
}

TEST(ProfileEdit, WrittenValuesReadBackUnlessBlanksAroundThemAreTrimmed) {
  std::string content;
  std::string error;
  const std::string path = "/home/ユーザー/データ [1]=x;y \"q\"";
  ASSERT_TRUE(SetProfileValue(content, "INIT", "FromDirectory", path, error));
  EXPECT_EQ(Lookup(content, "INIT", "FromDirectory"), path);
  ASSERT_TRUE(SetProfileValue(content, "INIT", "ToDirectory", "  padded  ", error));
  EXPECT_EQ(Lookup(content, "INIT", "ToDirectory"), "padded");
}

TEST(ProfileFile, MissingFileIsCreatedAndThenUpdatedInPlace) {
  TempDir dir;
  const std::string ini = dir / "Tavrun.ini";
  std::string error;
  EXPECT_EQ(ReadProfileString(ini, "INIT", "ArchiveType"), "");
  ASSERT_TRUE(WriteProfileString(ini, "INIT", "ArchiveType", "0", error)) << error;
  ASSERT_TRUE(WriteProfileString(ini, "INIT", "CompressType", "1", error)) << error;
  ASSERT_TRUE(WriteProfileString(ini, "COMMON", "LogLevel", "9", error)) << error;
  ASSERT_TRUE(WriteProfileString(ini, "INIT", "ArchiveType", "1", error)) << error;
  EXPECT_EQ(ReadBytes(ini),
            "[INIT]\r\nArchiveType=1\r\nCompressType=1\r\n[COMMON]\r\nLogLevel=9\r\n");
  EXPECT_EQ(ReadProfileString(ini, "init", "archivetype"), "1");
  EXPECT_EQ(CountEntries(dir.path()), 1);  // no temporary file left behind
}

TEST(ProfileFile, ThePermissionsOfTheFileSurviveAnUpdate) {
  TempDir dir;
  const std::string ini = dir / "Tavrun.ini";
  WriteBytes(ini, "[S]\nk=1\n");
  ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
  std::string error;
  ASSERT_TRUE(WriteProfileString(ini, "S", "k", "2", error)) << error;
  EXPECT_EQ(ReadBytes(ini), "[S]\nk=2\n");
  EXPECT_EQ(ModeOf(ini), 0640);
}

TEST(ProfileFile, ALinkIsFollowedAndStaysALink) {
  TempDir dir;
  const std::string real = dir / "real.ini";
  const std::string link = dir / "Tavrun.ini";
  WriteBytes(real, "[S]\nk=1\n");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  std::string error;
  ASSERT_TRUE(WriteProfileString(link, "S", "k", "2", error)) << error;
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadBytes(real), "[S]\nk=2\n");
}

TEST(ProfileFile, ReadOnlyFileIsNeitherChangedNorReplaced) {
  TempDir dir;
  const std::string ini = dir / "Tavrun.ini";
  WriteBytes(ini, "[S]\nk=1\n");
  ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
  std::string error;
  EXPECT_FALSE(WriteProfileString(ini, "S", "k", "2", error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadBytes(ini), "[S]\nk=1\n");
  EXPECT_EQ(ModeOf(ini), 0444);
}

TEST(ProfileFile, ADirectoryOrAFifoInThePlaceOfTheFile) {
  TempDir dir;
  const std::string asDir = dir / "dir.ini";
  ASSERT_EQ(::mkdir(asDir.c_str(), 0755), 0);
  std::string error;
  EXPECT_EQ(ReadProfileString(asDir, "S", "k"), "");
  EXPECT_FALSE(WriteProfileString(asDir, "S", "k", "1", error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(CountEntries(asDir), 0);

  // Nobody writes into the FIFO, so a reader that blocked would hang here.
  const std::string fifo = dir / "fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(ReadProfileString(fifo, "S", "k"), "");
  error.clear();
  EXPECT_FALSE(WriteProfileString(fifo, "S", "k", "1", error));
  EXPECT_FALSE(error.empty());
}

TEST(ProfileFile, BatchWriteStoresGoodEntriesAndReportsTheBadOne) {
  TempDir dir;
  const std::string ini = dir / "Tavrun.ini";
  std::vector<ProfileEntry> entries = {
      {"INIT", "A", "1"}, {"INIT", "B", "bad\nvalue"}, {"COMMON", "C", "3"}};
  std::vector<bool> stored;
  std::string error;
  EXPECT_FALSE(WriteProfileStrings(ini, entries, stored, error));
  EXPECT_EQ(stored, (std::vector<bool>{true, false, true}));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadBytes(ini), "[INIT]\r\nA=1\r\n[COMMON]\r\nC=3\r\n");
}

// The cases below depend on permissions or resource limits, so they run in a child process
// as an ordinary user.

TEST(ProfileFile, AWriteThatFailsHalfwayLeavesTheOldFile) {
  TempDir dir;
  const std::string shared = MakeSharedDir(dir, "w");
  const std::string ini = shared + "/Tavrun.ini";
  const std::string before = "[S]\r\nk=1\r\n" + std::string(2000, ';') + "\r\n";
  std::string failure = InChild([&]() -> std::string {
    if (::mkdir(shared.c_str(), 0700) != 0) return "mkdir failed";
    WriteBytes(ini, before);
    // Files may not grow past 1000 bytes: the new copy cannot be written completely.
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      1000, 1000
    };
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return "setrlimit failed";
    std::string error;
    if (WriteProfileString(ini, "S", "k", "2", error)) return "write reported success";
    if (error.empty()) return "no error text";
    if (ReadBytes(ini) != before) return "file changed";
    if (CountEntries(shared) != 1) return "temporary file left behind";
    return "";
  });
  EXPECT_EQ(failure, "");
}

TEST(ProfileFile, ReadOnlyDirectory) {
  TempDir dir;
  const std::string shared = MakeSharedDir(dir, "ro");
  std::string failure = InChild([&]() -> std::string {
    if (::mkdir(shared.c_str(), 0700) != 0) return "mkdir failed";
    const std::string ini = shared + "/Tavrun.ini";
    const std::string before = "; keep\n[S]\nk=1\nother=x\n";
    WriteBytes(ini, before);
    if (::chmod(shared.c_str(), 0555) != 0) return "chmod failed";
    std::string error;
    // The file itself is writable: it is rewritten where it is.
    if (!WriteProfileString(ini, "S", "k", "22", error)) return "update failed: " + error;
    if (ReadBytes(ini) != "; keep\n[S]\nk=22\nother=x\n") return "wrong bytes: " + ReadBytes(ini);
    if (!WriteProfileString(ini, "S", "k", "3", error)) return "shrinking update failed";
    if (ReadBytes(ini) != "; keep\n[S]\nk=3\nother=x\n") return "wrong bytes after shrink";
    // No file can be created there.
    error.clear();
    if (WriteProfileString(shared + "/new.ini", "S", "k", "1", error)) return "created a file";
    if (error.empty()) return "no error text";
    if (Exists(shared + "/new.ini")) return "new file exists";
    return "";
  });
  EXPECT_EQ(failure, "");
}

TEST(ProfileFile, UnreadableFileIsNotOverwritten) {
  TempDir dir;
  const std::string shared = MakeSharedDir(dir, "nr");
  std::string failure = InChild([&]() -> std::string {
    if (::mkdir(shared.c_str(), 0700) != 0) return "mkdir failed";
    const std::string ini = shared + "/Tavrun.ini";
    WriteBytes(ini, "[S]\nk=1\n");
    if (::chmod(ini.c_str(), 0200) != 0) return "chmod failed";
    if (!ReadProfileString(ini, "S", "k").empty()) return "read an unreadable file";
    std::string error;
    if (WriteProfileString(ini, "S", "k", "2", error)) return "rewrote a file it could not read";
    ::chmod(ini.c_str(), 0600);
    if (ReadBytes(ini) != "[S]\nk=1\n") return "file changed";
    return "";
  });
  EXPECT_EQ(failure, "");
}

}  // namespace
}  // namespace tavrun
