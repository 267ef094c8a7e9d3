// The settings file reader and writer, checked against the bytes of the file.
#include "common/profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

namespace tavrun {
namespace {

using namespace testing;
using namespace std::string_literals;

std::string Lookup(const std::string& content, const std::string& section, const std::string& key) {
  std::string value = "stale";
  FindProfileValue(content, section, key, value);
  return value;
}

TEST(ProfileRead, NamesBlanksQuotesLineEndsAndDuplicates) {
  const std::string content =
      "\xEF\xBB\xBF[  Common ]\r\n  LogLevel   =   3  \r\n;Commented=1\nBare\na=\" 1\"\n"
      "b='x y'\nc=\"unbalanced\nd=\"mixed'\ne=in\"side\"\n[broken\nf=after broken\r\n"
      "dup=first\ndup=second\n[ZIP]\nCompressRate=9\n[common]\ndup=third\nlater=4\n" +
      "nul=ab\0cd\nlast=v\r"s;
  const char* cases[][3] = {{"COMMON", "LOGLEVEL", "3"},     {"common", "loglevel", "3"},
                            {"Zip", "compressrate", "9"},    {"COMMON", "CompressRate", ""},
                            {"COMMON", ";Commented", ""},    {"COMMON", "Bare", ""},
                            {"COMMON", "a", " 1"},           {"COMMON", "b", "x y"},
                            {"COMMON", "c", "\"unbalanced"}, {"COMMON", "d", "\"mixed'"},
                            {"COMMON", "e", "in\"side\""},   {"COMMON", "f", "after broken"},
                            {"COMMON", "dup", "first"},      {"COMMON", "later", "4"},
                            {"COMMON", "nul", "ab"},         {"COMMON", "last", "v"},
                            {"NOPE", "LogLevel", ""}};
  for (const auto& c : cases) EXPECT_EQ(Lookup(content, c[0], c[1]), c[2]) << c[0] << "/" << c[1];
  std::string value;
  EXPECT_TRUE(FindProfileValue(content, "COMMON", "Bare", value));
  EXPECT_FALSE(FindProfileValue(content, "COMMON", "Missing", value));
}

TEST(ProfileRead, ValuesAreCutTo254BytesWithoutSplittingACharacter) {
  const std::string a = "\xE3\x81\x82", pad(251, 'a');  // a three-byte character
  EXPECT_EQ(Lookup("[S]\nk=" + std::string(300, 'b') + "\n", "S", "k"), std::string(254, 'b'));
  EXPECT_EQ(Lookup("[S]\nk=" + pad + "aa" + a + "\n", "S", "k"), pad + "aa");
  EXPECT_EQ(Lookup("[S]\nk=" + pad + a + a + "\n", "S", "k"), pad + a);  // fits exactly
  // Stray continuation bytes are no character: they are cut like any byte.
  EXPECT_EQ(Lookup("[S]\nk=" + pad + a + "\x80\x80\n", "S", "k"), pad + a);
}

TEST(ProfileEdit, ReplacesInPlaceAndAppendsWhatIsMissing) {
  std::string content =
      "; settings\r\n[init]\r\n  ArchiveType = 1   \r\nflag\r\nUnknown=keep me\r\n; note\r\n\r\n"
      "[COMMON]\nLogLevel=2";  // no final line end
  std::string error;
  ASSERT_TRUE(SetProfileValue(content, "INIT", "archivetype", "0", error));
  ASSERT_TRUE(SetProfileValue(content, "INIT", "flag", "1", error));
  ASSERT_TRUE(SetProfileValue(content, "init", "CompressType", "1", error));
  ASSERT_TRUE(SetProfileValue(content, "COMMON", "MakeDirectory", "0", error));
  ASSERT_TRUE(SetProfileValue(content, "LZH", "Path", "/データ [1]=x;y \"q\"", error));
  EXPECT_EQ(content,
            "; settings\r\n[init]\r\n  ArchiveType = 0\r\nflag=1\r\nUnknown=keep me\r\n; note\r\n"
            "CompressType=1\r\n\r\n[COMMON]\nLogLevel=2\r\nMakeDirectory=0\r\n"
            "[LZH]\r\nPath=/データ [1]=x;y \"q\"\r\n");
  EXPECT_EQ(Lookup(content, "LZH", "Path"), "/データ [1]=x;y \"q\"");

  // Duplicates: the line that is read is the line that is updated.
  content = "[S]\nk=1\nk=2\n[s]\nj=3\n";
  ASSERT_TRUE(SetProfileValue(content, "S", "k", "x", error));
  ASSERT_TRUE(SetProfileValue(content, "S", "j", "y", error));
  ASSERT_TRUE(SetProfileValue(content, "S", "new", "z", error));
  EXPECT_EQ(content, "[S]\nk=x\nk=2\nnew=z\r\n[s]\nj=y\n");
}

TEST(ProfileEdit, RefusesWhatWouldChangeTheFileStructure) {
  const std::string before = "[S]\nk=1\n";
  const std::string cases[][3] = {{"S", "k", "two\r\n[INIT]\r\nArchiveType=1"},
                                  {"S", "k", "a\0b"s},
                                  {"S]", "k", "1"},
                                  {"", "k", "1"},
                                  {"S", "k=x", "1"},
                                  {"S", " k", "1"},
                                  {"S", "[k", "1"}};
  for (const auto& c : cases) {
    std::string content = before, error;
    EXPECT_FALSE(SetProfileValue(content, c[0], c[1], c[2], error)) << c[0] << "/" << c[1];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(content, before);
  }
}

TEST(ProfileFile, CreatedThenUpdatedInPlaceKeepingModeAndLink) {
  TempDir dir;
  const std::string ini = dir / "Tavrun.ini", link = dir / "link.ini";
  std::string error;
  EXPECT_EQ(ReadProfileString(ini, "INIT", "ArchiveType"), "");
  ASSERT_TRUE(WriteProfileString(ini, "INIT", "ArchiveType", "0", error)) << error;
  ASSERT_TRUE(WriteProfileString(ini, "COMMON", "LogLevel", "9", error)) << error;
  // The file is replaced through a rename: its mode and a link to it must survive.
  ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
  ASSERT_EQ(::symlink(ini.c_str(), link.c_str()), 0);
  ASSERT_TRUE(WriteProfileString(link, "INIT", "ArchiveType", "1", error)) << error;
  EXPECT_EQ(ReadBytes(ini), "[INIT]\r\nArchiveType=1\r\n[COMMON]\r\nLogLevel=9\r\n");
  EXPECT_EQ(ReadProfileString(ini, "init", "archivetype"), "1");
  EXPECT_EQ(ModeOf(ini), 0640);
  struct stat st {};
  EXPECT_TRUE(::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  EXPECT_EQ(CountEntries(dir.path()), 2);  // no temporary file left behind

  // A batch stores the good entries with one replacement and reports the bad one.
  std::vector<bool> stored;
  EXPECT_FALSE(WriteProfileStrings(
      ini, {{"INIT", "A", "1"}, {"INIT", "B", "bad\nvalue"}, {"ZIP", "C", "3"}}, stored, error));
  EXPECT_EQ(stored, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(ReadBytes(ini),
            "[INIT]\r\nArchiveType=1\r\nA=1\r\n[COMMON]\r\nLogLevel=9\r\n[ZIP]\r\nC=3\r\n");
}

TEST(ProfileFile, WhatCannotBeWrittenStaysAsItWas) {
  TempDir dir;
  std::string error;
  const std::string ro = dir / "ro.ini", asDir = dir / "dir.ini", fifo = dir / "fifo.ini";
  WriteBytes(ro, "[S]\nk=1\n");
  ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
  ASSERT_EQ(::mkdir(asDir.c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);  // nobody writes into it: a blocking read hangs
  for (const std::string& path : {ro, asDir, fifo}) {
    error.clear();
    EXPECT_EQ(ReadProfileString(path, "S", "k"), path == ro ? "1" : "") << path;
    EXPECT_FALSE(WriteProfileString(path, "S", "k", "2", error)) << path;
    EXPECT_FALSE(error.empty()) << path;
  }
  EXPECT_EQ(ReadBytes(ro), "[S]\nk=1\n");
  EXPECT_EQ(ModeOf(ro), 0444);
  EXPECT_EQ(CountEntries(asDir), 0);
}

// A process killed while it writes the new copy (here by the file size limit's signal, at
// the first byte past it) leaves the old file and nothing else.
TEST(ProfileFile, AWriterKilledMidWayLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string ini = dir / "Tavrun.ini";
  const std::string old = "[S]\r\nk=1\r\n" + std::string(4000, ';') + "\r\n";
  WriteBytes(ini, old);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_DFL);
    rlimit small{1000, 1000};
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::string error;
    WriteProfileString(ini, "S", "k", "2", error);
    ::_exit(0);  // not reached: the write past the limit ends the process
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
  EXPECT_EQ(ReadBytes(ini), old);
  EXPECT_EQ(CountEntries(dir.path()), 1);
}

// Permissions and resource limits bind only an ordinary user: this runs in a child as one.
TEST(ProfileFile, FailuresAsAnOrdinaryUserLoseNothing) {
  TempDir dir;
  const std::string shared = MakeSharedDir(dir, "w"), ini = shared + "/Tavrun.ini";
  EXPECT_EQ(InChild([&]() -> std::string {
              if (::mkdir(shared.c_str(), 0700) != 0) return "mkdir failed";
              const std::string tail = std::string(2000, ';') + "\n";
              WriteBytes(ini, "; keep\n[S]\nk=1\n" + tail);
              std::string error;
              // Files may not grow past 1000 bytes: the new copy cannot be written whole.
              ::signal(SIGXFSZ, SIG_IGN);
              rlimit saved{}, small{};
              ::getrlimit(RLIMIT_FSIZE, &saved);
              small = {1000, saved.rlim_max};
              if (::setrlimit(RLIMIT_FSIZE, &small) != 0) return "setrlimit failed";
              if (WriteProfileString(ini, "S", "k", "2", error)) return "short write succeeded";
              if (ReadBytes(ini) != "; keep\n[S]\nk=1\n" + tail) return "changed by a failure";
              if (CountEntries(shared) != 1) return "temporary file left behind";
              ::setrlimit(RLIMIT_FSIZE, &saved);
              // In a read-only directory the file is rewritten where it is; nothing is created.
              ::chmod(shared.c_str(), 0555);
              if (!WriteProfileString(ini, "S", "k", "22", error)) return "update: " + error;
              if (!WriteProfileString(ini, "S", "k", "3", error)) return "shrink: " + error;
              if (ReadBytes(ini) != "; keep\n[S]\nk=3\n" + tail) return "wrong bytes";
              if (WriteProfileString(shared + "/new.ini", "S", "k", "1", error)) return "created";
              // A file it cannot read is not replaced by a fresh one.
              ::chmod(ini.c_str(), 0200);
              if (!ReadProfileString(ini, "S", "k").empty()) return "read an unreadable file";
              if (WriteProfileString(ini, "S", "k", "4", error)) return "rewrote an unread file";
              ::chmod(ini.c_str(), 0600);
              return ReadBytes(ini) == "; keep\n[S]\nk=3\n" + tail ? "" : "file changed";
            }),
            "");
}

}  // namespace
}  // namespace tavrun
