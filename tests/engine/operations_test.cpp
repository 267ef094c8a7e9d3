// The archiver wrappers and the four archive operations over the stand-in archivers: command
// lines, progress, log lines, results and failure details.
#include "engine/operations.h"

#include <dlfcn.h>

#include "engine/archivers.h"
#include "engine_fixture.h"

namespace tavrun::test {
namespace {

constexpr auto npos = std::string::npos;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  if (size_t at = text.find(from); at != npos) text.replace(at, from.size(), to);
  return text;
}

class OperationTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    // Progress goes into the call record, so its order against the calls shows.
    window_.onStatus = [this] {
      std::ofstream(callLog_, std::ios::app) << "-- " << window_.status << "\n";
    };
  }
  std::string message_;
};

TEST_F(OperationTest, SwitchPrefixesFollowTheSettingsInTheirOrder) {
  struct Case {
    std::string (*build)();
    std::map<SettingIndex, std::string> settings;
    std::string expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {CompressLzhSwitches, {{LzhCompressRate, "1"}, {LzhCheckTimestamp, "1.0"}}, "U "},
      {CompressLzhSwitches, {{LzhCheckTimestamp, "1"}, {LzhControlDialog, "1"},
          {LzhArchiveTime, "1"}, {LzhOverwriteConfirm, "1"}, {LzhCompressRate, "0"}},
          "U -c1 -n1 -y1 -t1 -jm0 "},
      {ExtractLzhSwitches, {{LzhArchiveTime, "1"}, {LzhCompressRate, "4"},
          {LzhReadonlyConfirm, "1"}}, "E -x1 "},
      {ExtractLzhSwitches, {{LzhCheckTimestamp, "1"}, {LzhControlDialog, "1"},
          {LzhOverwriteConfirm, "1"}, {LzhReadonlyConfirm, "2"}}, "E -x1 -c1 -n1 -y1 -ga2 "},
      {CompressZipSwitches, {{ZipCompressRate, "6"}}, "-u -S -v -j "},
      {CompressZipSwitches, {{ZipControlDialog, "1"}, {ZipArchiveTime, "1"},
          {ZipCompressRate, "0"}}, "-u -S -v -j -q -o -0 "},
      {ExtractZipSwitches, {{ZipControlDialog, "1"}, {UnzipOverwriteConfirm, "3"}}, "-x -qq "},
      {ExtractZipSwitches, {{UnzipControlDialog, "1"}, {UnzipOverwriteConfirm, "2"}},
          "-x -qq --i -o "},
      {ExtractZipSwitches, {{UnzipOverwriteConfirm, "1"}}, "-x -qq -n "},
  };
  // clang-format on
  for (const auto& c : cases) {
    for (int i = LzhCheckTimestamp; i < SettingCount; ++i) {
      Setting(static_cast<SettingIndex>(i)) = SettingDefault(static_cast<SettingIndex>(i));
    }
    for (const auto& [index, value] : c.settings) Setting(index) = value;
    EXPECT_EQ(c.build(), c.expected);
  }
}

