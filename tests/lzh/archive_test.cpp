// The U and E commands through the exported entry points: methods, update rules, switches,
// atomic replacement, the archive check and the output buffer.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>

#include "header.h"
#include "lzh_builders.h"
#include "test_util.h"

using namespace lzhtest;
using tavrun::lzh::MemberHeader;
using tavrun::lzh::ReadMemberHeader;
using tavrun::lzh::ScanStatus;

namespace {

std::vector<MemberHeader> Members(const fs::path& archive) {
  std::vector<MemberHeader> out;
  int fd = open(archive.c_str(), O_RDONLY);
  if (fd < 0) return out;
  uint64_t size = fs::file_size(archive), off = 0;
  for (;;) {
    MemberHeader h;
    std::string reason;
    if (ReadMemberHeader(fd, off, size, h, reason) != ScanStatus::Member) break;
    off += h.totalSize();
    out.push_back(h);
  }
  close(fd);
  return out;
}

// The raw bytes of one member (header and data).
Bytes RawMember(const fs::path& archive, const std::string& nameRaw) {
  Bytes all = ReadFile(archive);
  for (const auto& m : Members(archive))
    if (m.nameRaw == nameRaw)
      return Bytes(all.begin() + m.offset, all.begin() + m.offset + m.totalSize());
  return {};
}

bool NoTemporaries(const fs::path& dir) {
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.path().filename().string().find(".tmp") != std::string::npos ||
        e.path().filename().string().find(".lzh.") != std::string::npos)
      return false;
  return true;
}

// Makes writes fail beyond `bytes` for the duration of a scope (a full disk, for a test).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit r = old_;
    r.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &r);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

 private:
  rlimit old_{};
};

class ArchiveTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directories(Path("in"));
    fs::create_directories(Path("out"));
  }
  fs::path In(const std::string& n) { return Path("in") / n; }
  int Add(const std::string& switches, const std::string& file, const std::string& archive = "a.lzh") {
    return Run("U " + switches + " " + Q(Path(archive)) + " " + Q(In(file)));
  }
  int Extract(const std::string& switches, const std::string& archive = "a.lzh") {
    return Run("E " + switches + " " + Q(Path(archive)) + " " + Q(Path("out")) + "/");
  }
};

}  // namespace

TEST_F(ArchiveTest, EveryMethodRoundTripsNamesDatesModesAndData) {
  struct F {
    std::string name;
    Bytes data;
    mode_t mode;
  };
  std::vector<F> files = {{"empty", {}, 0644},
                          {"one", {'x'}, 0600},
                          {"three", {1, 2, 3}, 0644},
                          {"text.txt", Text(120000, 1), 0755},
                          {"random.bin", RandomBytes(70000, 2), 0640},
                          {"報告書.txt", Text(5000, 3), 0644}};
  int64_t t = 1500000000;
  for (auto& f : files) {
    WriteFile(In(f.name), f.data);
    fs::permissions(In(f.name), static_cast<fs::perms>(f.mode));
    SetMtime(In(f.name), t += 3601);
  }
  const char* methods[] = {"-lh0-", "-lh5-", "-lh5-", "-lh6-", "-lh7-"};
  for (int jm = 0; jm <= 4; ++jm) {
    SCOPED_TRACE(jm);
    const std::string archive = "m" + std::to_string(jm) + ".lzh";
    for (auto& f : files) ASSERT_EQ(Add("-jm" + std::to_string(jm), f.name, archive), 0) << output_;
    auto members = Members(Path(archive));
    ASSERT_EQ(members.size(), files.size());
    for (const auto& m : members) {
      EXPECT_EQ(m.level, 2);
      EXPECT_EQ(m.osId, 'U');
      // Stored when compression gains nothing: small and random files.
      bool compressible = m.originalSize > 1000 && m.nameRaw != "random.bin";
      EXPECT_EQ(m.method, compressible ? methods[jm] : "-lh0-") << m.nameRaw;
      if (m.method != "-lh0-") {
        EXPECT_LT(m.compressedSize, m.originalSize);
      }
    }
    fs::remove_all(Path("out"));
    fs::create_directories(Path("out"));
    ASSERT_EQ(Extract("-x1", archive), 0) << output_;
    for (auto& f : files) {
      EXPECT_EQ(ReadFile(Path("out") / f.name), f.data) << f.name;
      EXPECT_EQ(Mtime(Path("out") / f.name), Mtime(In(f.name))) << f.name;
      EXPECT_EQ(fs::status(Path("out") / f.name).permissions(), static_cast<fs::perms>(f.mode));
    }
  }
  // The Japanese name is stored in CP932 with its code page.
  auto members = Members(Path("m2.lzh"));
  EXPECT_EQ(members.back().nameRaw, "\x95\xF1\x8D\x90\x8F\x91.txt");
  EXPECT_EQ(members.back().codePage, 932u);
}

