// One input parsed by several threads: the same bytes whatever the number of threads or the
// pieces the input comes in, read back by every reader; a source that changes while it is read
// fails the update and leaves the archive as it was; a cancelled call leaves nothing.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "encoder.h"
#include "lhasa_decode.h"
#include "segments.h"
#include "tavrun_host.h"
#include "test_util.h"

extern "C" void TavrunSetHost(const TavrunHost* host);
// The run's cancel, as the host asks for it.
std::atomic<bool> g_cancel{false};

using namespace lzhtest;
using namespace tavrun::lzh;

namespace {

constexpr Method kMethods[] = {Method::Lh5, Method::Lh6, Method::Lh7};

// Text with incompressible stretches and long repeats across the segment boundaries.
Bytes Mixed(size_t n, size_t segment) {
  Bytes b = Text(n, 81);
  const Bytes noise = RandomBytes(3000, 82);
  for (size_t at = segment - 1500; at + noise.size() < n; at += segment)
    std::copy(noise.begin(), noise.end(), b.begin() + static_cast<ptrdiff_t>(at));
  for (size_t at = segment + 500; at + 700 < n; at += segment)  // repeats reaching back
    std::copy(b.begin() + static_cast<ptrdiff_t>(at - 40000),
              b.begin() + static_cast<ptrdiff_t>(at - 39300),
              b.begin() + static_cast<ptrdiff_t>(at));
  return b;
}

}  // namespace

TEST(ParallelEncoder, SameBytesOnAnyNumberOfThreadsAtEverySegmentBoundary) {
  EncoderTuning t;
  t.segmentBytes = 64 * 1024;  // the smallest segment every window fits in: many boundaries
  const size_t s = t.segmentBytes;
  const Bytes data = Mixed(4 * s + 5000, s);
  for (Method m : kMethods)
    for (size_t n :
         {size_t{0}, size_t{1}, s - 1, s, s + 1, s + 257, s + 258, s + 259, 2 * s, 4 * s + 5000}) {
      SCOPED_TRACE(std::string(MethodId(m)) + " " + std::to_string(n) + " bytes");
      const Bytes one = Compress(m, data.data(), n, t, 1);
      EXPECT_TRUE(LhasaDecode(MethodId(m), one, n) == Bytes(data.begin(), data.begin() + n));
      for (unsigned threads : {2u, 3u, 5u})
        EXPECT_TRUE(Compress(m, data.data(), n, t, threads) == one);
      if (n <= s) {  // one segment: the single-stream parse itself
        EncoderTuning single = t;
        single.segmentBytes = 0;
        EXPECT_TRUE(Compress(m, data.data(), n, single) == one);
      }
    }
}

TEST(ParallelEncoder, PiecesOfAnySizeGiveTheSameBytes) {
  EncoderTuning t;
  t.segmentBytes = 64 * 1024;
  const Bytes data = Mixed(300000, t.segmentBytes);
  for (Method m : kMethods) {
    const Bytes whole = Compress(m, data.data(), data.size(), t, 2);
    Bytes pieces;
    Encoder enc(
        m,
        [&](const uint8_t* d, size_t n) {
          pieces.insert(pieces.end(), d, d + n);
          return true;
        },
        t, 3);
    std::mt19937 r(83);
    for (size_t at = 0; at < data.size();) {
      const size_t n = std::min<size_t>(data.size() - at, r() % 70000 + 1);
      ASSERT_TRUE(enc.Feed(data.data() + at, n));
      at += n;
    }
    ASSERT_TRUE(enc.Finish());
    EXPECT_TRUE(pieces == whole) << MethodId(m);
  }
}

// Data that does not compress, a whole segment of it (64 KiB segments) or 1.2 MiB inside one
// (4 MiB segments), goes as literals without a parse, and costs no more than the single
// stream's parse of it; copies back into it are still found (its bytes are in the window),
// and the bytes stay the same on any number of threads.
TEST(ParallelEncoder, DataThatCannotCompressGoesAsLiteralsAndStaysInTheWindow) {
  // Text, noise, the last 30,000 bytes of the noise again, text.
  auto input = [](size_t text, size_t noise) {
    Bytes data = Text(text, 86);
    const Bytes random = RandomBytes(noise, 87);
    data.insert(data.end(), random.begin(), random.end());
    data.insert(data.end(), random.end() - 30000, random.end());
    const Bytes more = Text(text, 88);
    data.insert(data.end(), more.begin(), more.end());
    return data;
  };
  EncoderTuning small;
  small.segmentBytes = 64 * 1024;
  const struct {
    EncoderTuning tuning;
    Bytes data;
  } cases[] = {{small, input(64 << 10, 64 << 10)}, {EncoderTuning{}, input(300000, 1200 << 10)}};
  for (const auto& c : cases) {
    for (Method m : kMethods) {
      SCOPED_TRACE(std::string(MethodId(m)) + " " + std::to_string(c.tuning.segmentBytes));
      const Bytes one = Compress(m, c.data.data(), c.data.size(), c.tuning, 1);
      EXPECT_TRUE(LhasaDecode(MethodId(m), one, c.data.size()) == c.data);
      EXPECT_TRUE(Compress(m, c.data.data(), c.data.size(), c.tuning, 3) == one);
      EncoderTuning single = c.tuning;
      single.segmentBytes = 0;
      const Bytes stream = Compress(m, c.data.data(), c.data.size(), single);
      // Missing the copies back into the noise would cost 30,000 bytes.
      EXPECT_LT(one.size(), stream.size() + stream.size() / 100) << stream.size();
    }
  }
}

