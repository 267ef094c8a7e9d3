#include "header.h"

#include <unistd.h>

#include <cstring>
#include <ctime>
#include <utility>

#include "crc16.h"

namespace tavrun::lzh {
namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}
uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
  return Get16(p) | (static_cast<uint32_t>(Get16(p + 2)) << 16);
}
uint64_t Get64(const uint8_t* p) {
  return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}

bool PlausibleMethod(const uint8_t* m) {
  if (m[0] != '-' || m[4] != '-') return false;
  for (int i = 1; i < 4; ++i)
    if (!((m[i] >= 'a' && m[i] <= 'z') || (m[i] >= '0' && m[i] <= '9'))) return false;
  return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16LE to UTF-8; 0xFFFF (the directory separator) becomes '/', lone surrogates U+FFFD.
std::string Utf16ToUtf8(const uint8_t* p, size_t size) {
  std::string out;
  for (size_t i = 0; i + 1 < size; i += 2) {
    uint32_t u = Get16(p + i);
    if (u == 0xFFFF) {
      out += '/';
    } else if (u >= 0xD800 && u < 0xDC00 && i + 3 < size && Get16(p + i + 2) >= 0xDC00 &&
               Get16(p + i + 2) < 0xE000) {
      uint32_t lo = Get16(p + i + 2);
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
      i += 2;
    } else if (u >= 0xD800 && u < 0xE000) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

// Length of a name field up to its first NUL.
size_t NulTerminated(const uint8_t* p, size_t n) {
  const void* nul = std::memchr(p, 0, n);
  return nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : n;
}

}  // namespace

std::vector<uint8_t> BuildLevel2Header(const NewMember& m) {
  std::string dir;
  for (const auto& c : m.directories) {
    dir += c;
    dir += '\xFF';
  }
  for (int spare = 0; spare < 2; ++spare) {
    std::vector<uint8_t> h;
    Put16(h, 0);  // total size, filled in below
    h.insert(h.end(), m.method.begin(), m.method.end());
    Put32(h, m.compressedSize);
    Put32(h, m.originalSize);
    Put32(h, static_cast<uint32_t>(m.mtime));
    h.push_back(0x20);
    h.push_back(2);
    Put16(h, m.crc);
    h.push_back('U');
    // Records: each is type, payload, then the size of the next one (0 ends the chain);
    // the first size sits in the base header.
    struct Rec {
      uint8_t type;
      std::string payload;
    };
    std::vector<Rec> recs;
    recs.push_back({0x00, std::string(2 + spare, '\0')});
    recs.push_back({0x01, m.name});
    if (!dir.empty()) recs.push_back({0x02, dir});
    if (m.codePage != 0) {  // none for name bytes in no known code page
      std::string cp(4, '\0');
      for (int i = 0; i < 4; ++i) cp[i] = static_cast<char>(m.codePage >> (8 * i));
      recs.push_back({0x46, cp});
    }
    std::string mode(2, '\0');
    mode[0] = static_cast<char>(m.mode & 0xFF);
    mode[1] = static_cast<char>(m.mode >> 8);
    recs.push_back({0x50, mode});
    size_t crcAt = 0;
    Put16(h, static_cast<uint32_t>(recs[0].payload.size() + 3));
    for (size_t i = 0; i < recs.size(); ++i) {
      h.push_back(recs[i].type);
      if (i == 0) crcAt = h.size();
      h.insert(h.end(), recs[i].payload.begin(), recs[i].payload.end());
      Put16(h, i + 1 < recs.size() ? static_cast<uint32_t>(recs[i + 1].payload.size() + 3) : 0);
    }
    if ((h.size() & 0xFF) == 0 && spare == 0) continue;
    h[0] = static_cast<uint8_t>(h.size());
    h[1] = static_cast<uint8_t>(h.size() >> 8);
    uint16_t crc = Crc16(0, h.data(), h.size());
    h[crcAt] = static_cast<uint8_t>(crc);
    h[crcAt + 1] = static_cast<uint8_t>(crc >> 8);
    return h;
  }
  return {};
}

int64_t DosTimeToUnix(uint32_t dos) {
  struct tm t {};
  t.tm_sec = (dos & 0x1F) * 2;
  t.tm_min = (dos >> 5) & 0x3F;
  t.tm_hour = (dos >> 11) & 0x1F;
  t.tm_mday = (dos >> 16) & 0x1F;
  t.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
  t.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
  t.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&t));
}

