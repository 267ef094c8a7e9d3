// Each library's table from failure kinds to its public codes: every kind reaches the code its
// header documents, every documented code is reachable, and two kinds one library tells apart
// are told apart by the other wherever it produces both.
#include "codes.h"  // LZH

#include <gtest/gtest.h>

#include <set>

#include "report.h"  // ZIP

namespace {

using tavrun::arc::Kind;
using tavrun::arc::kKindCount;

struct Row {
  Kind kind;
  int32_t lzh, zip;
};
// clang-format off
const Row kDocumented[] = {
    {Kind::None,        UNLHA_OK,              TAVRUN_ZIP_OK},
    {Kind::CommandLine, UNLHA_ERROR_COMMAND,   TAVRUN_ZIP_E_COMMAND_LINE},
    {Kind::ArchiveOpen, UNLHA_ERROR_ARCHIVE,   TAVRUN_ZIP_E_ARCHIVE_OPEN},
    {Kind::NotArchive,  UNLHA_ERROR_NOT_LZH,   TAVRUN_ZIP_E_NOT_ARCHIVE},
    {Kind::Data,        UNLHA_ERROR_DATA,      TAVRUN_ZIP_E_DATA},
    {Kind::Source,      UNLHA_ERROR_SOURCE,    TAVRUN_ZIP_E_SOURCE},
    {Kind::Write,       UNLHA_ERROR_WRITE,     TAVRUN_ZIP_E_WRITE},
    {Kind::Cancelled,   UNLHA_ERROR_CANCELLED, TAVRUN_ZIP_E_CANCELLED},
    {Kind::Unsafe,      UNLHA_ERROR_UNSAFE,    TAVRUN_ZIP_E_UNSAFE_PATH},
    {Kind::Kept,        UNLHA_ERROR_KEPT,      TAVRUN_ZIP_E_KEPT_EXISTING},
    {Kind::Internal,    UNLHA_ERROR_INTERNAL,  TAVRUN_ZIP_E_INTERNAL},
    {Kind::Method,      UNLHA_ERROR_METHOD,    TAVRUN_ZIP_E_UNSUPPORTED},
    // Kinds one format never meets fall to that library's internal-failure code.
    {Kind::TooLarge,    UNLHA_ERROR_TOO_LARGE, TAVRUN_ZIP_E_INTERNAL},
    {Kind::Encrypted,   UNLHA_ERROR_INTERNAL,  TAVRUN_ZIP_E_ENCRYPTED},
    {Kind::Nothing,     UNLHA_ERROR_INTERNAL,  TAVRUN_ZIP_E_NOTHING},
    {Kind::Password,    UNLHA_ERROR_INTERNAL,  TAVRUN_ZIP_E_PASSWORD},
    {Kind::Engine,      UNLHA_ERROR_INTERNAL,  TAVRUN_ZIP_E_ENGINE},
};
// clang-format on

TEST(CodeTables, EveryKindGetsTheCodeItsHeaderDocuments) {
  ASSERT_EQ(std::size(kDocumented), kKindCount);
  for (const Row& r : kDocumented) {
    EXPECT_EQ(tavrun::lzh::kCodes.Code(r.kind), r.lzh) << int(r.kind);
    EXPECT_EQ(tavrun::zip::kCodes.Code(r.kind), r.zip) << int(r.kind);
  }
}

TEST(CodeTables, EveryPublicCodeIsReachedAndLeadsBackToAKindWithThatCode) {
  const struct {
    const char* library;
    const tavrun::arc::CodeTable& table;
    int32_t last, internal;
  } libraries[] = {{"LZH", tavrun::lzh::kCodes, UNLHA_ERROR_INTERNAL, UNLHA_ERROR_INTERNAL},
                   {"ZIP", tavrun::zip::kCodes, TAVRUN_ZIP_E_PASSWORD, TAVRUN_ZIP_E_INTERNAL}};
  for (const auto& l : libraries) {
    std::set<int32_t> reached;
    for (size_t k = 0; k < kKindCount; ++k) reached.insert(l.table.Code(static_cast<Kind>(k)));
    for (int32_t code = 0; code <= l.last; ++code) {
      EXPECT_TRUE(reached.count(code)) << l.library << " " << code;
      const std::optional<Kind> kind = l.table.KindOf(code);
      ASSERT_TRUE(kind) << l.library << " " << code;
      EXPECT_EQ(l.table.Code(*kind), code) << l.library;
    }
    EXPECT_EQ(l.table.KindOf(l.internal), Kind::Internal) << l.library;
    EXPECT_EQ(l.table.KindOf(l.last + 100), std::nullopt) << l.library;
  }
}

TEST(CodeTables, KindsOneLibraryTellsApartAreNotMergedByTheOther) {
  auto produces = [](const tavrun::arc::CodeTable& t, Kind k) {
    return k == Kind::Internal || t.Code(k) != t.Code(Kind::Internal);
  };
  for (size_t a = 0; a < kKindCount; ++a)
    for (size_t b = a + 1; b < kKindCount; ++b) {
      const Kind ka = static_cast<Kind>(a), kb = static_cast<Kind>(b);
      const auto& lzh = tavrun::lzh::kCodes;
      const auto& zip = tavrun::zip::kCodes;
      if (!produces(lzh, ka) || !produces(lzh, kb) || !produces(zip, ka) || !produces(zip, kb))
        continue;
      EXPECT_NE(lzh.Code(ka), lzh.Code(kb)) << a << " " << b;
      EXPECT_NE(zip.Code(ka), zip.Code(kb)) << a << " " << b;
    }
}

}  // namespace