// Each file gets its progress, then its call and its log line; a failed one does not stop
// the loop, and the detail of the last failure is what is reported.
TEST_F(OperationTest, EveryFileIsCalledAndLoggedAndTheLastFailureIsReported) {
  using Operation = bool (*)(RunWindow&, const FileList&, int32_t, std::string&);
  struct Case {
    Operation run;
    FileList files;
    std::string logLevel;
    Lines calls, log;
    std::string message;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {CompressLzh, {"archive.tar.gz", "a \"b\" c.txt", "x_rc32.txt"}, "0",
       {"-- 1 / 3", R"(Unlha 4660/256 U -n1 "@o/archive.tar.lzh" "@i/archive.tar.gz")",
        "-- 2 / 3", R"(Unlha 4660/256 U -n1 "@o/a ""b"" c.lzh" "@i/a ""b"" c.txt")",
        "-- 3 / 3", R"(Unlha 4660/256 U -n1 "@o/x_rc32.lzh" "@i/x_rc32.txt")"},
       {" [INFO] LZH圧縮しました [UNLHA32:@i/archive.tar.gz]",
        R"( [INFO] LZH圧縮しました [UNLHA32:@i/a "b" c.txt])",
        " [ERR] 32 [UNLHA32:@i/x_rc32.txt]"}, "32"},
      {CompressZip, {"b_rc5.txt", "README", "data.csv"}, "0",
       {"-- 1 / 3", R"(Zip 4660/256 -u -S -v -j "@o/b_rc5.zip" "@i/b_rc5.txt")",
        "-- 2 / 3", R"(Zip 4660/256 -u -S -v -j "@o/README.zip" "@i/README")",
        "-- 3 / 3", R"(Zip 4660/256 -u -S -v -j "@o/data.zip" "@i/data.csv")"},
       {" [ERR] 5[ZIP32J:@i/b_rc5.txt]", " [INFO] ZIP圧縮しました。[ZIP32J:@i/README]",
        " [INFO] ZIP圧縮しました。[ZIP32J:@i/data.csv]"}, "5"},
      {ExtractLzh, {"photos.lzh", "notarc.txt", "e_rc2.lzh"}, "0",
       {"-- 1 / 3", "UnlhaCheckArchive 1 @i/photos.lzh",
        R"(Unlha 4660/256 E -x1 -n1 "@i/photos.lzh" "@o/")",
        "-- 2 / 3", "UnlhaCheckArchive 1 @i/notarc.txt",
        "-- 3 / 3", "UnlhaCheckArchive 1 @i/e_rc2.lzh",
        R"(Unlha 4660/256 E -x1 -n1 "@i/e_rc2.lzh" "@o/")"},
       {" [INFO] LZH解凍しました。[UNLHA32:@i/photos.lzh]",
        " [WARN] LZH書庫ではありません。[UNLHA32:@i/notarc.txt]",
        " [ERR] 2[UNLHA32:@i/e_rc2.lzh]"}, "2"},
      // Only exactly 1 from the archive test means an archive; the log keeps WARN and ERR.
      {ExtractZip, {"c_rc3.zip", "b_chk2.bin", "d.zip"}, "2",
       {"-- 1 / 3", "UnZipCheckArchive 1 @i/c_rc3.zip",
        R"(UnZip 4660/256 -x -qq "@i/c_rc3.zip" "@o/")",
        "-- 2 / 3", "UnZipCheckArchive 1 @i/b_chk2.bin",
        "-- 3 / 3", "UnZipCheckArchive 1 @i/d.zip", R"(UnZip 4660/256 -x -qq "@i/d.zip" "@o/")"},
       {" [ERR] 3[UNZIP32:@i/c_rc3.zip]",
        " [WARN] ZIP書庫ではありません。[UNZIP32:@i/b_chk2.bin]"}, "3"},
  };
  // clang-format on
  Setting(LzhControlDialog) = "1";
  for (const auto& c : cases) {
    std::remove(callLog_.c_str());
    ClearLog();
    Setting(LogLevel) = c.logLevel;
    message_.clear();
    EXPECT_FALSE(c.run(window_, c.files, 3, message_));
    EXPECT_EQ(message_, c.message);
    EXPECT_EQ(Calls(), Expand(c.calls));
    EXPECT_EQ(LogLines(), Expand(c.log));
  }
}

