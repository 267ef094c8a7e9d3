// Settings: number validation, start-up read and repair, and the settings file written.
#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/version.h"
#include "common/log.h"
#include "test_support.h"

namespace tavrun {
namespace {

using testing::Exists;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

TEST(ToInt16, DecimalTextsRoundHalvesToEven) {
  struct {
    const char* text;
    int16_t value;
  } cases[] = {
      {"0", 0},
      {"1", 1},
      {"0.4", 0},
      {"0.5", 0},
      {"0.6", 1},
      {"1.5", 2},
      {"2.5", 2},
      {"3.5", 4},
      {"-0.5", 0},
      {"-1.5", -2},
      {"-2.5", -2},
      {"1.0", 1},
      {" 1", 1},
      {"1 ", 1},
      {"\t2\t", 2},
      {"+3", 3},
      {".5", 0},
      {"5.", 5},
      {"1e1", 10},
      {"1E+1", 10},
      {"15e-1", 2},
      {"25E-1", 2},
      {"0.25e1", 2},
      {"007", 7},
      {"-0", 0},
      {"0e999999", 0},
      {"1e-999999999", 0},
      {"32767", 32767},
      {"32767.4", 32767},
      {"-32768", -32768},
      {"-32768.5", -32768},
      // Exactly: a binary double would turn these into the wrong neighbour.
      {"2.50000000000000000001", 3},
      {"0.49999999999999999999", 0},
      {"3276.74e1", 32767},
      {"000000000000000000001", 1},
  };
  for (const auto& c : cases) {
    int16_t value = -999;
    EXPECT_TRUE(ToInt16(c.text, value)) << '"' << c.text << '"';
    EXPECT_EQ(value, c.value) << '"' << c.text << '"';
  }
}

TEST(ToInt16, NonNumbersAndOutOfRange) {
  const char* cases[] = {"",
                         " ",
                         "x",
                         "1x",
                         "1 2",
                         "--1",
                         "+-1",
                         "e1",
                         ".",
                         "1e",
                         "1e+",
                         "0x10",
                         "1,000",
                         "&H10",
                         "1.2.3",
                         "- 1",
                         "1e1.5",
                         "32768",
                         "-32769",
                         "40000",
                         "32767.5",
                         "1e5",
                         "1e999999999999999999",
                         "99999999999999999999",
                         "١"};
  for (const char* text : cases) {
    int16_t value = 123;
    EXPECT_FALSE(ToInt16(text, value)) << '"' << text << '"';
    EXPECT_EQ(value, 123) << "unchanged on failure: " << text;
  }
}

const char* kDefaultsFile =
    "[INIT]\r\nArchiveType=0\r\nCompressType=0\r\nExtractType=0\r\nFromDirectory=\r\n"
    "ToDirectory=\r\n"
    "[COMMON]\r\nMakeDirectory=0\r\nLogLevel=9\r\n"
    "[LZH]\r\nCheckTimestamp=0\r\nControlDialog=0\r\nArchiveTime=0\r\nOverwriteConfirm=0\r\n"
    "CompressRate=2\r\nReadonlyConfirm=0\r\n"
    "[ZIP]\r\nControlDialog=0\r\nArchiveTime=0\r\nCompressRate=6\r\n"
    "[UNZIP]\r\nControlDialog=0\r\nOverwriteConfirm=0\r\n";

class InitAppTest : public ::testing::Test {
 protected:
  std::string Ini() const { return dir_ / "Tavrun.ini"; }
  void Start() {
    std::string error;
    ASSERT_TRUE(InitAppIn(dir_.path(), error)) << error;
    ASSERT_EQ(App().AppSettings.size(), static_cast<std::size_t>(SettingCount));
  }
  std::vector<std::string> Defaults() const {
    std::vector<std::string> v;
    for (int i = 0; i < SettingCount; ++i) v.push_back(SettingDefault(SettingIndex(i)));
    return v;
  }
  bool Save() {
    std::string error;
    const AppState& app = App();
    return WriteIniValues(app.IniFilePath, SettingCount, app.SettingKeys, app.AppSettings, error);
  }

