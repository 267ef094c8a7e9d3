// The four archive operations over the stand-in archivers: switch prefixes, command lines,
// progress, log lines, results and failure details.
#include <sys/stat.h>

#include "engine/operations.h"
#include "engine_fixture.h"

namespace tavrun::test {
namespace {

using Lines = std::vector<std::string>;

class OperationTest : public EngineTest {
 protected:
  // The command lines (without entry name and metadata) the archivers were given.
  Lines CommandLines() const {
    Lines lines;
    for (const auto& call : Calls()) {
      if (call.find("CheckArchive") != std::string::npos) continue;
      lines.push_back(call.substr(call.rfind("|size=256|") + 10));
    }
    return lines;
  }
  std::string message_;
};

// --- switch prefixes ------------------------------------------------------------------------

TEST_F(OperationTest, LzhCompressionSwitchesFollowTheSettingsInFixedOrder) {
  EXPECT_EQ(CompressLzhSwitches(), "U ");
  Setting(LzhCompressRate) = "1";
  EXPECT_EQ(CompressLzhSwitches(), "U ");
  Setting(LzhCheckTimestamp) = "1";
  Setting(LzhControlDialog) = "1";
  Setting(LzhArchiveTime) = "1";
  Setting(LzhOverwriteConfirm) = "1";
  Setting(LzhCompressRate) = "4";
  EXPECT_EQ(CompressLzhSwitches(), "U -c1 -n1 -y1 -t1 -jm4 ");
  Setting(LzhCompressRate) = "0";
  Setting(LzhArchiveTime) = "0";
  EXPECT_EQ(CompressLzhSwitches(), "U -c1 -n1 -t1 -jm0 ");
  Setting(LzhCompressRate) = "3";
  Setting(LzhCheckTimestamp) = "1.0";  // compared as text: no switch
  EXPECT_EQ(CompressLzhSwitches(), "U -n1 -t1 -jm3 ");
}

TEST_F(OperationTest, LzhExtractionSwitchesUseOverwriteAsY1AndIgnoreCompressionSettings) {
  EXPECT_EQ(ExtractLzhSwitches(), "E -x1 ");
  Setting(LzhArchiveTime) = "1";
  Setting(LzhCompressRate) = "4";
  Setting(LzhReadonlyConfirm) = "1";
  EXPECT_EQ(ExtractLzhSwitches(), "E -x1 ");
  Setting(LzhOverwriteConfirm) = "1";
  Setting(LzhReadonlyConfirm) = "2";
  EXPECT_EQ(ExtractLzhSwitches(), "E -x1 -y1 -ga2 ");
  Setting(LzhCheckTimestamp) = "1";
  Setting(LzhControlDialog) = "1";
  EXPECT_EQ(ExtractLzhSwitches(), "E -x1 -c1 -n1 -y1 -ga2 ");
}

TEST_F(OperationTest, ZipCompressionSwitchesPassEveryLevelButSix) {
  EXPECT_EQ(CompressZipSwitches(), "-u -S -v -j ");
  for (const std::string level : {"0", "1", "2", "3", "4", "5", "7", "8", "9"}) {
    Setting(ZipCompressRate) = level;
    EXPECT_EQ(CompressZipSwitches(), "-u -S -v -j -" + level + " ");
  }
  for (const std::string level : {"6", "1.0", " 5", "10", ""}) {
    Setting(ZipCompressRate) = level;
    EXPECT_EQ(CompressZipSwitches(), "-u -S -v -j ") << "level '" << level << "'";
  }
  Setting(ZipControlDialog) = "1";
  Setting(ZipArchiveTime) = "1";
  Setting(ZipCompressRate) = "9";
  EXPECT_EQ(CompressZipSwitches(), "-u -S -v -j -q -o -9 ");
}

TEST_F(OperationTest, ZipExtractionSwitchesPreferOverwriteOverNever) {
  EXPECT_EQ(ExtractZipSwitches(), "-x -qq ");
  Setting(UnzipControlDialog) = "1";
  Setting(UnzipOverwriteConfirm) = "2";
  EXPECT_EQ(ExtractZipSwitches(), "-x -qq --i -o ");
  Setting(UnzipOverwriteConfirm) = "1";
  EXPECT_EQ(ExtractZipSwitches(), "-x -qq --i -n ");
  Setting(UnzipControlDialog) = "0";
  Setting(UnzipOverwriteConfirm) = "3";
  EXPECT_EQ(ExtractZipSwitches(), "-x -qq ");
  // The [ZIP] settings belong to compression only.
  Setting(ZipControlDialog) = "1";
  Setting(ZipArchiveTime) = "1";
  EXPECT_EQ(ExtractZipSwitches(), "-x -qq ");
}

// --- compression ----------------------------------------------------------------------------

TEST_F(OperationTest, CompressLzhNamesEachArchiveAfterItsFile) {
  Setting(LzhCheckTimestamp) = "1";
  Setting(LzhControlDialog) = "1";
  const FileList files = {"report.txt", "archive.tar.gz", "README", "with blank.txt", "x."};
  ASSERT_TRUE(CompressLzh(window_, files, 5, message_));
  EXPECT_EQ(CommandLines(), (Lines{
      "U -c1 -n1 \"" + out_ + "report.lzh\" \"" + in_ + "report.txt\"",
      "U -c1 -n1 \"" + out_ + "archive.tar.lzh\" \"" + in_ + "archive.tar.gz\"",
      "U -c1 -n1 \"" + out_ + "README.lzh\" \"" + in_ + "README\"",
      "U -c1 -n1 \"" + out_ + "with blank.lzh\" \"" + in_ + "with blank.txt\"",
      "U -c1 -n1 \"" + out_ + "x.lzh\" \"" + in_ + "x.\"",
  }));
  EXPECT_EQ(Calls()[0].substr(0, 28), "Unlha|window=4660|size=256|U");
  EXPECT_EQ(LogLines(), (Lines{
      " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "report.txt]",
      " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "archive.tar.gz]",
      " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "README]",
      " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "with blank.txt]",
      " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "x.]",
  }));
  EXPECT_EQ(window_.StatusTexts(), (Lines{"1 / 5", "2 / 5", "3 / 5", "4 / 5", "5 / 5"}));
}

