// Hostile and broken input: after every case nothing may exist outside the destination that
// was not there before, and no partial or temporary file may be left inside it.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "unzip32.h"
#include "zip_test_util.h"

using namespace ziptest;

namespace {

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    dest_ = work_ / "dest";
    mkdir(dest_.c_str(), 0755);
    mkdir((work_ / "outside").c_str(), 0755);
    WriteFile(work_ / "outside/target.txt", "untouched");
  }
  // Extracts and checks that the world outside the destination did not change.
  Result ExtractChecked(const std::string& archive, const std::string& switches = "-x -qq --i -o") {
    std::set<std::string> before = Outside();
    Result r = RunUnZip(switches + " " + Quote(archive) + " " + Quote(dest_ + "/"));
    EXPECT_EQ(Outside(), before) << r.output;
    EXPECT_EQ(ReadFile(work_ / "outside/target.txt"), "untouched");
    for (const std::string& p : ListTree(dest_))
      EXPECT_EQ(p.find(".tavrun-"), std::string::npos) << "temporary file left: " << p;
    return r;
  }
  std::set<std::string> Outside() {
    std::set<std::string> all = ListTree(work_.path()), out;
    for (const std::string& p : all)
      if (p.rfind("dest/", 0) != 0) out.insert(p);
    // Anything written to /tmp directly by an absolute name would land here.
    if (Exists("/tmp/tavrun-zip-evil.txt")) out.insert("/tmp/tavrun-zip-evil.txt");
    return out;
  }
  std::string Archive(const std::vector<CraftMember>& members) {
    std::string a = work_ / ("a" + std::to_string(++count_) + ".zip");
    CraftArchive(a, members);
    return a;
  }
  TempDir work_;
  std::string dest_;
  int count_ = 0;
};

}  // namespace

TEST_F(Hostile, UnsafeNamesRefuseTheWholeArchive) {
  const std::string outsideAbs = work_ / "outside/abs.txt";
  const std::string names[] = {"../evil.txt",       "..\\evil.txt",  "a/../../evil.txt",
                               "ok/../../../x.txt", outsideAbs,      "/tmp/tavrun-zip-evil.txt",
                               "\\evil.txt",        "C:\\evil.txt",  "c:evil.txt",
                               "a/\x01.txt",        "..",            "./../evil.txt"};
  for (const std::string& bad : names) {
    std::string a = Archive({{"good.txt", "good"}, {bad, "evil"}});
    Result r = ExtractChecked(a);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_UNSAFE_PATH) << bad << " " << r.output;
    EXPECT_TRUE(ListTree(dest_).empty()) << bad;  // refused before anything was written
  }
  // A CP932 name whose second byte is 0x5C is not a path separator trick.
  std::string a = Archive({{"\x95\x5C.txt", "hyou", false, 0}});
  EXPECT_EQ(ExtractChecked(a).code, 0);
  EXPECT_EQ(ListTree(dest_), (std::set<std::string>{"表.txt"}));
}

