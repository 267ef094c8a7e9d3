// The overwrite decision both extractors share: every situation at the target against every
// combination of options, what the file system inspection reports, and the "to all" answers.
#include "overwrite_policy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tavrun::arc::Action;
using tavrun::arc::DecideOverwrite;
using tavrun::arc::KeepReason;
using tavrun::arc::Kind;
using tavrun::arc::OverwriteAnswer;
using tavrun::arc::OverwriteOptions;
using tavrun::arc::Target;
using tavrun::arc::TargetState;
using tavrun::arc::Verdict;
using Replace = OverwriteOptions::Replace;

// One row of the decision table: the conditions it covers (empty = any) and what it gives.
// The first row that covers a combination decides it.
struct Rule {
  std::vector<TargetState> states;
  std::vector<Replace> replace;
  std::vector<bool> keepReadOnly, compareDates, memberNewer, hasWindow;
  std::vector<int> toAll;  // -1 none given, 0 no to all, 1 yes to all
  Verdict verdict;
};

template <class T>
bool Covers(const std::vector<T>& set, T value) {
  return set.empty() || std::find(set.begin(), set.end(), value) != set.end();
}

Verdict Keep(KeepReason r, Kind k = Kind::None) {
  return {Action::Keep, k, r};
}

TEST(OverwritePolicy, EveryStateAndOptionCombinationFollowsTheDecisionTable) {
  using S = TargetState;
  using R = KeepReason;
  const Verdict write{Action::Write, Kind::None, R::None};
  const Verdict replace{Action::Replace, Kind::None, R::None};
  const Verdict ask{Action::Ask, Kind::None, R::None};
  // clang-format off
  const std::vector<Rule> table = {
      // What stands there decides first, whatever the options say.
      {{S::Nothing}, {}, {}, {}, {}, {}, {}, write},
      {{S::Obstructed}, {}, {}, {}, {}, {}, {}, Keep(R::Obstructed, Kind::Unsafe)},
      {{S::Link}, {}, {}, {}, {}, {}, {}, Keep(R::Link, Kind::Unsafe)},
      {{S::NotRegular}, {}, {}, {}, {}, {}, {}, Keep(R::NotRegular, Kind::Write)},
      // Then the rules that keep a file on purpose: not failures.
      {{S::ReadOnly}, {}, {true}, {}, {}, {}, {}, Keep(R::ReadOnly)},
      {{}, {}, {}, {true}, {false}, {}, {}, Keep(R::NotOlder)},
      {{}, {Replace::Always}, {}, {}, {}, {}, {}, replace},
      {{}, {Replace::Never}, {}, {}, {}, {}, {}, Keep(R::Never)},
      // Then the question, answered earlier for all, or asked, or impossible to ask.
      {{}, {}, {}, {}, {}, {}, {1}, replace},
      {{}, {}, {}, {}, {}, {}, {0}, Keep(R::NoToAll)},
      {{}, {}, {}, {}, {}, {false}, {}, Keep(R::NoWindow, Kind::Kept)},
      {{}, {}, {}, {}, {}, {}, {}, ask},
  };
  // clang-format on
  const int64_t existing = 1600000000, tolerance = 1;
  int combinations = 0;
  for (S state : {S::Nothing, S::Regular, S::ReadOnly, S::NotRegular, S::Link, S::Obstructed})
    for (Replace rep : {Replace::Ask, Replace::Always, Replace::Never})
      for (bool ro : {false, true})
        for (bool dates : {false, true})
          for (bool newer : {false, true})
            for (bool window : {false, true})
              for (int all : {-1, 0, 1}) {
                const OverwriteOptions o{rep, ro, dates, window};
                // "Newer" only just: the tolerance is what separates it from "not older".
                const int64_t member = existing + tolerance + (newer ? 1 : 0);
                const std::optional<bool> toAll =
                    all < 0 ? std::nullopt : std::optional<bool>(all == 1);
                const Verdict v = DecideOverwrite({state, existing}, member, tolerance, o, toAll);
                const auto rule = std::find_if(table.begin(), table.end(), [&](const Rule& r) {
                  return Covers(r.states, state) && Covers(r.replace, rep) &&
                         Covers(r.keepReadOnly, ro) && Covers(r.compareDates, dates) &&
                         Covers(r.memberNewer, newer) && Covers(r.hasWindow, window) &&
                         Covers(r.toAll, all);
                });
                ASSERT_NE(rule, table.end());
                EXPECT_EQ(v, rule->verdict)
                    << "state " << int(state) << " replace " << int(rep) << " keepRO " << ro
                    << " dates " << dates << " newer " << newer << " window " << window << " toAll "
                    << all << " -> rule " << (rule - table.begin());
                // A file is only ever replaced where a regular file stands.
                if (v.action == Action::Replace) {
                  EXPECT_TRUE(state == S::Regular || state == S::ReadOnly);
                }
                ++combinations;
              }
  EXPECT_EQ(combinations, 6 * 3 * 2 * 2 * 2 * 2 * 3);
}

