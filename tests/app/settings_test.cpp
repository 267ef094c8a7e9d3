// Settings: number validation, start-up read and repair, and the settings file written.
#include "app/settings.h"

#include <gtest/gtest.h>

#include <tuple>

#include "app/version.h"
#include "test_support.h"

namespace tavrun {
namespace {

using namespace testing;

TEST(ToInt16, DecimalTextsRoundHalvesToEvenWithin16Bits) {
  // The last two need exact decimal arithmetic: a double rounds them to the wrong neighbour.
  // clang-format off
  const std::pair<const char*, int> numbers[] = {
      {"0.4", 0}, {"0.5", 0}, {"1.5", 2}, {"2.5", 2}, {"-1.5", -2}, {"1.0", 1}, {" 1", 1},
      {"\t2 ", 2}, {"+3", 3}, {".5", 0}, {"5.", 5}, {"15e-1", 2}, {"1E+1", 10},
      {"1e-999999999", 0}, {"32767.4", 32767}, {"-32768.5", -32768},
      {"2.50000000000000000001", 3}, {"0.49999999999999999999", 0}};
  // clang-format on
  for (const auto& [text, expected] : numbers) {
    int16_t value = 123;
    EXPECT_TRUE(ToInt16(text, value)) << '"' << text << '"';
    EXPECT_EQ(value, expected) << '"' << text << '"';
  }
  for (const char* text : {"", " ", "x", "1 2", "+-1", "1e", "0x10", "1,000", "&H10", "1e1.5",
                           "40000", "32767.5", "-32769", "1e999999999999999999"}) {
    int16_t value = 123;
    EXPECT_FALSE(ToInt16(text, value)) << '"' << text << '"';
    EXPECT_EQ(value, 123) << '"' << text << '"';
  }
}

class InitAppTest : public ::testing::Test {
 protected:
  std::string Ini() const { return dir_ / "Tavrun.ini"; }
  void Start(const std::string& suffix = "") {
    std::string error;
    ASSERT_TRUE(InitAppIn(dir_.path() + suffix, error)) << error;
    ASSERT_EQ(App().AppSettings.size(), static_cast<std::size_t>(SettingCount));
  }
  bool Save() {
    std::string error;
    const AppState& app = App();
    return WriteIniValues(app.IniFilePath, SettingCount, app.SettingKeys, app.AppSettings, error);
  }