TEST_F(Hostile, SymlinkMembersAreNeverCreatedOrFollowed) {
  std::string a = Archive({{"link", work_ / "outside", false, 3, 0120777},
                           {"link/target.txt", "written through the link"},
                           {"rel", "../outside/target.txt", false, 3, 0120777}});
  Result r = ExtractChecked(a);
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_UNSAFE_PATH) << r.output;
  struct stat st {};
  ASSERT_EQ(lstat((dest_ + "/link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));  // a real directory, not the link
  EXPECT_FALSE(Exists(dest_ + "/rel"));
}

TEST_F(Hostile, ExistingSymlinksInTheDestinationAreNotWrittenThrough) {
  ASSERT_EQ(symlink((work_ / "outside").c_str(), (dest_ + "/dir").c_str()), 0);
  ASSERT_EQ(symlink((work_ / "outside/target.txt").c_str(), (dest_ + "/file.txt").c_str()), 0);
  std::string a = Archive({{"dir/target.txt", "through a directory link"},
                           {"file.txt", "through a file link"}});
  Result r = ExtractChecked(a);
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_WRITE) << r.output;
}

TEST_F(Hostile, DuplicateAndOverlappingMembers) {
  // Names that differ only in spelling map to one path.
  for (auto pair : {std::pair<std::string, std::string>{"a/b.txt", "a\\b.txt"},
                    {"x.txt", "./x.txt"},
                    {"d//e.txt", "d/e.txt"}}) {
    std::string a = Archive({{pair.first, "one"}, {pair.second, "two"}});
    Result r = ExtractChecked(a);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_UNSAFE_PATH) << pair.second << r.output;
    EXPECT_TRUE(ListTree(dest_).empty());
  }
  // The very same name twice (Python allows it) is not a consistent archive.
  std::string dup = work_ / "dup.zip";
  ASSERT_EQ(Python("import sys, zipfile, warnings\nwarnings.simplefilter('ignore')\n"
                   "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                   "z.writestr('same.txt', 'one')\nz.writestr('same.txt', 'two')\nz.close()\n",
                   {dup}), 0);
  EXPECT_EQ(Check(dup), 0);
  EXPECT_EQ(ExtractChecked(dup).code, TAVRUN_ZIP_E_NOT_ARCHIVE);
  EXPECT_TRUE(ListTree(dest_).empty());
}

TEST_F(Hostile, DamagedMemberDataLeavesNoFile) {
  const std::string text = TextData(100000, 3);
  struct Damage {
    const char* label;
    bool store;
    void (*patch)(std::string& zip, size_t local, size_t central);
  };
  const Damage damages[] = {
      {"declared smaller (deflate)", false,
       [](std::string& z, size_t l, size_t c) { Patch32(z, l + 22, 1000); Patch32(z, c + 24, 1000); }},
      {"declared larger (deflate)", false,
       [](std::string& z, size_t l, size_t c) { Patch32(z, l + 22, 200000); Patch32(z, c + 24, 200000); }},
      {"declared smaller (stored)", true,
       [](std::string& z, size_t l, size_t c) {
         for (size_t off : {l + 18, l + 22}) Patch32(z, off, 1000);
         for (size_t off : {c + 20, c + 24}) Patch32(z, off, 1000);
       }},
      {"bad crc (deflate)", false,
       [](std::string& z, size_t l, size_t c) { Patch32(z, l + 14, 0x12345678); Patch32(z, c + 16, 0x12345678); }},
      {"bad crc (stored)", true,
       [](std::string& z, size_t l, size_t c) { Patch32(z, l + 14, 0x12345678); Patch32(z, c + 16, 0x12345678); }},
      {"corrupt deflate stream", false,
       [](std::string& z, size_t l, size_t) {
         for (size_t i = 0; i < 64; ++i) z[l + 30 + 8 + 200 + i] = char(0xFF);
       }},
  };
  for (const Damage& d : damages) {
    std::string path = Archive({{"bad.txt", text, false, 3, 0100644, d.store}, {"ok.txt", "fine"}});
    std::string zip = ReadFile(path);
    size_t local = FindLocalHeader(zip, "bad.txt");
    size_t central = zip.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    d.patch(zip, local, central);
    WriteFile(path, zip);
    Result r = ExtractChecked(path);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_DATA) << d.label << " " << r.output;
    EXPECT_FALSE(Exists(dest_ + "/bad.txt")) << d.label;
    EXPECT_EQ(ReadFile(dest_ + "/ok.txt"), "fine") << d.label;
    EXPECT_EQ(Check(path, 2), 0) << d.label;
    unlink((dest_ + "/ok.txt").c_str());
  }
}

TEST_F(Hostile, StreamedMemberThatLiesAboutItsSizeIsCutOff) {
  // bzip2 goes through libzip's streaming reader, where only our cap stops the flood.
  std::string path = work_ / "bz.zip";
  ASSERT_EQ(Python("import sys, zipfile\n"
                   "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_BZIP2) as z:\n"
                   "    z.writestr('flood.txt', 'x' * 3000000)\n", {path}), 0);
  std::string zip = ReadFile(path);
  size_t local = FindLocalHeader(zip, "flood.txt");
  size_t central = zip.find("PK\x01\x02");
  Patch32(zip, local + 22, 1000);
  Patch32(zip, central + 24, 1000);
  WriteFile(path, zip);
  Result r = ExtractChecked(path);
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_DATA) << r.output;
  EXPECT_NE(r.output.find("more data than its declared size"), std::string::npos) << r.output;
  EXPECT_TRUE(ListTree(dest_).empty());
}

