// Whole batches through the real archiver libraries of this build: a directory of awkward
// files compressed to LZH and to ZIP, extracted back with and without a directory per
// archive, contents and dates compared. Skipped when the libraries have not been built.
#include <utime.h>

#include <algorithm>

#include "engine/run_command.h"
#include "engine_fixture.h"

namespace tavrun::test {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::pair<std::string, time_t>>;  // content, mtime

Tree ReadTree(const std::string& root) {
  Tree tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    struct stat info {};
    if (item.is_regular_file() && stat(item.path().c_str(), &info) == 0) {
      tree[fs::relative(item.path(), root).string()] = {ReadFile(item.path()), info.st_mtime};
    }
  }
  return tree;
}

class EndToEndTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    UseRealLibraries();
    if (IsSkipped()) return;
    window_.handle = 0;  // nobody to ask
    std::string binary;
    for (int i = 0; i < 200000; ++i) binary += static_cast<char>((i * 7919 + i / 13) & 0xff);
    const time_t stamp = 1700000000;  // even: ZIP keeps dates in two-second steps
    source_ = {
        {"report.txt", {"first line\nsecond line\n", stamp}},
        {"blob.bin", {binary, stamp - 86400 * 30}},
        {"empty.dat", {"", stamp}},
        {"日本語のファイル名.txt", {"中身も日本語です。\r\n", stamp}},
        {"with  blanks .txt", {"blanks", stamp}},
        {"say \"hi\".txt", {"quoted", stamp}},
        {"data.txt", {"same base, text", stamp}},
        {"data.csv", {"same,base\n", stamp}},
        {"noext", {"no extension", stamp}},
    };
    for (const auto& [name, entry] : source_) {
      WriteFile(in_ + name, entry.first);
      const utimbuf times{entry.second, entry.second};
      utime((in_ + name).c_str(), &times);
    }
    WriteFile(in_ + ".profile", "hidden: never listed, so never in an archive");
  }

  bool Run(const std::string& operation, const std::string& format, const std::string& from,
           const std::string& to) {
    Setting(ArchiveType) = operation;
    Setting(CompressType) = Setting(ExtractType) = format;
    Setting(FromDirectory) = from;
    Setting(ToDirectory) = to;
    mkdir(to.c_str(), 0755);
    message_.clear();
    return RunBatch(window_, message_);
  }

  // Same-named files share one archive; a wrong archive name shows in the nested tree.
  void RoundTrip(const std::string& format) {
    const std::string archives = root_ + "/archives";
    ASSERT_TRUE(Run("0", format, in_, archives)) << message_;
    ASSERT_TRUE(Run("1", format, archives, root_ + "/flat")) << message_;
    EXPECT_EQ(ReadTree(root_ + "/flat"), source_);

    Setting(MakeDirectory) = "1";
    ASSERT_TRUE(Run("1", format, archives, root_ + "/nested")) << message_;
    Tree nested;
    for (const auto& [name, entry] : source_) {
      nested[name.substr(0, name.rfind('.')) + "/" + name] = entry;
    }
    EXPECT_EQ(ReadTree(root_ + "/nested"), nested);
    for (const auto& line : LogLines()) EXPECT_EQ(line.rfind(" [INFO] ", 0), 0u) << line;
  }

  Tree source_;
  std::string message_;
};

TEST_F(EndToEndTest, LzhRoundTripKeepsContentsNamesAndDates) {
  RoundTrip("0");
}

TEST_F(EndToEndTest, ZipRoundTripKeepsContentsNamesAndDates) {
  RoundTrip("1");
}

TEST_F(EndToEndTest, MixedDirectoryWarnsForEveryFileOfAnotherKind) {
  ASSERT_TRUE(Run("0", "0", in_, root_ + "/lzh")) << message_;
  ASSERT_TRUE(Run("0", "1", in_, root_ + "/zip")) << message_;
  const std::string mixed = root_ + "/mixed/";
  mkdir(mixed.c_str(), 0755);
  fs::copy_file(root_ + "/lzh/report.lzh", mixed + "report.lzh");
  fs::copy_file(root_ + "/zip/blob.zip", mixed + "blob.zip");
  WriteFile(mixed + "notes.txt", "not an archive");
  WriteFile(mixed + "fake.zip", "PK but not really");
  ClearLog();
  // A file named like a ZIP that is none is a failure; files of other kinds are skipped.
  EXPECT_FALSE(Run("1", "1", mixed, root_ + "/extracted"));
  EXPECT_EQ(message_, "3");
  EXPECT_EQ(ReadTree(root_ + "/extracted"), (Tree{{"blob.bin", source_.at("blob.bin")}}));
  Lines log = LogLines();
  std::sort(log.begin(), log.end());
  const std::string warning = " [WARN] ZIP書庫ではありません。[UNZIP32:" + mixed;
  EXPECT_EQ(log,
            (Lines{" [ERR] 3[UNZIP32:" + mixed + "fake.zip]",
                   " [ERR] 書庫が壊れているか、途中で切れています。[UNZIP32:" + mixed + "fake.zip]",
                   " [INFO] ZIP解凍しました。[UNZIP32:" + mixed + "blob.zip]",
                   warning + "notes.txt]", warning + "report.lzh]"}));
}

// A user's file at the destination survives extraction unless overwriting was chosen.
TEST_F(EndToEndTest, ExistingFileIsKeptUnlessOverwriteIsSet) {
  ASSERT_TRUE(Run("0", "1", in_, root_ + "/archives")) << message_;
  mkdir((root_ + "/target").c_str(), 0755);
  WriteFile(root_ + "/target/report.txt", "mine, keep it");
  EXPECT_FALSE(Run("1", "1", root_ + "/archives", root_ + "/target"));
  EXPECT_EQ(ReadFile(root_ + "/target/report.txt"), "mine, keep it");
  Setting(UnzipOverwriteConfirm) = "2";
  EXPECT_TRUE(Run("1", "1", root_ + "/archives", root_ + "/target")) << message_;
  EXPECT_EQ(ReadFile(root_ + "/target/report.txt"), source_.at("report.txt").first);
}

}  // namespace
}  // namespace tavrun::test