// A sink that refuses (the output would not be smaller than the input) stops the threads; an
// encoder dropped halfway waits for them and leaks nothing (the sanitizer build checks).
TEST(ParallelEncoder, StopsWhenTheSinkRefusesAndWhenDroppedHalfway) {
  EncoderTuning t;
  t.segmentBytes = 64 * 1024;
  const Bytes data = RandomBytes(1 << 20, 84);
  size_t taken = 0;
  Encoder refused(
      Method::Lh7,
      [&](const uint8_t*, size_t n) {
        taken += n;
        return taken < 100000;
      },
      t, 3);
  bool fed = true;
  for (size_t at = 0; at < data.size() && fed; at += 65536)
    fed = refused.Feed(data.data() + at, 65536);
  EXPECT_FALSE(fed && refused.Finish());
  EXPECT_LT(taken, data.size());
  {
    Encoder dropped(
        Method::Lh5, [](const uint8_t*, size_t) { return true; }, t, 4);
    ASSERT_TRUE(dropped.Feed(data.data(), data.size() / 2));
  }
}

namespace {

// Which segments are parsed at the same moment, seen from the parse's hook. The first
// segment's parse waits until the second has started, or until `wait` has passed.
struct Overlap {
  explicit Overlap(std::chrono::milliseconds w) : wait(w) {}
  void operator()(size_t index, bool started) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!started) {
      --running;
      ended.insert(index);
      return;
    }
    most = std::max(most, ++running);
    begun.insert(index);
    threads.insert(std::this_thread::get_id());
    changed.notify_all();
    if (index == 0) secondWhileFirst = changed.wait_for(lock, wait, [&] { return begun.count(1); });
  }

  std::chrono::milliseconds wait;
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0, most = 0;
  std::set<size_t> begun, ended;
  std::set<std::thread::id> threads;
  bool secondWhileFirst = false;
};

}  // namespace

// Two threads parse two segments at once, whatever the machine's load: the first waits for
// the second to start (a parse kept on one thread would wait in vain). One thread parses them
// one after another on the caller's thread.
TEST(ParallelEncoder, TwoThreadsParseSegmentsAtOnceAndOneThreadInTurn) {
  EncoderTuning t;
  t.segmentBytes = 64 * 1024;
  const Bytes data = Mixed(4 * t.segmentBytes + 5000, t.segmentBytes);  // five segments
  const std::set<size_t> all = {0, 1, 2, 3, 4};
  for (unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    // One thread cannot start the second segment while the first waits: a short wait shows it.
    Overlap overlap(threads == 1 ? std::chrono::milliseconds(100) : std::chrono::seconds(30));
    size_t commands = 0;
    enc::SegmentedParse parse(Method::Lh5, t, threads, [&](const enc::Commands& c) {
      commands += c.size();
      return true;
    });
    parse.SetSegmentHook(std::ref(overlap));
    ASSERT_TRUE(parse.Feed(data.data(), data.size()));
    ASSERT_TRUE(parse.Finish());
    EXPECT_GT(commands, 0u);
    EXPECT_EQ(overlap.begun, all);
    EXPECT_EQ(overlap.ended, all);
    if (threads == 1) {
      EXPECT_FALSE(overlap.secondWhileFirst);
      EXPECT_EQ(overlap.most, 1);
      EXPECT_EQ(overlap.threads, std::set<std::thread::id>{std::this_thread::get_id()});
    } else {
      EXPECT_TRUE(overlap.secondWhileFirst);
      EXPECT_EQ(overlap.most, 2);
      EXPECT_GE(overlap.threads.size(), 2u);
    }
  }
}

