// Deflating in independent pieces joined into one stream: zlib must read the joined stream
// back whole, whatever bit each piece's last block ends on.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "member_source.h"

namespace {

using Bytes = std::vector<uint8_t>;

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
  Bytes Contents() const {
    Bytes b(size_t(lseek(fd, 0, SEEK_END)));
    if (pread(fd, b.data(), b.size(), 0) != ssize_t(b.size())) b.clear();
    return b;
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

}  // namespace

TEST(DeflatePieces, JoinedPiecesInflateToTheInputAtEveryLevel) {
  const Bytes input = Mixed(600000, 3);
  for (int level : {1, 6, 10, 12}) {
    for (uint64_t piece : {uint64_t(997), uint64_t(4096), uint64_t(65536), uint64_t(600000)}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", pieces of " + std::to_string(piece));
      TempFd in(input), out;
      uint32_t crc = 0;
      uint64_t size = 0, pieces = 0, bytes = 0;
      bool writeFailed = true;
      ASSERT_EQ(tavrun::zip::DeflatePieces(
                    in.fd, input.size(), out.fd, level, piece,
                    [&](uint64_t n) {
                      ++pieces;
                      bytes += n;
                      return true;
                    },
                    crc, size, writeFailed),
                0);
      EXPECT_FALSE(writeFailed);
      const Bytes packed = out.Contents();
      EXPECT_EQ(packed.size(), size);
      EXPECT_EQ(Inflate(packed, input.size()), input);
      EXPECT_EQ(crc, uint32_t(crc32(0, input.data(), uInt(input.size()))));
      EXPECT_EQ(pieces, (input.size() + piece - 1) / piece);
      EXPECT_EQ(bytes, input.size());
    }
  }
}

TEST(DeflatePieces, StopsWhenToldAndWhenTheFileIsNotItsSize) {
  const Bytes input = Mixed(50000, 4);
  {
    TempFd in(input), out;
    uint32_t crc;
    uint64_t size;
    bool writeFailed;
    int calls = 0;
    EXPECT_EQ(tavrun::zip::DeflatePieces(
                  in.fd, input.size(), out.fd, 6, 10000, [&](uint64_t) { return ++calls < 2; }, crc,
                  size, writeFailed),
              EINTR);
    EXPECT_EQ(calls, 2);
  }
  for (size_t claimed : {input.size() - 1, input.size() + 1}) {  // grew, shrank
    TempFd in(input), out;
    uint32_t crc;
    uint64_t size;
    bool writeFailed;
    EXPECT_EQ(tavrun::zip::DeflatePieces(
                  in.fd, claimed, out.fd, 6, 10000, [](uint64_t) { return true; }, crc, size,
                  writeFailed),
              EIO)
        << claimed;
  }
}
