// The four archive operations over the stand-in archivers: switch prefixes, command lines,
// progress, log lines, results and failure details.
#include "engine/operations.h"

#include "engine_fixture.h"

namespace tavrun::test {
namespace {

class OperationTest : public EngineTest {
 protected:
  // The command lines the archivers were given, without entry names and archive checks.
  Lines CommandLines() const {
    Lines lines;
    for (const auto& call : Calls()) {
      if (call.find("CheckArchive") == std::string::npos) {
        lines.push_back(call.substr(call.rfind("|size=256|") + 10));
      }
    }
    return lines;
  }
  std::string message_;
};

struct SwitchCase {
  std::map<SettingIndex, std::string> settings;
  std::string expected;
};

void ExpectSwitches(std::string (*build)(), const std::vector<SwitchCase>& cases) {
  for (const auto& c : cases) {
    for (int i = LzhCheckTimestamp; i < SettingCount; ++i) {
      Setting(static_cast<SettingIndex>(i)) = SettingDefault(static_cast<SettingIndex>(i));
    }
    for (const auto& [index, value] : c.settings) Setting(index) = value;
    EXPECT_EQ(build(), c.expected);
  }
}

TEST_F(OperationTest, SwitchPrefixesFollowTheSettingsInTheirOrder) {
  ExpectSwitches(CompressLzhSwitches,
                 {
                     {{}, "U "},
                     {{{LzhCompressRate, "1"}}, "U "},
                     {{{LzhCompressRate, "0"}}, "U -jm0 "},
                     {{{LzhCompressRate, "3"}, {LzhCheckTimestamp, "1.0"}}, "U -jm3 "},
                     {{{LzhCheckTimestamp, "1"},
                       {LzhControlDialog, "1"},
                       {LzhArchiveTime, "1"},
                       {LzhOverwriteConfirm, "1"},
                       {LzhCompressRate, "4"}},
                      "U -c1 -n1 -y1 -t1 -jm4 "},
                 });
  ExpectSwitches(
      ExtractLzhSwitches,
      {
          {{{LzhArchiveTime, "1"}, {LzhCompressRate, "4"}, {LzhReadonlyConfirm, "1"}}, "E -x1 "},
          {{{LzhOverwriteConfirm, "1"}, {LzhReadonlyConfirm, "2"}}, "E -x1 -y1 -ga2 "},
          {{{LzhCheckTimestamp, "1"}, {LzhControlDialog, "1"}}, "E -x1 -c1 -n1 "},
      });
  std::vector<SwitchCase> zip = {
      {{{ZipCompressRate, "6"}}, "-u -S -v -j "},
      {{{ZipCompressRate, "1.0"}}, "-u -S -v -j "},
      {{{ZipCompressRate, "10"}}, "-u -S -v -j "},
      {{{ZipControlDialog, "1"}, {ZipArchiveTime, "1"}, {ZipCompressRate, "9"}},
       "-u -S -v -j -q -o -9 "},
  };
  for (const std::string level : {"0", "1", "2", "3", "4", "5", "7", "8"}) {
    zip.push_back({{{ZipCompressRate, level}}, "-u -S -v -j -" + level + " "});
  }
  ExpectSwitches(CompressZipSwitches, zip);
  ExpectSwitches(
      ExtractZipSwitches,
      {
          {{{ZipControlDialog, "1"}, {ZipArchiveTime, "1"}, {UnzipOverwriteConfirm, "3"}},
           "-x -qq "},
          {{{UnzipControlDialog, "1"}, {UnzipOverwriteConfirm, "2"}}, "-x -qq --i -o "},
          {{{UnzipOverwriteConfirm, "1"}}, "-x -qq -n "},
      });
}

TEST_F(OperationTest, CompressionNamesEachArchiveAfterItsFile) {
  Setting(LzhControlDialog) = "1";
  const FileList files = {"report.txt", "archive.tar.gz", "README", "a \"b\" c.txt"};
  std::vector<size_t> callsAtYield;
  window_.onYield = [&] { callsAtYield.push_back(Calls().size()); };
  ASSERT_TRUE(CompressLzh(window_, files, 4, message_));
  // Quotes inside a name are doubled on the command line, and only there.
  EXPECT_EQ(CommandLines(),
            (Lines{
                "U -n1 \"" + out_ + "report.lzh\" \"" + in_ + "report.txt\"",
                "U -n1 \"" + out_ + "archive.tar.lzh\" \"" + in_ + "archive.tar.gz\"",
                "U -n1 \"" + out_ + "README.lzh\" \"" + in_ + "README\"",
                "U -n1 \"" + out_ + "a \"\"b\"\" c.lzh\" \"" + in_ + "a \"\"b\"\" c.txt\"",
            }));
  EXPECT_EQ(LogLines(), (Lines{
                            " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "report.txt]",
                            " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "archive.tar.gz]",
                            " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "README]",
                            " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "a \"b\" c.txt]",
                        }));
  EXPECT_EQ(window_.events, (Lines{"status:1 / 4", "yield", "status:2 / 4", "yield", "status:3 / 4",
                                   "yield", "status:4 / 4", "yield"}));
  EXPECT_EQ(callsAtYield, (std::vector<size_t>{0, 1, 2, 3}));

  ClearLog();
  ASSERT_TRUE(CompressZip(window_, {"data.txt", "data.csv"}, 2, message_));
  EXPECT_EQ(Calls()[5], "Zip|window=4660|size=256|-u -S -v -j \"" + out_ + "data.zip\" \"" + in_ +
                            "data.csv\"");
  EXPECT_EQ(LogLines()[1], " [INFO] ZIP圧縮しました。[ZIP32J:" + in_ + "data.csv]");
}

