// Creating and updating archives through Zip, read back by this library and by other tools.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "unzip32.h"
#include "zip32j.h"
#include "zip_inspect.h"
#include "zip_test_util.h"

using namespace ziptest;

namespace {

struct Sample {
  std::string name;
  std::string data;
  bool compressible;
};

std::vector<Sample> Samples() {
  return {{"text.txt", TextData(300000, 1), true},
          {"random.bin", RandomData(70000, 2), false},
          {"zeros.dat", std::string(1 << 20, '\0'), true},
          {"empty.txt", "", false},
          {"one.txt", "x", false},
          {"日本語 ファイル.txt", TextData(5000, 3), true}};
}

// Writes the samples with distinct, odd mtimes in the past (a DOS time cannot hold them).
void MakeSamples(const TempDir& dir, const std::vector<Sample>& samples) {
  int64_t t = 1600000000;
  for (const Sample& s : samples) {
    WriteFile(dir / s.name, s.data);
    SetMtime(dir / s.name, t += 3601);
  }
}

std::string ZipAll(const std::string& switches, const std::string& archive, const TempDir& src,
                   const std::vector<Sample>& samples) {
  std::string cmd = switches + " " + Quote(archive);
  for (const Sample& s : samples) cmd += " " + Quote(src / s.name);
  Result r = RunZip(cmd);
  EXPECT_EQ(r.code, 0) << r.output;
  return r.output;
}

std::string LocalTime(int64_t t, const char* format) {
  time_t tt = time_t(t);
  tm local{};
  localtime_r(&tt, &local);
  char buf[32];
  strftime(buf, sizeof buf, format, &local);
  return buf;
}

// DOS times have 2-second steps, rounded down.
std::string DosTime(int64_t t) { return LocalTime(t - (t & 1), "%Y-%m-%d_%H:%M:%S"); }

std::string Hex32(int64_t t) {
  char buf[16];
  uint32_t v = uint32_t(t);
  snprintf(buf, sizeof buf, "%02x%02x%02x%02x", v & 0xff, v >> 8 & 0xff, v >> 16 & 0xff, v >> 24);
  return buf;
}

}  // namespace

class ZipLevels : public ::testing::TestWithParam<int> {};