namespace {

uint32_t Threads(void*) {
  return 3;
}

// Archives written through the library on three threads.
class ParallelArchiveTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    host_.size = sizeof host_;
    host_.version = TAVRUN_HOST_VERSION;
    host_.threads_per_call = Threads;
    host_.cancel_requested = [](void*) -> int32_t { return g_cancel.load() ? 1 : 0; };
    TavrunSetHost(&host_);
  }
  void TearDown() override {
    TavrunSetHost(nullptr);
    g_cancel = false;
    ScratchTest::TearDown();
  }
  TavrunHost host_{};
};

}  // namespace

TEST_F(ParallelArchiveTest, EveryReaderReadsWhatThreadsWrote) {
  // Two segments and a bit of a third at the default size.
  const Bytes data = Mixed((8u << 20) + 300, 4u << 20);
  WriteFile(Path("big.txt"), data);
  const std::vector<std::string> tools = {"lhasa", "bsdtar", "7zz", "unar"};
  std::string missing;
  for (const std::string& tool : tools)
    if (!HaveTool(tool)) missing += " " + tool;
  for (int jm : {2, 3, 4}) {  // -lh5-, -lh6-, -lh7-
    SCOPED_TRACE("-jm" + std::to_string(jm));
    const fs::path a = Path("p" + std::to_string(jm) + ".lzh");
    ASSERT_EQ(Run("U -jm" + std::to_string(jm) + " " + Q(a) + " " + Q(Path("big.txt"))), 0)
        << output_;
    const auto members = Members(a);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_NE(members[0].method, "-lh0-");
    const fs::path out = Path("o" + std::to_string(jm));
    fs::create_directories(out);
    ASSERT_EQ(Run("E " + Q(a) + " " + Q(out) + "/"), 0) << output_;
    EXPECT_TRUE(ReadFile(out / "big.txt") == data);
    const std::string q = Q(a), want = Q(Path("big.txt"));
    const std::pair<std::string, std::string> readers[] = {
        {"lhasa", "lhasa pq " + q + " | cmp -s - " + want},
        {"bsdtar", "bsdtar -xOf " + q + " | cmp -s - " + want},
        {"7zz", "7zz e -so " + q + " | cmp -s - " + want},
        {"unar", "unar -q -o " + Q(Path("u" + std::to_string(jm))) + " " + q + " && cmp -s " +
                     Q(Path("u" + std::to_string(jm)) / "big.txt") + " " + want}};
    for (const auto& [tool, command] : readers)
      if (HaveTool(tool)) {
        EXPECT_EQ(Shell("(" + command + ") >/dev/null 2>&1"), 0) << tool << " rejects it";
      }
  }
  if (!missing.empty()) GTEST_SKIP() << "readers not installed:" << missing;
}

TEST_F(ParallelArchiveTest, CancelHalfwayThroughALargeFileLeavesNothing) {
  WriteFile(Path("big.txt"), Mixed(12u << 20, 4u << 20));
  const fs::path a = Path("c.lzh");
  // 12 MiB at -lh7- take a second or more of two processors: the cancel comes inside the
  // file, its threads at work.
  std::thread canceller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_cancel = true;
  });
  const int rc = Run("U -jm4 " + Q(a) + " " + Q(Path("big.txt")));
  canceller.join();
  EXPECT_EQ(rc, UNLHA_ERROR_CANCELLED) << output_;
  EXPECT_EQ(Listing(dir_), std::vector<std::string>{"big.txt"});
}

TEST_F(ParallelArchiveTest, ASourceThatGrowsWhileReadFailsAndTheArchiveStays) {
  WriteFile(Path("keep.txt"), Text(5000, 85));
  const fs::path a = Path("g.lzh");
  ASSERT_EQ(Run("U " + Q(a) + " " + Q(Path("keep.txt"))), 0) << output_;
  const Bytes before = ReadFile(a);
  WriteFile(Path("log.txt"), Mixed(6u << 20, 4u << 20));
  std::atomic<bool> done{false};
  std::thread writer([&] {  // a program still writing its log
    const int fd = ::open(Path("log.txt").c_str(), O_WRONLY | O_APPEND);
    const Bytes line = Text(100, 86);
    while (!done) {
      if (::write(fd, line.data(), line.size()) < 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::close(fd);
  });
  const int rc = Run("U -jm4 " + Q(a) + " " + Q(Path("log.txt")));
  done = true;
  writer.join();
  EXPECT_EQ(rc, UNLHA_ERROR_SOURCE) << output_;
  EXPECT_NE(output_.find("changed while it was being read"), std::string::npos) << output_;
  EXPECT_TRUE(ReadFile(a) == before);
  EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"g.lzh", "keep.txt", "log.txt"}));
}
