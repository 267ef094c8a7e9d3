// Creating and updating archives through Zip, read back by this library and by other tools.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <tuple>

#include "zip_test_util.h"

using namespace ziptest;

namespace {

std::string LocalTime(int64_t t, const char* format) {
  time_t tt = time_t(t);
  tm local{};
  localtime_r(&tt, &local);
  char buf[32];
  strftime(buf, sizeof buf, format, &local);
  return buf;
}

std::string LibDir() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&Zip), &info);
  return fs::path(info.dli_fname).parent_path();
}

}  // namespace

class ZipLevels : public ::testing::TestWithParam<int> {};

TEST_P(ZipLevels, RoundTripAgreesWithOtherReaders) {
  const int level = GetParam();
  struct Sample {
    std::string name, data;
    bool compressible;
  };
  const Sample samples[] = {{"text.txt", TextData(300000, 1), true},
                            {"random.bin", RandomData(70000, 2), false},
                            {"zeros.dat", std::string(1 << 20, '\0'), true},
                            {"empty.txt", "", false},
                            {"one \"x\".txt", "x", false},  // a quote, doubled on the command line
                            {"日本語 ファイル.txt", TextData(5000, 3), true}};
  TempDir src, work;
  const std::string archive = work / "out.zip";
  std::vector<std::string> files;
  int64_t t = 1600000000;
  for (const Sample& s : samples) {
    files.push_back(src / s.name);
    WriteFile(files.back(), s.data);
    SetMtime(files.back(), t += 3601);  // odd seconds: a DOS time alone cannot hold them
  }
  Result r =
      ZipFiles("-u -S -v -j -q" + (level == 6 ? "" : " -" + std::to_string(level)), archive, files);
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(Check(archive), 1);
  EXPECT_EQ(Check(archive, 2), 1);
  r = UnZipTo("-x -qq --i", archive, work / "x");
  ASSERT_EQ(r.code, 0) << r.output;

  std::string listing, out, python = "None";
  const bool have7z = HaveTool("7zz"), haveBsdtar = HaveTool("bsdtar");
  if (have7z) {
    EXPECT_EQ(Shell("7zz t " + Sh(archive) + " 2>&1", &out), 0) << out;
    ASSERT_EQ(Shell("7zz l -slt " + Sh(archive), &listing), 0);
  }
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.name);
    const int64_t mtime = Mtime(src / s.name);
    EXPECT_EQ(ReadFile(work / ("x/" + s.name)), s.data);
    EXPECT_EQ(Mtime(work / ("x/" + s.name)), mtime);

    // Flagged UTF-8 when not ASCII; stored at level 0 and wherever deflate would not make the
    // member smaller; the DOS date in 2 s steps, rounded down (7-Zip shows the exact one).
    const bool ascii = std::all_of(s.name.begin(), s.name.end(), [](char c) { return c > 0; });
    python += "\n" + s.name + (ascii ? "|0|" : "|2048|") +
              (level > 0 && s.compressible ? "8|" : "0|") +
              LocalTime(mtime - (mtime & 1), "%Y-%m-%d_%H:%M:%S") + "|100644|" +
              std::to_string(s.data.size());

    if (have7z) {  // the name, size and exact date as 7-Zip lists them
      const size_t at = listing.find("Path = " + s.name + "\n");
      ASSERT_NE(at, std::string::npos) << listing;
      const std::string block = listing.substr(at, listing.find("\n\n", at) - at);
      EXPECT_NE(block.find("\nSize = " + std::to_string(s.data.size()) + "\n"), std::string::npos);
      EXPECT_NE(block.find("Modified = " + LocalTime(mtime, "%Y-%m-%d %H:%M:%S")),
                std::string::npos)
          << block;
    }
    if (haveBsdtar) {
      EXPECT_EQ(Shell("bsdtar -xOf " + Sh(archive) + " " + Sh(s.name), &out), 0);
      EXPECT_EQ(out, s.data);
    }
  }
  EXPECT_EQ(PyList(archive), python);
}

INSTANTIATE_TEST_SUITE_P(Levels, ZipLevels, ::testing::Values(0, 1, 6, 9));

