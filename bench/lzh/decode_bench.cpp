// Decoding only, no files written and no Qt loaded: every member of an LZH archive through
// our decoder ("ours") or through libarchive's LHA reader ("libarchive"), output discarded.
// Prints the bytes decoded, so the two can be checked against each other.
//   lzh_decode_bench ours|libarchive ARCHIVE
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crc16.h"
#include "decoder.h"
#include "header.h"

namespace {

long long Ours(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) return -1;
  long long total = 0;
  for (uint64_t offset = 0;;) {
    tavrun::lzh::MemberHeader h;
    std::string why;
    if (tavrun::lzh::ReadMemberHeader(fd, offset, static_cast<uint64_t>(st.st_size), h, why) !=
        tavrun::lzh::ScanStatus::Member)
      break;
    uint16_t crc = 0;
    const auto status =
        tavrun::lzh::DecodeMember(fd, offset + h.headerSize, h.compressedSize, h.originalSize,
                                  h.method, [&](const uint8_t* d, size_t n) {
                                    crc = tavrun::lzh::Crc16(crc, d, n);
                                    total += static_cast<long long>(n);
                                    return true;
                                  });
    if (status != tavrun::lzh::DecodeStatus::Ok || crc != h.crc) return -1;
    offset += h.totalSize();
  }
  close(fd);
  return total;
}

long long Libarchive(const char* path) {
  archive* a = archive_read_new();
  archive_read_support_format_lha(a);
  if (archive_read_open_filename(a, path, 1 << 16) != ARCHIVE_OK) return -1;
  long long total = 0;
  std::vector<char> buf(1 << 16);
  archive_entry* e;
  while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
    for (la_ssize_t n; (n = archive_read_data(a, buf.data(), buf.size())) > 0;) total += n;
  }
  archive_read_free(a);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ours|libarchive ARCHIVE\n", argv[0]);
    return 2;
  }
  const long long n = std::strcmp(argv[1], "ours") == 0 ? Ours(argv[2]) : Libarchive(argv[2]);
  std::printf("%lld\n", n);
  return n < 0 ? 1 : 0;
}