TEST_P(ZipLevels, RoundTripKeepsBytesNamesDatesAndOtherReadersAgree) {
  const int level = GetParam();
  TempDir src, work;
  auto samples = Samples();
  MakeSamples(src, samples);
  std::string archive = work / "out.zip";
  std::string sw = "-u -S -v -j -q" + (level == 6 ? std::string() : " -" + std::to_string(level));
  ZipAll(sw, archive, src, samples);
  ASSERT_EQ(Check(archive), 1);
  ASSERT_EQ(Check(archive, 2), 1);

  mkdir((work / "x").c_str(), 0755);
  Result r = RunUnZip("-x -qq --i " + Quote(archive) + " " + Quote(work / "x/"));
  ASSERT_EQ(r.code, 0) << r.output;
  for (const Sample& s : samples) {
    EXPECT_EQ(ReadFile(work / ("x/" + s.name)), s.data) << s.name;
    EXPECT_EQ(Mtime(work / ("x/" + s.name)), Mtime(src / s.name)) << s.name;
  }

  std::map<std::string, PyMember> members;
  std::string testzip;
  ASSERT_TRUE(PyInspect(archive, members, testzip)) << testzip;
  EXPECT_EQ(testzip, "None");
  ASSERT_EQ(members.size(), samples.size());
  for (const Sample& s : samples) {
    ASSERT_TRUE(members.count(s.name)) << s.name;
    const PyMember& m = members[s.name];
    bool ascii = std::all_of(s.name.begin(), s.name.end(), [](char c) { return c > 0; });
    EXPECT_EQ((m.flagBits & 0x800) != 0, !ascii) << s.name;
    // Stored at level 0 and wherever deflate would not make the member smaller.
    EXPECT_EQ(m.method, level > 0 && s.compressible ? 8 : 0) << s.name;
    if (m.method == 8) {
      EXPECT_LT(m.compSize, m.size);
    }
    EXPECT_EQ(m.dateTime, DosTime(Mtime(src / s.name))) << s.name;
    EXPECT_NE(m.extraHex.find("5554050001" + Hex32(Mtime(src / s.name))), std::string::npos)
        << s.name << " " << m.extraHex;
    EXPECT_EQ(m.externalAttr >> 16, 0100644u) << s.name;
  }

  if (HaveTool("7zz")) {
    std::string out;
    EXPECT_EQ(Shell("7zz t " + Quote(archive) + " 2>&1", &out), 0) << out;
    // Names and exact (odd-second) dates as 7-Zip reads them.
    ASSERT_EQ(Shell("7zz l -slt " + Quote(archive), &out), 0);
    for (const Sample& s : samples)
      EXPECT_NE(out.find("Path = " + s.name + "\n" + "Folder = -\nSize = " +
                         std::to_string(s.data.size())), std::string::npos) << s.name << out;
    for (const Sample& s : samples)
      EXPECT_NE(out.find("Modified = " + LocalTime(Mtime(src / s.name), "%Y-%m-%d %H:%M:%S")),
                std::string::npos) << s.name;
  }
  if (HaveTool("bsdtar")) {
    for (const Sample& s : samples) {
      std::string out;
      EXPECT_EQ(Shell("bsdtar -xOf " + Quote(archive) + " " + Quote(s.name), &out), 0);
      EXPECT_EQ(out, s.data) << s.name;
    }
    std::string listing;
    Shell("bsdtar -tf " + Quote(archive), &listing);
    std::string names;
    for (const Sample& s : samples) names += s.name + "\n";
    EXPECT_EQ(listing, names);
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, ZipLevels, ::testing::Values(0, 1, 6, 9));

TEST(ZipCreate, StoredPathsAndHiddenFiles) {
  TempDir src, work;
  mkdir((src / "sub").c_str(), 0755);
  WriteFile(src / "sub/a.txt", "a");
  WriteFile(src / ".hidden", "h");
  std::string archive = work / "a.zip";
  // Without -j the relative path is kept, with no leading "/".
  ASSERT_EQ(RunZip("-q " + Quote(archive) + " " + Quote(src / "sub/a.txt")).code, 0);
  std::map<std::string, PyMember> m;
  std::string t;
  ASSERT_TRUE(PyInspect(archive, m, t));
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m.begin()->first, (src / "sub/a.txt").substr(1));

  std::string hidden = work / "h.zip";
  Result r = RunZip("-q -j " + Quote(hidden) + " " + Quote(src / ".hidden"));
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_NOTHING) << r.output;
  EXPECT_FALSE(Exists(hidden));
  ASSERT_EQ(RunZip("-q -j -S " + Quote(hidden) + " " + Quote(src / ".hidden")).code, 0);
  EXPECT_EQ(RawMember(hidden, ".hidden"), "h");  // stored: one byte
}

TEST(ZipCreate, UpdateReplacesOnlyNewerFilesAndKeepsOtherMembersByteForByte) {
  TempDir src, work;
  WriteFile(src / "a.txt", TextData(50000, 1));
  WriteFile(src / "b.txt", TextData(80000, 2));
  SetMtime(src / "a.txt", 1600000000);
  SetMtime(src / "b.txt", 1600000000);
  std::string archive = work / "u.zip";
  ASSERT_EQ(RunZip("-u -S -j -q " + Quote(archive) + " " + Quote(src / "a.txt") + " " +
                   Quote(src / "b.txt")).code, 0);
  const std::string rawB = RawMember(archive, "b.txt");
  ASSERT_FALSE(rawB.empty());

  // Same date: -u keeps the member.
  WriteFile(src / "a.txt", "changed but not newer");
  SetMtime(src / "a.txt", 1600000000);
  ASSERT_EQ(RunZip("-u -S -j -q " + Quote(archive) + " " + Quote(src / "a.txt")).code, 0);
  EXPECT_NE(RawMember(archive, "a.txt"), "changed but not newer");

  // Newer: replaced, at the new level (stored here), with its new timestamp field.
  WriteFile(src / "a.txt", TextData(60000, 9));
  SetMtime(src / "a.txt", 1600000100);
  ASSERT_EQ(RunZip("-u -S -j -q -0 " + Quote(archive) + " " + Quote(src / "a.txt")).code, 0);
  EXPECT_EQ(RawMember(archive, "a.txt"), TextData(60000, 9));
  EXPECT_EQ(RawMember(archive, "b.txt"), rawB);
  EXPECT_EQ(MemberCount(archive), 2);
  std::map<std::string, PyMember> m;
  std::string t;
  ASSERT_TRUE(PyInspect(archive, m, t));
  EXPECT_EQ(m["a.txt"].extraHex, "5554050001" + Hex32(1600000100));

  // Without -u an older file replaces the member too.
  WriteFile(src / "a.txt", "old");
  SetMtime(src / "a.txt", 1500000000);
  ASSERT_EQ(RunZip("-S -j -q " + Quote(archive) + " " + Quote(src / "a.txt")).code, 0);
  EXPECT_EQ(RawMember(archive, "a.txt"), "old");
  EXPECT_EQ(RawMember(archive, "b.txt"), rawB);
}

