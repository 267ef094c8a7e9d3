// Log lines with a fixed clock.
#include "common/log.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <time.h>

#include <random>

#include "test_support.h"

namespace tavrun {
namespace {

using namespace testing;

std::tm At(const char* text) {
  std::tm t{};
  ::strptime(text, "%Y/%m/%d %H:%M:%S", &t);
  return t;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogClock([] { return At("2024/03/05 14:07:09"); });
  }
  void TearDown() override { SetLogClock(nullptr); }

  TempDir dir_;
  std::string log_ = dir_ / "Tavrun.log";
};

TEST_F(LogTest, LayoutTagsThresholdAndAppending) {
  WriteLog(log_, "off", LogLevelError, LogOff);
  WriteLog(log_, "", LogLevelError, 0);
  EXPECT_FALSE(Exists(log_));
  WriteBytes(log_, "old line\r\n");
  WriteLog(log_, "done [ZIP32J:/src/a.txt]", LogLevelInfo, 0);
  WriteLog(log_, "below", LogLevelWarn, LogLevelError);
  WriteLog(log_, "a\r\nb", LogLevelError, LogLevelError);
  WriteLog(log_, "skipped", LogLevelWarn, LogLevelWarn);
  WriteLog(log_, "level seven", 7, 0);
  SetLogClock([] { return At("0987/12/31 23:00:05"); });
  WriteLog(log_, "padded", 0, 0);
  EXPECT_EQ(ReadBytes(log_),
            "old line\r\n"
            "2024/03/05 14:07:09 [INFO] done [ZIP32J:/src/a.txt]\r\n"
            "2024/03/05 14:07:09 [ERR] a\\r\\nb\r\n"
            "2024/03/05 14:07:09 [WARN] skipped\r\n"
            "2024/03/05 14:07:09 [INFO] level seven\r\n"
            "0987/12/31 23:00:05 [INFO] padded\r\n");
}

// Whether glibc's UTF-8 decoder takes `text` whole.
bool IsUtf8Text(const std::string& text) {
  iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  std::string in = text, out(text.size() * 4 + 4, '\0');
  char *from = in.data(), *to = out.data();
  size_t left = in.size(), room = out.size();
  const bool ok = iconv(cd, &from, &left, &to, &room) != static_cast<size_t>(-1) && left == 0;
  iconv_close(cd);
  return ok;
}

// A file name may hold any byte but "/" and NUL: whatever it holds, its record stays one line,
// so a crafted name cannot add a line of its own.
TEST_F(LogTest, ControlCharactersAreWrittenVisiblyAndARecordIsOneLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\tb\x01\x1b[31m\x7f", "a\\tb\\x01\\x1B[31m\\x7F"},
      {"nel\xc2\x85ls\xe2\x80\xa8ps\xe2\x80\xa9", "nel\\u0085ls\\u2028ps\\u2029"},
      // Printable text, backslashes, a no-break space and four-byte characters stay as they
      // are.
      {"日本語 C:\\x\\n \xc2\xa0 \xF0\x9F\x98\x80 \xEF\xBF\xBD",
       "日本語 C:\\x\\n \xc2\xa0 \xF0\x9F\x98\x80 \xEF\xBF\xBD"},
      // Bytes that are no UTF-8 (a Latin-1 or CP932 name, a truncated, overlong or surrogate
      // sequence) are escaped byte by byte, so the log stays text for grep and editors.
      {"caf\xE9.txt \x95\x5C \xc2", "caf\\xE9.txt \\x95\\ \\xC2"},
      {"\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE6\x97",
       "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80 \\xE6\\x97"},
  };
  for (const auto& [raw, shown] : cases) EXPECT_EQ(EscapeLineBreaks(raw), shown) << shown;
  // Whatever the bytes, what is written is text (glibc's strict decoder takes it) and escaping
  // it again changes nothing.
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {
    std::string bytes(random() % 12, '\0');
    for (char& c : bytes)
      c = static_cast<char>(random() % 3 == 0 ? 0x80 + random() % 0x80 : random());
    const std::string once = EscapeLineBreaks(bytes);
    ASSERT_TRUE(IsUtf8Text(once)) << once;
    ASSERT_EQ(EscapeLineBreaks(once), once) << once;
  }

  WriteLog(log_, "7 [UNLHA32:/in/x]\r\n2024/03/05 14:07:09 [INFO] forged\n.txt]", LogLevelError, 0);
  EXPECT_EQ(ReadBytes(log_),
            "2024/03/05 14:07:09 [ERR] 7 [UNLHA32:/in/x]\\r\\n2024/03/05 14:07:09 [INFO] "
            "forged\\n.txt]\r\n");
}

TEST_F(LogTest, UnwritablePlacesAreSilent) {
  WriteLog(dir_ / "missing/Tavrun.log", "x", LogLevelError, 0);
  EXPECT_FALSE(Exists(dir_ / "missing"));
  ASSERT_EQ(::mkdir((dir_ / "asdir").c_str(), 0755), 0);
  WriteLog(dir_ / "asdir", "x", LogLevelError, 0);
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  WriteLog(dir_ / "fifo", "x", LogLevelError, 0);  // nobody reads: must not block

  const std::string shared = MakeSharedDir(dir_, "ro");
  EXPECT_EQ(InChild([&]() -> std::string {
              if (::mkdir(shared.c_str(), 0500) != 0) return "mkdir failed";
              WriteLog(shared + "/Tavrun.log", "x", LogLevelError, 0);
              return Exists(shared + "/Tavrun.log") ? "log created in a read-only directory" : "";
            }),
            "");
}

}  // namespace
}  // namespace tavrun
