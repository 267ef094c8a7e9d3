// Hostile and broken input: after every case nothing may exist outside the destination that
// was not there before, and no partial or temporary file may be left inside it.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <tuple>

#include "zip_test_util.h"

using namespace ziptest;

namespace {

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(dest_.c_str(), 0755);
    mkdir((work_ / "outside").c_str(), 0755);
    WriteFile(work_ / "outside/target.txt", "untouched");
  }
  // Extracts and checks that the world outside the destination did not change.
  Result ExtractChecked(const std::string& archive) {
    const std::set<std::string> before = Outside();
    Result r = RunUnZip("-x -qq --i -o " + Quote(archive) + " " + Quote(dest_ + "/"));
    EXPECT_EQ(Outside(), before) << r.output;
    EXPECT_EQ(ReadFile(work_ / "outside/target.txt"), "untouched");
    for (const std::string& p : ListTree(dest_))
      EXPECT_EQ(p.find(".tavrun-"), std::string::npos) << "temporary file left: " << p;
    return r;
  }
  std::set<std::string> Outside() {
    std::set<std::string> out;
    for (const std::string& p : ListTree(work_.path()))
      if (p.rfind("dest/", 0) != 0) out.insert(p);
    // Anything written to /tmp by an absolute name would land here.
    if (Exists("/tmp/tavrun-zip-evil.txt")) out.insert("/tmp/tavrun-zip-evil.txt");
    return out;
  }
  std::string File(const std::string& bytes) {  // a new archive path holding `bytes`
    std::string a = work_ / (std::to_string(++count_) + ".zip");
    WriteFile(a, bytes);
    return a;
  }
  std::string Archive(const std::vector<CraftMember>& members) {
    std::string a = File("");
    CraftArchive(a, members);
    return a;
  }
  TempDir work_;
  const std::string dest_ = work_ / "dest";
  int count_ = 0;
};

}  // namespace

TEST_F(Hostile, NamesLeadingOutAreSkippedAbsoluteNamesLandBelowTheDestination) {
  // A ".." component or a control character skips that member only.
  for (const std::string bad :
       {"../evil.txt", "..\\evil.txt", "a/../../evil.txt", "ok/../../../x.txt", "..",
        "./../evil.txt", "a/\x01.txt", "C:..\\evil.txt"}) {
    Result r = ExtractChecked(Archive({{"good.txt", "good"}, {bad, "evil"}, {"z.txt", "z"}}));
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_UNSAFE_PATH) << bad << " " << r.output;
    EXPECT_EQ(ListTree(dest_), (std::set<std::string>{"good.txt", "z.txt"})) << bad;
    fs::remove_all(dest_);
    mkdir(dest_.c_str(), 0755);
  }
  // Absolute names and drive letters are read relative to the destination.
  const std::string outside = work_ / "outside/abs.txt";
  const std::pair<std::string, std::string> absolute[] = {
      {"/tmp/tavrun-zip-evil.txt", "tmp/tavrun-zip-evil.txt"},
      {"\\evil.txt", "evil.txt"},
      {"C:\\dir\\evil.txt", "dir/evil.txt"},
      {"c:evil.txt", "evil.txt"},
      {outside, outside.substr(1)}};
  for (const auto& [name, below] : absolute) {
    Result r = ExtractChecked(Archive({{name, "abs"}}));
    EXPECT_EQ(r.code, 0) << name << " " << r.output;
    EXPECT_EQ(ReadFile(dest_ + "/" + below), "abs") << name;
    fs::remove_all(dest_);
    mkdir(dest_.c_str(), 0755);
  }
}