TEST(ZipCreate, SourcesAndArchivePathsRefusedOrTaken) {
  TempDir src, work;
  mkdir((src / "sub").c_str(), 0755);
  WriteFile(src / "sub/a.txt", "a");
  WriteFile(src / ".hidden", "h");
  ASSERT_EQ(mkfifo((src / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("nowhere", (src / "dangling").c_str()), 0);
  ASSERT_EQ(ZipFiles("-q -j", work / "real.zip", {src / ".hidden"}).code, TAVRUN_ZIP_E_NOTHING);
  ASSERT_EQ(ZipFiles("-q -j", work / "real.zip", {src / "sub/a.txt"}).code, 0);
  ASSERT_EQ(symlink("real.zip", (work / "link.zip").c_str()), 0);
  ASSERT_EQ(symlink("nowhere/x.zip", (work / "dangling.zip").c_str()), 0);
  WriteFile(work / "empty.zip", "");
  WriteFile(work / "text.zip", "just some text\n");
  const std::string z = work / "z.zip", a = src / "sub/a.txt";
  std::vector<std::tuple<std::string, std::string, std::string, int32_t>> cases = {
      {"-j", z, src / "fifo", TAVRUN_ZIP_E_NOTHING},    // hidden and system files need -S
      {"-j -S", z, src / "fifo", TAVRUN_ZIP_E_SOURCE},  // never read: it would block
      {"-j -S", z, src.path(), TAVRUN_ZIP_E_SOURCE},
      {"-j", z, src / "dangling", TAVRUN_ZIP_E_SOURCE},
      {"-j", z, src / "missing", TAVRUN_ZIP_E_SOURCE},
      // Reading fails at once (EIO): never taken for the end of an empty file.
      {"-j -0", z, "/proc/self/mem", TAVRUN_ZIP_E_SOURCE},
      {"-j", z, "/proc/self/mem", TAVRUN_ZIP_E_SOURCE},
      {"", z, src / "sub/../sub/a.txt", TAVRUN_ZIP_E_SOURCE},  // a stored ".." is unsafe anywhere
      {"-j -S", work / "link.zip", src / ".hidden", TAVRUN_ZIP_OK},  // updated at its target
      {"-j", work / "empty.zip", a, TAVRUN_ZIP_OK},                  // 0 bytes: a new archive
      {"-j", work / "dangling.zip", a, TAVRUN_ZIP_E_ARCHIVE_OPEN},
      {"-j", work / "text.zip", a, TAVRUN_ZIP_E_NOT_ARCHIVE},  // never overwritten
      {"-j", work / "no/dir.zip", a, TAVRUN_ZIP_E_ARCHIVE_OPEN},
      {"-j", work.path(), a, TAVRUN_ZIP_E_ARCHIVE_OPEN}};
  if (geteuid() != 0) {
    WriteFile(src / "secret", "s");
    chmod((src / "secret").c_str(), 0);
    cases.emplace_back("-j", z, src / "secret", TAVRUN_ZIP_E_SOURCE);
  }
  for (const auto& [switches, archive, file, code] : cases) {
    Result r = ZipFiles("-q " + switches, archive, {file});
    EXPECT_EQ(r.code, code) << switches << " " << archive << " " << file << " " << r.output;
  }
  EXPECT_TRUE(fs::is_symlink(work / "link.zip"));
  EXPECT_EQ(ReadFile(work / "text.zip"), "just some text\n");
  EXPECT_EQ(RawMembers(work / "empty.zip"), (std::map<std::string, std::string>{{"a.txt", "a"}}));
  // Without -j the path is kept, relative.
  EXPECT_EQ(RawMembers(work / "real.zip"),
            (std::map<std::string, std::string>{{"a.txt", "a"}, {".hidden", "h"}}));
  ASSERT_EQ(ZipFiles("-q", z, {a}).code, 0);
  EXPECT_EQ(RawMembers(z), (std::map<std::string, std::string>{{a.substr(1), "a"}}));
  EXPECT_EQ(ListTree(work.path()), (std::set<std::string>{"real.zip", "link.zip", "dangling.zip",
                                                          "empty.zip", "text.zip", "z.zip"}));
}

// Archive names of 253 and 255 bytes (83 Japanese characters and ".zip" or "ab.zip") are
// created, updated and left unchanged, and nothing else stays beside them.
TEST(ZipCreate, ArchiveNamesNearTheLengthLimit) {
  std::string stem;
  for (int i = 0; i < 83; ++i) stem += "表";
  for (const std::string& name : {stem + ".zip", stem + "ab.zip"}) {
    SCOPED_TRACE(name.size());
    TempDir src, work;
    const std::string archive = work / name;
    WriteFile(src / "a.txt", "a");
    WriteFile(src / "b.txt", "b");
    ASSERT_EQ(ZipFiles("-q -j", archive, {src / "a.txt"}).code, 0);
    ASSERT_EQ(ZipFiles("-q -j", archive, {src / "b.txt"}).code, 0);
    ASSERT_EQ(ZipFiles("-q -j -u", archive, {src / "b.txt"}).code, 0);  // not newer: no change
    EXPECT_EQ(RawMembers(archive),
              (std::map<std::string, std::string>{{"a.txt", "a"}, {"b.txt", "b"}}));
    EXPECT_EQ(ListTree(work.path()), std::set<std::string>{name});
  }
}

// An update through a symlink writes the archive it points to and keeps the link; the
// archive keeps its mode, and a new one gets the usual mode for new files.
TEST(ZipUpdate, KeepsTheLinkAndTheModeOfTheArchive) {
  TempDir src, real, links;
  WriteFile(src / "a.txt", "a");
  WriteFile(src / "b.txt", "b");
  ASSERT_EQ(ZipFiles("-q -j", real / "r.zip", {src / "a.txt"}).code, 0);
  const mode_t mask = umask(022);
  umask(mask);
  EXPECT_EQ(Stat(real / "r.zip").st_mode & 07777, 0666 & ~mask);
  ASSERT_EQ(chmod((real / "r.zip").c_str(), 0604), 0);
  ASSERT_EQ(symlink((real / "r.zip").c_str(), (links / "l.zip").c_str()), 0);
  Result r = ZipFiles("-q -j", links / "l.zip", {src / "b.txt"});
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(fs::is_symlink(links / "l.zip"));
  EXPECT_EQ(RawMembers(real / "r.zip"),
            (std::map<std::string, std::string>{{"a.txt", "a"}, {"b.txt", "b"}}));
  EXPECT_EQ(Stat(real / "r.zip").st_mode & 07777, 0604u);
  EXPECT_EQ(ListTree(real.path()), std::set<std::string>{"r.zip"});
  EXPECT_EQ(ListTree(links.path()), std::set<std::string>{"l.zip"});
}

TEST(ZipUpdate, ReplacesOnlyWhatItShouldAndKeepsOtherMembersByteForByte) {
  TempDir src, work;
  const std::string ours = work / "ours.zip", dos = work / "dos.zip", bsd = work / "bsd.zip",
                    enc = work / "enc.zip", cd = "cd " + Sh(src.path()) + " && ";
  WriteFile(src / "a.txt", TextData(50000, 1));
  WriteFile(src / "b.txt", TextData(80000, 2));
  SetMtime(src / "a.txt", 1600000000);
  ASSERT_EQ(ZipFiles("-q -j", ours, {src / "a.txt", src / "b.txt"}).code, 0);
  CraftArchive(dos, {{"a.txt", "member"}, {"b.txt", "other"}});  // DOS times only
  // Other tools' b.txt must stay as they wrote it: with a data descriptor, or encrypted.
  std::vector<std::string> theirs;  // commands printing their b.txt
  if (HaveTool("bsdtar")) {
    ASSERT_EQ(Shell(cd + "bsdtar --format zip -cf " + Sh(bsd) + " b.txt"), 0);
    theirs.push_back("bsdtar -xOf " + Sh(bsd) + " b.txt");
  }
  if (HaveTool("7zz")) {
    ASSERT_EQ(Shell(cd + "7zz a -tzip -psecret " + Sh(enc) + " b.txt >/dev/null"), 0);
    theirs.push_back("7zz e -so -psecret " + Sh(enc) + " b.txt 2>/dev/null");
  }
  const struct {
    std::string archive;
    int64_t mtime;
    const char* switches;
    bool replaced;                                     // or added
  } steps[] = {{ours, 1600000000, "-q -j -u", false},  // same date
               {ours, 1600000100, "-q -j -u", true},
               {ours, 1500000000, "-q -j", true},     // older, but without -u
               {dos, 1500000001, "-q -j -u", false},  // within the DOS time's 2-second step
               {dos, 1500000002, "-q -j -u", true},
               {bsd, 1500000000, "-q -j -u", true},
               {enc, 1500000000, "-q -j -u", true}};
  for (const auto& s : steps) {
    if (!Exists(s.archive)) continue;  // the tool is missing
    auto before = RawMembers(s.archive);
    const std::string data = "v" + std::to_string(s.mtime);  // stored: too short to deflate
    WriteFile(src / "a.txt", data);
    SetMtime(src / "a.txt", s.mtime);
    Result r = ZipFiles(s.switches, s.archive, {src / "a.txt"});
    ASSERT_EQ(r.code, 0) << s.archive << " " << r.output;
    if (s.replaced) before["a.txt"] = data;
    EXPECT_EQ(RawMembers(s.archive), before) << s.archive << " " << s.mtime;
  }
  for (const std::string& print : theirs) {
    std::string out;
    EXPECT_EQ(Shell(print, &out), 0) << print;
    EXPECT_EQ(out, TextData(80000, 2)) << print;
  }
}

TEST(ZipUpdate, AFailedUpdateLeavesTheArchiveIdentical) {
  TempDir src, work;
  WriteFile(src / "status", "old member");
  SetMtime(src / "status", 1500000000);
  const std::string archive = work / "f.zip";
  ASSERT_EQ(ZipFiles("-q -j", archive, {src / "status"}).code, 0);
  const std::string before = ReadFile(archive);
  // /proc/self/status says 0 bytes but delivers more: it fails while read, after its old
  // member was already marked for replacement. A missing file is found before anything.
  for (const std::string& tail :
       std::vector<std::string>{"-0 /proc/self/status", "-1 /proc/self/status",
                                "-9 /proc/self/status", Quote(src / "missing")}) {
    Result r = RunZip("-u -S -j -q " + Quote(archive) + " " + tail);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_SOURCE) << tail << " " << r.output;
    EXPECT_EQ(ReadFile(archive), before) << tail;
    EXPECT_EQ(ListTree(work.path()), std::set<std::string>{"f.zip"}) << tail;  // no temporary
  }

  if (geteuid() != 0) {  // a directory nobody may write to (root may write anyway)
    ASSERT_EQ(chmod(work.path().c_str(), 0555), 0);
    Result r = ZipFiles("-q -j", archive, {src / "status"});
    chmod(work.path().c_str(), 0755);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_WRITE) << r.output;
    EXPECT_EQ(ReadFile(archive), before);
    GTEST_SKIP() << "needs root to mount a small file system";
  }
  // A full, then read-only file system: a small mount of our own.
  const std::string dir = work / "small", small = dir + "/a.zip";
  mkdir(dir.c_str(), 0755);
  if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "no tmpfs";
  WriteFile(src / "big.bin", RandomData(1 << 20, 8));
  ASSERT_EQ(ZipFiles("-q -j", small, {src / "status"}).code, 0);
  const std::string smallBefore = ReadFile(small);
  for (bool readOnly : {false, true}) {
    if (readOnly) {
      ASSERT_EQ(mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=256k"), 0);
    }
    Result r = ZipFiles("-q -j", small, {src / "big.bin"});
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_WRITE) << readOnly << r.output;
    EXPECT_EQ(ReadFile(small), smallBefore) << readOnly;
    EXPECT_EQ(ListTree(dir), std::set<std::string>{"a.zip"}) << readOnly;
  }
  umount(dir.c_str());
}

