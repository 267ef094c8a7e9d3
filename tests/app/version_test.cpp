// The two version texts.
#include "app/version.h"

#include <gtest/gtest.h>

namespace tavrun {
namespace {

TEST(Version, ShortFormDropsAZeroRevision) {
  EXPECT_EQ(FormatShortVersion(0, 1, 0), "Ver.0.1");
  EXPECT_EQ(FormatShortVersion(1, 2, 3), "Ver.1.2.3");
  EXPECT_EQ(FormatShortVersion(2, 10, 0), "Ver.2.10");
  EXPECT_EQ(FormatShortVersion(3, 0, 0), "Ver.3.0");
  EXPECT_EQ(FormatShortVersion(0, 0, 12345), "Ver.0.0.12345");
}

TEST(Version, LongFormPadsMinorToTwoAndRevisionToFourDigits) {
  EXPECT_EQ(FormatLongVersion(0, 1, 0), "Ver.0.01.0000");
  EXPECT_EQ(FormatLongVersion(1, 2, 3), "Ver.1.02.0003");
  EXPECT_EQ(FormatLongVersion(1, 10, 25), "Ver.1.10.0025");
  EXPECT_EQ(FormatLongVersion(1, 2, 12345), "Ver.1.02.12345");
  EXPECT_EQ(FormatLongVersion(1, 0, 0), "Ver.1.00.0000");
  EXPECT_EQ(FormatLongVersion(1, 100, 999), "Ver.1.100.0999");
  EXPECT_EQ(FormatLongVersion(12, 3, 4567), "Ver.12.03.4567");  // the major is never padded
}

TEST(Version, ImpossibleNumbersGiveTheFallbackTexts) {
  EXPECT_EQ(FormatShortVersion(-1, 1, 0), "Ver.x.x");
  EXPECT_EQ(FormatShortVersion(0, -1, 0), "Ver.x.x");
  EXPECT_EQ(FormatShortVersion(0, 1, -2), "Ver.x.x");
  EXPECT_EQ(FormatLongVersion(0, 1, -2), "Ver.x.xx.xxxx");
  EXPECT_EQ(FormatLongVersion(-3, 1, 0), "Ver.x.xx.xxxx");
}

// The numbers come from the build's project version, 0.1.0.
TEST(Version, ThisBuildIs0_1_0) {
  EXPECT_EQ(GetShortVersion(), "Ver.0.1");
  EXPECT_EQ(GetLongVersion(), "Ver.0.01.0000");
}

}  // namespace
}  // namespace tavrun