TEST_F(Hostile, TheWholeArchiveIsRefusedBeforeAnythingIsWritten) {
  std::vector<std::tuple<std::string, std::string, int32_t>> cases;  // label, archive, code
  // Names that differ only in spelling map to one path.
  for (const auto& [a, b] : {std::pair<const char*, const char*>{"a/b.txt", "a\\b.txt"},
                             {"x.txt", "./x.txt"},
                             {"d//e.txt", "d/e.txt"},
                             {"f.txt", "/f.txt"}})
    cases.emplace_back(b, Archive({{a, "one"}, {b, "two"}}), TAVRUN_ZIP_E_UNSAFE_PATH);

  // The very same name twice (Python allows it) is not a consistent archive.
  const std::string dup = work_ / "dup.zip";
  ASSERT_EQ(Python("import sys, zipfile, warnings; warnings.simplefilter('ignore'); "
                   "z = zipfile.ZipFile(sys.argv[1], 'w'); z.writestr('same.txt', 'one'); "
                   "z.writestr('same.txt', 'two'); z.close()",
                   {dup}),
            0);
  cases.emplace_back("same name twice", dup, TAVRUN_ZIP_E_NOT_ARCHIVE);

  // A directory entry that points at another member's local header.
  std::vector<std::string> misplaced = {Archive({{"a.txt", TextData(5000, 1)}, {"b.txt", "b"}})};
  if (!HaveTool("bsdtar")) ADD_FAILURE() << "bsdtar is needed (scripts/install-deps.sh)";
  WriteFile(work_ / "outside/b.txt", "b");
  ASSERT_EQ(Shell("cd " + Sh(work_ / "outside") +
                  " && bsdtar --format zip -cf ../dd.zip target.txt b.txt && rm b.txt"),
            0);
  misplaced.push_back(work_ / "dd.zip");  // with data descriptors
  for (const std::string& a : misplaced) {
    ASSERT_EQ(Check(a), 1) << a;  // sound before
    std::string zip = ReadFile(a);
    Patch32(zip, zip.find("PK\x01\x02", zip.find("PK\x01\x02") + 4) + 42, 0);
    cases.emplace_back("misplaced " + a, File(zip), TAVRUN_ZIP_E_NOT_ARCHIVE);
  }

  // Members whose data overlap, each entry consistent on its own: a local header "quoted"
  // inside another member's stored data, and many entries sharing one compressed block.
  const HandMember inner = Deflated("b.txt", std::string(100000, 'x'));
  HandMember outer = Stored("a.txt", LocalRecord(inner));
  HandMember quoted = inner;
  quoted.offset = 30 + 5;  // inside a.txt's data
  cases.emplace_back("quoted overlap", File(HandZip({outer, quoted})), TAVRUN_ZIP_E_NOT_ARCHIVE);
  std::vector<HandMember> shared = {Deflated("k", std::string(1 << 20, '\0'))};
  for (int i = 0; i < 50; ++i) {
    HandMember again = shared[0];
    again.offset = 0;
    shared.push_back(again);  // same name: its local header matches
  }
  cases.emplace_back("shared block", File(HandZip(shared)), TAVRUN_ZIP_E_NOT_ARCHIVE);
  HandMember beyond = Stored("c.txt", "c");
  beyond.stored = std::string(10, 'c');
  HandMember past = beyond;
  past.offset = 1 << 20;  // a local header beyond the end of the file
  past.name = "d.txt";
  cases.emplace_back("header outside", File(HandZip({beyond, past})), TAVRUN_ZIP_E_NOT_ARCHIVE);

  const std::string zip = ReadFile(Archive({{"a.txt", TextData(20000, 1)}, {"b.txt", "b"}}));
  const std::pair<const char*, std::string> notWhole[] = {
      {"empty", ""},
      {"text", "This is not an archive.\n"},
      {"truncated", zip.substr(0, zip.size() / 2)},
      {"tail cut", zip.substr(0, zip.size() - 10)},
      {"only the end record", zip.substr(zip.rfind("PK\x05\x06"))}};
  for (const auto& [label, bytes] : notWhole)
    cases.emplace_back(label, File(bytes), TAVRUN_ZIP_E_NOT_ARCHIVE);
  // A FIFO is refused at once, without waiting for a writer.
  ASSERT_EQ(mkfifo((work_ / "fifo.zip").c_str(), 0600), 0);
  for (const std::string& path : {work_ / "fifo.zip", work_ / "missing.zip", work_.path()})
    cases.emplace_back(path, path, TAVRUN_ZIP_E_ARCHIVE_OPEN);

  for (const auto& [label, archive, code] : cases) {
    Result r = ExtractChecked(archive);
    EXPECT_EQ(r.code, code) << label << " " << r.output;
    EXPECT_TRUE(ListTree(dest_).empty()) << label;
    if (code != TAVRUN_ZIP_E_UNSAFE_PATH) {
      EXPECT_EQ(Check(archive), 0) << label;
      EXPECT_EQ(Check(archive, 2), 0) << label;
    }
  }
  EXPECT_EQ(UnZipCheckArchive(nullptr, 1), 0);
}

