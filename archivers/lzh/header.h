// LZH member headers: the level-2 header we write, and a reader for levels 0 to 3 that
// reports exact extents (so members can be copied byte for byte) and the raw name bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrun::lzh {

// What we write for one member.
struct NewMember {
  std::string method = "-lh5-";
  uint32_t compressedSize = 0;
  uint32_t originalSize = 0;
  int64_t mtime = 0;  // Unix time, UTC
  uint16_t crc = 0;   // CRC-16 of the original data
  std::string name;   // file name bytes (no directory), in the encoding of codePage
  std::vector<std::string> directories;  // directory components, same encoding
  uint32_t codePage = 932;               // 0: no code-page record
  uint16_t mode = 0100644;
};

// A complete level-2 header. Its size never ends in a 0x00 low byte (some readers take such
// a header for the end of the archive), so a spare byte is added to the CRC record then.
std::vector<uint8_t> BuildLevel2Header(const NewMember& member);

// What a header says about one member.
struct MemberHeader {
  uint64_t offset = 0;          // of the header in the archive
  uint32_t headerSize = 0;      // base header plus extended records
  uint64_t compressedSize = 0;  // data only
  uint64_t originalSize = 0;
  std::string method;  // "-lh5-"
  int level = 0;
  uint8_t osId = 0;
  uint16_t crc = 0;
  int64_t mtime = 0;      // Unix time (level 0/1 converted from local DOS time)
  std::string nameRaw;    // level 0/1: the whole path field; level 2/3: record 0x01;
                          // up to a NUL (Amiga tools put a comment after one)
  std::string dirRaw;     // record 0x02 (components separated by 0xFF), may be empty
  std::string utf16Name;  // record 0x44 as UTF-8, empty when none
  std::string utf16Dir;   // record 0x45 as UTF-8 ("a/b/"), empty when none
  uint32_t codePage = 0;  // record 0x46, 0 when none
  bool hasMode = false;
  uint16_t mode = 0;

  uint64_t totalSize() const { return headerSize + compressedSize; }
  bool isDirectory() const { return method == "-lhd-"; }
};

enum class ScanStatus { Member, End, Damaged };

// Reads the header at `offset` of the open file `fd` of `fileSize` bytes. End: the archive's
// 0x00 end byte or the file's end. Damaged (with a reason): a truncated header, a bad
// checksum or header CRC, an unknown level, or data running past the end of the file.
ScanStatus ReadMemberHeader(int fd, uint64_t offset, uint64_t fileSize, MemberHeader& header,
                            std::string& reason);

// Same, over a header held in memory (bytes from the header's start).
ScanStatus ParseMemberHeader(const uint8_t* data, size_t size, MemberHeader& header,
                             std::string& reason);

// DOS date/time (local) from and to Unix time.
int64_t DosTimeToUnix(uint32_t dos);

}  // namespace tavrun::lzh
