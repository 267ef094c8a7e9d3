// Our own structure check, run on every archive before libzip reads it. libzip 1.7 reads
// members whose data overlap (one compressed block shared by many entries, local headers
// "quoted" inside another member's data) and cannot find an archive that has data in front
// (self-extracting archives) or bytes after its end record. This check finds the archive in
// the file and proves that every central entry has a local header with the same method (and
// CRC, unless a data descriptor follows), that every member's header and data lie inside the
// archive before the central directory, and that no two members share a name or a byte.
#pragma once

#include <cstdint>
#include <string>

namespace tavrun::zip {

// Where the archive lies in its file. `start` is the position its recorded offsets count
// from: 0 for a plain archive and for a self-extracting one whose offsets were adjusted,
// the length of the data in front otherwise. `end` is just after the end record's comment;
// anything after it is not part of the archive.
struct ArchiveLayout {
  uint64_t start = 0;
  uint64_t end = 0;
  uint64_t firstMember = 0;  // where the first member (or the directory) really begins
  uint64_t fileSize = 0;
  uint64_t entries = 0;
};

enum class LocateResult { Ok, NotArchive, ReadError };

LocateResult LocateArchive(int fd, ArchiveLayout& layout, std::string& why);

}  // namespace tavrun::zip
