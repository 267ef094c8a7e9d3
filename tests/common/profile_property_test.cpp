// Profile edits on many generated files: whatever the file holds, setting one key changes
// that key and no other, and reads back.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "common/profile.h"
#include "profile_invariants.h"

namespace tavrun {
namespace {

TEST(ProfileProperty, SettingOneKeyChangesThatKeyOnly) {
  std::mt19937 random(20240305);
  for (int round = 0; round < 3000; ++round) {
    std::string content = testing::RandomProfile(random);
    std::string failure = testing::CheckEditInvariants(content, random());
    ASSERT_EQ(failure, "") << "round " << round << ", file:\n" << content;
  }
}

}  // namespace
}  // namespace tavrun