TEST_F(ArchiveTest, LargeFileStreamsThrough) {
  Bytes big = Text(3u << 20, 4);
  Bytes noise = RandomBytes(1u << 20, 5);
  big.insert(big.begin() + (1u << 20), noise.begin(), noise.end());
  WriteFile(In("big"), big);
  ASSERT_EQ(Add("-jm4", "big"), 0) << output_;
  EXPECT_LT(fs::file_size(Path("a.lzh")), big.size() * 3 / 4);
  ASSERT_EQ(Extract(""), 0) << output_;
  EXPECT_TRUE(ReadFile(Path("out/big")) == big);
}

TEST_F(ArchiveTest, UpdateReplacesOnlyNewerFilesAndCopiesTheRest) {
  WriteFile(In("a.txt"), "first version of a");
  WriteFile(In("b.txt"), Text(20000, 6));
  SetMtime(In("a.txt"), 1600000000);
  SetMtime(In("b.txt"), 1600000000);
  ASSERT_EQ(Add("", "a.txt"), 0);
  ASSERT_EQ(Add("-jm4", "b.txt"), 0);
  const Bytes rawB = RawMember(Path("a.lzh"), "b.txt");
  const Bytes before = ReadFile(Path("a.lzh"));

  // Same date, different content: kept.
  WriteFile(In("a.txt"), "second version of a");
  SetMtime(In("a.txt"), 1600000000);
  EXPECT_EQ(Add("-t1", "a.txt"), 0) << output_;
  EXPECT_EQ(ReadFile(Path("a.lzh")), before);
  // Older: kept.
  SetMtime(In("a.txt"), 1500000000);
  EXPECT_EQ(Add("-t1", "a.txt"), 0);
  EXPECT_EQ(ReadFile(Path("a.lzh")), before);
  // Newer, but nobody to ask and no -t1: kept and reported.
  SetMtime(In("a.txt"), 1700000000);
  EXPECT_EQ(Add("", "a.txt"), UNLHA_ERROR_KEPT) << output_;
  EXPECT_EQ(ReadFile(Path("a.lzh")), before);
  // Newer with -t1: replaced in place; the other member is copied byte for byte.
  EXPECT_EQ(Add("-t1", "a.txt"), 0) << output_;
  auto members = Members(Path("a.lzh"));
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].nameRaw, "a.txt");
  EXPECT_EQ(members[0].mtime, 1700000000);
  EXPECT_EQ(RawMember(Path("a.lzh"), "b.txt"), rawB);
  // Older with -c1 -t1: replaced whatever the date.
  WriteFile(In("a.txt"), "third");
  SetMtime(In("a.txt"), 1400000000);
  EXPECT_EQ(Add("-c1 -t1", "a.txt"), 0);
  ASSERT_EQ(Extract("-y1 -c1"), 0) << output_;
  EXPECT_EQ(ReadFile(Path("out/a.txt")), Bytes({'t', 'h', 'i', 'r', 'd'}));
}

TEST_F(ArchiveTest, ArchiveDateFollowsTheNewestMemberWithY1) {
  WriteFile(In("old"), "o");
  WriteFile(In("new"), "n");
  SetMtime(In("old"), 1500000000);
  SetMtime(In("new"), 1600000000);
  ASSERT_EQ(Add("", "new"), 0);
  ASSERT_EQ(Add("-y1", "old"), 0);
  EXPECT_EQ(Mtime(Path("a.lzh")), 1600000000);
  ASSERT_EQ(Add("", "old", "b.lzh"), 0);
  EXPECT_GT(Mtime(Path("b.lzh")), 1600000000);  // without -y1: the time of writing
}