TEST_F(Hostile, DeclaredSizesDecideNeitherMemoryNorOutput) {
  // Every entry claims 64 MiB and holds a few bytes: each fails as damaged, quickly and in
  // little memory. Measured in a child process: how far its peak memory rises in the call.
  std::vector<HandMember> liars;
  for (int i = 0; i < 40; ++i) {
    HandMember m = Deflated("liar" + std::to_string(i), "tiny");
    m.size = 64u << 20;
    liars.push_back(m);
  }
  HandMember honest = Deflated("honest.txt", "honest");
  liars.push_back(honest);
  const std::string a = File(HandZip(liars));
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    Result r = RunUnZip("-x -qq --i -o " + Quote(a) + " " + Quote(dest_ + "/"));
    getrusage(RUSAGE_SELF, &after);
    long values[2] = {long(r.code), after.ru_maxrss - before.ru_maxrss};
    if (write(pipeFds[1], values, sizeof values) != sizeof values) _exit(2);
    _exit(0);
  }
  close(pipeFds[1]);
  long values[2] = {-1, -1};
  ASSERT_EQ(read(pipeFds[0], values, sizeof values), ssize_t(sizeof values));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(values[0], TAVRUN_ZIP_E_DATA);
  EXPECT_LT(values[1], 32 * 1024) << "rise of the peak memory in KiB";
  EXPECT_EQ(ListTree(dest_), std::set<std::string>{"honest.txt"});
  EXPECT_EQ(Check(a, 2), 0);
}

TEST_F(Hostile, LongNamesAndUnreadableModes) {
  // 255 bytes is the longest name a Linux file system takes: 85 Japanese characters.
  std::string longName;
  for (int i = 0; i < 85; ++i) longName += "名";
  ASSERT_EQ(longName.size(), 255u);
  const std::string a = Archive({{longName, "long"},
                                 {"wo.txt", "write only", false, 3, 0100200},
                                 {"none.txt", "no bits", false, 3, 0100000}});
  const std::string longArchive = work_ / (longName.substr(0, 251) + ".zip");
  ASSERT_EQ(rename(a.c_str(), longArchive.c_str()), 0);
  ASSERT_EQ(Check(longArchive), 1);
  Result r = ExtractChecked(longArchive);
  ASSERT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(ReadFile(dest_ + "/" + longName), "long");
  for (const char* name : {"wo.txt", "none.txt"})
    EXPECT_EQ(Stat(dest_ + "/" + name).st_mode & 0600, 0600u) << name;
}

