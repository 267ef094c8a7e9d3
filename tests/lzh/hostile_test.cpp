// Archives built to do harm, and damaged ones: nothing may be written outside the
// destination, no symlink created, no partial file left, and each gets its own code.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>

#include "lzh_builders.h"
#include "test_util.h"

using namespace lzhtest;

namespace {

class HostileTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directories(Path("dest"));
    fs::create_directories(Path("outside"));
    WriteFile(Path("outside/victim.txt"), "untouched");
  }
  int ExtractArchive(const Bytes& archive, const std::string& switches = "-x1 -y1 -c1") {
    WriteFile(Path("h.lzh"), archive);
    return Run("E " + switches + " " + Q(Path("h.lzh")) + " " + Q(Path("dest")) + "/");
  }
  // Everything outside dest is as it was.
  void ExpectNothingOutside() {
    std::vector<std::string> top;
    for (const auto& e : fs::directory_iterator(dir_)) top.push_back(e.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, std::vector<std::string>({"dest", "h.lzh", "outside"}));
    EXPECT_EQ(Listing(Path("outside")), std::vector<std::string>({"victim.txt"}));
    Bytes v = ReadFile(Path("outside/victim.txt"));
    EXPECT_EQ(std::string(v.begin(), v.end()), "untouched");
  }
  // No temporary or partial file below dest.
  void ExpectDestHolds(const std::vector<std::string>& expected) {
    EXPECT_EQ(Listing(Path("dest")), expected);
  }
};

}  // namespace

TEST_F(HostileTest, EscapingNamesAreRefusedAndTheRestExtracted) {
  Bytes a = ArchiveOf({
      Level0Member("..\\outside\\victim.txt", "evil"),
      Level0Member("\\tmp\\abs-evil.txt", "evil"),
      Level0Member("sub\\..\\..\\outside\\victim.txt", "evil"),
      Level2Member("victim.txt", "evil", {"..", "outside"}),
      Level2Member("ok.txt", "fine"),
      Level0Member("C:\\evil.txt", "evil"),
  });
  EXPECT_EQ(ExtractArchive(a), UNLHA_ERROR_UNSAFE) << output_;
  ExpectNothingOutside();
  ExpectDestHolds({"ok.txt"});
  EXPECT_FALSE(fs::exists("/tmp/abs-evil.txt"));
}

TEST_F(HostileTest, ControlCharactersInNamesAreRefused) {
  Bytes a = ArchiveOf({Level2Member("bad\x1b[31m.txt", "x"), Level0Member("new\nline", "x"),
                       Level2Member("fine.txt", "y")});
  EXPECT_EQ(ExtractArchive(a), UNLHA_ERROR_UNSAFE);
  ExpectDestHolds({"fine.txt"});
}

TEST_F(HostileTest, SymlinkMembersAreNeverCreated) {
  // A link to the outside, then a file written "through" it.
  Bytes a = ArchiveOf({Level2Member("link|../outside", "", {}, 932, 0120777, "-lhd-"),
                       Level2Member("victim.txt", "evil", {"link"}),
                       Level2Member("plain.txt", "p")});
  EXPECT_EQ(ExtractArchive(a), UNLHA_ERROR_UNSAFE) << output_;
  ExpectNothingOutside();
  for (const auto& e : fs::recursive_directory_iterator(Path("dest")))
    EXPECT_FALSE(e.is_symlink()) << e.path();
  EXPECT_TRUE(fs::exists(Path("dest/plain.txt")));
}

TEST_F(HostileTest, SymlinksAlreadyInTheDestinationAreNotFollowed) {
  fs::create_directory_symlink(Path("outside"), Path("dest/sub"));
  fs::create_symlink(Path("outside/victim.txt"), Path("dest/victim.txt"));
  Bytes a = ArchiveOf({Level2Member("victim.txt", "evil", {"sub"}), Level2Member("victim.txt", "evil")});
  int rc = ExtractArchive(a);
  EXPECT_NE(rc, 0);
  EXPECT_TRUE(rc == UNLHA_ERROR_UNSAFE || rc == UNLHA_ERROR_KEPT) << rc;
  ExpectNothingOutside();
  EXPECT_TRUE(fs::is_symlink(Path("dest/victim.txt")));
}

TEST_F(HostileTest, BadDataCrcLeavesNoFile) {
  Bytes good = Level2Member("data.txt", "some data that will be damaged");
  Bytes bad = good;
  bad[bad.size() - 3] ^= 0x20;
  Bytes a = ArchiveOf({bad, Level2Member("after.txt", "intact")});
  EXPECT_EQ(ExtractArchive(a), UNLHA_ERROR_DATA) << output_;
  ExpectDestHolds({"after.txt"});
  // An existing file is not replaced by the damaged member.
  WriteFile(Path("dest/data.txt"), "old");
  SetMtime(Path("dest/data.txt"), 1000);
  EXPECT_EQ(ExtractArchive(ArchiveOf({bad})), UNLHA_ERROR_DATA);
  Bytes kept = ReadFile(Path("dest/data.txt"));
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "old");
  ExpectDestHolds({"after.txt", "data.txt"});
}

TEST_F(HostileTest, DamagedCompressedDataIsADataError) {
  // A real lh5 stream with a corrupted byte in the middle.
  WriteFile(Path("src.txt"), Text(40000, 20));
  ASSERT_EQ(Run("U " + Q(Path("c.lzh")) + " " + Q(Path("src.txt"))), 0);
  Bytes a = ReadFile(Path("c.lzh"));
  fs::remove(Path("c.lzh"));
  fs::remove(Path("src.txt"));
  a[a.size() / 2] ^= 0x55;
  EXPECT_EQ(ExtractArchive(a), UNLHA_ERROR_DATA) << output_;
  ExpectDestHolds({});
}