TEST_F(ArchiveTest, FailedUpdateLeavesTheArchiveIdentical) {
  WriteFile(In("keep.txt"), Text(30000, 7));
  ASSERT_EQ(Add("", "keep.txt"), 0);
  const Bytes before = ReadFile(Path("a.lzh"));

  // A source that fails while being read.
  EXPECT_EQ(Run("U " + Q(Path("a.lzh")) + " /proc/self/mem"), UNLHA_ERROR_SOURCE) << output_;
  // A missing source and a directory.
  EXPECT_EQ(Add("", "missing"), UNLHA_ERROR_SOURCE);
  fs::create_directories(In("dir"));
  EXPECT_EQ(Add("", "dir"), UNLHA_ERROR_SOURCE);
  // The disk fills up while the new archive is written.
  WriteFile(In("huge"), RandomBytes(400000, 8));
  {
    FileSizeLimit limit(before.size() + 50000);
    EXPECT_EQ(Add("", "huge"), UNLHA_ERROR_WRITE) << output_;
  }
  EXPECT_EQ(ReadFile(Path("a.lzh")), before);
  EXPECT_TRUE(NoTemporaries(dir_));

  // A damaged archive is not rewritten (its other members would be lost).
  Bytes damaged = before;
  damaged[5] ^= 0xFF;
  WriteFile(Path("d.lzh"), damaged);
  EXPECT_EQ(Add("", "keep.txt", "d.lzh"), UNLHA_ERROR_NOT_LZH);
  EXPECT_EQ(ReadFile(Path("d.lzh")), damaged);
  WriteFile(Path("text.lzh"), "just some text, not an archive\n");
  EXPECT_EQ(Add("", "keep.txt", "text.lzh"), UNLHA_ERROR_NOT_LZH);
  WriteFile(Path("empty.lzh"), "");
  EXPECT_EQ(Add("", "keep.txt", "empty.lzh"), UNLHA_ERROR_NOT_LZH);
  EXPECT_EQ(fs::file_size(Path("empty.lzh")), 0u);
}