TEST_F(Hostile, SymlinksAreNeverCreatedOrWrittenThrough) {
  std::string a = Archive({{"link", work_ / "outside", false, 3, 0120777},
                           {"link/target.txt", "written through the link"},
                           {"rel", "../outside/target.txt", false, 3, 0120777}});
  Result r = ExtractChecked(a);
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_UNSAFE_PATH) << r.output;
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(dest_ + "/link")));  // not the link
  EXPECT_FALSE(Exists(dest_ + "/rel"));

  // Links already in the destination, to a directory and to a file: planted, so unsafe.
  ASSERT_EQ(symlink((work_ / "outside").c_str(), (dest_ + "/dir").c_str()), 0);
  ASSERT_EQ(symlink((work_ / "outside/target.txt").c_str(), (dest_ + "/file.txt").c_str()), 0);
  for (const char* member : {"dir/target.txt", "file.txt"}) {
    r = ExtractChecked(Archive({{member, "through"}}));
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_UNSAFE_PATH) << member << " " << r.output;
    EXPECT_NE(r.output.find("symbolic link"), std::string::npos) << r.output;
  }

  // An archive reached through a symlink is read like any other.
  ASSERT_EQ(symlink(Archive({{"b.txt", "b"}}).c_str(), (work_ / "link.zip").c_str()), 0);
  EXPECT_EQ(Check(work_ / "link.zip"), 1);
  EXPECT_EQ(ExtractChecked(work_ / "link.zip").code, 0);
  EXPECT_EQ(ReadFile(dest_ + "/b.txt"), "b");
}

TEST_F(Hostile, DamagedMemberDataLeavesNoFile) {
  const struct {
    const char* label;
    int32_t method;
    std::vector<std::pair<size_t, uint32_t>> fields;  // local-header offset, value
    bool garble;
  } damages[] = {
      {"declared smaller (deflate)", ZIP_CM_DEFLATE, {{22, 1000}}, false},
      {"declared larger (deflate)", ZIP_CM_DEFLATE, {{22, 200000}}, false},
      {"declared smaller (stored)", ZIP_CM_STORE, {{18, 1000}, {22, 1000}}, false},
      {"declared smaller (bzip2, streamed)", ZIP_CM_BZIP2, {{22, 1000}}, false},
      {"bad crc (deflate)", ZIP_CM_DEFLATE, {{14, 0x12345678}}, false},
      {"bad crc (stored)", ZIP_CM_STORE, {{14, 0x12345678}}, false},
      {"corrupt deflate stream", ZIP_CM_DEFLATE, {}, true},
  };
  for (const auto& d : damages) {
    std::string path =
        Archive({{.rawName = "bad.txt", .data = TextData(100000, 3), .method = d.method},
                 {"ok.txt", "fine"}});
    std::string zip = ReadFile(path);
    const size_t local = FindHeader(zip, "bad.txt"), central = FindHeader(zip, "bad.txt", true);
    for (const auto& [offset, value] : d.fields) {
      Patch32(zip, local + offset, value);
      Patch32(zip, central + offset + 2, value);  // the same field in the directory
    }
    if (d.garble) zip.replace(local + 30 + 7 + 200, 64, 64, '\xFF');
    WriteFile(path, zip);
    Result r = ExtractChecked(path);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_DATA) << d.label << " " << r.output;
    EXPECT_EQ(ListTree(dest_), std::set<std::string>{"ok.txt"}) << d.label;
    EXPECT_EQ(Check(path, 2), 0) << d.label;
    unlink((dest_ + "/ok.txt").c_str());
  }
}

TEST_F(Hostile, DestinationMissingAFileReadOnlyOrFull) {
  const std::string a =
      Archive({{.rawName = "big.bin", .data = RandomData(1 << 20, 4), .method = ZIP_CM_STORE},
               {"small.txt", "s"}});
  WriteFile(work_ / "afile", "f");
  for (const std::string& dest : {work_ / "nodir/", work_ / "afile/"})
    EXPECT_EQ(RunUnZip("-x -qq --i " + Quote(a) + " " + Quote(dest)).code, TAVRUN_ZIP_E_WRITE);
  EXPECT_FALSE(Exists(work_ / "nodir"));

  // Read-only and full file systems need a small mount of our own (root only).
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  for (const char* options : {"size=256k", "size=256k,ro"}) {
    if (mount("tmpfs", dest_.c_str(), "tmpfs", 0, options) != 0) GTEST_SKIP() << "no tmpfs";
    Result r = ExtractChecked(a);
    EXPECT_EQ(r.code, TAVRUN_ZIP_E_WRITE) << options << r.output;
    EXPECT_FALSE(Exists(dest_ + "/big.bin")) << options;  // no partial file
    umount(dest_.c_str());
  }
}