TEST_F(HostileTest, TruncatedAndDamagedHeaders) {
  Bytes first = Level2Member("first.txt", "1111");
  Bytes second = Level2Member("second.txt", "2222");
  Bytes a = ArchiveOf({first, second});
  // Cut inside the second member's data: the first is extracted, the damage reported.
  EXPECT_EQ(ExtractArchive(Bytes(a.begin(), a.end() - 3)), UNLHA_ERROR_NOT_LZH) << output_;
  ExpectDestHolds({"first.txt"});
  fs::remove(Path("dest/first.txt"));
  // Cut inside the first header: not an archive at all.
  EXPECT_EQ(ExtractArchive(Bytes(a.begin(), a.begin() + 15)), UNLHA_ERROR_NOT_LZH);
  // A header CRC error in the second member.
  Bytes b = a;
  b[first.size() + 16] ^= 1;
  EXPECT_EQ(ExtractArchive(b), UNLHA_ERROR_NOT_LZH);
  ExpectDestHolds({"first.txt"});
  fs::remove(Path("dest/first.txt"));
  // A header claiming more data than the file holds.
  Bytes c = ArchiveOf({first});
  c[7] = 0xFF;
  c[8] = 0xFF;
  uint16_t crcField = 0;  // refresh the header CRC so only the size is wrong
  {
    Bytes h(c.begin(), c.begin() + (c[0] | (c[1] << 8)));
    h[27] = h[28] = 0;
    crcField = tavrun::lzh::Crc16(0, h.data(), h.size());
    c[27] = static_cast<uint8_t>(crcField);
    c[28] = static_cast<uint8_t>(crcField >> 8);
  }
  EXPECT_EQ(ExtractArchive(c), UNLHA_ERROR_NOT_LZH) << output_;
  ExpectDestHolds({});
  // A 64-bit size record (0x42) so large that offset + size wraps around to the same header.
  tavrun::lzh::NewMember m;
  m.method = "-lh0-";
  m.name = "wrap.txt";
  Bytes wrap = tavrun::lzh::BuildLevel2Header(m);
  {
    // Compressed size 2^64 - (header size): header plus data "end" where they began.
    const uint64_t headerSize = wrap.size() + 19;
    const uint64_t size = 0 - headerSize;
    Bytes rec = {0x42};
    for (int k = 0; k < 8; ++k) rec.push_back(static_cast<uint8_t>(size >> (8 * k)));
    for (int k = 0; k < 8; ++k) rec.push_back(0);
    // Insert the record after the CRC record: its size goes where the next size was.
    const size_t nextAt = 29;  // size of the record after 0x00 (two bytes)
    Bytes sizeOfNext(wrap.begin() + nextAt, wrap.begin() + nextAt + 2);
    rec.insert(rec.end(), sizeOfNext.begin(), sizeOfNext.end());
    wrap[nextAt] = static_cast<uint8_t>(rec.size());
    wrap[nextAt + 1] = 0;
    wrap.insert(wrap.begin() + nextAt + 2, rec.begin(), rec.end());
    const size_t total = wrap.size();
    ASSERT_EQ(total, headerSize);
    wrap[0] = static_cast<uint8_t>(total);
    wrap[1] = static_cast<uint8_t>(total >> 8);
    wrap[27] = wrap[28] = 0;
    uint16_t crc = tavrun::lzh::Crc16(0, wrap.data(), wrap.size());
    wrap[27] = static_cast<uint8_t>(crc);
    wrap[28] = static_cast<uint8_t>(crc >> 8);
  }
  Bytes wrapArchive = ArchiveOf({wrap, Level2Member("after.txt", "x")});
  EXPECT_EQ(ExtractArchive(wrapArchive), UNLHA_ERROR_NOT_LZH) << output_;
  EXPECT_EQ(UnlhaCheckArchive(Path("h.lzh").c_str(), 1), 0);
  ExpectDestHolds({});
  // Plain text and an empty file.
  EXPECT_EQ(ExtractArchive(Text(500, 1)), UNLHA_ERROR_NOT_LZH);
  EXPECT_EQ(ExtractArchive({}), UNLHA_ERROR_NOT_LZH);
  ExpectNothingOutside();
}

TEST_F(HostileTest, UnknownMethodIsReportedAndSkipped) {
  Bytes a = ArchiveOf({Level2Member("odd.bin", "xxxx", {}, 932, 0100644, "-zz9-"),
                       Level2Member("ok.txt", "ok")});
  EXPECT_EQ(ExtractArchive(a), UNLHA_ERROR_METHOD) << output_;
  ExpectDestHolds({"ok.txt"});
}

TEST_F(HostileTest, SetuidBitsAreDropped) {
  Bytes a = ArchiveOf({Level2Member("tool", "#!/bin/sh\n", {}, 932, 0106755)});
  EXPECT_EQ(ExtractArchive(a), 0) << output_;
  struct stat st {};
  ASSERT_EQ(stat(Path("dest/tool").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07000, 0u);
  EXPECT_EQ(st.st_mode & 0100, 0100u);
}

TEST_F(HostileTest, FullDiskLeavesNoPartialFile) {
  Bytes a = ArchiveOf({Level2Member("big.bin", std::string(300000, 'b'))});
  WriteFile(Path("h.lzh"), a);
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit r = old;
  r.rlim_cur = 100000;
  setrlimit(RLIMIT_FSIZE, &r);
  int rc = Run("E -y1 " + Q(Path("h.lzh")) + " " + Q(Path("dest")) + "/");
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(rc, UNLHA_ERROR_WRITE) << output_;
  ExpectDestHolds({});
}
