// Whole batches through the real archiver libraries of this build: compress a directory of
// awkward files to LZH and to ZIP, extract it back with and without a directory per archive,
// and compare contents and dates. Skipped when the libraries have not been built.
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "engine/run_command.h"
#include "engine_fixture.h"

namespace tavrun::test {
namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

struct Entry {
  std::string content;
  int64_t mtime = 0;
  bool operator==(const Entry&) const = default;
};
using Tree = std::map<std::string, Entry>;

Tree ReadTree(const std::string& root) {
  Tree tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    struct stat info {};
    stat(item.path().c_str(), &info);
    tree[fs::relative(item.path(), root).string()] = {ReadFile(item.path().string()),
                                                      static_cast<int64_t>(info.st_mtime)};
  }
  return tree;
}

// An even second, so that the two-second dates of ZIP keep it exactly.
constexpr time_t kStamp = 1700000000;

void WriteDated(const std::string& path, const std::string& content, time_t stamp = kStamp) {
  WriteFile(path, content);
  struct utimbuf times {stamp, stamp};
  utime(path.c_str(), &times);
}

class EndToEndTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    for (const char* library : {"libunlha32.so", "libzip32j.so", "libzip32.so", "libunzip32.so"}) {
      const std::string path = std::string(TAVRUN_REAL_COMPONENT_DIR) + "/" + library;
      if (!fs::exists(path)) GTEST_SKIP() << "archiver library not built: " << path;
    }
    UseComponentDirectory(TAVRUN_REAL_COMPONENT_DIR);
    window_.handle = 0;  // nobody to ask, no progress dialog
    Setting(LzhControlDialog) = "1";
    Setting(ZipControlDialog) = "1";
    Setting(UnzipControlDialog) = "1";

    std::string binary;
    for (int i = 0; i < 200000; ++i) binary += static_cast<char>((i * 7919 + i / 13) & 0xff);
    source_ = {
        {"report.txt", {"first line\nsecond line\n", kStamp}},
        {"blob.bin", {binary, kStamp - 86400 * 30}},
        {"empty.dat", {"", kStamp}},
        {"日本語のファイル名.txt", {"中身も日本語です。\r\n", kStamp}},
        {"with  blanks .txt", {"blanks", kStamp}},
        {"say \"hi\".txt", {"quoted", kStamp}},
        {"data.txt", {"same base, text", kStamp}},
        {"data.csv", {"same,base\n", kStamp}},
        {"noext", {"no extension", kStamp}},
    };
    for (const auto& [name, entry] : source_) WriteDated(in_ + name, entry.content, entry.mtime);
    WriteDated(in_ + ".profile", "hidden, never listed");
    mkdir((in_ + "sub").c_str(), 0755);
    WriteDated(in_ + "sub/inner.txt", "never entered");
  }

  bool Run(const std::string& operation, const std::string& format, const std::string& from,
           const std::string& to) {
    Setting(ArchiveType) = operation;
    Setting(CompressType) = format;
    Setting(ExtractType) = format;
    Setting(FromDirectory) = from;
    Setting(ToDirectory) = to;
    message_.clear();
    return RunBatch(window_, message_);
  }

  std::string Dir(const std::string& name) {
    const std::string path = root_ + "/" + name;
    mkdir(path.c_str(), 0755);
    return path;
  }

  void RoundTrip(const std::string& format, const std::string& extension) {
    const std::string archives = Dir("archives");
    ASSERT_TRUE(Run("0", format, in_, archives)) << message_;
    Lines names;
    for (const auto& item : fs::directory_iterator(archives)) {
      names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    Lines expected;
    for (const char* base : {"blob", "data", "empty", "noext", "report", "say \"hi\"",
                             "with  blanks ", "日本語のファイル名"}) {
      expected.push_back(base + extension);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);

    // Into the target itself: the source tree comes back as it was.
    const std::string flat = Dir("flat");
    ASSERT_TRUE(Run("1", format, archives, flat)) << message_;
    EXPECT_EQ(ReadTree(flat), source_);

    // A directory per archive; data.txt and data.csv share one.
    Setting(MakeDirectory) = "1";
    const std::string nested = Dir("nested");
    ASSERT_TRUE(Run("1", format, archives, nested)) << message_;
    Tree expectedNested;
    for (const auto& [name, entry] : source_) {
      std::string ignored;
      const auto dot = name.rfind('.');
      expectedNested[(dot == std::string::npos ? name : name.substr(0, dot)) + "/" + name] = entry;
    }
    EXPECT_EQ(ReadTree(nested), expectedNested);

    for (const auto& line : LogLines()) {
      EXPECT_EQ(line.find("[ERR]"), std::string::npos) << line;
      EXPECT_EQ(line.find("[WARN]"), std::string::npos) << line;
    }
  }

  Tree source_;
  std::string message_;
};

