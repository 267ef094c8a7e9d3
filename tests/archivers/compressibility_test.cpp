// The look before compressing: what does not compress is found so, what compresses anywhere in
// the input (its start, a later stretch, copies reaching back into the window) is not missed.
#include "compressibility.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using tavrun::arc::WorthCompressing;
using tavrun::arc::WorthCompressingData;
using tavrun::arc::WorthCompressingFile;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLh5Window = 8192, kDeflateWindow = 32768, kLh7Window = 65536;

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 g(seed);
  Bytes b(n);
  for (uint8_t& c : b) c = static_cast<uint8_t>(g());
  return b;
}

// Comma-separated numbers: compressible by a half or more, with short copies only.
Bytes Csv(size_t n, uint32_t seed) {
  std::mt19937 g(seed);
  Bytes b;
  while (b.size() < n) {
    const std::string row =
        std::to_string(g() % 100000) + ",山田," + std::to_string(g() % 999) + "\r\n";
    b.insert(b.end(), row.begin(), row.end());
  }
  b.resize(n);
  return b;
}

// Bytes of which every second byte is random and every other one of four values: about 5 bits
// a byte, no copies at all. Literal coding alone saves a third.
Bytes Skewed(size_t n, uint32_t seed) {
  Bytes b = Random(n, seed);
  for (size_t i = 0; i < n; i += 2) b[i] &= 3;
  return b;
}

TEST(Compressibility, TellsWhatCompressesFromWhatDoesNot) {
  for (uint32_t window : {kLh5Window, kDeflateWindow, kLh7Window}) {
    SCOPED_TRACE(window);
    for (size_t n : {size_t(1), size_t(100), size_t(70000), size_t(3) << 20}) {
      SCOPED_TRACE(n);
      const Bytes random = Random(n, 1);
      EXPECT_FALSE(WorthCompressingData(random.data(), n, window));
      if (n < 100) continue;  // a few bytes never pay for a table
      const Bytes csv = Csv(n, 2), skewed = Skewed(n, 3);
      EXPECT_TRUE(WorthCompressingData(csv.data(), n, window));
      EXPECT_TRUE(WorthCompressingData(skewed.data(), n, window));
    }
    EXPECT_FALSE(WorthCompressingData(nullptr, 0, window));  // nothing to gain on nothing
  }
}

// Random data that repeats itself 48 KiB later compresses by half where the window reaches
// back that far, and not at all where it does not.
TEST(Compressibility, CopiesCountAsFarBackAsTheWindowReaches) {
  Bytes data;
  for (uint32_t seed = 0; data.size() < (6u << 20); ++seed) {
    const Bytes block = Random(48 << 10, seed);
    data.insert(data.end(), block.begin(), block.end());
    data.insert(data.end(), block.begin(), block.end());
  }
  EXPECT_TRUE(WorthCompressingData(data.data(), data.size(), kLh7Window));
  EXPECT_FALSE(WorthCompressingData(data.data(), data.size(), kLh5Window));

  // A stretch is looked at with the window before it: its copies from there count.
  const size_t half = 48 << 10;
  tavrun::arc::CompressibilityProbe withHistory(kLh7Window), alone(kLh7Window);
  withHistory.Look(data.data(), half, half);
  alone.Look(data.data() + half, 0, half);
  EXPECT_GT(withHistory.SavedBytes(), 0.9 * half);
  EXPECT_LT(alone.SavedBytes(), 0.01 * half);
  // More history than the window: the stretch is still the bytes after all of it.
  tavrun::arc::CompressibilityProbe lh5(kLh5Window);
  const Bytes block = Random(kLh5Window, 9);
  Bytes longHistory = Random(40000, 10);
  longHistory.insert(longHistory.end(), block.begin(), block.end());
  longHistory.insert(longHistory.end(), block.begin(), block.end());
  lh5.Look(longHistory.data(), longHistory.size() - kLh5Window, kLh5Window);
  EXPECT_GT(lh5.SavedBytes(), 0.9 * kLh5Window);
}

