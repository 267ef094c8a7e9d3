// The writers' turns: the lock follows an archive that its previous writer replaced, and a new
// archive never replaces one that appeared while it was written.
#include "archive_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "host.h"
#include "safe_output.h"

namespace {

namespace fs = std::filesystem;
using tavrun::arc::ArchiveLock;
using tavrun::arc::AtomicFile;

class LockTree : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string t = (fs::temp_directory_path() / "archivelock.XXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    dir_ = t;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  static void Write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Whether someone holds the lock on the file `p` names now.
  static bool Locked(const fs::path& p) {
    const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
    const bool busy = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return busy;
  }
  // How many descriptors of this process are open on the file `p` names.
  static int OpenCount(const fs::path& p) {
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/self/fd", ec))
      n += fs::read_symlink(e.path(), ec) == p;
    return n;
  }
  std::set<std::string> Listing() const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) out.insert(e.path().filename().string());
    return out;
  }
  fs::path dir_;
};

// A writer holds the old archive while the next one waits for it, then renames its new archive
// over it: the waiting one must end up holding the new archive, not the replaced one.
TEST_F(LockTree, TheLockFollowsAnArchiveReplacedWhileWaiting) {
  const fs::path archive = dir_ / "a.lzh";
  Write(archive, "old");
  const int first = open(archive.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(first, LOCK_EX), 0);
  bool held = false;
  std::thread second([&] {
    ArchiveLock lock(archive);
    held = lock.held();
    // What the second writer reads under its lock is the first writer's archive.
    EXPECT_EQ(Read(archive), "new");
    EXPECT_TRUE(Locked(archive));
  });
  // Replaced only once the second writer has opened the old archive and waits on it.
  while (OpenCount(archive) < 2) std::this_thread::yield();
  Write(dir_ / "next", "new");
  fs::rename(dir_ / "next", archive);
  close(first);  // the first writer is done
  second.join();
  EXPECT_TRUE(held);
  EXPECT_FALSE(Locked(archive));                         // released with the object
  EXPECT_EQ(Listing(), std::set<std::string>{"a.lzh"});  // no lock file of its own
}

TEST_F(LockTree, NothingToLockWhereNoRegularFileStands) {
  EXPECT_FALSE(ArchiveLock(dir_ / "missing.lzh").held());
  fs::create_directory(dir_ / "dir.lzh");
  EXPECT_FALSE(ArchiveLock(dir_ / "dir.lzh").held());
  ASSERT_EQ(mkfifo((dir_ / "fifo.lzh").c_str(), 0600), 0);
  EXPECT_FALSE(ArchiveLock(dir_ / "fifo.lzh").held());  // and the open does not hang
  Write(dir_ / "real.zip", "x");
  fs::create_symlink(dir_ / "real.zip", dir_ / "link.zip");
  ArchiveLock lock(dir_ / "link.zip");
  EXPECT_TRUE(lock.held());
  EXPECT_TRUE(Locked(dir_ / "real.zip"));
}

// Two writers found no archive; the one that commits second must not replace the first one's.
TEST_F(LockTree, ANewArchiveNeverReplacesOneThatAppearedMeanwhile) {
  const fs::path archive = dir_ / "new.zip";
  AtomicFile late;
  std::string error;
  ASSERT_TRUE(late.Open(archive, error, true)) << error;
  ASSERT_EQ(write(late.fd(), "late", 4), 4);
  Write(archive, "first");
  errno = 0;
  EXPECT_FALSE(late.Commit(0644, error));
  EXPECT_EQ(errno, EEXIST) << error;
  EXPECT_EQ(Read(archive), "first");
  EXPECT_EQ(Listing(), std::set<std::string>{"new.zip"});
  // Asked to create what exists already: refused at once, the same way.
  AtomicFile again;
  errno = 0;
  EXPECT_FALSE(again.Open(archive, error, true));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(Read(archive), "first");
}

// A writer waiting for another program's archive gives up when the run is cancelled, holding
// nothing; the other writer's lock is untouched.
TEST_F(LockTree, AWaitEndsWhenTheRunIsCancelled) {
  const fs::path archive = dir_ / "busy.lzh";
  Write(archive, "theirs");
  const int other = open(archive.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  static std::atomic<bool> cancel{false};
  TavrunHost host{};
  host.size = sizeof host;
  host.version = TAVRUN_HOST_VERSION;
  host.cancel_requested = [](void*) -> int32_t { return cancel ? 1 : 0; };
  tavrun::arc::SetHost(&host);
  bool held = true, cancelled = false;
  std::thread waiter([&] {
    ArchiveLock lock(archive);
    held = lock.held();
    cancelled = lock.cancelled();
  });
  while (OpenCount(archive) < 2) std::this_thread::yield();  // it waits on the archive
  cancel = true;
  waiter.join();
  tavrun::arc::SetHost(nullptr);
  EXPECT_FALSE(held);
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(Locked(archive));  // still the other program's
  close(other);
  EXPECT_EQ(Read(archive), "theirs");
}

}  // namespace