TEST_F(EndToEndTest, LzhRoundTripKeepsContentsNamesAndDates) { RoundTrip("0", ".lzh"); }

TEST_F(EndToEndTest, ZipRoundTripKeepsContentsNamesAndDates) { RoundTrip("1", ".zip"); }

TEST_F(EndToEndTest, MixedDirectoryWarnsForEveryFileOfAnotherKind) {
  const std::string lzh = Dir("lzh");
  const std::string zip = Dir("zip");
  ASSERT_TRUE(Run("0", "0", in_, lzh)) << message_;
  ASSERT_TRUE(Run("0", "1", in_, zip)) << message_;
  const std::string mixed = Dir("mixed");
  fs::copy_file(lzh + "/report.lzh", mixed + "/report.lzh");
  fs::copy_file(zip + "/blob.zip", mixed + "/blob.zip");
  WriteFile(mixed + "/notes.txt", "not an archive");
  WriteFile(mixed + "/fake.zip", "PK but not really");
  std::remove(App().LogFilePath.c_str());

  const std::string fromLzh = Dir("from-lzh");
  ASSERT_TRUE(Run("1", "0", mixed, fromLzh)) << message_;
  EXPECT_EQ(ReadTree(fromLzh), (Tree{{"report.txt", source_.at("report.txt")}}));
  Lines warnings;
  for (const auto& line : LogLines()) {
    if (line.rfind(" [WARN] ", 0) == 0) warnings.push_back(line);
  }
  std::sort(warnings.begin(), warnings.end());
  const std::string from = mixed + "/";
  EXPECT_EQ(warnings, (Lines{
      " [WARN] LZH書庫ではありません。[UNLHA32:" + from + "blob.zip]",
      " [WARN] LZH書庫ではありません。[UNLHA32:" + from + "fake.zip]",
      " [WARN] LZH書庫ではありません。[UNLHA32:" + from + "notes.txt]",
  }));

  std::remove(App().LogFilePath.c_str());
  const std::string fromZip = Dir("from-zip");
  ASSERT_TRUE(Run("1", "1", mixed, fromZip)) << message_;
  EXPECT_EQ(ReadTree(fromZip), (Tree{{"blob.bin", source_.at("blob.bin")}}));
  EXPECT_EQ(LogLines().size(), 4u);
}

TEST_F(EndToEndTest, ExistingFilesAreKeptWithoutAWindowToAsk) {
  const std::string archives = Dir("archives");
  ASSERT_TRUE(Run("0", "1", in_, archives)) << message_;
  const std::string target = Dir("target");
  WriteDated(target + "/report.txt", "mine, keep it", kStamp + 3600);
  // No overwrite switch and nobody to ask: the existing file stands, and the run says so.
  EXPECT_FALSE(Run("1", "1", archives, target));
  EXPECT_EQ(ReadFile(target + "/report.txt"), "mine, keep it");
  EXPECT_FALSE(message_.empty());
  // With "-o" it is replaced.
  Setting(UnzipOverwriteConfirm) = "2";
  EXPECT_TRUE(Run("1", "1", archives, target)) << message_;
  EXPECT_EQ(ReadFile(target + "/report.txt"), source_.at("report.txt").content);
}

}  // namespace
}  // namespace tavrun::test
