// Deflating in pieces joined into one stream, several pieces at once: zlib must read the
// joined stream back whole whatever bit each piece's last block ends on, the bytes must not
// depend on the number of threads, pieces that do not compress go stored, and a file that
// changes or cannot be read while it is deflated is reported as such.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "piece_deflate.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tavrun::zip::PieceDeflater;
using Status = PieceDeflater::Status;

// A file descriptor over a temporary file holding `data` (or empty), closed at the end.
struct TempFd {
  explicit TempFd(const Bytes& data = {}) {
    FILE* f = std::tmpfile();
    fd = dup(fileno(f));
    std::fclose(f);
    if (!data.empty() && write(fd, data.data(), data.size()) != ssize_t(data.size())) fd = -1;
    lseek(fd, 0, SEEK_SET);
  }
  ~TempFd() {
    if (fd >= 0) close(fd);
  }
  int fd = -1;
};

Bytes Inflate(const Bytes& packed, size_t expected) {
  Bytes out(expected + 1);
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = uInt(packed.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int rc = inflate(&z, Z_FINISH);
  out.resize(rc == Z_STREAM_END && z.avail_in == 0 ? z.total_out : 0);
  inflateEnd(&z);
  return out;
}

// Text with stretches of noise: pieces end in blocks of every kind on every bit.
Bytes Mixed(size_t n, unsigned seed) {
  static const char* words[] = {"piece ", "block ", "stream ", "\n", "圧縮 ", "0123 "};
  std::mt19937 r(seed);
  Bytes b;
  while (b.size() < n) {
    if (r() % 16 == 0)
      for (int i = r() % 600; i > 0; --i) b.push_back(uint8_t(r()));
    else
      for (const char* w = words[r() % 6]; *w; ++w) b.push_back(uint8_t(*w));
  }
  b.resize(n);
  return b;
}

Bytes Random(size_t n, unsigned seed) {
  std::mt19937 r(seed);
  Bytes b(n);
  for (uint8_t& c : b) c = uint8_t(r());
  return b;
}

struct Deflated {
  Status status = Status::Piece;
  Bytes packed;
  uint32_t crc = 0;
  uint64_t pieces = 0, input = 0;
};

// Everything the deflater hands out, until it ends or fails.
Deflated DeflateAll(int fd, uint64_t size, int level, uint64_t piece, unsigned threads) {
  Deflated d;
  PieceDeflater deflater(fd, size, level, piece, threads);
  for (;;) {
    const uint8_t* data = nullptr;
    size_t n = 0;
    uint64_t input = 0;
    d.status = deflater.Next(data, n, input);
    if (d.status != Status::Piece) break;
    d.packed.insert(d.packed.end(), data, data + n);
    ++d.pieces;
    d.input += input;
  }
  d.crc = deflater.crc();
  return d;
}

Deflated DeflateAll(const Bytes& input, int level, uint64_t piece, unsigned threads) {
  TempFd in(input);
  return DeflateAll(in.fd, input.size(), level, piece, threads);
}

}  // namespace

TEST(PieceDeflater, JoinedPiecesInflateToTheInputAtEveryLevel) {
  const Bytes input = Mixed(600000, 3);
  for (int level : {1, 6, 10, 12}) {
    for (uint64_t piece : {uint64_t(997), uint64_t(4096), uint64_t(65536), uint64_t(600000)}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", pieces of " + std::to_string(piece));
      const Deflated d = DeflateAll(input, level, piece, 1);
      ASSERT_EQ(d.status, Status::End);
      EXPECT_EQ(Inflate(d.packed, input.size()), input);
      EXPECT_EQ(d.crc, uint32_t(crc32(0, input.data(), uInt(input.size()))));
      EXPECT_EQ(d.pieces, (input.size() + piece - 1) / piece);
      EXPECT_EQ(d.input, input.size());
    }
  }
}