TEST_F(Hostile, FilesThatAreNotWholeArchives) {
  std::string good = Archive({{"a.txt", TextData(20000, 1)}, {"b.txt", "b"}});
  const std::string zip = ReadFile(good);
  struct Case {
    const char* label;
    std::string bytes;
  } cases[] = {{"empty", ""},
               {"text", "This is not an archive.\n"},
               {"truncated", zip.substr(0, zip.size() / 2)},
               {"tail cut", zip.substr(0, zip.size() - 10)},
               {"data in front", std::string(1000, 'J') + zip},
               {"only the end record", zip.substr(zip.rfind("PK\x05\x06"))}};
  for (const Case& c : cases) {
    std::string path = work_ / "broken.zip";
    WriteFile(path, c.bytes);
    EXPECT_EQ(Check(path), 0) << c.label;
    EXPECT_EQ(Check(path, 2), 0) << c.label;
    Result r = ExtractChecked(path);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_NOT_ARCHIVE) << c.label << r.output;
    EXPECT_TRUE(ListTree(dest_).empty()) << c.label;
  }
  EXPECT_EQ(Check(work_ / "missing.zip"), 0);
  EXPECT_EQ(Check(work_.path()), 0);
  EXPECT_EQ(UnZipCheckArchive(nullptr, 1), 0);
  ASSERT_EQ(mkfifo((work_ / "fifo.zip").c_str(), 0600), 0);
  EXPECT_EQ(Check(work_ / "fifo.zip"), 0);  // returns at once, does not wait for a writer
  EXPECT_EQ(ExtractChecked(work_ / "fifo.zip").code, TAVRUN_ZIP_E_ARCHIVE_OPEN);
  EXPECT_EQ(ExtractChecked(work_ / "missing.zip").code, TAVRUN_ZIP_E_ARCHIVE_OPEN);
  // An archive reached through a symlink is read like any other.
  ASSERT_EQ(symlink(good.c_str(), (work_ / "link.zip").c_str()), 0);
  EXPECT_EQ(Check(work_ / "link.zip"), 1);
  EXPECT_EQ(ExtractChecked(work_ / "link.zip").code, 0);
  EXPECT_EQ(ReadFile(dest_ + "/b.txt"), "b");
}

TEST_F(Hostile, DestinationMissingReadOnlyOrFull) {
  std::string a = Archive({{"big.bin", RandomData(1 << 20, 4), false, 3, 0100644, true},
                           {"small.txt", "s"}});
  Result r = RunUnZip("-x -qq --i " + Quote(a) + " " + Quote(work_ / "nodir/"));
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_WRITE) << r.output;
  EXPECT_FALSE(Exists(work_ / "nodir"));
  // A destination that is a file.
  WriteFile(work_ / "afile", "f");
  EXPECT_EQ(RunUnZip("-x " + Quote(a) + " " + Quote(work_ / "afile/")).code, TAVRUN_ZIP_E_WRITE);

  // Read-only and full file systems need a small mount of our own (root only).
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  for (const char* options : {"size=256k", "size=256k,ro"}) {
    if (mount("tmpfs", dest_.c_str(), "tmpfs", 0, options) != 0)
      GTEST_SKIP() << "cannot mount tmpfs here";
    r = ExtractChecked(a);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_WRITE) << options << r.output;
    EXPECT_FALSE(Exists(dest_ + "/big.bin")) << options;  // no partial file
    umount(dest_.c_str());
  }
}

