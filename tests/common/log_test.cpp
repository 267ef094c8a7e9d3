// Log lines with a fixed clock.
#include "common/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_support.h"

namespace tavrun {
namespace {

using testing::Exists;
using testing::InChild;
using testing::MakeSharedDir;
using testing::ReadBytes;
using testing::TempDir;

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogClock([] { return At(2024, 3, 5, 14, 7, 9); });
  }
  void TearDown() override { SetLogClock(nullptr); }

  TempDir dir_;
  std::string log_ = dir_ / "Tavrun.log";
};

TEST_F(LogTest, LineLayoutAndTags) {
  WriteLog(log_, "done [ZIP32J:/src/a.txt]", LogLevelInfo, 0);
  WriteLog(log_, "skipped", LogLevelWarn, 0);
  WriteLog(log_, "failed", LogLevelError, 0);
  WriteLog(log_, "level zero", 0, 0);
  WriteLog(log_, "level seven", 7, 0);
  EXPECT_EQ(ReadBytes(log_),
            "2024/03/05 14:07:09 [INFO] done [ZIP32J:/src/a.txt]\r\n"
            "2024/03/05 14:07:09 [WARN] skipped\r\n"
            "2024/03/05 14:07:09 [ERR] failed\r\n"
            "2024/03/05 14:07:09 [INFO] level zero\r\n"
            "2024/03/05 14:07:09 [INFO] level seven\r\n");
}

TEST_F(LogTest, FieldsArePaddedAndTheHourIsOnTheTwentyFourHourClock) {
  SetLogClock([] { return At(987, 12, 31, 23, 0, 5); });
  WriteLog(log_, "x", LogLevelInfo, 1);
  EXPECT_EQ(ReadBytes(log_), "0987/12/31 23:00:05 [INFO] x\r\n");
}

TEST_F(LogTest, ThresholdDecidesWhichLinesAreWritten) {
  WriteLog(log_, "info", LogLevelInfo, LogLevelError);
  WriteLog(log_, "warn", LogLevelWarn, LogLevelError);
  WriteLog(log_, "err", LogLevelError, LogLevelError);
  WriteLog(log_, "warn2", LogLevelWarn, LogLevelWarn);
  WriteLog(log_, "info1", LogLevelInfo, 1);
  EXPECT_EQ(ReadBytes(log_),
            "2024/03/05 14:07:09 [ERR] err\r\n"
            "2024/03/05 14:07:09 [WARN] warn2\r\n"
            "2024/03/05 14:07:09 [INFO] info1\r\n");
}

TEST_F(LogTest, ThresholdNineAndEmptyMessagesWriteNothing) {
  WriteLog(log_, "err", LogLevelError, LogOff);
  WriteLog(log_, "high", 12, LogOff);  // even a level above 9
  WriteLog(log_, "", LogLevelError, 0);
  EXPECT_FALSE(Exists(log_));
}

TEST_F(LogTest, AppendsToWhatIsThereAndKeepsLineBreaksInTheMessage) {
  testing::WriteBytes(log_, "old line\r\n");
  WriteLog(log_, "a\r\nb", LogLevelInfo, 0);
  WriteLog(log_, "c", LogLevelInfo, 0);
  EXPECT_EQ(ReadBytes(log_),
            "old line\r\n"
            "2024/03/05 14:07:09 [INFO] a\r\nb\r\n"
            "2024/03/05 14:07:09 [INFO] c\r\n");
}

TEST_F(LogTest, WithoutTheSeamTheClockIsTheLocalTime) {
  SetLogClock(nullptr);
  std::time_t before = std::time(nullptr);
  WriteLog(log_, "now", LogLevelInfo, 0);
  std::time_t after = std::time(nullptr);
  std::string line = ReadBytes(log_);
  ASSERT_EQ(line.size(), 19u + 13u);
  auto format = [](std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &local);
    return std::string(buf);
  };
  std::string stamp = line.substr(0, 19);
  EXPECT_TRUE(stamp == format(before) || stamp == format(after)) << stamp;
}

TEST_F(LogTest, UnwritablePlacesAreSilent) {
  WriteLog(dir_ / "missing/Tavrun.log", "x", LogLevelError, 0);
  EXPECT_FALSE(Exists(dir_ / "missing"));
  ASSERT_EQ(::mkdir((dir_ / "asdir").c_str(), 0755), 0);
  WriteLog(dir_ / "asdir", "x", LogLevelError, 0);  // a directory in the log's place
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  WriteLog(dir_ / "fifo", "x", LogLevelError, 0);  // nobody reads: must not block

  const std::string shared = MakeSharedDir(dir_, "ro");
  EXPECT_EQ(InChild([&]() -> std::string {
              if (::mkdir(shared.c_str(), 0700) != 0) return "mkdir failed";
              if (::chmod(shared.c_str(), 0555) != 0) return "chmod failed";
              WriteLog(shared + "/Tavrun.log", "x", LogLevelError, 0);
              return Exists(shared + "/Tavrun.log") ? "log created in a read-only directory" : "";
            }),
            "");
}

}  // namespace
}  // namespace tavrun