  TempDir dir_;
};

TEST_F(InitAppTest, FirstStartHasTheDefaultsAndTheFirstSaveWritesAllKeys) {
  Start();
  const AppState& app = App();
  EXPECT_EQ(app.WindowTitle, "Tavrun " + GetShortVersion());
  EXPECT_EQ(app.IniFilePath, dir_ / "Tavrun.ini");
  EXPECT_EQ(app.LogFilePath, dir_ / "Tavrun.log");
  EXPECT_EQ(app.ReadmeFilePath, dir_ / "Readme.txt");
  EXPECT_EQ(app.AppSettings, Defaults());
  EXPECT_EQ(Setting(FromDirectory), "");
  EXPECT_FALSE(Exists(Ini()));  // reading creates nothing
  EXPECT_FALSE(Exists(dir_ / "Tavrun.log"));

  EXPECT_TRUE(Save());
  EXPECT_EQ(ReadBytes(Ini()), kDefaultsFile);
}

TEST_F(InitAppTest, TheDirectoryMayAlreadyEndInASeparator) {
  std::string error;
  ASSERT_TRUE(InitAppIn(dir_.path() + "/", error));
  EXPECT_EQ(App().IniFilePath, dir_ / "Tavrun.ini");
}

TEST_F(InitAppTest, InvalidValuesGetTheirDefaultAndValidOnesKeepTheirText) {
  const std::string file =
      "[INIT]\r\nArchiveType=2\r\nCompressType=-1\r\nExtractType=\" 1\"\r\n"
      "FromDirectory=  /from dir  \r\nToDirectory=x\r\n"
      "[COMMON]\r\nMakeDirectory=0.4\r\nLogLevel=5\r\n"
      "[LZH]\r\nCheckTimestamp=1.0\r\nControlDialog=1e0\r\nArchiveTime=-0.5\r\n"
      "OverwriteConfirm=1.5\r\nCompressRate=1\r\nReadonlyConfirm=x\r\n"
      "[ZIP]\r\nControlDialog=2\r\nArchiveTime=\r\nCompressRate=10\r\n"
      "[UNZIP]\r\nControlDialog=0.5\r\nOverwriteConfirm=2\r\n";
  WriteBytes(Ini(), file);
  Start();
  std::vector<std::string> expected = {"0", "0",   " 1",  "/from dir", "x",   "0.4",
                                       "9", "1.0", "1e0", "-0.5",      "0",   "1",
                                       "0", "0",   "0",   "6",         "0.5", "2"};
  EXPECT_EQ(App().AppSettings, expected);
  EXPECT_EQ(ReadBytes(Ini()), file);  // the file keeps its text until the next save
  EXPECT_FALSE(Exists(dir_ / "Tavrun.log"));
}

TEST_F(InitAppTest, EachFieldHasItsOwnSetOfValues) {
  struct {
    const char* section;
    const char* key;
    SettingIndex field;
    const char* valid;
    const char* invalid;
  } cases[] = {
      {"INIT", "ArchiveType", ArchiveType, "1", "40000"},
      {"INIT", "CompressType", CompressType, "1", "2"},
      {"INIT", "ExtractType", ExtractType, "1", "-1"},
      {"COMMON", "MakeDirectory", MakeDirectory, "1", "2"},
      {"COMMON", "LogLevel", LogLevel, "9", "4"},
      {"COMMON", "LogLevel", LogLevel, "1", "8.4"},
      {"COMMON", "LogLevel", LogLevel, "8.6", "5"},  // 8.6 rounds to 9
      {"COMMON", "LogLevel", LogLevel, "3", "10"},
      {"LZH", "CompressRate", LzhCompressRate, "4", "5"},
      {"LZH", "CompressRate", LzhCompressRate, "0", "-1"},
      {"LZH", "ReadonlyConfirm", LzhReadonlyConfirm, "2", "3"},
      {"ZIP", "CompressRate", ZipCompressRate, "9", "9.5"},
      {"ZIP", "CompressRate", ZipCompressRate, "0", "-0.6"},
      {"UNZIP", "OverwriteConfirm", UnzipOverwriteConfirm, "2", "3"},
      {"UNZIP", "OverwriteConfirm", UnzipOverwriteConfirm, "1", "2.5e0x"},
      {"LZH", "OverwriteConfirm", LzhOverwriteConfirm, "1", "2"},
      {"ZIP", "ArchiveTime", ZipArchiveTime, "1", "2"},
  };
  for (const auto& c : cases) {
    for (bool good : {true, false}) {
      const char* text = good ? c.valid : c.invalid;
      WriteBytes(Ini(), std::string("[") + c.section + "]\n" + c.key + "=" + text + "\n");
      Start();
      EXPECT_EQ(Setting(c.field), good ? text : SettingDefault(c.field))
          << c.section << "/" << c.key << "=" << text;
    }
  }
}

TEST_F(InitAppTest, SavingKeepsCommentsUnknownKeysAndOrder) {
  const std::string before =
      "; written by hand\r\n"
      "[common]\r\n"
      "loglevel = 5\r\n"
      "Extra=keep\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=y\r\n";
  WriteBytes(Ini(), before);
  Start();
  Setting(FromDirectory) = "/データ/入力/";
  ASSERT_TRUE(Save());
  // The missing keys of [COMMON] join it; the missing sections follow the last line.
  EXPECT_EQ(ReadBytes(Ini()),
            "; written by hand\r\n"
            "[common]\r\n"
            "loglevel = 9\r\n"
            "Extra=keep\r\n"
            "MakeDirectory=0\r\n"
            "\r\n"
            "[Other]\r\n"
            "x=y\r\n"
            "[INIT]\r\nArchiveType=0\r\nCompressType=0\r\nExtractType=0\r\n"
            "FromDirectory=/データ/入力/\r\nToDirectory=\r\n"
            "[LZH]\r\nCheckTimestamp=0\r\nControlDialog=0\r\nArchiveTime=0\r\n"
            "OverwriteConfirm=0\r\nCompressRate=2\r\nReadonlyConfirm=0\r\n"
            "[ZIP]\r\nControlDialog=0\r\nArchiveTime=0\r\nCompressRate=6\r\n"
            "[UNZIP]\r\nControlDialog=0\r\nOverwriteConfirm=0\r\n");

  // What was saved reads back as it was.
  std::vector<std::string> saved = App().AppSettings;
  Start();
  EXPECT_EQ(App().AppSettings, saved);
}

TEST_F(InitAppTest, NothingSelectedIsSavedAsMinusOneAndRepairedAtTheNextStart) {
  Start();
  Setting(CompressType) = "-1";
  Setting(ExtractType) = "-1";
  ASSERT_TRUE(Save());
  EXPECT_NE(ReadBytes(Ini()).find("CompressType=-1\r\nExtractType=-1\r\n"), std::string::npos);
  Start();
  EXPECT_EQ(Setting(CompressType), "0");
  EXPECT_EQ(Setting(ExtractType), "0");
}

TEST_F(InitAppTest, LongDirectoryComesBackCutTo254Bytes) {
  Start();
  std::string longPath = "/";
  while (longPath.size() < 300) longPath += "ディレクトリ/";
  Setting(ToDirectory) = longPath;
  ASSERT_TRUE(Save());
  Start();
  const std::string& cut = Setting(ToDirectory);
  EXPECT_LE(cut.size(), 254u);
  EXPECT_GT(cut.size(), 250u);
  EXPECT_EQ(longPath.compare(0, cut.size(), cut), 0);
  // No character is split: the cut ends where a character ends.
  EXPECT_NE(static_cast<unsigned char>(longPath[cut.size()]) & 0xC0, 0x80);
}

TEST_F(InitAppTest, ALineBreakInADirectoryCannotInjectSettings) {
  Start();
  Setting(FromDirectory) = "/a\r\n[COMMON]\r\nLogLevel=0";
  Setting(ToDirectory) = "/b/";
  EXPECT_FALSE(Save());  // that row could not be stored ...
  Start();
  EXPECT_EQ(Setting(FromDirectory), "");
  EXPECT_EQ(Setting(ToDirectory), "/b/");  // ... the others were
  EXPECT_EQ(Setting(LogLevel), "9");
}

TEST_F(InitAppTest, GarbageFilesStartWithWhatCanBeRead) {
  std::string garbage;
  for (int i = 0; i < 20000; ++i) garbage += static_cast<char>((i * 37 + i / 256) % 256);
  const std::string file = garbage + "\n[COMMON]\nLogLevel=3\n" +
                           "[INIT]\nFromDirectory=" + std::string(100000, 'd') + "\n" + garbage;
  WriteBytes(Ini(), file);
  Start();
  EXPECT_EQ(Setting(LogLevel), "3");
  EXPECT_EQ(Setting(FromDirectory), std::string(254, 'd'));
  EXPECT_EQ(ReadBytes(Ini()), file);

  // A save changes only the lines of the settings.
  Setting(LogLevel) = "2";
  Setting(FromDirectory) = "/f/";
  ASSERT_TRUE(Save());
  std::string after = ReadBytes(Ini());
  EXPECT_EQ(after.substr(0, garbage.size()), garbage);
  EXPECT_NE(after.find("\n[COMMON]\nLogLevel=2\n"), std::string::npos);
  EXPECT_NE(after.find("\n[INIT]\nFromDirectory=/f/\n"), std::string::npos);
  EXPECT_EQ(after.find(std::string(1000, 'd')), std::string::npos);
  Start();
  EXPECT_EQ(Setting(LogLevel), "2");
  EXPECT_EQ(Setting(FromDirectory), "/f/");
}

TEST_F(InitAppTest, DuplicatesAndAMissingFinalLineEnd) {
  WriteBytes(Ini(),
             "[COMMON]\nLogLevel=2\nLogLevel=3\n[ZIP]\nCompressRate=1\n[COMMON]\nMakeDirectory=1");
  Start();
  EXPECT_EQ(Setting(LogLevel), "2");
  EXPECT_EQ(Setting(MakeDirectory), "1");
  Setting(MakeDirectory) = "0";
  Setting(LogLevel) = "9";
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadBytes(Ini()),
            "[COMMON]\nLogLevel=9\nLogLevel=3\n"
            "[ZIP]\nCompressRate=1\nControlDialog=0\r\nArchiveTime=0\r\n"
            "[COMMON]\nMakeDirectory=0\r\n"
            "[INIT]\r\nArchiveType=0\r\nCompressType=0\r\nExtractType=0\r\n"
            "FromDirectory=\r\nToDirectory=\r\n"
            "[LZH]\r\nCheckTimestamp=0\r\nControlDialog=0\r\nArchiveTime=0\r\n"
            "OverwriteConfirm=0\r\nCompressRate=2\r\nReadonlyConfirm=0\r\n"
            "[UNZIP]\r\nControlDialog=0\r\nOverwriteConfirm=0\r\n");
}

TEST_F(InitAppTest, ADirectoryInThePlaceOfTheFile) {
  ASSERT_EQ(::mkdir(Ini().c_str(), 0755), 0);
  Start();
  EXPECT_EQ(App().AppSettings, Defaults());
  EXPECT_FALSE(Save());
  EXPECT_EQ(testing::CountEntries(Ini()), 0);
}

TEST(IniAccess, ReadValuesGivesCountEntriesAndAFailureIsReported) {
  TempDir dir;
  const std::string ini = dir / "x.ini";
  WriteBytes(ini, "[INIT]\nArchiveType=1\nCompressType=1\n");
  SettingKeyTable keys = DefaultSettingKeys();
  SettingValueTable values = {"stale", "stale", "stale", "stale"};
  std::string error;
  ASSERT_TRUE(ReadIniValues(ini, 2, keys, values, error));
  EXPECT_EQ(values, (SettingValueTable{"1", "1"}));
  // More rows asked for than the table has: an error, not a crash.
  EXPECT_FALSE(ReadIniValues(ini, SettingCount + 1, keys, values, error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(WriteIniValues(ini, 3, keys, SettingValueTable{"1"}, error));
  EXPECT_FALSE(error.empty());
}

TEST(IniAccess, GetAndPutSingleStrings) {
  TempDir dir;
  const std::string ini = dir / "x.ini";
  std::string error;
  EXPECT_EQ(GetIniString(ini, "INIT", "ArchiveType", error), "");
  EXPECT_TRUE(PutIniString(ini, "INIT", "ArchiveType", "1", error));
  EXPECT_EQ(GetIniString(ini, "init", "archivetype", error), "1");
  EXPECT_EQ(error, "");
  EXPECT_FALSE(PutIniString(dir / "missing/x.ini", "INIT", "ArchiveType", "1", error));
  EXPECT_FALSE(error.empty());
}

TEST(Settings, SettingBeforeStartUpIsEmpty) {
  App().AppSettings.clear();
  EXPECT_EQ(Setting(UnzipOverwriteConfirm), "");
  EXPECT_EQ(App().AppSettings.size(), static_cast<std::size_t>(SettingCount));
}

}  // namespace
}  // namespace tavrun
