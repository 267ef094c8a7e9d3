#include "zip_structure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <vector>

namespace tavrun::zip {

namespace {

constexpr uint32_t kLocalSig = 0x04034b50, kCentralSig = 0x02014b50, kEndSig = 0x06054b50,
                   kEnd64Sig = 0x06064b50, kLocator64Sig = 0x07064b50;
constexpr size_t kEndSize = 22, kLocatorSize = 20, kEnd64Size = 56, kLocalSize = 30,
                 kCentralSize = 46;
// The end record is looked for this far from the end of the file: its longest comment plus
// as much again for padding and trailers that other tools append.
constexpr uint64_t kTailSearch = 2 * 65535 + kEndSize + kLocatorSize;

uint16_t Le16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Le64(const uint8_t* p) {
  return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32;
}

class Reader {
 public:
  Reader(int fd, uint64_t size) : fd_(fd), size_(size) {}
  uint64_t size() const { return size_; }
  bool failed() const { return failed_; }
  // Reads exactly `n` bytes at `offset`; false when they are not all in the file.
  bool At(uint64_t offset, size_t n, std::vector<uint8_t>& out) {
    if (offset > size_ || n > size_ - offset) return false;
    out.resize(n);
    for (size_t got = 0; got < n;) {
      ssize_t r = pread(fd_, out.data() + got, n - got, off_t(offset + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        failed_ = true;
        return false;
      }
      got += size_t(r);
    }
    return true;
  }
  bool SignatureAt(uint64_t offset, uint32_t sig) {
    std::vector<uint8_t> b;
    return At(offset, 4, b) && Le32(b.data()) == sig;
  }

 private:
  int fd_;
  uint64_t size_;
  bool failed_ = false;
};

// The central directory as the end record describes it, with the positions it really has.
struct Directory {
  uint64_t entries = 0, size = 0, offset = 0;  // as recorded
  uint64_t begin = 0;                          // where it really is in the file
  uint64_t endOfArchive = 0;
};

// Reads the end record at `at` (and the ZIP64 records it points to) and places the directory
// right before them. False when this signature is not a usable end record.
bool ReadEnd(Reader& in, uint64_t at, Directory& dir) {
  std::vector<uint8_t> e;
  if (!in.At(at, kEndSize, e) || Le32(e.data()) != kEndSig) return false;
  const uint16_t disk = Le16(&e[4]), cdDisk = Le16(&e[6]);
  dir.entries = Le16(&e[10]);
  dir.size = Le32(&e[12]);
  dir.offset = Le32(&e[16]);
  dir.endOfArchive = std::min(in.size(), at + kEndSize + Le16(&e[20]));
  uint64_t directoryEnd = at;
  std::vector<uint8_t> loc, z64;
  if (at >= kLocatorSize && in.At(at - kLocatorSize, kLocatorSize, loc) &&
      Le32(loc.data()) == kLocator64Sig) {
    // The ZIP64 end record: where the locator says, or right before the locator when the
    // offsets of the archive count from after data in front.
    uint64_t recorded = Le64(&loc[8]);
    uint64_t z64At = recorded;
    if (!(in.At(z64At, kEnd64Size, z64) && Le32(z64.data()) == kEnd64Sig)) {
      if (at < kLocatorSize + kEnd64Size) return false;
      z64At = at - kLocatorSize - kEnd64Size;
      if (!(in.At(z64At, kEnd64Size, z64) && Le32(z64.data()) == kEnd64Sig)) return false;
    }
    if (Le32(&z64[16]) != 0 || Le32(&z64[20]) != 0) return false;  // split archives
    dir.entries = Le64(&z64[32]);
    dir.size = Le64(&z64[40]);
    dir.offset = Le64(&z64[48]);
    directoryEnd = z64At;
  } else if (disk != 0 || cdDisk != 0 || Le16(&e[8]) != dir.entries) {
    return false;  // split archives
  }
  if (dir.size > directoryEnd || dir.offset > directoryEnd - dir.size) return false;
  dir.begin = directoryEnd - dir.size;
  return dir.entries == 0 ? dir.size == 0 : in.SignatureAt(dir.begin, kCentralSig);
}

// The last end record in the tail of the file that describes a directory which is there.
bool FindEnd(Reader& in, Directory& dir, std::string& why) {
  if (in.size() < kEndSize) {
    why = "too short for an archive";
    return false;
  }
  const uint64_t tailStart = in.size() > kTailSearch ? in.size() - kTailSearch : 0;
  std::vector<uint8_t> tail;
  if (!in.At(tailStart, size_t(in.size() - tailStart), tail)) {
    why = "cannot read the archive";
    return false;
  }
  for (size_t i = tail.size() - kEndSize + 1; i-- > 0;) {
    if (tail[i] == 'P' && Le32(&tail[i]) == kEndSig && ReadEnd(in, tailStart + i, dir)) return true;
    if (in.failed()) break;
  }
  why = in.failed() ? "cannot read the archive" : "no end of central directory";
  return false;
}

struct Span {
  uint64_t begin, end;
};

// One central entry: checks its local header and returns the bytes header and data cover.
bool CheckEntry(Reader& in, const uint8_t* c, size_t available, uint64_t delta,
                uint64_t directoryBegin, size_t& consumed, Span& span, std::vector<uint8_t>& name,
                std::string& why) {
  if (available < kCentralSize || Le32(c) != kCentralSig) {
    why = "damaged central directory";
    return false;
  }
  const uint16_t flags = Le16(c + 8), method = Le16(c + 10);
  const uint32_t crc = Le32(c + 16);
  uint64_t compSize = Le32(c + 20), size = Le32(c + 24), offset = Le32(c + 42);
  const size_t nameLen = Le16(c + 28), extraLen = Le16(c + 30), commentLen = Le16(c + 32);
  consumed = kCentralSize + nameLen + extraLen + commentLen;
  if (consumed > available) {
    why = "damaged central directory";
    return false;
  }
  name.assign(c + kCentralSize, c + kCentralSize + nameLen);
  const uint8_t* extra = c + kCentralSize + nameLen;
  for (size_t x = 0; x + 4 <= extraLen;) {
    const size_t id = Le16(extra + x), len = Le16(extra + x + 2), end = x + 4 + len;
    if (end > extraLen) break;
    if (id == 0x0001) {  // ZIP64: only the saturated fields, in this order
      size_t f = x + 4;
      if (size == 0xFFFFFFFF && f + 8 <= end) size = Le64(extra + f), f += 8;
      if (compSize == 0xFFFFFFFF && f + 8 <= end) compSize = Le64(extra + f), f += 8;
      if (offset == 0xFFFFFFFF && f + 8 <= end) offset = Le64(extra + f);
    }
    x = end;
  }
  std::vector<uint8_t> local;
  const uint64_t at = offset + delta;
  if (directoryBegin < kLocalSize || offset > directoryBegin - kLocalSize ||
      at > directoryBegin - kLocalSize || !in.At(at, kLocalSize, local) ||
      Le32(local.data()) != kLocalSig) {
    why = "a member has no local header";
    return false;
  }
  // The local name may be spelt differently (another encoding beside a Unicode-path
  // field); entries sharing a header are caught as overlapping members.
  const size_t localNameLen = Le16(&local[26]), localExtraLen = Le16(&local[28]);
  if (Le16(&local[8]) != method || (!(flags & 0x08) && Le32(&local[14]) != crc)) {
    why = "a local header does not match its directory entry";
    return false;
  }
  const uint64_t dataAt = at + kLocalSize + localNameLen + localExtraLen;
  if (compSize > directoryBegin || dataAt > directoryBegin - compSize) {
    why = "a member runs into the central directory";
    return false;
  }
  span = {at, dataAt + compSize};
  return true;
}

}  // namespace

LocateResult LocateArchive(int fd, ArchiveLayout& layout, std::string& why) {
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    why = "cannot read the archive";
    return LocateResult::ReadError;
  }
  Reader in(fd, uint64_t(st.st_size));
  Directory dir;
  if (!FindEnd(in, dir, why))
    return in.failed() ? LocateResult::ReadError : LocateResult::NotArchive;
  // Offsets recorded relative to the start of an archive that has data in front of it are
  // short by the length of that data.
  const uint64_t delta = dir.begin - dir.offset;
  std::vector<uint8_t> cd;
  if (!in.At(dir.begin, size_t(dir.size), cd)) {
    why = "cannot read the central directory";
    return in.failed() ? LocateResult::ReadError : LocateResult::NotArchive;
  }
  std::set<std::vector<uint8_t>> names;
  std::vector<Span> spans;
  std::vector<uint8_t> name;
  size_t pos = 0;
  for (uint64_t e = 0; e < dir.entries; ++e) {
    size_t consumed = 0;
    Span span{};
    if (!CheckEntry(in, cd.data() + pos, cd.size() - pos, delta, dir.begin, consumed, span, name,
                    why))
      return in.failed() ? LocateResult::ReadError : LocateResult::NotArchive;
    pos += consumed;
    if (!names.insert(name).second) {
      why = "two members have the same name";
      return LocateResult::NotArchive;
    }
    spans.push_back(span);
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].begin < spans[i - 1].end) {
      why = "members overlap";
      return LocateResult::NotArchive;
    }
  }
  layout.start = delta;
  layout.end = dir.endOfArchive;
  layout.firstMember = spans.empty() ? dir.begin : spans.front().begin;
  layout.fileSize = in.size();
  layout.entries = dir.entries;
  return LocateResult::Ok;
}

}  // namespace tavrun::zip
