// Archives built to do harm, and damaged ones: nothing is written outside the destination, no
// symbolic link is created, no partial file is left, and each gets its own code.
#include <signal.h>
#include <sys/resource.h>

#include "test_util.h"

using namespace lzhtest;

namespace {

class HostileTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directories(Path("dest"));
    fs::create_directories(Path("outside"));
    WriteFile(Path("outside/victim.txt"), std::string("untouched"));
  }
  int Extract(const Bytes& archive) {
    WriteFile(Path("h.lzh"), archive);
    return Run("E -x1 -y1 -c1 " + Q(Path("h.lzh")) + " " + Q(Path("dest")) + "/");
  }
};

// Sets a level-2 header's size and header CRC (record 0x00 comes first) after a change.
void Reseal(Bytes& h, size_t headerSize) {
  h[0] = static_cast<uint8_t>(headerSize);
  h[1] = static_cast<uint8_t>(headerSize >> 8);
  h[27] = h[28] = 0;
  const uint16_t crc = tavrun::lzh::Crc16(0, h.data(), headerSize);
  h[27] = static_cast<uint8_t>(crc);
  h[28] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace

TEST_F(HostileTest, EachHostileOrDamagedArchiveIsRefusedAndTheRestExtracted) {
  const Bytes ok = Level2Member("ok.txt", "fine");
  const Bytes first = Level2Member("first.txt", "1111");
  const Bytes two = ArchiveOf({first, Level2Member("second.txt", "2222")});
  Bytes badData = Level2Member("data.txt", "some data that will be damaged");
  badData[badData.size() - 3] ^= 0x20;
  Bytes badHeaderCrc = two;
  badHeaderCrc[first.size() + 16] ^= 1;
  Bytes badChecksum = OldMember(0, "old.txt", "x");
  badChecksum[8] ^= 0x40;
  Bytes tooLong = first;  // claims 64 KiB of data; the header CRC is made right again
  tooLong[7] = tooLong[8] = 0xFF;
  Reseal(tooLong, tooLong[0] | tooLong[1] << 8);
  // A 64-bit size record (0x42) whose size makes the member end where it began.
  Bytes wrap = Level2Member("wrap.txt", ""), rec = {0x42};
  Put(rec, 0 - uint64_t{wrap.size() + 19}, 8);
  Put(rec, 0, 8);
  rec.insert(rec.end(), wrap.begin() + 29, wrap.begin() + 31);  // the next record's size
  wrap[29] = static_cast<uint8_t>(rec.size());
  wrap[30] = 0;
  wrap.insert(wrap.begin() + 31, rec.begin(), rec.end());
  Reseal(wrap, wrap.size());
  // A real -lh5- stream with a byte changed in its middle.
  WriteFile(Path("dest/src"), Text(40000, 20));
  ASSERT_EQ(Run("U " + Q(Path("dest/lh5.lzh")) + " " + Q(Path("dest/src"))), 0) << output_;
  Bytes lh5 = ReadFile(Path("dest/lh5.lzh"));
  lh5[lh5.size() / 2] ^= 0x55;
  const Bytes symlink = Level2Member("link|../outside", "", {}, 932, 0120777, "-lhd-");
  const Bytes unknownMethod = Level2Member("odd.bin", "xxxx", {}, 932, 0100644, "-zz9-");

  const int unsafe = UNLHA_ERROR_UNSAFE, notLzh = UNLHA_ERROR_NOT_LZH;
  // clang-format off
  struct Case { const char* what; Bytes archive; int rc; std::vector<std::string> dest; };
  const Case cases[] = {
      {"names with ..", ArchiveOf({OldMember(0, "..\\outside\\victim.txt", "evil"),
                                   OldMember(0, "s\\..\\..\\outside\\victim.txt", "evil"),
                                   Level2Member("victim.txt", "evil", {"..", "outside"}), ok}),
       unsafe, {"ok.txt"}},
      {"absolute names land below the destination",
       ArchiveOf({OldMember(0, "\\top\\abs.txt", "evil"), OldMember(0, "C:\\evil", "evil"), ok}),
       0, {"evil", "ok.txt", "top/", "top/abs.txt"}},
      {"control characters",
       ArchiveOf({Level2Member("a\x1b[31m", "x"), OldMember(0, "new\nline", "x"), ok}),
       unsafe, {"ok.txt"}},
      {"a symlink member and a file through it",  // "link" becomes a plain directory
       ArchiveOf({symlink, Level2Member("victim.txt", "evil", {"link"}), ok}),
       unsafe, {"link/", "link/victim.txt", "ok.txt"}},
      {"bad data CRC", ArchiveOf({badData, ok}), UNLHA_ERROR_DATA, {"ok.txt"}},
      {"damaged -lh5- stream", lh5, UNLHA_ERROR_DATA, {}},
      {"cut in the second member's data", Bytes(two.begin(), two.end() - 3), notLzh, {"first.txt"}},
      {"cut in the first header", Bytes(two.begin(), two.begin() + 15), notLzh, {}},
      {"bad header CRC", badHeaderCrc, notLzh, {"first.txt"}},
      {"bad level-0 checksum", ArchiveOf({badChecksum, ok}), notLzh, {}},
      {"more data than the file holds", ArchiveOf({tooLong}), notLzh, {}},
      {"64-bit size wrapping around", ArchiveOf({wrap, ok}), notLzh, {}},
      {"unknown method", ArchiveOf({unknownMethod, ok}), UNLHA_ERROR_METHOD, {"ok.txt"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Path("dest"));
    fs::create_directories(Path("dest"));
    EXPECT_EQ(Extract(c.archive), c.rc) << output_;
    EXPECT_EQ(Listing(Path("dest")), c.dest);
    for (const auto& e : fs::recursive_directory_iterator(Path("dest")))
      EXPECT_FALSE(e.is_symlink()) << e.path();
    std::vector<std::string> top;
    for (const auto& e : fs::directory_iterator(dir_)) top.push_back(e.path().filename());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"dest", "h.lzh", "outside"}));
    EXPECT_EQ(Listing(Path("outside")), std::vector<std::string>{"victim.txt"});
    EXPECT_EQ(ReadText(Path("outside/victim.txt")), "untouched");
    if (c.rc == UNLHA_ERROR_NOT_LZH || c.rc == UNLHA_ERROR_DATA) {  // the check sees it too
      EXPECT_EQ(UnlhaCheckArchive(Path("h.lzh").c_str(), c.rc == UNLHA_ERROR_DATA ? 2 : 1), 0);
    }
  }
}

TEST_F(HostileTest, SetuidBitsAreDroppedAndAFullDiskLeavesNoPartialFile) {
  ASSERT_EQ(Extract(ArchiveOf({Level2Member("tool", "#!/bin/sh\n", {}, 932, 0106755)})), 0)
      << output_;
  EXPECT_EQ(fs::status(Path("dest/tool")).permissions(), fs::perms(0755));
  fs::remove(Path("dest/tool"));

  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  WriteFile(Path("h.lzh"), ArchiveOf({Level2Member("big.bin", std::string(300000, 'b'))}));
  rlimit r = old;
  r.rlim_cur = 100000;
  setrlimit(RLIMIT_FSIZE, &r);
  const int rc = Run("E -y1 " + Q(Path("h.lzh")) + " " + Q(Path("dest")) + "/");
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(rc, UNLHA_ERROR_WRITE) << output_;
  EXPECT_EQ(Listing(Path("dest")), std::vector<std::string>{});
}