TEST(ZipCreate, CommandLineErrorsAndTheOutputBound) {
  TempDir work;
  WriteFile(work / "f", "x");
  const std::string a = Quote(work / "a.zip"), f = Quote(work / "f");
  for (const std::string& cmd : std::vector<std::string>{
           "", "-q", "-q " + a, "-k " + a + " " + f, "-10 " + a + " " + f, "\"" + work / "a.zip"})
    EXPECT_EQ(RunZip(cmd).code, TAVRUN_ZIP_E_COMMAND_LINE) << cmd;
  EXPECT_FALSE(Exists(work / "a.zip"));
  char small[8];
  std::memset(small, 'Z', sizeof small);
  EXPECT_EQ(Zip(0, "-k", small, 6), TAVRUN_ZIP_E_COMMAND_LINE);
  EXPECT_LT(std::strlen(small), 6u);
  EXPECT_EQ(small[6], 'Z');
  EXPECT_EQ(Zip(0, nullptr, nullptr, 0), TAVRUN_ZIP_E_COMMAND_LINE);
}

TEST(ZipLibraries, ExportOnlyTheirEntryPointsAndZip32jNeedsItsEngineBesideIt) {
  const std::pair<const char*, const char*> libs[] = {
      {"libzip32j.so", "TavrunSetHost\nZip\n"},
      {"libzip32.so", "Zip32InterfaceVersion\nZip32Run\nZip32SetHost\n"},
      {"libunzip32.so", "TavrunSetHost\nUnZip\nUnZipCheckArchive\n"}};
  for (const auto& [lib, expected] : libs) {
    std::string out;
    ASSERT_EQ(Shell("nm -D --defined-only " + Sh(LibDir() + "/" + lib) +
                        " | awk '$2 ~ /^[TDBR]$/ {print $3}' | sort",
                    &out),
              0);
    EXPECT_EQ(out, expected) << lib;
  }
#if !defined(__SANITIZE_ADDRESS__)  // a sanitizer build cannot be loaded into Python
  // Loaded in a fresh process (this one has the engine already), alone and then beside it.
  TempDir alone;
  const std::string load =
      "import ctypes, sys\ntry:\n    ctypes.CDLL(sys.argv[1])\n"
      "except OSError as e:\n    print(e); sys.exit(3)\n";
  std::string out;
  ASSERT_EQ(Shell("cp " + Sh(LibDir() + "/libzip32j.so") + " " + Sh(alone.path())), 0);
  EXPECT_EQ(Python(load, {alone / "libzip32j.so"}, &out), 3) << out;
  EXPECT_NE(out.find("libzip32.so"), std::string::npos) << out;
  ASSERT_EQ(Shell("cp " + Sh(LibDir() + "/libzip32.so") + " " + Sh(alone.path())), 0);
  EXPECT_EQ(Python(load, {alone / "libzip32j.so"}, &out), 0) << out;
#endif
}

