// The same situation in the destination gets the same code from the LZH and the ZIP library,
// through their public entry points, and neither writes anything outside the destination.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../lzh/test_util.h"
#include "../zip/zip_test_util.h"
#include "codes.h"
#include "report.h"

namespace {

namespace fs = std::filesystem;
using tavrun::arc::Kind;

struct Event {
  const char* what;
  std::function<void(const fs::path& dest, const fs::path& outside)> prepare;
  std::string member;  // path inside the archive; a trailing '/' makes it a directory
  const char* lzhSwitches;
  const char* zipSwitches;
  Kind kind;
  // What the destination holds afterwards.
  std::function<void(const fs::path& dest)> check;
};

class SameEvent : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string t = (fs::temp_directory_path() / "sameevent.XXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
  }
  void TearDown() override {
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(root_, ec))
      fs::permissions(e.path(), fs::perms::owner_all,
                      fs::perm_options::add | fs::perm_options::nofollow, ec);
    fs::remove_all(root_, ec);
  }

  // A fresh destination and outside directory, prepared for the event.
  void Reset(const Event& e) {
    fs::remove_all(root_ / "dest");
    fs::remove_all(root_ / "outside");
    fs::create_directories(root_ / "dest");
    fs::create_directories(root_ / "outside");
    std::ofstream(root_ / "outside/victim.txt") << "untouched";
    e.prepare(root_ / "dest", root_ / "outside");
  }

  int32_t ExtractLzh(const Event& e, std::string& output) {
    Reset(e);
    std::vector<std::string> dirs;
    std::string name = e.member;
    for (size_t slash; (slash = name.find('/')) != std::string::npos;) {
      dirs.push_back(name.substr(0, slash));
      name.erase(0, slash + 1);
    }
    const lzhtest::Bytes member = name.empty()
                                      ? lzhtest::Level2Member("", "", dirs, 932, 040755, "-lhd-")
                                      : lzhtest::Level2Member(name, "from the archive", dirs);
    lzhtest::WriteFile(root_ / "a.lzh", lzhtest::ArchiveOf({member}));
    const std::string line = std::string("E -x1 -n1 ") + e.lzhSwitches + " \"" +
                             (root_ / "a.lzh").string() + "\" \"" + (root_ / "dest").string() +
                             "/\"";
    char buf[1024];
    const int32_t rc = Unlha(0, line.c_str(), buf, sizeof buf);
    output = buf;
    return rc;
  }

  int32_t ExtractZip(const Event& e, std::string& output) {
    Reset(e);
    const bool directory = e.member.back() == '/';
    ziptest::CraftArchive((root_ / "b.zip").string(),
                          {{.rawName = e.member,
                            .data = directory ? "" : "from the archive",
                            .unixMode = directory ? 040755u : 0100644u}});
    const ziptest::Result r = ziptest::RunUnZip(std::string("-x -qq --i ") + e.zipSwitches + " " +
                                                ziptest::Quote((root_ / "b.zip").string()) + " " +
                                                ziptest::Quote((root_ / "dest").string() + "/"));
    output = r.output;
    return r.code;
  }

  void ExpectOutsideUntouched(const std::string& library) {
    EXPECT_EQ(lzhtest::ReadText(root_ / "outside/victim.txt"), "untouched") << library;
    size_t n = 0;
    for (auto it = fs::directory_iterator(root_ / "outside"); it != fs::directory_iterator(); ++it)
      ++n;
    EXPECT_EQ(n, 1u) << library;
  }

  fs::path root_;
};

std::string Read(const fs::path& p) {
  return lzhtest::ReadText(p);
}

TEST_F(SameEvent, HostileOrConflictingDestinationsGetOneCodeInBothFormats) {
  auto write = [](const fs::path& p, const char* text) { std::ofstream(p) << text; };
  auto readOnly = [&](const fs::path& d, const fs::path&) {
    write(d / "victim.txt", "old");
    fs::permissions(d / "victim.txt", fs::perms::owner_read);
  };
  auto stillOld = [](const fs::path& d) { EXPECT_EQ(Read(d / "victim.txt"), "old"); };
  const Event events[] = {
      {"a symlinked directory on the way",
       [](const fs::path& d, const fs::path& o) { fs::create_directory_symlink(o, d / "sub"); },
       "sub/victim.txt", "-y1 -c1", "-o", Kind::Unsafe,
       [](const fs::path& d) { EXPECT_TRUE(fs::is_symlink(d / "sub")); }},
      {"a symlinked directory where a stored directory goes",
       [](const fs::path& d, const fs::path& o) { fs::create_directory_symlink(o, d / "sub"); },
       "sub/", "-y1 -c1", "-o", Kind::Unsafe,
       [](const fs::path& d) { EXPECT_TRUE(fs::is_symlink(d / "sub")); }},
      {"a regular file on the way",
       [&](const fs::path& d, const fs::path&) { write(d / "sub", "file"); }, "sub/victim.txt",
       "-y1 -c1", "-o", Kind::Unsafe,
       [](const fs::path& d) { EXPECT_EQ(Read(d / "sub"), "file"); }},
      {"a symbolic link where the file goes",
       [](const fs::path& d, const fs::path& o) {
         fs::create_symlink(o / "victim.txt", d / "victim.txt");
       },
       "victim.txt", "-y1 -c1", "-o", Kind::Unsafe,
       [](const fs::path& d) { EXPECT_TRUE(fs::is_symlink(d / "victim.txt")); }},
      {"a directory where the file goes",
       [](const fs::path& d, const fs::path&) { fs::create_directory(d / "victim.txt"); },
       "victim.txt", "-y1 -c1", "-o", Kind::Write,
       [](const fs::path& d) { EXPECT_TRUE(fs::is_empty(d / "victim.txt")); }},
      {"a read-only file and nobody to ask", readOnly, "victim.txt", "-c1", "", Kind::Kept,
       stillOld},
      {"a read-only file kept by a switch", readOnly, "victim.txt", "-y1 -c1 -ga2", "-n",
       Kind::None, stillOld},
      {"a file replacing is allowed for", readOnly, "victim.txt", "-y1 -c1", "-o", Kind::None,
       [](const fs::path& d) { EXPECT_EQ(Read(d / "victim.txt"), "from the archive"); }},
  };
  for (const Event& e : events) {
    SCOPED_TRACE(e.what);
    std::string lzhOutput, zipOutput;
    const int32_t lzh = ExtractLzh(e, lzhOutput);
    EXPECT_EQ(lzh, tavrun::lzh::kCodes.Code(e.kind)) << lzhOutput;
    e.check(root_ / "dest");
    ExpectOutsideUntouched("LZH");
    const int32_t zip = ExtractZip(e, zipOutput);
    EXPECT_EQ(zip, tavrun::zip::kCodes.Code(e.kind)) << zipOutput;
    e.check(root_ / "dest");
    ExpectOutsideUntouched("ZIP");
    EXPECT_EQ(lzh, zip) << lzhOutput << " | " << zipOutput;
    // A refusal for safety says what was in the way, in both.
    if (e.kind == Kind::Unsafe) {
      EXPECT_NE(lzhOutput.find("symbolic link"), std::string::npos) << lzhOutput;
      EXPECT_NE(zipOutput.find("symbolic link"), std::string::npos) << zipOutput;
    }
  }
}

}  // namespace
