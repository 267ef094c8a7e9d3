// Names and concurrent writers, the same rules in both formats through the public entry points:
// what compression stores, extraction writes back under the same name; a name it could not
// write back is refused when adding; two processes adding to one archive keep both members.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../lzh/test_util.h"
#include "../zip/zip_test_util.h"

namespace {

namespace fs = std::filesystem;

class NamesAndWriters : public lzhtest::ScratchTest {
 protected:
  // Adds `file` (its bare name) to `archive` in the format of the archive's extension; the
  // library's text goes to `output_`.
  int32_t Add(const fs::path& archive, const fs::path& file) {
    if (archive.extension() == ".zip") {
      const ziptest::Result r = ziptest::ZipFiles("-q -j", archive.string(), {file.string()});
      output_ = r.output;
      return r.code;
    }
    return Run("U -t1 \"" + archive.string() + "\" \"" + file.string() + "\"");
  }
  static int32_t ExtractTo(const fs::path& archive, const fs::path& dest) {
    fs::create_directories(dest);
    if (archive.extension() == ".zip")
      return ziptest::UnZipTo("-x -qq --i -o", archive.string(), dest.string()).code;
    char buf[1024];
    const std::string line = "E -x1 -y1 \"" + archive.string() + "\" \"" + dest.string() + "/\"";
    return Unlha(0, line.c_str(), buf, sizeof buf);
  }
  static std::set<std::string> Names(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
  }
  static size_t MemberCount(const fs::path& archive) {
    return archive.extension() == ".zip" ? ziptest::RawMembers(archive.string()).size()
                                         : lzhtest::Members(archive).size();
  }
};

TEST_F(NamesAndWriters, ControlCharactersInANameAreRefusedWhenAddingAsWhenExtracting) {
  fs::create_directories(Path("in"));
  for (const std::string name : {"tab\there.txt", "line\nbreak.txt", "cr\r.txt", "del\x7f.txt"}) {
    lzhtest::WriteFile(Path("in") / name, std::string("data"));
    for (const char* ext : {".lzh", ".zip"}) {
      SCOPED_TRACE(std::string(ext) + " " + name);
      const fs::path archive = Path(std::string("c") + ext);
      EXPECT_EQ(Add(archive, Path("in") / name),
                std::string(ext) == ".zip" ? TAVRUN_ZIP_E_SOURCE : UNLHA_ERROR_SOURCE);
      EXPECT_FALSE(fs::exists(archive));  // nothing written, no temporary file left
      EXPECT_EQ(Names(dir_), (std::set<std::string>{"in"}));
    }
  }
  // The other end of the rule: such members in archives from elsewhere stay refused.
  lzhtest::WriteFile(Path("h.lzh"),
                     lzhtest::ArchiveOf({lzhtest::Level2Member("tab\there.txt", "x", {})}));
  ziptest::CraftArchive(Path("h.zip").string(), {{"tab\there.txt", "x"}});
  EXPECT_EQ(ExtractTo(Path("h.lzh"), Path("out1")), UNLHA_ERROR_UNSAFE);
  EXPECT_EQ(ExtractTo(Path("h.zip"), Path("out2")), TAVRUN_ZIP_E_UNSAFE_PATH);
}

// Names from old media: the bytes are stored as they are, called CP932 only where they are
// CP932, and read back as the file they came from (CP932 as its characters).
TEST_F(NamesAndWriters, NamesThatAreNotUtf8AreStoredAndReadBackInBothFormats) {
  const struct {
    std::string name;       // as the file system holds it
    std::string extracted;  // what extraction writes
    uint32_t codePage;      // recorded in the LZH header (0: no record)
  } cases[] = {
      {"caf\xE9.txt", "caf\xE9.txt", 0},
      {"\x8A\xBF\x8E\x9A.txt", "漢字.txt", 932},  // CP932 from a Windows disk
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path in = Path("in" + std::to_string(++n));
    fs::create_directories(in);
    lzhtest::WriteFile(in / c.name, std::string("old media"));
    for (const char* ext : {".lzh", ".zip"}) {
      SCOPED_TRACE(std::string(ext) + " " + c.extracted);
      const fs::path archive = Path("o" + std::to_string(n) + ext),
                     out = Path("out" + std::to_string(n) + ext);
      ASSERT_EQ(Add(archive, in / c.name), 0) << output_;
      if (std::string(ext) == ".lzh") {
        const auto members = lzhtest::Members(archive);
        ASSERT_EQ(members.size(), 1u);
        EXPECT_EQ(members[0].nameRaw, c.name);
        EXPECT_EQ(members[0].codePage, c.codePage);
      } else {
        // Stored byte for byte, without the UTF-8 flag (bit 11 of the flags at offset 6).
        const std::string zip = ziptest::ReadFile(archive.string());
        EXPECT_EQ(ziptest::RawMembers(archive.string()).count(c.name), 1u);
        EXPECT_EQ(zip[7] & 0x08, 0);
      }
      // Added again: the member is found and replaced, not stored a second time.
      lzhtest::SetMtime(in / c.name, 2000000000);
      ASSERT_EQ(Add(archive, in / c.name), 0) << output_;
      EXPECT_EQ(MemberCount(archive), 1u);
      ASSERT_EQ(ExtractTo(archive, out), 0);
      EXPECT_EQ(Names(out), std::set<std::string>{c.extracted});
    }
  }
}

// Each child adds its own file to the same archive at the same moment, as two batches writing
// one target directory do; half the rounds start without the archive (both create it), half
// with one (both update it).
TEST_F(NamesAndWriters, TwoProcessesAddingToOneArchiveKeepBothMembers) {
  fs::create_directories(Path("d1"));
  fs::create_directories(Path("d2"));
  fs::create_directories(Path("w.lzh"));
  fs::create_directories(Path("w.zip"));
  lzhtest::WriteFile(Path("d1/data.txt"), lzhtest::Text(60000, 1));
  lzhtest::WriteFile(Path("d2/data.csv"), lzhtest::Text(60000, 2));
  lzhtest::WriteFile(Path("base.txt"), std::string("base"));
  for (const char* ext : {".lzh", ".zip"}) {
    const fs::path archive = Path(std::string("w") + ext) / (std::string("data") + ext);
    for (int round = 0; round < 16; ++round) {
      SCOPED_TRACE(std::string(ext) + " round " + std::to_string(round));
      fs::remove(archive);
      const bool existing = round % 2 == 1;
      if (existing) {
        ASSERT_EQ(Add(archive, Path("base.txt")), 0);
      }
      int go[2];
      ASSERT_EQ(pipe(go), 0);
      pid_t children[2];
      for (int k = 0; k < 2; ++k) {
        children[k] = fork();
        ASSERT_GE(children[k], 0);
        if (children[k] == 0) {
          close(go[1]);
          char c;
          (void)!read(go[0], &c, 1);  // both start when the pipe closes
          _exit(Add(archive, k == 0 ? Path("d1/data.txt") : Path("d2/data.csv")));
        }
      }
      close(go[0]);
      close(go[1]);
      for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      }
      const fs::path out = Path("out") / std::to_string(round) / ext;
      ASSERT_EQ(ExtractTo(archive, out), 0);
      std::set<std::string> expected = {"data.txt", "data.csv"};
      if (existing) expected.insert("base.txt");
      EXPECT_EQ(Names(out), expected);
      EXPECT_EQ(Names(archive.parent_path()), std::set<std::string>{archive.filename().string()});
    }
  }
}

}  // namespace
