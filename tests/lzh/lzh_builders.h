// Hand-made archive pieces for the tests: level-0 and level-1 headers with any name bytes,
// written the way older archivers did, so the reader can be tested without those tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crc16.h"
#include "header.h"

namespace lzhtest {

inline void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}

// A stored (-lh0-) member with a level-0 header; `dosTime` is local DOS date/time.
inline std::vector<uint8_t> Level0Member(const std::string& path, const std::string& data,
                                         uint32_t dosTime = 0x5A210000, const char* method = "-lh0-") {
  std::vector<uint8_t> h;
  h.reserve(64 + path.size());
  h.push_back(0);
  h.push_back(0);
  h.insert(h.end(), method, method + 5);
  Put32(h, static_cast<uint32_t>(data.size()));
  Put32(h, static_cast<uint32_t>(data.size()));
  Put32(h, dosTime);
  h.push_back(0x20);
  h.push_back(0);
  h.push_back(static_cast<uint8_t>(path.size()));
  h.insert(h.end(), path.begin(), path.end());
  Put16(h, tavrun::lzh::Crc16(0, data.data(), data.size()));
  h[0] = static_cast<uint8_t>(h.size() - 2);
  uint8_t sum = 0;
  for (size_t i = 2; i < h.size(); ++i) sum = static_cast<uint8_t>(sum + h[i]);
  h[1] = sum;
  h.insert(h.end(), data.begin(), data.end());
  return h;
}

// A stored member with a level-1 header, OS id 'M', and an optional 0x02 directory record.
inline std::vector<uint8_t> Level1Member(const std::string& name, const std::string& dirRecord,
                                         const std::string& data) {
  std::vector<uint8_t> ext;
  if (!dirRecord.empty()) {
    ext.push_back(0x02);
    ext.insert(ext.end(), dirRecord.begin(), dirRecord.end());
    Put16(ext, 0);
  }
  std::vector<uint8_t> h;
  h.reserve(64 + name.size());
  h.push_back(0);
  h.push_back(0);
  const char* method = "-lh0-";
  h.insert(h.end(), method, method + 5);
  Put32(h, static_cast<uint32_t>(data.size() + ext.size()));
  Put32(h, static_cast<uint32_t>(data.size()));
  Put32(h, 0x5A210000);
  h.push_back(0x20);
  h.push_back(1);
  h.push_back(static_cast<uint8_t>(name.size()));
  h.insert(h.end(), name.begin(), name.end());
  Put16(h, tavrun::lzh::Crc16(0, data.data(), data.size()));
  h.push_back('M');
  Put16(h, ext.empty() ? 0 : static_cast<uint32_t>(ext.size()));
  h[0] = static_cast<uint8_t>(h.size() - 2);
  uint8_t sum = 0;
  for (size_t i = 2; i < h.size(); ++i) sum = static_cast<uint8_t>(sum + h[i]);
  h[1] = sum;
  h.insert(h.end(), ext.begin(), ext.end());
  h.insert(h.end(), data.begin(), data.end());
  return h;
}

// A stored member with our level-2 header and any name bytes.
inline std::vector<uint8_t> Level2Member(const std::string& name, const std::string& data,
                                         std::vector<std::string> dirs = {}, uint32_t codePage = 932,
                                         uint16_t mode = 0100644, const char* method = "-lh0-") {
  tavrun::lzh::NewMember m;
  m.method = method;
  m.name = name;
  m.directories = std::move(dirs);
  m.codePage = codePage;
  m.mode = mode;
  m.mtime = 1600000000;
  m.compressedSize = m.originalSize = static_cast<uint32_t>(data.size());
  m.crc = tavrun::lzh::Crc16(0, data.data(), data.size());
  std::vector<uint8_t> h = tavrun::lzh::BuildLevel2Header(m);
  h.insert(h.end(), data.begin(), data.end());
  return h;
}

// A stored member with a level-3 header (4-byte sizes): OS id 'U', header CRC, name,
// directory and mode records.
inline std::vector<uint8_t> Level3Member(const std::string& name, const std::string& dir,
                                         const std::string& data) {
  struct Rec {
    uint8_t type;
    std::string payload;
  };
  std::vector<Rec> recs = {{0x00, std::string(2, '\0')}, {0x01, name}};
  if (!dir.empty()) recs.push_back({0x02, dir});
  recs.push_back({0x50, std::string("\xA4\x81", 2)});  // 0100644
  std::vector<uint8_t> h;
  Put16(h, 4);
  const char* method = "-lh0-";
  h.insert(h.end(), method, method + 5);
  Put32(h, static_cast<uint32_t>(data.size()));
  Put32(h, static_cast<uint32_t>(data.size()));
  Put32(h, 1600000000);
  h.push_back(0x20);
  h.push_back(3);
  Put16(h, tavrun::lzh::Crc16(0, data.data(), data.size()));
  h.push_back('U');
  const size_t totalAt = h.size();
  Put32(h, 0);
  Put32(h, static_cast<uint32_t>(recs[0].payload.size() + 5));
  size_t crcAt = 0;
  for (size_t i = 0; i < recs.size(); ++i) {
    h.push_back(recs[i].type);
    if (i == 0) crcAt = h.size();
    h.insert(h.end(), recs[i].payload.begin(), recs[i].payload.end());
    Put32(h, i + 1 < recs.size() ? static_cast<uint32_t>(recs[i + 1].payload.size() + 5) : 0);
  }
  const uint32_t total = static_cast<uint32_t>(h.size());
  for (int k = 0; k < 4; ++k) h[totalAt + k] = static_cast<uint8_t>(total >> (8 * k));
  const uint16_t crc = tavrun::lzh::Crc16(0, h.data(), h.size());
  h[crcAt] = static_cast<uint8_t>(crc);
  h[crcAt + 1] = static_cast<uint8_t>(crc >> 8);
  h.insert(h.end(), data.begin(), data.end());
  return h;
}

inline std::vector<uint8_t> ArchiveOf(const std::vector<std::vector<uint8_t>>& members) {
  std::vector<uint8_t> a;
  for (const auto& m : members) a.insert(a.end(), m.begin(), m.end());
  a.push_back(0);
  return a;
}

}  // namespace lzhtest