TEST_F(OperationTest, CompressZipPutsArchiveFirstAndLogsWithFullStop) {
  const FileList files = {"data.txt", "data.csv"};
  ASSERT_TRUE(CompressZip(window_, files, 2, message_));
  EXPECT_EQ(Calls(), (Lines{
      "Zip|window=4660|size=256|-u -S -v -j \"" + out_ + "data.zip\" \"" + in_ + "data.txt\"",
      "Zip|window=4660|size=256|-u -S -v -j \"" + out_ + "data.zip\" \"" + in_ + "data.csv\"",
  }));
  EXPECT_EQ(LogLines(), (Lines{
      " [INFO] ZIP圧縮しました。[ZIP32J:" + in_ + "data.txt]",
      " [INFO] ZIP圧縮しました。[ZIP32J:" + in_ + "data.csv]",
  }));
}

TEST_F(OperationTest, FailureOfTheMiddleFileIsLoggedAndTheLoopGoesOn) {
  const FileList files = {"a.txt", "b_rc32.txt", "c.txt"};
  EXPECT_FALSE(CompressLzh(window_, files, 3, message_));
  EXPECT_EQ(message_, "32");
  EXPECT_EQ(CommandLines().size(), 3u);
  EXPECT_EQ(window_.StatusTexts(), (Lines{"1 / 3", "2 / 3", "3 / 3"}));
  EXPECT_EQ(LogLines(), (Lines{
      " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "a.txt]",
      " [ERR] 32 [UNLHA32:" + in_ + "b_rc32.txt]",
      " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "c.txt]",
  }));

  // ZIP: no blank before the tag; the detail is the last failure's code.
  std::remove(App().LogFilePath.c_str());
  const FileList zipFiles = {"a_rc5.txt", "b.txt", "c_rc7.txt"};
  EXPECT_FALSE(CompressZip(window_, zipFiles, 3, message_));
  EXPECT_EQ(message_, "7");
  EXPECT_EQ(LogLines(), (Lines{
      " [ERR] 5[ZIP32J:" + in_ + "a_rc5.txt]",
      " [INFO] ZIP圧縮しました。[ZIP32J:" + in_ + "b.txt]",
      " [ERR] 7[ZIP32J:" + in_ + "c_rc7.txt]",
  }));
}

