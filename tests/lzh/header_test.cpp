// Headers and names: what we write, and how stored names of every kind are read.
#include "header.h"

#include "lzh_builders.h"
#include "names.h"
#include "test_util.h"

using namespace tavrun::lzh;
using lzhtest::Bytes;

namespace {

MemberHeader Parse(const Bytes& b, ScanStatus expect = ScanStatus::Member) {
  MemberHeader h;
  std::string reason;
  EXPECT_EQ(ParseMemberHeader(b.data(), b.size(), h, reason), expect) << reason;
  return h;
}

}  // namespace

TEST(Level2Header, SizeNeverEndsInAZeroByteAndStaysValid) {
  // Names of every length from 1 to 300 bytes cross several multiples of 256.
  int grown = 0;
  for (size_t n = 1; n <= 300; ++n) {
    NewMember m;
    m.name = std::string(n, 'a');
    m.compressedSize = 10;
    m.originalSize = 20;
    m.crc = 0x1234;
    m.mtime = 1700000000;
    Bytes h = BuildLevel2Header(m);
    ASSERT_NE(h.size() & 0xFF, 0u) << n;
    EXPECT_EQ(h[0] | (h[1] << 8), static_cast<int>(h.size()));
    EXPECT_EQ(h[19], 0x20);
    EXPECT_EQ(h[20], 2);
    EXPECT_EQ(h[23], 'U');
    if (h.size() != BuildLevel2Header(NewMember{}).size() + n) ++grown;
    MemberHeader p = Parse(h);
    EXPECT_EQ(p.nameRaw, m.name);
    EXPECT_EQ(p.compressedSize, 10u);
    EXPECT_EQ(p.originalSize, 20u);
    EXPECT_EQ(p.crc, 0x1234);
    EXPECT_EQ(p.mtime, 1700000000);
    EXPECT_EQ(p.codePage, 932u);
    EXPECT_TRUE(p.hasMode);
    EXPECT_EQ(p.headerSize, h.size());
  }
  EXPECT_EQ(grown, 1);  // exactly one length lands on 256
}

TEST(Level2Header, CarriesTheHeaderCrcAndDirectories) {
  Bytes h = lzhtest::Level2Member("f.txt", "", {"a", "b"});
  MemberHeader p = Parse(h);
  EXPECT_EQ(p.dirRaw, "a\xFF" "b\xFF");
  EXPECT_EQ(DecodeMemberPath(p), "a/b/f.txt");
  // Any changed byte is caught by the header CRC.
  for (size_t i : {2u, 12u, 16u, 30u}) {
    Bytes bad = h;
    bad[i] ^= 0x01;
    MemberHeader q;
    std::string reason;
    if (ParseMemberHeader(bad.data(), bad.size(), q, reason) == ScanStatus::Member)
      ADD_FAILURE() << "byte " << i << " changed but accepted";
  }
}

TEST(OlderHeaders, Level0And1AreReadWithChecksum) {
  Bytes l0 = lzhtest::Level0Member("DIR\\FILE.TXT", "hello");
  MemberHeader p0 = Parse(l0);
  EXPECT_EQ(p0.level, 0);
  EXPECT_EQ(p0.compressedSize, 5u);
  EXPECT_EQ(p0.headerSize, l0.size() - 5);
  EXPECT_EQ(DecodeMemberPath(p0), "DIR/FILE.TXT");
  EXPECT_EQ(p0.mtime, DosTimeToUnix(0x5A210000));

  Bytes l1 = lzhtest::Level1Member("x.txt", "d1\xFF" "d2\xFF", "data!");
  MemberHeader p1 = Parse(l1);
  EXPECT_EQ(p1.level, 1);
  EXPECT_EQ(p1.compressedSize, 5u) << "extended records are not data";
  EXPECT_EQ(p1.totalSize(), l1.size());
  EXPECT_EQ(DecodeMemberPath(p1), "d1/d2/x.txt");

  for (Bytes* b : {&l0, &l1}) {
    Bytes bad = *b;
    bad[8] ^= 0x40;  // inside the checksummed part
    Parse(bad, ScanStatus::Damaged);
    Parse(Bytes(b->begin(), b->begin() + 20), ScanStatus::Damaged);  // truncated
  }
}

TEST(Names, CodePageRecordDecidesTheEncoding) {
  const std::string utf8 = "日本語.txt";
  MemberHeader u = Parse(lzhtest::Level2Member(utf8, "", {}, 65001));
  EXPECT_EQ(DecodeMemberPath(u), utf8);
  // Without a record, valid UTF-8 is taken as UTF-8.
  MemberHeader n = Parse(lzhtest::Level2Member(utf8, "", {}, 0));
  EXPECT_EQ(DecodeMemberPath(n), utf8);
}

TEST(Names, EncodingPrefersCp932AndFallsBackToUtf8) {
  std::string bytes;
  uint32_t cp = 0;
  EncodeMemberName("報告.txt", bytes, cp);
  EXPECT_EQ(cp, 932u);
  EXPECT_EQ(bytes, "\x95\xF1\x8D\x90.txt");
  EncodeMemberName("Ελληνικά.txt", bytes, cp);  // Greek is in CP932, accents are not
  EXPECT_EQ(cp, 65001u);
  EXPECT_EQ(bytes, "Ελληνικά.txt");
  EncodeMemberName("plain.txt", bytes, cp);
  EXPECT_EQ(cp, 932u);
  EXPECT_EQ(bytes, "plain.txt");
}
