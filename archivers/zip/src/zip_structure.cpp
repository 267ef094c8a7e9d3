#include "zip_structure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

namespace tavrun::zip {

namespace {

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32; }

bool ReadAt(int fd, uint64_t offset, size_t size, std::vector<uint8_t>& out) {
  out.resize(size);
  size_t got = 0;
  while (got < size) {
    ssize_t n = pread(fd, out.data() + got, size - got, off_t(offset + got));
    if (n <= 0) return false;
    got += size_t(n);
  }
  return true;
}

struct Span {
  uint64_t begin, end;
};

}  // namespace

bool VerifyStructure(int fd, std::string& why) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < 22) {
    why = "too short for an archive";
    return false;
  }
  const uint64_t fileSize = uint64_t(st.st_size);
  const size_t tailSize = size_t(std::min<uint64_t>(fileSize, 65535 + 22 + 20));
  std::vector<uint8_t> tail;
  if (!ReadAt(fd, fileSize - tailSize, tailSize, tail)) {
    why = "cannot read the archive";
    return false;
  }
  // The end record: the last signature whose comment runs exactly to the end of the file.
  size_t eocd = SIZE_MAX;
  for (size_t i = tailSize - 22 + 1; i-- > 0;) {
    if (Le32(&tail[i]) == 0x06054b50 && i + 22 + Le16(&tail[i + 20]) == tailSize) {
      eocd = i;
      break;
    }
  }
  if (eocd == SIZE_MAX) {
    why = "no end of central directory";
    return false;
  }
  uint64_t entries = Le16(&tail[eocd + 10]);
  uint64_t cdSize = Le32(&tail[eocd + 12]);
  uint64_t cdOffset = Le32(&tail[eocd + 16]);
  uint64_t eocdOffset = fileSize - tailSize + eocd;
  if (eocd >= 20 && Le32(&tail[eocd - 20]) == 0x07064b50) {
    std::vector<uint8_t> z64;
    uint64_t at = Le64(&tail[eocd - 20 + 8]);
    if (at + 56 > fileSize || !ReadAt(fd, at, 56, z64) || Le32(z64.data()) != 0x06064b50) {
      why = "damaged ZIP64 end record";
      return false;
    }
    entries = Le64(&z64[32]);
    cdSize = Le64(&z64[40]);
    cdOffset = Le64(&z64[48]);
    eocdOffset = at;
  }
  if (cdOffset + cdSize != eocdOffset || cdSize > fileSize) {
    why = "the central directory is not where the end record says";
    return false;
  }
  std::vector<uint8_t> cd;
  if (!ReadAt(fd, cdOffset, size_t(cdSize), cd)) {
    why = "cannot read the central directory";
    return false;
  }
  std::set<std::vector<uint8_t>> names;
  std::vector<Span> spans;
  size_t pos = 0;
  for (uint64_t e = 0; e < entries; ++e) {
    if (pos + 46 > cd.size() || Le32(&cd[pos]) != 0x02014b50) {
      why = "damaged central directory";
      return false;
    }
    const uint8_t* c = &cd[pos];
    uint16_t flags = Le16(c + 8), method = Le16(c + 10);
    uint64_t compSize = Le32(c + 20), size = Le32(c + 24);
    uint32_t crc = Le32(c + 16);
    size_t nameLen = Le16(c + 28), extraLen = Le16(c + 30), commentLen = Le16(c + 32);
    uint64_t offset = Le32(c + 42);
    if (pos + 46 + nameLen + extraLen + commentLen > cd.size()) {
      why = "damaged central directory";
      return false;
    }
    std::vector<uint8_t> name(c + 46, c + 46 + nameLen);
    const uint8_t* extra = c + 46 + nameLen;
    for (size_t x = 0; x + 4 <= extraLen;) {
      uint16_t id = Le16(extra + x), len = Le16(extra + x + 2);
      if (x + 4 + len > extraLen) break;
      if (id == 0x0001) {  // ZIP64: only the fields that are saturated, in this order
        size_t f = x + 4;
        if (size == 0xFFFFFFFF && f + 8 <= x + 4 + len) size = Le64(extra + f), f += 8;
        if (compSize == 0xFFFFFFFF && f + 8 <= x + 4 + len) compSize = Le64(extra + f), f += 8;
        if (offset == 0xFFFFFFFF && f + 8 <= x + 4 + len) offset = Le64(extra + f);
      }
      x += 4 + len;
    }
    pos += 46 + nameLen + extraLen + commentLen;
    if (!names.insert(name).second) {
      why = "two members have the same name";
      return false;
    }
    std::vector<uint8_t> local;
    if (offset + 30 > cdOffset || !ReadAt(fd, offset, 30, local) ||
        Le32(local.data()) != 0x04034b50) {
      why = "a member has no local header";
      return false;
    }
    size_t localName = Le16(&local[26]), localExtra = Le16(&local[28]);
    std::vector<uint8_t> lname;
    if (localName != nameLen || !ReadAt(fd, offset + 30, localName, lname) || lname != name ||
        Le16(&local[8]) != method) {
      why = "a local header does not match its directory entry";
      return false;
    }
    // Without a data descriptor the local header must carry the same values.
    if (!(flags & 0x08) && Le32(&local[14]) != crc) {
      why = "a local header does not match its directory entry";
      return false;
    }
    (void)size;
    uint64_t end = offset + 30 + localName + localExtra + compSize;
    if (end > cdOffset) {
      why = "a member runs into the central directory";
      return false;
    }
    spans.push_back({offset, end});
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].begin < spans[i - 1].end) {
      why = "members overlap";
      return false;
    }
  }
  return true;
}

}  // namespace tavrun::zip
