#include "cmdline.h"

#include <gtest/gtest.h>

#include <cstring>

using tavrun::arc::TokenizeCommandLine;
using tavrun::arc::WriteOutput;

namespace {

std::vector<std::string> Tokens(const char* line) {
  std::vector<std::string> tokens;
  std::string error;
  EXPECT_TRUE(TokenizeCommandLine(line, tokens, error)) << line << ": " << error;
  return tokens;
}

}  // namespace

TEST(Tokenize, BlanksSeparateAndQuotesGroup) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Tokens("U -c1  -n1 \"/tmp/a b/x.lzh\" \"/tmp/a b/x.txt\""),
            (V{"U", "-c1", "-n1", "/tmp/a b/x.lzh", "/tmp/a b/x.txt"}));
  EXPECT_EQ(Tokens("   "), V{});
  EXPECT_EQ(Tokens(""), V{});
  EXPECT_EQ(Tokens("\t-x\t-qq\t"), (V{"-x", "-qq"}));
}

TEST(Tokenize, DoubledQuoteInsideQuotesIsOneQuote) {
  using V = std::vector<std::string>;
  // A Linux file name may hold a quote: the caller doubles it inside the quotes.
  EXPECT_EQ(Tokens("E \"/d/say \"\"hi\"\".lzh\" \"/out/\""),
            (V{"E", "/d/say \"hi\".lzh", "/out/"}));
  EXPECT_EQ(Tokens("\"\"\"\""), V{"\""});
  EXPECT_EQ(Tokens("a \"\" b"), (V{"a", "", "b"}));
  EXPECT_EQ(Tokens("\"end\"\"\""), V{"end\""});
}

TEST(Tokenize, UnclosedQuoteAndNullAreErrors) {
  std::vector<std::string> tokens{"stale"};
  std::string error;
  EXPECT_FALSE(TokenizeCommandLine("U \"/tmp/a", tokens, error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(tokens.empty());
  EXPECT_FALSE(TokenizeCommandLine(nullptr, tokens, error));
}

TEST(WriteOutputTest, NeverOverrunsAndNeverCutsACharacter) {
  const std::string text = "ab\xE3\x81\x82\xE3\x81\x84";  // "abあい"
  char buf[16];
  for (uint32_t size = 1; size <= sizeof buf; ++size) {
    std::memset(buf, 'X', sizeof buf);
    WriteOutput(buf, size, text);
    size_t len = std::strlen(buf);
    ASSERT_LT(len, size);
    EXPECT_EQ(text.compare(0, len, buf), 0);
    // Only whole characters: the kept length is 0, 1, 2, 5 or 8 bytes.
    EXPECT_TRUE(len == 0 || len == 1 || len == 2 || len == 5 || len == 8) << size << " " << len;
    for (size_t i = size; i < sizeof buf; ++i) ASSERT_EQ(buf[i], 'X');
  }
  char one = 'X';
  WriteOutput(&one, 0, text);  // nothing may be written at all
  EXPECT_EQ(one, 'X');
  WriteOutput(nullptr, 10, text);
}