TEST_F(Hostile, ZipRefusesUnsafeOrUnreadableInput) {
  WriteFile(work_ / "f.txt", "f");
  std::string archive = work_ / "z.zip";
  // A stored ".." could not be extracted safely anywhere: refused.
  mkdir((work_ / "sub").c_str(), 0755);
  Result r = RunZip("-q " + Quote(archive) + " " + Quote(work_ / "sub/../f.txt"));
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_SOURCE) << r.output;
  ASSERT_EQ(mkfifo((work_ / "fifo").c_str(), 0600), 0);
  // A FIFO is a system file: skipped without -S, and with it never read (it would block).
  EXPECT_EQ(RunZip("-q -j " + Quote(archive) + " " + Quote(work_ / "fifo")).code,
            TAVRUN_ZIP_E_NOTHING);
  EXPECT_EQ(RunZip("-q -j -S " + Quote(archive) + " " + Quote(work_ / "fifo")).code,
            TAVRUN_ZIP_E_SOURCE);
  ASSERT_EQ(symlink("nowhere", (work_ / "dangling").c_str()), 0);
  EXPECT_EQ(RunZip("-q -j " + Quote(archive) + " " + Quote(work_ / "dangling")).code,
            TAVRUN_ZIP_E_SOURCE);
  if (geteuid() != 0) {
    WriteFile(work_ / "secret", "s");
    chmod((work_ / "secret").c_str(), 0);
    EXPECT_EQ(RunZip("-q -j " + Quote(archive) + " " + Quote(work_ / "secret")).code,
              TAVRUN_ZIP_E_SOURCE);
  }
  EXPECT_FALSE(Exists(archive));
}

TEST_F(Hostile, OverlappingMembersAreNotAnArchive) {
  // Once as libzip writes archives, once with data descriptors (where our own structure
  // check stands in for libzip's): the second directory entry points at the first member.
  std::vector<std::string> archives = {
      Archive({{"a.txt", TextData(5000, 1)}, {"b.txt", TextData(5000, 2)}})};
  if (HaveTool("bsdtar")) {
    WriteFile(work_ / "a.txt", TextData(5000, 1));
    WriteFile(work_ / "b.txt", TextData(5000, 2));
    ASSERT_EQ(Shell("cd " + Quote(work_.path()) + " && bsdtar --format zip -cf dd.zip a.txt b.txt"), 0);
    unlink((work_ / "a.txt").c_str());
    unlink((work_ / "b.txt").c_str());
    ASSERT_EQ(Check(work_ / "dd.zip"), 1);  // sound as it is
    archives.push_back(work_ / "dd.zip");
  }
  for (const std::string& a : archives) {
    std::string zip = ReadFile(a);
    size_t first = zip.find("PK\x01\x02");
    size_t second = zip.find("PK\x01\x02", first + 4);
    ASSERT_NE(second, std::string::npos);
    Patch32(zip, second + 42, 0);
    WriteFile(a, zip);
    EXPECT_EQ(Check(a), 0) << a;
    EXPECT_EQ(ExtractChecked(a).code, TAVRUN_ZIP_E_NOT_ARCHIVE) << a;
    EXPECT_TRUE(ListTree(dest_).empty());
  }
}

TEST_F(Hostile, ZipIntoAFullOrReadOnlyFileSystemKeepsTheOldArchive) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  const std::string dir = work_ / "small";
  mkdir(dir.c_str(), 0755);
  if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "cannot mount tmpfs here";
  WriteFile(work_ / "small.txt", "small");
  WriteFile(work_ / "big.bin", RandomData(1 << 20, 8));
  const std::string archive = dir + "/a.zip";
  Result r = RunZip("-q -j " + Quote(archive) + " " + Quote(work_ / "small.txt"));
  ASSERT_EQ(r.code, 0) << r.output;
  const std::string before = ReadFile(archive);
  r = RunZip("-q -j " + Quote(archive) + " " + Quote(work_ / "big.bin"));
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_WRITE) << r.output;
  EXPECT_EQ(ReadFile(archive), before);
  EXPECT_EQ(ListTree(dir), std::set<std::string>{"a.zip"});  // no temporary file left
  ASSERT_EQ(mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=256k"), 0);
  r = RunZip("-q -j " + Quote(archive) + " " + Quote(work_ / "small.txt"));
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_WRITE) << r.output;
  EXPECT_EQ(ReadFile(archive), before);
  umount(dir.c_str());
}