TEST(ZipCreate, NewerCheckAgainstADosTimeAllowsItsTwoSecondSteps) {
  TempDir src, work;
  std::string archive = work / "dos.zip";
  CraftArchive(archive, {{"f.txt", "member"}});  // DOS time 1500000000 only
  WriteFile(src / "f.txt", "file");
  SetMtime(src / "f.txt", 1500000001);
  ASSERT_EQ(RunZip("-u -j -q " + Quote(archive) + " " + Quote(src / "f.txt")).code, 0);
  EXPECT_NE(RawMember(archive, "f.txt"), "file");  // within the step: kept
  SetMtime(src / "f.txt", 1500000002);
  ASSERT_EQ(RunZip("-u -j -q " + Quote(archive) + " " + Quote(src / "f.txt")).code, 0);
  EXPECT_EQ(RawMember(archive, "f.txt"), "file");
}

TEST(ZipCreate, UpdatesArchivesOfOtherToolsKeepingTheirMembers) {
  TempDir src, work;
  WriteFile(src / "theirs.txt", TextData(20000, 6));
  WriteFile(src / "ours.txt", "ours");
  std::vector<std::pair<std::string, std::string>> made;  // archive, tool's check command
  if (HaveTool("bsdtar")) {  // data descriptors with sizes in the local header
    ASSERT_EQ(Shell("cd " + Quote(src.path()) + " && bsdtar --format zip -cf " +
                    Quote(work / "bsd.zip") + " theirs.txt"), 0);
    made.push_back({work / "bsd.zip", "bsdtar -xOf " + Quote(work / "bsd.zip") + " theirs.txt"});
  }
  if (HaveTool("7zz")) {  // an encrypted member, copied as it is
    ASSERT_EQ(Shell("cd " + Quote(src.path()) + " && 7zz a -tzip -psecret " +
                    Quote(work / "enc.zip") + " theirs.txt >/dev/null"), 0);
    made.push_back({work / "enc.zip", "7zz e -so -psecret " + Quote(work / "enc.zip") + " theirs.txt"});
  }
  if (made.empty()) GTEST_SKIP() << "neither bsdtar nor 7zz";
  for (const auto& [archive, extract] : made) {
    const std::string raw = RawMember(archive, "theirs.txt");
    Result r = RunZip("-u -S -j -q " + Quote(archive) + " " + Quote(src / "ours.txt"));
    ASSERT_EQ(r.code, 0) << archive << r.output;
    EXPECT_EQ(RawMember(archive, "theirs.txt"), raw) << archive;
    EXPECT_EQ(RawMember(archive, "ours.txt"), "ours") << archive;
    std::string out;
    EXPECT_EQ(Shell(extract + " 2>/dev/null", &out), 0) << archive;
    EXPECT_EQ(out, TextData(20000, 6)) << archive;
  }
}

TEST(ZipCreate, ArchiveDateFollowsNewestMemberWithO) {
  TempDir src, work;
  WriteFile(src / "old.txt", "o");
  WriteFile(src / "new.txt", "n");
  SetMtime(src / "old.txt", 1500000000);
  SetMtime(src / "new.txt", 1500005000);
  std::string archive = work / "d.zip";
  ASSERT_EQ(RunZip("-j -q -o " + Quote(archive) + " " + Quote(src / "new.txt")).code, 0);
  EXPECT_EQ(Mtime(archive), 1500005000);
  // Adding an older member keeps the newest member's date.
  ASSERT_EQ(RunZip("-j -q -o " + Quote(archive) + " " + Quote(src / "old.txt")).code, 0);
  EXPECT_EQ(Mtime(archive), 1500005000);
  // Without -o the archive has the time it was written.
  ASSERT_EQ(RunZip("-j -q " + Quote(work / "e.zip") + " " + Quote(src / "old.txt")).code, 0);
  EXPECT_GT(Mtime(work / "e.zip"), 1500005000);
}

