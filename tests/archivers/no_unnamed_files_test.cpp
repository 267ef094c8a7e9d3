// Where the file system has no unnamed files (run with a preloaded shim that refuses
// O_TMPFILE), every writer falls back to a short hidden temporary name: extraction, LZH and
// ZIP archive writes and ZIP's deflated pieces still work, a failure removes the temporary
// file, and a finished call leaves nothing but its result.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../lzh/test_util.h"
#include "../zip/zip_test_util.h"
#include "safe_output.h"

namespace {

namespace fs = std::filesystem;

class NoUnnamedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(dlsym(RTLD_DEFAULT, "tavrun_no_tmpfile_shim"), nullptr)
        << "run with LD_PRELOAD of the no-O_TMPFILE shim (ctest does)";
    std::string t = (fs::temp_directory_path() / "nounnamed.XXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string P(const std::string& name) const { return (root_ / name).string(); }
  fs::path root_;
};

TEST_F(NoUnnamedFiles, TemporaryFilesGetAShortHiddenName) {
  const int dir = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dir, 0);
  std::string name;
  const int fd = tavrun::arc::CreateTemporaryIn(dir, 0600, name);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(name.front(), '.');
  EXPECT_LE(name.size(), 24u);  // whatever the length of the name it stands in for
  EXPECT_EQ(ziptest::ListTree(root_.string()), std::set<std::string>{name});
  close(fd);
  close(dir);
}

TEST_F(NoUnnamedFiles, ArchivesAreWrittenUpdatedAndExtractedWithNothingLeftBeside) {
  fs::create_directories(root_ / "in");
  // Above the 4 MiB piece size, so ZIP deflates in pieces through its temporary file.
  ziptest::WriteFile(P("in/big.txt"), ziptest::TextData(9 << 20, 1));
  ziptest::WriteFile(P("in/small.txt"), "small");
  ASSERT_EQ(ziptest::ZipFiles("-u -j", P("a.zip"), {P("in/big.txt")}).code, 0);
  ASSERT_EQ(ziptest::ZipFiles("-u -j", P("a.zip"), {P("in/small.txt")}).code, 0);
  EXPECT_EQ(ziptest::Check(P("a.zip"), 2), 1);
  char out[1024];
  const std::string u = "U -n1 \"" + P("a.lzh") + "\" \"" + P("in/big.txt") + "\"";
  ASSERT_EQ(Unlha(0, u.c_str(), out, sizeof out), 0) << out;
  const std::string u2 = "U -n1 \"" + P("a.lzh") + "\" \"" + P("in/small.txt") + "\"";
  ASSERT_EQ(Unlha(0, u2.c_str(), out, sizeof out), 0) << out;
  EXPECT_EQ(ziptest::ListTree(root_.string()),
            (std::set<std::string>{"a.lzh", "a.zip", "in/", "in/big.txt", "in/small.txt"}));

  fs::create_directories(root_ / "z");
  fs::create_directories(root_ / "l");
  ASSERT_EQ(ziptest::UnZipTo("-x -qq --i", P("a.zip"), P("z")).code, 0);
  const std::string e = "E -n1 \"" + P("a.lzh") + "\" \"" + P("l") + "/\"";
  ASSERT_EQ(Unlha(0, e.c_str(), out, sizeof out), 0) << out;
  for (const char* dir : {"z", "l"}) {
    EXPECT_EQ(ziptest::ListTree(P(dir)), (std::set<std::string>{"big.txt", "small.txt"})) << dir;
    EXPECT_EQ(ziptest::ReadFile(P(std::string(dir) + "/big.txt")),
              ziptest::ReadFile(P("in/big.txt")))
        << dir;
  }
}

// A write that fails half-way (the file size limit) removes the named temporary file and
// leaves the old archive as it was.
TEST_F(NoUnnamedFiles, AFailedUpdateRemovesItsTemporaryFile) {
  fs::create_directories(root_ / "in");
  ziptest::WriteFile(P("in/first.txt"), "first");
  ziptest::WriteFile(P("in/big.bin"), ziptest::RandomData(3 << 20, 2));
  ASSERT_EQ(ziptest::ZipFiles("-u -j", P("a.zip"), {P("in/first.txt")}).code, 0);
  char out[1024];
  const std::string u = "U -n1 \"" + P("a.lzh") + "\" \"" + P("in/first.txt") + "\"";
  ASSERT_EQ(Unlha(0, u.c_str(), out, sizeof out), 0) << out;
  const std::string zipBefore = ziptest::ReadFile(P("a.zip"));
  const std::string lzhBefore = ziptest::ReadFile(P("a.lzh"));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit small{1 << 20, 1 << 20};
    setrlimit(RLIMIT_FSIZE, &small);
    const ziptest::Result z = ziptest::ZipFiles("-u -j -0", P("a.zip"), {P("in/big.bin")});
    const std::string u2 = "U -n1 -jm0 \"" + P("a.lzh") + "\" \"" + P("in/big.bin") + "\"";
    const int32_t l = Unlha(0, u2.c_str(), out, sizeof out);
    _exit(z.code == TAVRUN_ZIP_E_WRITE && l == UNLHA_ERROR_WRITE ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "both updates fail to write";
  EXPECT_EQ(ziptest::ReadFile(P("a.zip")), zipBefore);
  EXPECT_EQ(ziptest::ReadFile(P("a.lzh")), lzhBefore);
  EXPECT_EQ(ziptest::ListTree(root_.string()),
            (std::set<std::string>{"a.lzh", "a.zip", "in/", "in/big.bin", "in/first.txt"}));
}

// Where the new archive has a name before its commit, that name is still never renamed over
// an archive another writer created meanwhile, and it is removed.
TEST_F(NoUnnamedFiles, ANewArchiveNeverReplacesOneThatAppearedMeanwhile) {
  tavrun::arc::AtomicFile late;
  std::string error;
  ASSERT_TRUE(late.Open(P("new.lzh"), error, true)) << error;
  ASSERT_EQ(write(late.fd(), "late", 4), 4);
  ziptest::WriteFile(P("new.lzh"), "first");
  errno = 0;
  EXPECT_FALSE(late.Commit(0644, error));
  EXPECT_EQ(errno, EEXIST) << error;
  EXPECT_EQ(ziptest::ReadFile(P("new.lzh")), "first");
  EXPECT_EQ(ziptest::ListTree(root_.string()), std::set<std::string>{"new.lzh"});
}

}  // namespace