  TempDir dir_;
};

const char* const kMissingSections =
    "[INIT]\r\nArchiveType=0\r\nCompressType=0\r\nExtractType=0\r\nFromDirectory=\r\n"
    "ToDirectory=\r\n";
const char* const kLaterSections =
    "[LZH]\r\nCheckTimestamp=0\r\nControlDialog=0\r\nArchiveTime=0\r\nOverwriteConfirm=0\r\n"
    "CompressRate=2\r\nReadonlyConfirm=0\r\n"
    "[ZIP]\r\nControlDialog=0\r\nArchiveTime=0\r\nCompressRate=6\r\n"
    "[UNZIP]\r\nControlDialog=0\r\nOverwriteConfirm=0\r\n";

TEST_F(InitAppTest, FirstStartHasTheDefaultsAndTheFirstSaveWritesAllKeys) {
  Start("/");
  const AppState& app = App();
  EXPECT_EQ(app.WindowTitle, "Tavrun " + GetShortVersion());
  EXPECT_EQ(app.IniFilePath, dir_ / "Tavrun.ini");
  EXPECT_EQ(app.LogFilePath, dir_ / "Tavrun.log");
  EXPECT_EQ(app.ReadmeFilePath, dir_ / "Readme.txt");
  EXPECT_FALSE(Exists(Ini()));  // reading creates nothing
  EXPECT_TRUE(Save());
  EXPECT_EQ(ReadBytes(Ini()), std::string(kMissingSections) +
                                  "[COMMON]\r\nMakeDirectory=0\r\nLogLevel=9\r\n" + kLaterSections);
}

TEST_F(InitAppTest, AValidTextIsKeptAsReadAndAnInvalidOneGetsTheDefault) {
  // Field, a valid text (often at the edge of its set), an invalid one (8.6 rounds to 9).
  // clang-format off
  const std::tuple<SettingIndex, const char*, const char*> cases[] = {
      {ArchiveType, "1.0", "40000"}, {CompressType, "1", "-1"}, {ExtractType, "1e0", "x"},
      {MakeDirectory, "0.4", "1.5"}, {LogLevel, "3", "4"}, {LogLevel, "8.6", "8.4"},
      {LzhArchiveTime, "-0.5", ""}, {LzhCompressRate, "4", "5"}, {LzhReadonlyConfirm, "2", "3"},
      {ZipCompressRate, "9", "9.5"}, {ZipCompressRate, "0", "-0.6"},
      {UnzipOverwriteConfirm, "2", "3"}};
  // clang-format on
  for (const auto& [field, valid, invalid] : cases) {
    const SettingKey key = DefaultSettingKeys()[field];
    for (const char* text : {valid, invalid}) {
      const std::string file = "[" + key.section + "]\r\n" + key.key + "=" + text + "\r\n";
      WriteBytes(Ini(), file);
      Start();
      EXPECT_EQ(Setting(field), text == valid ? text : SettingDefault(field)) << key.key << text;
      EXPECT_EQ(ReadBytes(Ini()), file);  // repaired in memory; the file waits for a save
    }
  }
}

TEST_F(InitAppTest, SavingKeepsCommentsUnknownKeysAndOrder) {
  WriteBytes(
      Ini(),
      "; written by hand\r\n[common]\r\nloglevel = 5\r\nExtra=keep\r\n\r\n[Other]\r\nx=y\r\n");
  Start();
  Setting(FromDirectory) = "/データ/入力/";
  Setting(CompressType) = "-1";  // nothing selected: saved as is, repaired at the next start
  ASSERT_TRUE(Save());
  std::string missing = kMissingSections;
  missing.replace(missing.find("CompressType=0"), 14, "CompressType=-1");
  missing.replace(missing.find("FromDirectory="), 14, "FromDirectory=/データ/入力/");
  EXPECT_EQ(ReadBytes(Ini()),
            "; written by hand\r\n[common]\r\nloglevel = 9\r\nExtra=keep\r\nMakeDirectory=0\r\n"
            "\r\n[Other]\r\nx=y\r\n" +
                missing + kLaterSections);
  Start();
  EXPECT_EQ(Setting(FromDirectory), "/データ/入力/");
  EXPECT_EQ(Setting(CompressType), "0");
}

TEST_F(InitAppTest, GarbageAndAHugeLineAreReadAroundAndKept) {
  std::string garbage;
  for (int i = 0; i < 20000; ++i) garbage += static_cast<char>((i * 37 + i / 256) % 256);
  const std::string file =
      garbage + "\n[COMMON]\nLogLevel=3\n[INIT]\nFromDirectory=" + std::string(100000, 'd') + "\n" +
      garbage;
  WriteBytes(Ini(), file);
  Start();
  EXPECT_EQ(Setting(LogLevel), "3");
  EXPECT_EQ(Setting(FromDirectory), std::string(254, 'd'));
  EXPECT_EQ(ReadBytes(Ini()), file);

  Setting(LogLevel) = "2";
  Setting(FromDirectory) = "/f/";
  ASSERT_TRUE(Save());
  std::string after = ReadBytes(Ini());
  const std::string head = garbage + "\n[COMMON]\nLogLevel=2\n";
  EXPECT_EQ(after.substr(0, head.size()), head);
  EXPECT_NE(after.find("\n[INIT]\nFromDirectory=/f/\n"), std::string::npos);
  EXPECT_EQ(after.find(std::string(255, 'd')), std::string::npos);
}

TEST(IniAccess, CountsBeyondTheTablesAreErrorsAndSingleStringsRoundTrip) {
  App().AppSettings.clear();
  EXPECT_EQ(Setting(UnzipOverwriteConfirm), "");  // before start-up: empty, no crash
  TempDir dir;
  const std::string ini = dir / "x.ini";
  std::string error;
  EXPECT_TRUE(PutIniString(ini, "init", "compresstype", "1", error));
  EXPECT_EQ(GetIniString(ini, "INIT", "CompressType", error), "1");
  SettingValueTable values = {"stale", "stale", "stale"};
  ASSERT_TRUE(ReadIniValues(ini, 2, DefaultSettingKeys(), values, error)) << error;
  EXPECT_EQ(values, (SettingValueTable{"", "1"}));
  EXPECT_FALSE(ReadIniValues(ini, SettingCount + 1, DefaultSettingKeys(), values, error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(WriteIniValues(ini, 3, DefaultSettingKeys(), SettingValueTable{"1"}, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(PutIniString(dir / "missing/x.ini", "INIT", "ArchiveType", "1", error));
}

}  // namespace
}  // namespace tavrun
