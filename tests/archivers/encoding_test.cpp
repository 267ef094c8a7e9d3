#include "encoding.h"

#include <gtest/gtest.h>

using namespace tavrun::arc;

TEST(Encoding, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain.txt"));
  EXPECT_TRUE(IsValidUtf8("\xE8\xA1\xA8.txt"));   // 表
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));   // emoji
  EXPECT_FALSE(IsValidUtf8("\x95\x5C.txt"));      // CP932 表
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xE8\xA1"));          // truncated
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}

TEST(Encoding, Cp932KeepsBackslashTrailBytesInsideTheCharacter) {
  // ソ and 表 end in 0x5C in CP932; the byte is part of the character, not a separator.
  std::string cp932;
  ASSERT_TRUE(Utf8ToCp932("\xE3\x82\xBD\xE8\xA1\xA8/a.txt", cp932));
  EXPECT_EQ(cp932, "\x83\x5C\x95\x5C/a.txt");
  std::string back;
  ASSERT_TRUE(Cp932ToUtf8(cp932, back));
  EXPECT_EQ(back, "\xE3\x82\xBD\xE8\xA1\xA8/a.txt");
  // Half-width katakana and the Windows extensions (①, ～) round-trip too.
  const std::string mixed = "\xEF\xBD\xB1\xE2\x91\xA0\xEF\xBD\x9E";
  ASSERT_TRUE(Utf8ToCp932(mixed, cp932));
  ASSERT_TRUE(Cp932ToUtf8(cp932, back));
  EXPECT_EQ(back, mixed);
}

TEST(Encoding, StrictConversionsFailInsteadOfGuessing) {
  std::string out;
  EXPECT_FALSE(Utf8ToCp932("\xF0\x9F\x98\x80", out));  // no emoji in CP932
  EXPECT_FALSE(Utf8ToCp932("caf\xC3\xA9", out));       // é has no CP932 form
  EXPECT_FALSE(Utf8ToCp932("\x95\x5C", out));          // input is not UTF-8
  EXPECT_FALSE(Cp932ToUtf8("\x83", out));              // lone lead byte
  EXPECT_TRUE(Utf8ToCp932("", out));
  EXPECT_EQ(out, "");
}

TEST(Encoding, Cp437) {
  EXPECT_EQ(Cp437ToUtf8("abc"), "abc");
  EXPECT_EQ(Cp437ToUtf8("\x81"), "\xC3\xBC");      // ü
  EXPECT_EQ(Cp437ToUtf8("\xB0"), "\xE2\x96\x91");  // ░
  EXPECT_TRUE(IsValidUtf8(Cp437ToUtf8(std::string("\x80\xFF\x9E", 3))));
}

// Names that are not UTF-8, as Japanese Windows and Unix tools wrote them.
TEST(Encoding, LegacyJapaneseIsDecidedOverAllNames) {
  const std::string eucTesuto = "\xA5\xC6\xA5\xB9\xA5\xC8", eucShiryo = "\xBB\xF1\xCE\xC1",
                    eucNihongo = "\xC6\xFC\xCB\xDC\xB8\xEC", eucHyo = "\xC9\xBD",
                    cpHyo = "\x95\x5C", cpNihongo = "\x93\xFA\x96\x7B\x8C\xEA";
  struct Case {
    const char* what;
    std::vector<std::string> names;
    bool fromWindows;
    LegacyJapanese expected;
  };
  const Case cases[] = {
      {"CP932 only", {cpHyo + ".txt", cpNihongo}, false, LegacyJapanese::Cp932},
      {"EUC-JP only", {eucNihongo + ".txt", "a.txt"}, false, LegacyJapanese::EucJp},
      // Both decode; through CP932 the EUC-JP bytes are half-width katakana.
      {"EUC-JP kana", {eucTesuto + ".txt", eucHyo}, false, LegacyJapanese::EucJp},
      {"from Windows", {eucTesuto + ".txt", eucHyo}, true, LegacyJapanese::Cp932},
      {"one name decides for all", {eucHyo, eucShiryo, cpHyo}, false, LegacyJapanese::Cp932},
      {"neither", {"\xFF\xFE"}, false, LegacyJapanese::Neither},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GuessLegacyJapanese(c.names, c.fromWindows), c.expected) << c.what;
  std::string utf8;
  ASSERT_TRUE(EucJpToUtf8(eucShiryo + "/" + eucTesuto, utf8));
  EXPECT_EQ(utf8, "\xE8\xB3\x87\xE6\x96\x99/\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88");
  EXPECT_FALSE(EucJpToUtf8(cpHyo, utf8));
}

// What Linux input methods and EUC-JP tools give for these characters is not what Windows
// shows for the same CP932 code; each must take the Windows code and read back as Windows
// shows it.
TEST(Encoding, UnixFormsOfJapaneseCharactersTakeTheirWindowsCodes) {
  const struct {
    const char* unix;
    const char* cp932;
    const char* windows;
  } cases[] = {
      {"〜", "\x81\x60", "～"}, {"‖", "\x81\x61", "∥"},  {"−", "\x81\x7C", "－"},
      {"¢", "\x81\x91", "￠"},  {"£", "\x81\x92", "￡"}, {"¬", "\x81\xCA", "￢"},
      {"—", "\x81\x5C", "―"},   {"¦", "\xFA\x55", "￤"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unix);
    EXPECT_EQ(ToWindowsJapanese(c.unix), c.windows);
    EXPECT_EQ(ToWindowsJapanese(c.windows), c.windows);
    std::string cp932, back;
    ASSERT_TRUE(Utf8ToCp932(ToWindowsJapanese(c.unix), cp932));
    EXPECT_EQ(cp932, c.cp932);
    ASSERT_TRUE(Cp932ToUtf8(cp932, back));
    EXPECT_EQ(back, c.windows);
  }
  EXPECT_EQ(ToWindowsJapanese("①②③ 〜.lzh"), "①②③ ～.lzh");
  // Yen and overline would become the separator '\' and '~': never mapped.
  EXPECT_EQ(ToWindowsJapanese("¥‾.txt"), "¥‾.txt");
  EXPECT_EQ(ToWindowsJapanese("caf\xE9 \x81\x60"), "caf\xE9 \x81\x60");  // bytes stay bytes
}