TEST_F(OperationTest, FailedFilesAreLoggedTheLoopGoesOnTheLastCodeStays) {
  EXPECT_FALSE(CompressLzh(window_, {"a_rc5.txt", "b.txt", "c_rc32.txt"}, 3, message_));
  EXPECT_EQ(message_, "32");
  EXPECT_EQ(window_.StatusTexts(), (Lines{"1 / 3", "2 / 3", "3 / 3"}));
  EXPECT_EQ(LogLines(), (Lines{
                            " [ERR] 5 [UNLHA32:" + in_ + "a_rc5.txt]",
                            " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "b.txt]",
                            " [ERR] 32 [UNLHA32:" + in_ + "c_rc32.txt]",
                        }));
  ClearLog();
  EXPECT_FALSE(CompressZip(window_, {"a.txt", "b_rc7.txt"}, 2, message_));
  EXPECT_FALSE(ExtractZip(window_, {"c_rc3.zip", "d.zip"}, 2, message_));
  EXPECT_EQ(message_, "3");
  EXPECT_FALSE(ExtractLzh(window_, {"e_rc2.lzh"}, 1, message_));
  EXPECT_EQ(LogLines(), (Lines{
                            " [INFO] ZIP圧縮しました。[ZIP32J:" + in_ + "a.txt]",
                            " [ERR] 7[ZIP32J:" + in_ + "b_rc7.txt]",
                            " [ERR] 3[UNZIP32:" + in_ + "c_rc3.zip]",
                            " [INFO] ZIP解凍しました。[UNZIP32:" + in_ + "d.zip]",
                            " [ERR] 2[UNLHA32:" + in_ + "e_rc2.lzh]",
                        }));
  // The threshold is applied to every line.
  ClearLog();
  Setting(LogLevel) = "3";
  EXPECT_FALSE(CompressLzh(window_, {"a.txt", "b_rc4.txt"}, 2, message_));
  EXPECT_EQ(LogLines(), (Lines{" [ERR] 4 [UNLHA32:" + in_ + "b_rc4.txt]"}));
}

