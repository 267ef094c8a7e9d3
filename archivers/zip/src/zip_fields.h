// Member metadata that libzip leaves to its users: times from the extra fields and names in
// the encodings found in real archives.
#pragma once

#include <zip.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tavrun::zip {

constexpr zip_uint16_t kExtendedTimestampId = 0x5455;
constexpr zip_uint16_t kNtfsTimesId = 0x000A;
constexpr zip_uint16_t kInfoZipUnixId = 0x5855;  // older Info-ZIP Unix field (older macOS)

// The payload of an extended-timestamp field carrying only the modification time.
std::array<zip_uint8_t, 5> ExtendedTimestamp(int64_t mtime);

// Modification time from an extended-timestamp or NTFS field payload; false when the payload
// holds none.
bool ParseExtendedTimestamp(const zip_uint8_t* data, size_t size, int64_t& mtime);
bool ParseNtfsTimes(const zip_uint8_t* data, size_t size, int64_t& mtime);
bool ParseInfoZipUnix(const zip_uint8_t* data, size_t size, int64_t& mtime);

// The member's modification time: extended timestamp (local, then central), NTFS times, the
// older Info-ZIP Unix field, else the DOS time. `exact` tells whether it came from a field (else it
// has 2-second steps).
int64_t MemberMtime(zip_t* za, zip_uint64_t index, const zip_stat_t& st, bool* exact = nullptr);

// Bytes: names from Unix that no Japanese encoding explains, kept as they are.
enum class NameEncoding { Utf8, Cp932, EucJp, Cp437, Bytes };

// The raw name of one member and what decides its decoding.
struct RawName {
  std::string bytes;
  bool utf8Flagged = false;  // bit 11, a valid Unicode-path field, or ASCII
  bool madeOnDos = false;    // "version made by" host MS-DOS / Windows
};

// The one encoding used for all names of an archive that carry no UTF-8 marking.
NameEncoding ChooseEncoding(const std::vector<RawName>& names);

// Decodes a name with the chosen encoding (flagged names are UTF-8 anyway).
std::string DecodeName(const RawName& name, NameEncoding encoding);

// Reads the raw names of every member of an open archive.
bool ReadRawNames(zip_t* za, std::vector<RawName>& names, std::string& error);

}  // namespace tavrun::zip