TEST(OverwritePolicy, APlacementFailureIsUnsafeOnlyWhereSomethingWasPlantedOnTheWay) {
  using S = TargetState;
  const std::pair<S, Kind> cases[] = {{S::Nothing, Kind::Write},  {S::Regular, Kind::Write},
                                      {S::ReadOnly, Kind::Write}, {S::NotRegular, Kind::Write},
                                      {S::Link, Kind::Unsafe},    {S::Obstructed, Kind::Unsafe}};
  for (const auto& [state, kind] : cases)
    EXPECT_EQ(tavrun::arc::PlacementFailure(state), kind) << int(state);
}

TEST(OverwritePolicy, TheQuestionIsAskedOnlyWhenNeededAndAToAllAnswerHoldsForTheCall) {
  const OverwriteOptions o{Replace::Ask, false, false, true};
  const Target file{TargetState::Regular, 0};
  struct Case {
    std::vector<OverwriteAnswer> answers;  // what the user gives, in order
    std::vector<Action> actions;           // for four existing files in a row
    size_t asked;
  };
  using A = OverwriteAnswer;
  const Case cases[] = {
      {{A::Yes, A::No, A::Yes, A::No},
       {Action::Replace, Action::Keep, Action::Replace, Action::Keep},
       4},
      {{A::No, A::YesToAll}, {Action::Keep, Action::Replace, Action::Replace, Action::Replace}, 2},
      {{A::Yes, A::NoToAll}, {Action::Replace, Action::Keep, Action::Keep, Action::Keep}, 2},
  };
  for (const Case& c : cases) {
    size_t asked = 0;
    tavrun::arc::OverwritePolicy policy(o, [&](const std::string& path) {
      EXPECT_EQ(path, "f" + std::to_string(asked));
      return c.answers.at(asked++);
    });
    for (size_t i = 0; i < c.actions.size(); ++i) {
      const Verdict v = policy.Decide(file, 0, 0, "f" + std::to_string(i));
      EXPECT_EQ(v.action, c.actions[i]) << i;
      EXPECT_EQ(v.kind, Kind::None) << "a kept file the user chose is no failure";
    }
    EXPECT_EQ(asked, c.asked);
    // Nothing in the way and something planted never lead to a question.
    EXPECT_EQ(policy.Decide({TargetState::Nothing, 0}, 0, 0, "new").action, Action::Write);
    EXPECT_EQ(policy.Decide({TargetState::Link, 0}, 0, 0, "link").kind, Kind::Unsafe);
    EXPECT_EQ(asked, c.asked);
  }
}

class Inspector : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string t = (fs::temp_directory_path() / "inspect.XXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
    fs::create_directories(root_ / "dest/dir/sub");
    fs::create_directories(root_ / "outside");
    std::ofstream(root_ / "dest/file") << "f";
    std::ofstream(root_ / "dest/dir/ro") << "r";
    fs::permissions(root_ / "dest/dir/ro", fs::perms::owner_read);
    fs::create_directory_symlink(root_ / "outside", root_ / "dest/link");
    fs::create_symlink(root_ / "dest/file", root_ / "dest/filelink");
    ASSERT_EQ(mkfifo((root_ / "dest/fifo").c_str(), 0600), 0);
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(Inspector, ToldApartWithoutFollowingAnyLink) {
  tavrun::arc::TargetInspector inspector;
  ASSERT_TRUE(inspector.Open((root_ / "dest").string()));
  using S = TargetState;
  const std::pair<std::vector<std::string>, S> cases[] = {
      {{"new"}, S::Nothing},
      {{"missing", "dir", "new"}, S::Nothing},
      {{"file"}, S::Regular},
      {{"dir", "ro"}, S::ReadOnly},
      {{"dir"}, S::NotRegular},
      {{"fifo"}, S::NotRegular},
      {{"filelink"}, S::Link},
      {{"link"}, S::Link},
      {{"link", "new"}, S::Obstructed},
      {{"file", "new"}, S::Obstructed},
      {{"filelink", "new"}, S::Obstructed},
      {{"dir", "sub", "link"}, S::Nothing},
  };
  for (const auto& [path, state] : cases) {
    const Target t = inspector.Inspect(path);
    EXPECT_EQ(t.state, state) << path.back();
    if (state == S::Regular) {
      struct stat st {};
      ASSERT_EQ(stat((root_ / "dest/file").c_str(), &st), 0);
      EXPECT_EQ(t.mtime, st.st_mtime);
    }
  }
  EXPECT_FALSE(inspector.Open((root_ / "dest/file").string()));
  EXPECT_EQ(inspector.Inspect({"file"}).state, S::Nothing);  // nothing open: nothing known
}

}  // namespace
