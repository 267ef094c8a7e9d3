// Hostile and broken input: after every case nothing may exist outside the destination that
// was not there before, and no partial or temporary file may be left inside it.
#include <gtest/gtest.h>
#include <sys/mount.h>

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

TEST_F(Hostile, TheWholeArchiveIsRefusedBeforeAnythingIsWritten) {
  std::vector<std::tuple<std::string, std::string, int32_t>> cases;  // label, archive, code
  for (const std::string& bad : std::vector<std::string>{
           "../evil.txt", "..\\evil.txt", "a/../../evil.txt", "ok/../../../x.txt",
           "/tmp/tavrun-zip-evil.txt", "\\evil.txt", "C:\\evil.txt", "c:evil.txt", "a/\x01.txt",
           "..", "./../evil.txt", work_ / "outside/abs.txt"})
    cases.emplace_back(bad, Archive({{"good.txt", "good"}, {bad, "evil"}}),
                       TAVRUN_ZIP_E_UNSAFE_PATH);
  // Names that differ only in spelling map to one path.
  for (const auto& [a, b] : {std::pair<const char*, const char*>{"a/b.txt", "a\\b.txt"},
                             {"x.txt", "./x.txt"},
                             {"d//e.txt", "d/e.txt"}})
    cases.emplace_back(b, Archive({{a, "one"}, {b, "two"}}), TAVRUN_ZIP_E_UNSAFE_PATH);

  // The very same name twice (Python allows it) is not a consistent archive.
  const std::string dup = work_ / "dup.zip";
  ASSERT_EQ(Python("import sys, zipfile, warnings; warnings.simplefilter('ignore'); "
                   "z = zipfile.ZipFile(sys.argv[1], 'w'); z.writestr('same.txt', 'one'); "
                   "z.writestr('same.txt', 'two'); z.close()",
                   {dup}),
            0);
  cases.emplace_back("same name twice", dup, TAVRUN_ZIP_E_NOT_ARCHIVE);

  // Overlapping members: the second directory entry points at the first member. Once as
  // libzip writes, once with data descriptors (where our own structure check stands in).
  std::vector<std::string> overlap = {Archive({{"a.txt", TextData(5000, 1)}, {"b.txt", "b"}})};
  if (HaveTool("bsdtar")) {
    WriteFile(work_ / "outside/b.txt", "b");
    ASSERT_EQ(Shell("cd " + Sh(work_ / "outside") +
                    " && bsdtar --format zip -cf ../dd.zip "
                    "target.txt b.txt && rm b.txt"),
              0);
    overlap.push_back(work_ / "dd.zip");
  }
  for (const std::string& a : overlap) {
    ASSERT_EQ(Check(a), 1) << a;  // sound before
    std::string zip = ReadFile(a);
    Patch32(zip, zip.find("PK\x01\x02", zip.find("PK\x01\x02") + 4) + 42, 0);
    cases.emplace_back("overlap " + a, File(zip), TAVRUN_ZIP_E_NOT_ARCHIVE);
  }

  const std::string zip = ReadFile(Archive({{"a.txt", TextData(20000, 1)}, {"b.txt", "b"}}));
  const std::pair<const char*, std::string> notWhole[] = {
      {"empty", ""},
      {"text", "This is not an archive.\n"},
      {"truncated", zip.substr(0, zip.size() / 2)},
      {"tail cut", zip.substr(0, zip.size() - 10)},
      {"data in front", std::string(1000, 'J') + zip},
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

TEST_F(Hostile, SymlinksAreNeverCreatedOrWrittenThrough) {
  std::string a = Archive({{"link", work_ / "outside", false, 3, 0120777},
                           {"link/target.txt", "written through the link"},
                           {"rel", "../outside/target.txt", false, 3, 0120777}});
  Result r = ExtractChecked(a);
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_UNSAFE_PATH) << r.output;
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(dest_ + "/link")));  // not the link
  EXPECT_FALSE(Exists(dest_ + "/rel"));

  // Links already in the destination, to a directory and to a file.
  ASSERT_EQ(symlink((work_ / "outside").c_str(), (dest_ + "/dir").c_str()), 0);
  ASSERT_EQ(symlink((work_ / "outside/target.txt").c_str(), (dest_ + "/file.txt").c_str()), 0);
  r = ExtractChecked(Archive({{"dir/target.txt", "through"}, {"file.txt", "through"}}));
  EXPECT_EQ(r.code, TAVRUN_ZIP_E_WRITE) << r.output;

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