TEST(ZipCreate, ArchivePathKinds) {
  TempDir src, work;
  WriteFile(src / "f.txt", "data");
  // A symlinked archive is updated at its target and keeps its link.
  ASSERT_EQ(RunZip("-q -j " + Quote(work / "real.zip") + " " + Quote(src / "f.txt")).code, 0);
  ASSERT_EQ(symlink("real.zip", (work / "link.zip").c_str()), 0);
  WriteFile(src / "g.txt", "more");
  ASSERT_EQ(RunZip("-q -j " + Quote(work / "link.zip") + " " + Quote(src / "g.txt")).code, 0);
  struct stat st {};
  ASSERT_EQ(lstat((work / "link.zip").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(MemberCount(work / "real.zip"), 2);

  // A dangling link is refused; nothing appears at its target.
  ASSERT_EQ(symlink("nowhere/x.zip", (work / "dangling.zip").c_str()), 0);
  EXPECT_EQ(RunZip("-q -j " + Quote(work / "dangling.zip") + " " + Quote(src / "f.txt")).code,
            TAVRUN_ZIP_E_ARCHIVE_OPEN);

  // An empty file becomes a new archive; a text file is never overwritten.
  WriteFile(work / "empty.zip", "");
  ASSERT_EQ(RunZip("-q -j " + Quote(work / "empty.zip") + " " + Quote(src / "f.txt")).code, 0);
  EXPECT_EQ(RawMember(work / "empty.zip", "f.txt"), "data");
  WriteFile(work / "text.zip", "just some text\n");
  EXPECT_EQ(RunZip("-q -j " + Quote(work / "text.zip") + " " + Quote(src / "f.txt")).code,
            TAVRUN_ZIP_E_NOT_ARCHIVE);
  EXPECT_EQ(ReadFile(work / "text.zip"), "just some text\n");

  // A missing directory, or a directory as archive.
  EXPECT_EQ(RunZip("-q -j " + Quote(work / "no/dir.zip") + " " + Quote(src / "f.txt")).code,
            TAVRUN_ZIP_E_ARCHIVE_OPEN);
  EXPECT_EQ(RunZip("-q -j " + Quote(src.path()) + " " + Quote(src / "f.txt")).code,
            TAVRUN_ZIP_E_ARCHIVE_OPEN);
  EXPECT_EQ(ListTree(work.path()),
            (std::set<std::string>{"real.zip", "link.zip", "dangling.zip", "empty.zip",
                                   "text.zip"}));
}

TEST(ZipCreate, FailedUpdateLeavesTheArchiveIdentical) {
  TempDir src, work;
  WriteFile(src / "status", "old member");
  SetMtime(src / "status", 1500000000);
  WriteFile(src / "keep.txt", TextData(20000, 4));
  std::string archive = work / "f.zip";
  ASSERT_EQ(RunZip("-u -S -j -q " + Quote(archive) + " " + Quote(src / "status") + " " +
                   Quote(src / "keep.txt")).code, 0);
  const std::string before = ReadFile(archive);
  const std::set<std::string> listing = ListTree(work.path());

  // A missing or non-regular source is found before the archive is touched.
  for (const std::string& bad : {src / "missing.txt", src.path()}) {
    Result r = RunZip("-u -S -j -q " + Quote(archive) + " " + Quote(src / "keep.txt") + " " +
                      Quote(bad));
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_SOURCE) << bad << r.output;
  }
  // A file whose size says 0 but which delivers data fails while it is read, after its old
  // member of the same name was already marked for replacement: at every level.
  for (const char* level : {"-0", "-1", "-9"}) {
    Result r = RunZip("-u -S -j -q " + std::string(level) + " " + Quote(archive) +
                      " /proc/self/status");
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_SOURCE) << level << " " << r.output;
    EXPECT_EQ(ReadFile(archive), before) << level;
    EXPECT_EQ(ListTree(work.path()), listing) << level;  // no temporary file left
  }
}