// An existing directory is used as it is; a plain file of that name is left alone and the
// archive skipped.
// A cancelled call (code 7) ends the batch: the files after it are neither tested nor called,
// one warning says how many are left, and the cancel's code is the detail.
TEST_F(OperationTest, ACancelStopsTheBatch) {
  using Operation = bool (*)(RunWindow&, const FileList&, int32_t, std::string&);
  struct Case {
    Operation run;
    const char* entry;
    const char* ext;
    int callsPerFile;
    std::string firstLog;
  };
  const Case cases[] = {
      {CompressLzh, "Unlha", ".txt", 1, " [INFO] LZH圧縮しました [UNLHA32:@i/a.txt]"},
      {CompressZip, "Zip", ".txt", 1, " [INFO] ZIP圧縮しました。[ZIP32J:@i/a.txt]"},
      {ExtractLzh, "Unlha", ".lzh", 2, " [INFO] LZH解凍しました。[UNLHA32:@i/a.lzh]"},
      {ExtractZip, "UnZip", ".zip", 2, " [INFO] ZIP解凍しました。[UNZIP32:@i/a.zip]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry + std::string(c.ext));
    std::remove(callLog_.c_str());
    ClearLog();
    message_.clear();
    const std::string ext = c.ext;
    const FileList files = {"a" + ext, "b_rc7" + ext, "c" + ext, "d" + ext};
    EXPECT_FALSE(c.run(window_, files, 4, message_));
    EXPECT_EQ(message_, "7");
    const Lines calls = Calls();
    EXPECT_EQ(calls.back().rfind(std::string(c.entry) + " ", 0), 0u) << calls.back();
    EXPECT_NE(calls.back().find("b_rc7"), npos) << "the cancelled call is the last one";
    EXPECT_EQ(window_.status, "2 / 4");
    EXPECT_EQ(calls.size(), 2u * c.callsPerFile + 2);  // with the two progress lines
    const std::string failureTag = c.run == CompressLzh   ? " [UNLHA32:"
                                   : c.run == CompressZip ? "[ZIP32J:"
                                   : c.run == ExtractLzh  ? "[UNLHA32:"
                                                          : "[UNZIP32:";
    EXPECT_EQ(LogLines(), Expand({c.firstLog, " [ERR] 7" + failureTag + "@i/b_rc7" + ext + "]",
                                  " [WARN] " + CancelledRunText(2)}));
  }
}

TEST_F(OperationTest, DirectoryPerArchiveIsMadeOnlyAsADirectory) {
  Setting(MakeDirectory) = "0.6";  // rounds to 1
  mkdir((out_ + "b").c_str(), 0755);
  WriteFile(out_ + "b/kept", "old");
  WriteFile(out_ + "plain", "a file");
  EXPECT_FALSE(ExtractZip(window_, {"a.zip", "b.zip", "plain.zip"}, 3, message_));
  EXPECT_EQ(message_, "");  // a failure of the run, but no library's detail
  EXPECT_EQ(Calls()[2], Expand({R"(UnZip 4660/256 -x -qq "@i/a.zip" "@o/a/")"})[0]);
  EXPECT_EQ(Calls()[5], Expand({R"(UnZip 4660/256 -x -qq "@i/b.zip" "@o/b/")"})[0]);
  EXPECT_EQ(Calls().size(), 8u);
  EXPECT_TRUE(std::filesystem::is_directory(out_ + "a"));
  EXPECT_EQ(ReadFile(out_ + "b/kept") + ReadFile(out_ + "plain"), "olda file");
  EXPECT_EQ(LogLines()[2],
            Expand({" [WARN] 解凍先ディレクトリがありません。[@i/plain.zip][@o/plain/]"})[0]);
}

TEST_F(OperationTest, UnloadableLibraryOrMissingEntryFailsWithThePlatformText) {
  SetSysDirForTesting(root_ + "/missing");
  ASSERT_EQ(dlopen((root_ + "/missing/libzip32j.so").c_str(), RTLD_NOW), nullptr);
  const std::string missing = dlerror();
  EXPECT_FALSE(CompressZip(window_, {"a.txt"}, 1, message_));
  EXPECT_EQ(message_, missing);
  // No archive test to be had: a failure with the loader's text, never "not an archive".
  EXPECT_FALSE(ExtractLzh(window_, {"a.lzh"}, 1, message_));
  EXPECT_EQ(message_, Replace(missing, "libzip32j.so", "libunlha32.so"));
  // Looked up again in the new directory, where the library has its test but no command.
  SetSysDirForTesting(TAVRUN_FAKE_PARTIAL_DIR);
  EXPECT_FALSE(ExtractLzh(window_, {"b.lzh"}, 1, message_));
  EXPECT_NE(message_.find("undefined symbol: Unlha"), npos) << message_;
  EXPECT_EQ(Calls(), Expand({"-- 1 / 1", "-- 1 / 1", "-- 1 / 1", "UnlhaCheckArchive 1 @i/b.lzh"}));
  EXPECT_EQ(LogLines(), Expand({" [ERR] " + missing + "[ZIP32J:@i/a.txt]",
                                " [ERR] " + Replace(missing, "libzip32j.so", "libunlha32.so") +
                                    "[UNLHA32:@i/a.lzh]",
                                " [ERR] " + message_ + "[UNLHA32:@i/b.lzh]"}));
}

TEST_F(OperationTest, BrokenSettingStopsTheLoopAndIsLoggedWithoutAFile) {
  Setting(MakeDirectory) = "yes";
  EXPECT_FALSE(ExtractZip(window_, {"a.zip", "b.zip"}, 2, message_));
  EXPECT_EQ(message_, "型が一致しません。");
  EXPECT_TRUE(Calls().empty() || Calls() == Lines{""}) << "read before the first file";
  EXPECT_EQ(LogLines(), (Lines{" [ERR] 型が一致しません。"}));
}

}  // namespace
}  // namespace tavrun::test