// Writing a member above 4 GiB takes a minute; run with TAVRUN_ZIP_SLOW=1.
TEST(ZipCreate, Zip64ForAMemberAbove4GiB) {
  if (std::getenv("TAVRUN_ZIP_SLOW") == nullptr) GTEST_SKIP() << "set TAVRUN_ZIP_SLOW=1";
  TempDir src, work;
  WriteFile(src / "big", "");
  ASSERT_EQ(truncate((src / "big").c_str(), 5ll << 30), 0);
  ASSERT_EQ(ZipFiles("-q -j -1", work / "big.zip", {src / "big"}).code, 0);
  EXPECT_EQ(Check(work / "big.zip", 2), 1);
  const std::string python = PyList(work / "big.zip");
  EXPECT_EQ(python.substr(0, 5), "None\n");
  EXPECT_NE(python.find("|5368709120"), std::string::npos) << python;
}

// Files above the in-memory size are deflated piece by piece into a temporary file and the
// pieces joined into one deflate stream: every reader must see one whole, correct member,
// and no temporary file may stay behind.
TEST(ZipCreate, LargeFilesDeflatedInPiecesReadBackWhole) {
  if (!HaveTool("7zz")) GTEST_SKIP() << "7zz not installed (scripts/install-deps.sh)";
  constexpr size_t kPiece = 4u << 20;
  std::string text = TextData(kPiece * 2 + 300000, 7);
  // Noise here and there: pieces end in blocks of different kinds and bit positions.
  const std::string noise = RandomData(200000, 8);
  text.replace(kPiece - 100000, 200000, noise);
  const std::pair<std::string, std::string> samples[] = {
      {"piece.txt", text.substr(0, kPiece)},              // the largest done in memory
      {"piece_and_one.txt", text.substr(0, kPiece + 1)},  // a second piece of one byte
      {"pieces.txt", text},                               // three pieces, the last short
      {"zeros.dat", std::string(kPiece * 2 + 5, '\0')}};
  for (int level : {1, 9}) {
    SCOPED_TRACE("level " + std::to_string(level));
    TempDir src, work;
    const std::string archive = work / "out.zip";
    std::vector<std::string> files;
    for (const auto& [name, data] : samples) {
      files.push_back(src / name);
      WriteFile(files.back(), data);
    }
    Result r = ZipFiles("-j -q -" + std::to_string(level), archive, files);
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(ListTree(work.path()), std::set<std::string>{"out.zip"});
    std::string out;
    EXPECT_EQ(Shell("7zz t " + Sh(archive) + " 2>&1", &out), 0) << out;
    EXPECT_EQ(Python("import sys, zipfile\n"
                     "z = zipfile.ZipFile(sys.argv[1])\n"
                     "assert z.testzip() is None\n"
                     "for i in z.infolist():\n"
                     "  assert i.compress_type == 8 and i.compress_size < i.file_size / 2, i\n",
                     {archive}),
              0);
    r = UnZipTo("-x -qq", archive, work / "x");
    ASSERT_EQ(r.code, 0) << r.output;
    for (const auto& [name, data] : samples)
      EXPECT_TRUE(ReadFile(work / ("x/" + name)) == data) << name;
  }
}