TEST_F(ArchiveTest, ExtractSwitchesDecideWhatIsReplaced) {
  Bytes inner = lzhtest::ArchiveOf({lzhtest::Level2Member("f.txt", "archived", {"d"})});
  WriteFile(Path("a.lzh"), inner);  // member time 1600000000
  // Without -x1 the directories are dropped.
  ASSERT_EQ(Extract(""), 0) << output_;
  EXPECT_EQ(Listing(Path("out")), std::vector<std::string>({"f.txt"}));
  fs::remove(Path("out/f.txt"));
  ASSERT_EQ(Extract("-x1"), 0);
  EXPECT_EQ(Listing(Path("out")), std::vector<std::string>({"d/", "d/f.txt"}));

  const fs::path f = Path("out/d/f.txt");
  auto reset = [&](const std::string& content, int64_t mtime) {
    fs::permissions(f, fs::perms::owner_write, fs::perm_options::add);
    WriteFile(f, content);
    SetMtime(f, mtime);
  };
  auto content = [&] {
    Bytes b = ReadFile(f);
    return std::string(b.begin(), b.end());
  };
  // Existing file newer: kept without -c1, replaced with it.
  reset("newer", 1700000000);
  EXPECT_EQ(Extract("-x1 -y1"), 0);
  EXPECT_EQ(content(), "newer");
  EXPECT_EQ(Extract("-x1 -y1 -c1"), 0);
  EXPECT_EQ(content(), "archived");
  // Existing file older: replaced with -y1; without it nobody can be asked.
  reset("older", 1500000000);
  EXPECT_EQ(Extract("-x1"), UNLHA_ERROR_KEPT) << output_;
  EXPECT_EQ(content(), "older");
  EXPECT_EQ(Extract("-x1 -y1"), 0);
  EXPECT_EQ(content(), "archived");
  // Read-only: kept with -ga2, replaced otherwise.
  reset("read-only", 1500000000);
  fs::permissions(f, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(Extract("-x1 -y1 -ga2"), 0);
  EXPECT_EQ(content(), "read-only");
  EXPECT_EQ(Extract("-x1 -y1 -ga1"), 0);
  EXPECT_EQ(content(), "archived");
  EXPECT_TRUE(NoTemporaries(dir_));
}

TEST_F(ArchiveTest, BadCommandLinesAreRefused) {
  WriteFile(In("x"), "x");
  EXPECT_EQ(Run(""), UNLHA_ERROR_COMMAND);
  EXPECT_EQ(Run("X " + Q(Path("a.lzh")) + " " + Q(In("x"))), UNLHA_ERROR_COMMAND);
  EXPECT_EQ(Run("U -jm5 " + Q(Path("a.lzh")) + " " + Q(In("x"))), UNLHA_ERROR_COMMAND);
  EXPECT_EQ(Run("U -q " + Q(Path("a.lzh")) + " " + Q(In("x"))), UNLHA_ERROR_COMMAND);
  EXPECT_EQ(Run("U " + Q(Path("a.lzh"))), UNLHA_ERROR_COMMAND);
  EXPECT_EQ(Run("E " + Q(Path("a.lzh"))), UNLHA_ERROR_COMMAND);
  EXPECT_EQ(Run("U \"" + Path("a.lzh").string() + " " + Q(In("x"))), UNLHA_ERROR_COMMAND);
  EXPECT_EQ(Unlha(0, nullptr, nullptr, 0), UNLHA_ERROR_COMMAND);
  EXPECT_FALSE(fs::exists(Path("a.lzh")));
  // A path holding blanks and a doubled quote.
  WriteFile(In("say \"hi\".txt"), "hi");
  EXPECT_EQ(Run("U " + Q(Path("q.lzh")) + " \"" + In("say \"\"hi\"\".txt").string() + "\""), 0) << output_;
  EXPECT_EQ(Members(Path("q.lzh")).at(0).nameRaw, "say \"hi\".txt");
  // Missing archive and missing destination.
  EXPECT_EQ(Extract("", "none.lzh"), UNLHA_ERROR_ARCHIVE);
  EXPECT_EQ(Run("E " + Q(Path("q.lzh")) + " " + Q(Path("nowhere")) + "/"), UNLHA_ERROR_WRITE);
}

TEST_F(ArchiveTest, OutputBufferIsNeverOverrun) {
  const std::string line = "E " + Q(Path("missing.lzh")) + " " + Q(Path("out"));
  ASSERT_EQ(Run(line, 4096), UNLHA_ERROR_ARCHIVE);
  const std::string full = output_;
  ASSERT_GT(full.size(), 40u);
  for (uint32_t size : {0u, 1u, 2u, 7u, 40u}) {
    std::vector<char> buf(size + 16, '\x7F');
    int rc = Unlha(0, line.c_str(), size ? buf.data() : nullptr, size);
    EXPECT_EQ(rc, UNLHA_ERROR_ARCHIVE);
    for (size_t i = size; i < buf.size(); ++i) ASSERT_EQ(buf[i], '\x7F') << size;
    if (size) {
      EXPECT_LT(std::strlen(buf.data()), size);
      EXPECT_EQ(std::string(buf.data()), full.substr(0, size - 1));
    }
  }
}

TEST_F(ArchiveTest, CheckAcceptsOnlyReadableArchives) {
  WriteFile(In("t.txt"), Text(20000, 9));
  ASSERT_EQ(Add("-jm3", "t.txt"), 0);
  const Bytes good = ReadFile(Path("a.lzh"));
  EXPECT_EQ(UnlhaCheckArchive(Path("a.lzh").c_str(), 1), 1);
  EXPECT_EQ(UnlhaCheckArchive(Path("a.lzh").c_str(), 2), 1);

  auto check = [&](const Bytes& b, int mode = 1) {
    WriteFile(Path("c.lzh"), b);
    return UnlhaCheckArchive(Path("c.lzh").c_str(), mode);
  };
  EXPECT_EQ(check({}), 0);
  EXPECT_EQ(check({0}), 0);
  EXPECT_EQ(check(Text(3000, 10)), 0);
  EXPECT_EQ(check(Bytes(good.begin(), good.begin() + 20)), 0);
  EXPECT_EQ(check(Bytes(good.begin(), good.end() - 100)), 0);
  Bytes badHeader = good;
  badHeader[15] ^= 1;  // the time, covered by the header CRC
  EXPECT_EQ(check(badHeader), 0);
  Bytes badData = good;
  badData[good.size() - 50] ^= 0x10;
  EXPECT_EQ(check(badData, 1), 1);  // headers only
  EXPECT_EQ(check(badData, 2), 0);
  EXPECT_EQ(UnlhaCheckArchive(Path("in").c_str(), 1), 0);
  EXPECT_EQ(UnlhaCheckArchive(Path("none").c_str(), 1), 0);
  EXPECT_EQ(UnlhaCheckArchive(nullptr, 1), 0);
}

TEST_F(ArchiveTest, FilesOf4GiBAreRefusedWithoutTouchingTheArchive) {
  WriteFile(In("small"), "s");
  ASSERT_EQ(Add("", "small"), 0);
  const Bytes before = ReadFile(Path("a.lzh"));
  {
    std::ofstream f(In("huge"), std::ios::binary);
  }
  fs::resize_file(In("huge"), 4ull << 30);  // sparse: nothing is written
  EXPECT_EQ(Add("", "huge"), UNLHA_ERROR_TOO_LARGE) << output_;
  EXPECT_EQ(ReadFile(Path("a.lzh")), before);
}

TEST_F(ArchiveTest, ASymlinkedArchiveKeepsItsLink) {
  WriteFile(In("one"), "1");
  WriteFile(In("two"), "2");
  fs::create_directories(Path("real"));
  ASSERT_EQ(Run("U " + Q(Path("real/a.lzh")) + " " + Q(In("one"))), 0);
  fs::create_symlink(Path("real/a.lzh"), Path("a.lzh"));
  ASSERT_EQ(Add("", "two"), 0) << output_;
  EXPECT_TRUE(fs::is_symlink(Path("a.lzh")));
  EXPECT_EQ(Members(Path("real/a.lzh")).size(), 2u);
}

TEST_F(ArchiveTest, HandMadeArchivesOfEveryLevelExtract) {
  // "表" (0x95 0x5C) and "ソ" (0x83 0x5C) end in the byte of '\'.
  const std::string hyo = "\x95\x5C", so = "\x83\x5C";
  Bytes a = ArchiveOf({Level0Member(so + "\\" + hyo + ".txt", "level 0"),
                       Level1Member(hyo + "1.txt", so + "\xFF" "d\xFF", "level 1"),
                       Level2Member(so + hyo + ".txt", "level 2", {hyo}, 0),
                       Level2Member("", "", {"空"}, 65001, 040755, "-lhd-"),
                       Level3Member(hyo + "3.txt", "l3\xFF", "level 3")});
  WriteFile(Path("a.lzh"), a);
  EXPECT_EQ(UnlhaCheckArchive(Path("a.lzh").c_str(), 2), 1);
  ASSERT_EQ(Extract("-x1"), 0) << output_;
  EXPECT_EQ(Listing(Path("out")),
            std::vector<std::string>({"l3/", "l3/表3.txt", "ソ/", "ソ/d/", "ソ/d/表1.txt", "ソ/表.txt", "空/",
                                      "表/", "表/ソ表.txt"}));
  Bytes l3 = ReadFile(Path("out/l3/表3.txt"));
  EXPECT_EQ(std::string(l3.begin(), l3.end()), "level 3");
  EXPECT_EQ(Mtime(Path("out/l3/表3.txt")), 1600000000);
  Bytes l1 = ReadFile(Path("out/ソ/d/表1.txt"));
  EXPECT_EQ(std::string(l1.begin(), l1.end()), "level 1");
  // Level 0/1 times are local DOS times.
  EXPECT_EQ(Mtime(Path("out/ソ/表.txt")), tavrun::lzh::DosTimeToUnix(0x5A210000));
}