TEST(ZipCreate, CommandLineErrorsAndTheOutputBound) {
  TempDir work;
  WriteFile(work / "f", "x");
  const std::string bad[] = {"", "-q", "-q " + Quote(work / "a.zip"),
                             "-k " + Quote(work / "a.zip") + " " + Quote(work / "f"),
                             "-10 " + Quote(work / "a.zip") + " " + Quote(work / "f"),
                             "\"" + work / "a.zip"};
  for (const std::string& cmd : bad) EXPECT_EQ(RunZip(cmd).code, TAVRUN_ZIP_E_COMMAND_LINE) << cmd;
  EXPECT_FALSE(Exists(work / "a.zip"));
  char small[8];
  std::memset(small, 'Z', sizeof small);
  EXPECT_EQ(Zip(0, "-k", small, 6), TAVRUN_ZIP_E_COMMAND_LINE);
  EXPECT_LT(std::strlen(small), 6u);
  EXPECT_EQ(small[6], 'Z');
  EXPECT_EQ(Zip(0, nullptr, nullptr, 0), TAVRUN_ZIP_E_COMMAND_LINE);
  // A name with a double quote, passed doubled.
  WriteFile(work / "q\"uote.txt", "q");
  ASSERT_EQ(RunZip("-q -j " + Quote(work / "q.zip") + " " + Quote(work / "q\"uote.txt")).code, 0);
  EXPECT_EQ(RawMember(work / "q.zip", "q\"uote.txt"), "q");
}

TEST(ZipCreate, Zip32jNeedsTheEngineBesideIt) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a sanitizer build cannot be loaded into Python";
#endif
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&Zip), &info), 0);
  std::string lib = info.dli_fname;
  std::string dir = lib.substr(0, lib.find_last_of('/'));
  TempDir alone;
  ASSERT_EQ(Shell("cp " + Quote(lib) + " " + Quote(alone / "libzip32j.so")), 0);
  // A fresh process: this one has the engine loaded already.
  const std::string load = "import ctypes, sys\n"
                           "try:\n    l = ctypes.CDLL(sys.argv[1])\n"
                           "except OSError as e:\n    print(e); sys.exit(3)\n"
                           "print(hasattr(l, 'Zip'), hasattr(l, 'Zip32Run'))\n";
  std::string out;
  EXPECT_EQ(Python(load, {alone / "libzip32j.so"}, &out), 3) << out;
  EXPECT_NE(out.find("libzip32.so"), std::string::npos) << out;
  // With the engine copied beside it, the moved pair loads.
  ASSERT_EQ(Shell("cp " + Quote(dir + "/libzip32.so") + " " + Quote(alone / "libzip32.so")), 0);
  EXPECT_EQ(Python(load, {alone / "libzip32j.so"}, &out), 0) << out;
}

TEST(ZipCreate, EachLibraryExportsOnlyItsEntryPoints) {
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&Zip), &info), 0);
  std::string dir = std::string(info.dli_fname).substr(0, std::string(info.dli_fname).rfind('/'));
  const std::pair<const char*, const char*> libs[] = {
      {"libzip32j.so", "Zip\n"},
      {"libzip32.so", "Zip32InterfaceVersion\nZip32Run\n"},
      {"libunzip32.so", "UnZip\nUnZipCheckArchive\n"}};
  for (const auto& [lib, expected] : libs) {
    std::string out;
    ASSERT_EQ(Shell("nm -D --defined-only " + Quote(dir + "/" + lib) +
                    " | awk '$2 ~ /^[TDBR]$/ {print $3}' | sort", &out), 0);
    EXPECT_EQ(out, expected) << lib;
  }
}

// Writing a member above 4 GiB takes a minute; run with TAVRUN_ZIP_SLOW=1.
TEST(ZipCreate, Zip64ForAMemberAbove4GiB) {
  if (std::getenv("TAVRUN_ZIP_SLOW") == nullptr) GTEST_SKIP() << "set TAVRUN_ZIP_SLOW=1";
  TempDir src, work;
  WriteFile(src / "big", "");
  ASSERT_EQ(truncate((src / "big").c_str(), (5ll << 30)), 0);
  std::string archive = work / "big.zip";
  ASSERT_EQ(RunZip("-q -j -1 " + Quote(archive) + " " + Quote(src / "big")).code, 0);
  EXPECT_EQ(Check(archive, 2), 1);
  std::map<std::string, PyMember> m;
  std::string t;
  ASSERT_TRUE(PyInspect(archive, m, t));
  EXPECT_EQ(m["big"].size, 5ull << 30);
}
