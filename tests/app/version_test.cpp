// The two version texts.
#include "app/version.h"

#include <gtest/gtest.h>

namespace tavrun {
namespace {

TEST(Version, ShortAndLongForms) {
  EXPECT_EQ(FormatShortVersion(1, 2, 3), "Ver.1.2.3");
  EXPECT_EQ(FormatShortVersion(2, 10, 0), "Ver.2.10");  // a zero revision is dropped
  EXPECT_EQ(FormatShortVersion(3, 0, 0), "Ver.3.0");
  EXPECT_EQ(FormatLongVersion(1, 2, 3), "Ver.1.02.0003");
  EXPECT_EQ(FormatLongVersion(1, 2, 12345), "Ver.1.02.12345");
  EXPECT_EQ(FormatLongVersion(12, 100, 999), "Ver.12.100.0999");
  EXPECT_EQ(FormatShortVersion(0, -1, 0), "Ver.x.x");
  EXPECT_EQ(FormatLongVersion(0, 1, -2), "Ver.x.xx.xxxx");
  // This build's numbers come from the project version, 0.1.0.
  EXPECT_EQ(GetShortVersion(), "Ver.0.1");
  EXPECT_EQ(GetLongVersion(), "Ver.0.01.0000");
}

}  // namespace
}  // namespace tavrun
