// The shared outcome of one library call: which failure decides the result and what text the
// caller gets.
#include "outcome.h"

#include <gtest/gtest.h>

namespace {

using tavrun::arc::Kind;
using tavrun::arc::Outcome;

TEST(Outcome, TheFirstFailureDecidesAndEveryLineIsKeptInOrder) {
  struct Step {
    char op;  // 'F' fail, 'N' note, 'A' abort, 'S' summary
    Kind kind;
    const char* text;
  };
  struct Case {
    const char* label;
    std::vector<Step> steps;
    Kind kind;
    const char* text;
  };
  const Case cases[] = {
      {"nothing happened", {}, Kind::None, ""},
      {"notes only", {{'N', Kind::None, "a"}, {'N', Kind::None, "b"}}, Kind::None, "a\nb"},
      {"first failure wins",
       {{'N', Kind::None, "kept"}, {'F', Kind::Unsafe, "link"}, {'F', Kind::Write, "full"}},
       Kind::Unsafe,
       "kept\nlink\nfull"},
      {"summary comes first whenever it is given",
       {{'F', Kind::Data, "crc"}, {'S', Kind::None, "3 extracted"}},
       Kind::Data,
       "3 extracted\ncrc"},
      {"an abort replaces everything before it",
       {{'S', Kind::None, "sum"}, {'F', Kind::Kept, "kept"}, {'A', Kind::Write, "disk full"}},
       Kind::Write,
       "disk full"},
      {"after an abort, later failures add lines but keep its kind",
       {{'A', Kind::Internal, "oom"}, {'F', Kind::Data, "crc"}},
       Kind::Internal,
       "oom\ncrc"},
  };
  for (const Case& c : cases) {
    Outcome out;
    for (const Step& s : c.steps) {
      if (s.op == 'F') out.Fail(s.kind, s.text);
      if (s.op == 'N') out.Note(s.text);
      if (s.op == 'A') out.Abort(s.kind, s.text);
      if (s.op == 'S') out.Summary(s.text);
    }
    EXPECT_EQ(out.kind(), c.kind) << c.label;
    EXPECT_EQ(out.ok(), c.kind == Kind::None) << c.label;
    EXPECT_EQ(out.Text(), c.text) << c.label;
  }
}

TEST(Outcome, LinesBeyondTheLimitAreDroppedButTheirFailureStillCounts) {
  Outcome out(2);
  out.Note("one");
  out.Note("two");
  out.Fail(Kind::Cancelled, "three");
  out.Summary("summary");
  EXPECT_EQ(out.kind(), Kind::Cancelled);
  EXPECT_EQ(out.Text(), "summary\none\ntwo");
}

TEST(CodeTable, IncompleteOrDuplicatedTablesAreRecognised) {
  constexpr tavrun::arc::CodeTable partial = {{Kind::None, 0}, {Kind::Write, 6}};
  static_assert(!partial.Complete());
  EXPECT_EQ(partial.Code(Kind::Write), 6);
  EXPECT_EQ(partial.KindOf(6), Kind::Write);
  EXPECT_EQ(partial.KindOf(7), std::nullopt);
  EXPECT_EQ(partial.KindOf(0), Kind::None);
  constexpr tavrun::arc::CodeTable none = {};
  static_assert(!none.Complete());
  // Every kind given, one of them twice.
  constexpr tavrun::arc::CodeTable twice = {
      {Kind::None, 0},      {Kind::CommandLine, 1}, {Kind::ArchiveOpen, 2}, {Kind::NotArchive, 3},
      {Kind::Data, 4},      {Kind::Source, 5},      {Kind::Write, 6},       {Kind::Cancelled, 7},
      {Kind::Unsafe, 8},    {Kind::Kept, 9},        {Kind::Internal, 10},   {Kind::Method, 11},
      {Kind::TooLarge, 12}, {Kind::Encrypted, 13},  {Kind::Nothing, 14},    {Kind::Password, 15},
      {Kind::Engine, 16},   {Kind::Data, 17}};
  static_assert(!twice.Complete());
  EXPECT_EQ(twice.Code(Kind::Data), 17);
}

}  // namespace