namespace {

// Walks the extended records starting at `p` (first size already read as `next`).
// `sizeWidth` is 2 (level 1/2) or 4 (level 3). Returns false when a record runs past `end`.
bool ReadRecords(const uint8_t* base, size_t pos, size_t end, uint32_t next, int sizeWidth,
                 MemberHeader& h, size_t* crcAt, std::string& reason, size_t* chainEnd = nullptr) {
  int guard = 0;
  while (next != 0) {
    if (++guard > 4096 || next < static_cast<uint32_t>(1 + sizeWidth) || pos + next > end) {
      reason = "extended header runs past the header";
      return false;
    }
    const uint8_t* r = base + pos;
    const size_t payload = next - 1 - sizeWidth;
    const uint8_t* d = r + 1;
    switch (r[0]) {
      case 0x00:
        if (payload >= 2 && crcAt) *crcAt = pos + 1;
        break;
      case 0x01:
        h.nameRaw.assign(reinterpret_cast<const char*>(d), NulTerminated(d, payload));
        break;
      case 0x02: h.dirRaw.assign(reinterpret_cast<const char*>(d), payload); break;
      case 0x44: h.utf16Name += Utf16ToUtf8(d, payload); break;
      case 0x45: {
        std::string dir = Utf16ToUtf8(d, payload);
        if (!dir.empty() && dir.back() != '/') dir += '/';
        h.utf16Dir += dir;
        break;
      }
      case 0x46:
        if (payload >= 4) h.codePage = Get32(d);
        break;
      case 0x42:
        if (payload >= 16) {
          h.compressedSize = Get64(d);
          h.originalSize = Get64(d + 8);
        }
        break;
      case 0x50:
        if (payload >= 2) {
          h.hasMode = true;
          h.mode = Get16(d);
        }
        break;
      case 0x54:
        if (payload >= 4) h.mtime = Get32(d);
        break;
      default: break;
    }
    pos += next;
    next = sizeWidth == 2 ? Get16(base + pos - 2) : Get32(base + pos - 4);
  }
  if (chainEnd) *chainEnd = pos;
  return true;
}

}  // namespace

namespace {

ScanStatus Damaged(std::string& reason, std::string why) {
  reason = std::move(why);
  return ScanStatus::Damaged;
}

// Levels 0 and 1 share the base header: a one-byte size and checksum, the DOS time and the
// path. `base` receives the base header's size, `ext` where the part after the CRC starts.
bool ReadBaseHeader(const uint8_t* p, size_t size, MemberHeader& h, size_t& base, size_t& ext,
                    std::string& reason) {
  base = static_cast<size_t>(p[0]) + 2;
  const size_t n = p[21];
  if (base > size) {
    reason = "truncated header";
    return false;
  }
  if (base < 24 + n + (h.level == 1 ? 3u : 0u)) {
    reason = "header too short for its name";
    return false;
  }
  uint8_t sum = 0;
  for (size_t i = 2; i < base; ++i) sum = static_cast<uint8_t>(sum + p[i]);
  if (sum != p[1]) {
    reason = "header checksum error";
    return false;
  }
  h.mtime = DosTimeToUnix(Get32(p + 15));
  h.nameRaw.assign(reinterpret_cast<const char*>(p + 22), NulTerminated(p + 22, n));
  h.crc = Get16(p + 22 + n);
  ext = 24 + n;
  return true;
}

ScanStatus ParseLevel0(const uint8_t* p, size_t size, MemberHeader& h, std::string& reason) {
  size_t base = 0, ext = 0;
  if (!ReadBaseHeader(p, size, h, base, ext, reason)) return ScanStatus::Damaged;
  if (base >= ext + 12 && p[ext] == 'U') {  // the Unix area of level 0
    h.osId = 'U';
    h.mtime = Get32(p + ext + 2);
    h.hasMode = true;
    h.mode = Get16(p + ext + 6);
  }
  h.headerSize = static_cast<uint32_t>(base);
  return ScanStatus::Member;
}

// Where a chain of records with 2-byte sizes, the first `next` bytes long at `pos`, ends.
bool ChainEnd(const uint8_t* p, size_t size, size_t pos, uint32_t next, size_t& end,
              std::string& reason) {
  int guard = 0;
  while (next != 0) {
    if (++guard > 4096 || next < 3 || pos + next > size) {
      reason = pos + next > size ? "truncated header" : "bad extended header";
      return false;
    }
    pos += next;
    next = Get16(p + pos - 2);
  }
  end = pos;
  return true;
}

ScanStatus ParseLevel1(const uint8_t* p, size_t size, MemberHeader& h, std::string& reason) {
  size_t base = 0, ext = 0;
  if (!ReadBaseHeader(p, size, h, base, ext, reason)) return ScanStatus::Damaged;
  h.osId = p[ext];
  const uint32_t next = Get16(p + base - 2);
  size_t end = base;
  if (!ChainEnd(p, size, base, next, end, reason)) return ScanStatus::Damaged;
  // Level 1 counts the extended records in the compressed size.
  if (end - base > h.compressedSize)
    return Damaged(reason, "extended headers larger than the member");
  std::string why;
  if (!ReadRecords(p, base, end, next, 2, h, nullptr, why)) return Damaged(reason, why);
  h.compressedSize -= end - base;
  h.headerSize = static_cast<uint32_t>(end);
  return ScanStatus::Member;
}

// The records of a level 2 or 3 header of `total` bytes, and its CRC when it has one.
ScanStatus ReadExtendedHeader(const uint8_t* p, size_t size, size_t total, size_t fixed,
                              uint32_t first, int sizeWidth, MemberHeader& h, std::string& reason) {
  if (total < fixed) return Damaged(reason, "header too short");
  if (total > size) return Damaged(reason, "truncated header");
  h.mtime = Get32(p + 15);
  h.crc = Get16(p + 21);
  h.osId = p[23];
  size_t crcAt = 0;
  const MemberHeader base = h;
  if (!ReadRecords(p, fixed, total, first, sizeWidth, h, &crcAt, reason)) {
    // Old OS-9 tools count a level-2 header 2 bytes short of its records; their data
    // starts where the records end.
    size_t chainEnd = 0;
    std::string ignored;
    h = base;
    crcAt = 0;
    if (h.level != 2 || total + 2 > size ||
        !ReadRecords(p, fixed, total + 2, first, 2, h, &crcAt, ignored, &chainEnd) ||
        chainEnd != total + 2)
      return ScanStatus::Damaged;
    total += 2;
    reason.clear();
  }
  if (crcAt != 0) {
    std::vector<uint8_t> copy(p, p + total);
    const uint16_t stored = Get16(p + crcAt);
    copy[crcAt] = copy[crcAt + 1] = 0;
    if (Crc16(0, copy.data(), copy.size()) != stored) return Damaged(reason, "header CRC error");
  }
  h.headerSize = static_cast<uint32_t>(total);
  return ScanStatus::Member;
}

ScanStatus ParseLevel2(const uint8_t* p, size_t size, MemberHeader& h, std::string& reason) {
  if (size < 26) return Damaged(reason, "truncated header");
  return ReadExtendedHeader(p, size, Get16(p), 26, Get16(p + 24), 2, h, reason);
}

ScanStatus ParseLevel3(const uint8_t* p, size_t size, MemberHeader& h, std::string& reason) {
  if (size < 32) return Damaged(reason, "truncated header");
  return ReadExtendedHeader(p, size, Get32(p + 24), 32, Get32(p + 28), 4, h, reason);
}

}  // namespace