// The sizes that end at, before and after a piece boundary, and the empty and one-byte file.
TEST(PieceDeflater, SameBytesWhateverTheNumberOfThreads) {
  constexpr uint64_t piece = 300000;  // above the sampled size, so pieces are sampled too
  const Bytes all = Mixed(3 * piece + 1, 5);
  for (size_t size : {size_t(0), size_t(1), size_t(piece - 1), size_t(piece), size_t(piece + 1),
                      size_t(3 * piece), size_t(3 * piece + 1)}) {
    const Bytes input(all.begin(), all.begin() + ptrdiff_t(size));
    for (int level : {1, 6, 10}) {
      SCOPED_TRACE("size " + std::to_string(size) + ", level " + std::to_string(level));
      const Deflated one = DeflateAll(input, level, piece, 1);
      ASSERT_EQ(one.status, Status::End);
      EXPECT_EQ(Inflate(one.packed, input.size()), input);
      for (unsigned threads : {2u, 3u, 8u}) {
        const Deflated many = DeflateAll(input, level, piece, threads);
        ASSERT_EQ(many.status, Status::End) << threads;
        EXPECT_EQ(many.packed, one.packed) << threads << " threads";
        EXPECT_EQ(many.crc, one.crc) << threads << " threads";
      }
    }
  }
}

// A file that starts as text and turns random: the random pieces cost at most the stored
// blocks' headers, and the text before and after them still deflates.
TEST(PieceDeflater, PiecesThatDoNotCompressGoStored) {
  constexpr uint64_t piece = 1 << 19;
  Bytes input = Mixed(2 * piece, 7);
  const Bytes noise = Random(4 * piece, 8);
  input.insert(input.end(), noise.begin(), noise.end());
  const Bytes tail = Mixed(2 * piece, 9);
  input.insert(input.end(), tail.begin(), tail.end());
  const Deflated d = DeflateAll(input, 10, piece, 2);
  ASSERT_EQ(d.status, Status::End);
  EXPECT_EQ(Inflate(d.packed, input.size()), input);
  const Deflated text = DeflateAll(Mixed(2 * piece, 7), 10, piece, 1);
  const size_t storedHeaders = 4 * 5 * ((piece + 65534) / 65535);
  EXPECT_LE(d.packed.size(), noise.size() + storedHeaders + 2 * text.packed.size());
  // All noise: never more than storing it.
  const Deflated random = DeflateAll(noise, 6, piece, 2);
  ASSERT_EQ(random.status, Status::End);
  EXPECT_EQ(Inflate(random.packed, noise.size()), noise);
  EXPECT_EQ(random.packed.size(), noise.size() + storedHeaders);
}

TEST(PieceDeflater, AFileThatChangesIsReportedChanged) {
  const Bytes input = Mixed(50000, 4);
  for (unsigned threads : {1u, 2u}) {
    for (size_t claimed : {input.size() - 1, input.size() + 1}) {  // grew, shrank
      TempFd in(input);
      EXPECT_EQ(DeflateAll(in.fd, claimed, 6, 10000, threads).status, Status::Changed)
          << claimed << ", " << threads << " threads";
    }
    // The same size, a new date once the first piece was handed out.
    TempFd in(input);
    PieceDeflater deflater(in.fd, input.size(), 6, 10000, threads);
    const uint8_t* data = nullptr;
    size_t n = 0;
    uint64_t bytes = 0;
    ASSERT_EQ(deflater.Next(data, n, bytes), Status::Piece);
    const timespec later[2] = {{0, UTIME_OMIT}, {1234567890, 0}};
    ASSERT_EQ(futimens(in.fd, later), 0);
    Status s = Status::Piece;
    while (s == Status::Piece) s = deflater.Next(data, n, bytes);
    EXPECT_EQ(s, Status::Changed) << threads << " threads";
  }
}

TEST(PieceDeflater, AReadErrorKeepsItsErrno) {
  // A directory opens, has a size, and fails every read with EISDIR.
  const int dir = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dir, 0);
  struct stat st {};
  ASSERT_EQ(fstat(dir, &st), 0);
  ASSERT_GT(st.st_size, 0);
  for (unsigned threads : {1u, 2u}) {
    PieceDeflater deflater(dir, uint64_t(st.st_size), 6, 1000, threads);
    const uint8_t* data = nullptr;
    size_t n = 0;
    uint64_t bytes = 0;
    EXPECT_EQ(deflater.Next(data, n, bytes), Status::ReadError);
    EXPECT_EQ(deflater.error(), EISDIR);
  }
  close(dir);
}