TEST_F(OperationTest, EachFileYieldsAfterItsProgressAndBeforeItsCall) {
  std::vector<size_t> callsAtYield;
  window_.onYield = [&] { callsAtYield.push_back(Calls().size()); };
  const FileList files = {"a", "b", "c"};
  ASSERT_TRUE(CompressZip(window_, files, 3, message_));
  EXPECT_EQ(callsAtYield, (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(window_.events, (Lines{"status:1 / 3", "yield", "status:2 / 3", "yield",
                                   "status:3 / 3", "yield"}));
}

TEST_F(OperationTest, QuotesInNamesAreDoubledOnTheCommandLineOnly) {
  const FileList files = {"say \"hi\".txt"};
  ASSERT_TRUE(CompressLzh(window_, files, 1, message_));
  ASSERT_TRUE(CompressZip(window_, files, 1, message_));
  EXPECT_EQ(CommandLines(), (Lines{
      "U \"" + out_ + "say \"\"hi\"\".lzh\" \"" + in_ + "say \"\"hi\"\".txt\"",
      "-u -S -v -j \"" + out_ + "say \"\"hi\"\".zip\" \"" + in_ + "say \"\"hi\"\".txt\"",
  }));
  EXPECT_EQ(LogLines()[0], " [INFO] LZH圧縮しました [UNLHA32:" + in_ + "say \"hi\".txt]");
  EXPECT_EQ(QuoteArgument(""), "\"\"");
  EXPECT_EQ(QuoteArgument("\""), "\"\"\"\"");
}

TEST_F(OperationTest, NothingHappensForAnEmptyList) {
  for (auto operation : {CompressLzh, ExtractLzh, CompressZip, ExtractZip}) {
    message_ = "before";
    EXPECT_TRUE(operation(window_, {}, 0, message_));
    EXPECT_EQ(message_, "before");
  }
  EXPECT_TRUE(window_.events.empty());
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(OperationTest, UnloadableLibraryFailsEveryFileWithThePlatformText) {
  UseComponentDirectory(root_ + "/missing");
  const FileList files = {"a.txt", "b.txt"};
  EXPECT_FALSE(CompressZip(window_, files, 2, message_));
  EXPECT_NE(message_.find(root_ + "/missing/libzip32j.so"), std::string::npos) << message_;
  const Lines log = LogLines();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], " [ERR] " + message_ + "[ZIP32J:" + in_ + "b.txt]");
  EXPECT_EQ(window_.StatusTexts().size(), 2u);
}

TEST_F(OperationTest, LogThresholdIsHonouredPerLine) {
  Setting(LogLevel) = "3";
  const FileList files = {"a.txt", "b_rc4.txt"};
  EXPECT_FALSE(CompressLzh(window_, files, 2, message_));
  EXPECT_EQ(LogLines(), (Lines{" [ERR] 4 [UNLHA32:" + in_ + "b_rc4.txt]"}));
  Setting(LogLevel) = "9";
  EXPECT_FALSE(CompressLzh(window_, files, 2, message_));
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(OperationTest, UnexpectedErrorStopsTheOperationAndIsReported) {
  // A count beyond the list cannot be processed.
  const FileList files = {"a.txt"};
  EXPECT_FALSE(CompressLzh(window_, files, 3, message_));
  EXPECT_EQ(message_, "インデックスが有効範囲にありません。");
  EXPECT_EQ(CommandLines().size(), 1u);
  EXPECT_EQ(LogLines().back(), " [ERR] インデックスが有効範囲にありません。");
  EXPECT_EQ(window_.StatusTexts(), (Lines{"1 / 3", "2 / 3"}));

  // A threshold that is no number: reported, but it cannot be logged.
  std::remove(App().LogFilePath.c_str());
  Setting(LogLevel) = "abc";
  EXPECT_FALSE(CompressZip(window_, files, 1, message_));
  EXPECT_EQ(message_, "型が一致しません。");
  EXPECT_TRUE(LogLines().empty());
}

// --- extraction -----------------------------------------------------------------------------

TEST_F(OperationTest, ExtractLzhIntoTheTargetSkippingNonArchives) {
  const FileList files = {"photos.lzh", "notarc.txt", "x.y.lzh"};
  ASSERT_TRUE(ExtractLzh(window_, files, 3, message_));
  EXPECT_EQ(Calls(), (Lines{
      "UnlhaCheckArchive|mode=1|" + in_ + "photos.lzh",
      "Unlha|window=4660|size=256|E -x1 \"" + in_ + "photos.lzh\" \"" + out_ + "\"",
      "UnlhaCheckArchive|mode=1|" + in_ + "notarc.txt",
      "UnlhaCheckArchive|mode=1|" + in_ + "x.y.lzh",
      "Unlha|window=4660|size=256|E -x1 \"" + in_ + "x.y.lzh\" \"" + out_ + "\"",
  }));
  EXPECT_EQ(LogLines(), (Lines{
      " [INFO] LZH解凍しました。[UNLHA32:" + in_ + "photos.lzh]",
      " [WARN] LZH書庫ではありません。[UNLHA32:" + in_ + "notarc.txt]",
      " [INFO] LZH解凍しました。[UNLHA32:" + in_ + "x.y.lzh]",
  }));
  EXPECT_EQ(window_.StatusTexts(), (Lines{"1 / 3", "2 / 3", "3 / 3"}));
  // No directory of its own without the setting.
  EXPECT_FALSE(IsDir(out_ + "photos"));
}

TEST_F(OperationTest, ExtractZipWithDirectoryPerArchive) {
  Setting(MakeDirectory) = "1";
  ASSERT_EQ(mkdir((out_ + "b").c_str(), 0755), 0);
  WriteFile(out_ + "b/kept", "old");
  const FileList files = {"a.zip", "b.zip", "x.y.zip", "notarc.zip", "data.zip", "data.bak"};
  ASSERT_TRUE(ExtractZip(window_, files, 6, message_));
  EXPECT_EQ(CommandLines(), (Lines{
      "-x -qq \"" + in_ + "a.zip\" \"" + out_ + "a/\"",
      "-x -qq \"" + in_ + "b.zip\" \"" + out_ + "b/\"",
      "-x -qq \"" + in_ + "x.y.zip\" \"" + out_ + "x.y/\"",
      "-x -qq \"" + in_ + "data.zip\" \"" + out_ + "data/\"",
      "-x -qq \"" + in_ + "data.bak\" \"" + out_ + "data/\"",
  }));
  EXPECT_TRUE(IsDir(out_ + "a"));
  EXPECT_TRUE(IsDir(out_ + "x.y"));
  EXPECT_TRUE(IsDir(out_ + "data"));
  EXPECT_EQ(ReadFile(out_ + "b/kept"), "old");
  EXPECT_FALSE(IsDir(out_ + "notarc"));
  EXPECT_EQ(LogLines()[3], " [WARN] ZIP書庫ではありません。[UNZIP32:" + in_ + "notarc.zip]");
  EXPECT_EQ(LogLines()[0], " [INFO] ZIP解凍しました。[UNZIP32:" + in_ + "a.zip]");
}

TEST_F(OperationTest, PlainFileInPlaceOfTheDestinationMakesItMissing) {
  Setting(MakeDirectory) = "1";
  WriteFile(out_ + "data", "a file, not a directory");
  const FileList files = {"data.lzh", "other.lzh"};
  EXPECT_FALSE(ExtractLzh(window_, files, 2, message_));
  // The missing destination is no library failure: the detail stays as it was.
  EXPECT_EQ(message_, "");
  EXPECT_EQ(ReadFile(out_ + "data"), "a file, not a directory");
  EXPECT_EQ(LogLines(), (Lines{
      " [WARN] 解凍先ディレクトリがありません。[" + in_ + "data.lzh][" + out_ + "data/]",
      " [INFO] LZH解凍しました。[UNLHA32:" + in_ + "other.lzh]",
  }));
  EXPECT_EQ(CommandLines().size(), 1u);
}

TEST_F(OperationTest, ExtractionFailuresKeepTheLastCodeAndTheLoopGoesOn) {
  const FileList files = {"a_rc3.zip", "b.zip", "c_rc9.zip", "d.zip"};
  EXPECT_FALSE(ExtractZip(window_, files, 4, message_));
  EXPECT_EQ(message_, "9");
  EXPECT_EQ(LogLines(), (Lines{
      " [ERR] 3[UNZIP32:" + in_ + "a_rc3.zip]",
      " [INFO] ZIP解凍しました。[UNZIP32:" + in_ + "b.zip]",
      " [ERR] 9[UNZIP32:" + in_ + "c_rc9.zip]",
      " [INFO] ZIP解凍しました。[UNZIP32:" + in_ + "d.zip]",
  }));
  std::remove(App().LogFilePath.c_str());
  EXPECT_FALSE(ExtractLzh(window_, {"e_rc2.lzh"}, 1, message_));
  EXPECT_EQ(LogLines(), (Lines{" [ERR] 2[UNLHA32:" + in_ + "e_rc2.lzh]"}));
}

TEST_F(OperationTest, ArchiveCheckAnswersOtherThanOneCountAsNoArchive) {
  const FileList files = {"a_chk2.lzh", "b_chk0.lzh"};
  EXPECT_TRUE(ExtractLzh(window_, files, 2, message_));
  EXPECT_EQ(CommandLines().size(), 0u);
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(OperationTest, ExtractionWithoutLibraryWarnsForEveryFileAndSucceeds) {
  UseComponentDirectory(root_ + "/missing");
  Setting(MakeDirectory) = "1";
  const FileList files = {"a.lzh", "b.lzh"};
  message_.clear();
  EXPECT_TRUE(ExtractLzh(window_, files, 2, message_));
  EXPECT_EQ(message_, "");
  EXPECT_EQ(LogLines(), (Lines{
      " [WARN] LZH書庫ではありません。[UNLHA32:" + in_ + "a.lzh]",
      " [WARN] LZH書庫ではありません。[UNLHA32:" + in_ + "b.lzh]",
  }));
  EXPECT_FALSE(IsDir(out_ + "a"));
}

TEST_F(OperationTest, BrokenDirectorySettingStopsExtractionAtTheFirstArchive) {
  Setting(MakeDirectory) = "yes";
  const FileList files = {"a.zip", "b.zip"};
  EXPECT_FALSE(ExtractZip(window_, files, 2, message_));
  EXPECT_EQ(message_, "型が一致しません。");
  EXPECT_EQ(Calls(), (Lines{"UnZipCheckArchive|mode=1|" + in_ + "a.zip"}));
  EXPECT_EQ(LogLines(), (Lines{" [ERR] 型が一致しません。"}));
  // A value that rounds to 1 counts as on.
  Setting(MakeDirectory) = "0.6";
  EXPECT_TRUE(ExtractZip(window_, {"c.zip"}, 1, message_));
  EXPECT_TRUE(IsDir(out_ + "c"));
}

TEST_F(OperationTest, QuotesInArchiveAndDestinationNamesAreDoubled) {
  Setting(MakeDirectory) = "1";
  ASSERT_TRUE(ExtractLzh(window_, {"a\"b.lzh"}, 1, message_));
  EXPECT_EQ(CommandLines(),
            (Lines{"E -x1 \"" + in_ + "a\"\"b.lzh\" \"" + out_ + "a\"\"b/\""}));
  EXPECT_TRUE(IsDir(out_ + "a\"b"));
}

}  // namespace
}  // namespace tavrun::test