ScanStatus ParseMemberHeader(const uint8_t* p, size_t size, MemberHeader& h, std::string& reason) {
  const uint64_t offset = h.offset;
  h = MemberHeader{};
  h.offset = offset;
  if (size == 0 || p[0] == 0) return ScanStatus::End;
  if (size < 22) return Damaged(reason, "truncated header");
  h.level = p[20];
  if (!PlausibleMethod(p + 2)) return Damaged(reason, "not an LZH header");
  h.method.assign(reinterpret_cast<const char*>(p + 2), 5);
  h.compressedSize = Get32(p + 7);
  h.originalSize = Get32(p + 11);
  switch (h.level) {
    case 0: return ParseLevel0(p, size, h, reason);
    case 1: return ParseLevel1(p, size, h, reason);
    case 2: return ParseLevel2(p, size, h, reason);
    case 3: return ParseLevel3(p, size, h, reason);
    default: return Damaged(reason, "unknown header level " + std::to_string(h.level));
  }
}

ScanStatus ReadMemberHeader(int fd, uint64_t offset, uint64_t fileSize, MemberHeader& h,
                            std::string& reason) {
  h.offset = offset;
  if (offset >= fileSize) {
    h = MemberHeader{};
    h.offset = offset;
    return ScanStatus::End;
  }
  // A level 2 header is at most 64 KiB; level 3 is capped here at 1 MiB.
  uint8_t first[32];
  const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof first, fileSize - offset));
  if (pread(fd, first, want, static_cast<off_t>(offset)) != static_cast<ssize_t>(want)) {
    reason = "cannot read the archive";
    return ScanStatus::Damaged;
  }
  size_t need = want;
  if (want >= 22 && first[0] != 0) {
    switch (first[20]) {
      case 0: need = first[0] + 2u; break;
      case 1: need = 65536 + 258; break;        // base plus a chain of records, bounded below
      case 2: need = Get16(first) + 2u; break;  // +2: see the OS-9 case in the parser
      case 3: need = want >= 28 ? std::min<uint32_t>(Get32(first + 24), 1u << 20) : want; break;
      default: break;
    }
  }
  need = static_cast<size_t>(std::min<uint64_t>(need, fileSize - offset));
  std::vector<uint8_t> buf(std::max(need, want));
  std::memcpy(buf.data(), first, want);
  if (need > want) {
    ssize_t got = pread(fd, buf.data() + want, need - want, static_cast<off_t>(offset + want));
    if (got < 0) {
      reason = "cannot read the archive";
      return ScanStatus::Damaged;
    }
    buf.resize(want + static_cast<size_t>(got));
  }
  ScanStatus s = ParseMemberHeader(buf.data(), buf.size(), h, reason);
  h.offset = offset;
  // Compared without a sum that a 64-bit size from record 0x42 could wrap around.
  if (s == ScanStatus::Member &&
      (h.headerSize > fileSize - offset || h.compressedSize > fileSize - offset - h.headerSize)) {
    reason = "member data runs past the end of the archive";
    return ScanStatus::Damaged;
  }
  return s;
}

}  // namespace tavrun::lzh