TEST_F(OperationTest, EmptyListDoesNothing) {
  for (auto operation : {CompressLzh, ExtractLzh, CompressZip, ExtractZip}) {
    message_ = "before";
    EXPECT_TRUE(operation(window_, {}, 0, message_));
    EXPECT_EQ(message_, "before");
  }
  EXPECT_TRUE(window_.events.empty());
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(OperationTest, MissingLibraryFailsCompressionButOnlyWarnsInExtraction) {
  SetSysDirForTesting(root_ + "/missing");
  EXPECT_FALSE(CompressZip(window_, {"a.txt", "b.txt"}, 2, message_));
  EXPECT_NE(message_.find(root_ + "/missing/libzip32j.so"), std::string::npos) << message_;
  EXPECT_EQ(LogLines()[1], " [ERR] " + message_ + "[ZIP32J:" + in_ + "b.txt]");
  ClearLog();
  Setting(MakeDirectory) = "1";
  message_.clear();
  EXPECT_TRUE(ExtractLzh(window_, {"a.lzh"}, 1, message_));
  EXPECT_EQ(message_, "");
  EXPECT_EQ(LogLines(), (Lines{" [WARN] LZH書庫ではありません。[UNLHA32:" + in_ + "a.lzh]"}));
  EXPECT_FALSE(IsDir(out_ + "a"));
}

TEST_F(OperationTest, UnexpectedErrorStopsTheOperation) {
  EXPECT_FALSE(CompressLzh(window_, {"a.txt"}, 3, message_));  // count beyond the list
  EXPECT_EQ(message_, "インデックスが有効範囲にありません。");
  EXPECT_EQ(CommandLines().size(), 1u);
  EXPECT_EQ(LogLines().back(), " [ERR] インデックスが有効範囲にありません。");

  Setting(MakeDirectory) = "yes";
  EXPECT_FALSE(ExtractZip(window_, {"a.zip", "b.zip"}, 2, message_));
  EXPECT_EQ(message_, "型が一致しません。");
  EXPECT_EQ(Calls().back(), "UnZipCheckArchive|mode=1|" + in_ + "a.zip");
  EXPECT_EQ(LogLines().back(), " [ERR] 型が一致しません。");

  // A threshold that is no number: reported, and nothing can be logged.
  ClearLog();
  Setting(LogLevel) = "abc";
  EXPECT_FALSE(CompressZip(window_, {"a.txt"}, 1, message_));
  EXPECT_EQ(message_, "型が一致しません。");
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(OperationTest, ExtractionIntoTheTargetSkipsNonArchives) {
  ASSERT_TRUE(ExtractLzh(window_, {"photos.lzh", "notarc.txt", "b_chk2.lzh"}, 3, message_));
  EXPECT_EQ(Calls(),
            (Lines{
                "UnlhaCheckArchive|mode=1|" + in_ + "photos.lzh",
                "Unlha|window=4660|size=256|E -x1 \"" + in_ + "photos.lzh\" \"" + out_ + "\"",
                "UnlhaCheckArchive|mode=1|" + in_ + "notarc.txt",
                "UnlhaCheckArchive|mode=1|" + in_ + "b_chk2.lzh",
            }));
  EXPECT_EQ(LogLines(), (Lines{
                            " [INFO] LZH解凍しました。[UNLHA32:" + in_ + "photos.lzh]",
                            " [WARN] LZH書庫ではありません。[UNLHA32:" + in_ + "notarc.txt]",
                            " [WARN] LZH書庫ではありません。[UNLHA32:" + in_ + "b_chk2.lzh]",
                        }));
  EXPECT_EQ(window_.StatusTexts(), (Lines{"1 / 3", "2 / 3", "3 / 3"}));
  EXPECT_FALSE(IsDir(out_ + "photos"));
}

TEST_F(OperationTest, DirectoryPerArchiveIsMadeOnceAndOnlyAsADirectory) {
  Setting(MakeDirectory) = "0.6";  // rounds to 1
  mkdir((out_ + "b").c_str(), 0755);
  WriteFile(out_ + "b/kept", "old");
  WriteFile(out_ + "plain", "a file, not a directory");
  const FileList files = {"a.zip",    "b.zip",    "x.y.zip",   "notarc.zip",
                          "data.zip", "data.bak", "plain.zip", "q\"t.zip"};
  EXPECT_FALSE(ExtractZip(window_, files, 8, message_));
  EXPECT_EQ(CommandLines(), (Lines{
                                "-x -qq \"" + in_ + "a.zip\" \"" + out_ + "a/\"",
                                "-x -qq \"" + in_ + "b.zip\" \"" + out_ + "b/\"",
                                "-x -qq \"" + in_ + "x.y.zip\" \"" + out_ + "x.y/\"",
                                "-x -qq \"" + in_ + "data.zip\" \"" + out_ + "data/\"",
                                "-x -qq \"" + in_ + "data.bak\" \"" + out_ + "data/\"",
                                "-x -qq \"" + in_ + "q\"\"t.zip\" \"" + out_ + "q\"\"t/\"",
                            }));
  EXPECT_TRUE(IsDir(out_ + "a") && IsDir(out_ + "x.y") && IsDir(out_ + "data"));
  EXPECT_TRUE(IsDir(out_ + "q\"t"));
  EXPECT_FALSE(IsDir(out_ + "notarc"));
  EXPECT_EQ(ReadFile(out_ + "b/kept"), "old");
  EXPECT_EQ(ReadFile(out_ + "plain"), "a file, not a directory");
  EXPECT_EQ(LogLines()[6],
            " [WARN] 解凍先ディレクトリがありません。[" + in_ + "plain.zip][" + out_ + "plain/]");
  // A missing destination fails the run but is no library failure: no detail.
  EXPECT_EQ(message_, "");
}

}  // namespace
}  // namespace tavrun::test