// A large input whose start does not compress but whose later part does is compressed; one
// that compresses only in a sliver is not worth the parse.
TEST(Compressibility, LooksBeyondTheStartOfALargeInput) {
  Bytes photoThenTable = Random(3 << 20, 4);
  const Bytes table = Csv(5 << 20, 5);
  photoThenTable.insert(photoThenTable.end(), table.begin(), table.end());
  EXPECT_TRUE(WorthCompressingData(photoThenTable.data(), photoThenTable.size(), kLh7Window));

  Bytes tableThenPhoto = Csv(64 << 10, 6);
  const Bytes photo = Random(20 << 20, 7);
  tableThenPhoto.insert(tableThenPhoto.end(), photo.begin(), photo.end());
  EXPECT_FALSE(WorthCompressingData(tableThenPhoto.data(), tableThenPhoto.size(), kLh7Window));
}

// A large input that compresses all over is settled after a few stretches spread over it,
// not a read of an eighth of it; one that does not is looked at everywhere.
TEST(Compressibility, ALargeInputThatCompressesIsSettledEarly) {
  int reads = 0;
  const auto table = [&](uint64_t offset, uint8_t* buffer, size_t length) {
    ++reads;
    const std::string row = "4711,山田,請求書,123456,2026-12-07\r\n";
    for (size_t i = 0; i < length; ++i) buffer[i] = uint8_t(row[(offset + i) % row.size()]);
    return true;
  };
  EXPECT_TRUE(WorthCompressing(uint64_t(4) << 30, kLh7Window, table));
  EXPECT_LE(reads, 10);

  reads = 0;
  std::mt19937 g(11);
  const auto noise = [&](uint64_t, uint8_t* buffer, size_t length) {
    ++reads;
    for (size_t i = 0; i < length; ++i) buffer[i] = uint8_t(g());
    return true;
  };
  EXPECT_FALSE(WorthCompressing(uint64_t(64) << 20, kLh7Window, noise));
  EXPECT_EQ(reads, 64);
}

// The file reader gives the answer the bytes give, leaves the file's offset where it was, stops
// when cancelled and counts a file it cannot read as compressible, for the real reading to report.
TEST(Compressibility, AFileGivesWhatItsBytesGiveAndACancelOrAShortReadLeavesItToTheReading) {
  char path[] = "/tmp/compressibility_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  Bytes data = Random(5 << 20, 8);
  const Bytes table = Csv(2 << 20, 9);
  data.insert(data.end(), table.begin(), table.end());
  ASSERT_EQ(write(fd, data.data(), data.size()), ssize_t(data.size()));
  ASSERT_EQ(lseek(fd, 123, SEEK_SET), 123);
  EXPECT_TRUE(WorthCompressingFile(fd, data.size(), kLh7Window));
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 123);
  ASSERT_EQ(ftruncate(fd, 5 << 20), 0);
  int asked = 0;
  EXPECT_FALSE(WorthCompressingFile(fd, 5 << 20, kLh7Window, [&] { return ++asked > 0; }));
  EXPECT_EQ(asked, 5);  // once before each stretch
  // A cancel during the look stops it there, and leaves the answer to the real reading.
  asked = 0;
  EXPECT_TRUE(WorthCompressingFile(fd, 5 << 20, kLh7Window, [&] { return ++asked < 2; }));
  EXPECT_EQ(asked, 2);
  // A file that came out shorter than it was found cannot be looked at.
  EXPECT_TRUE(WorthCompressingFile(fd, 6 << 20, kLh7Window));
  close(fd);
  unlink(path);
  EXPECT_TRUE(
      WorthCompressing(10 << 20, kLh7Window, [](uint64_t, uint8_t*, size_t) { return false; }));
}

}  // namespace
