#include "zip_fields.h"

#include "encoding.h"

namespace tavrun::zip {

namespace {

uint32_t Le32(const zip_uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t Le64(const zip_uint8_t* p) {
  return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32;
}

bool FieldTime(zip_t* za, zip_uint64_t index, zip_uint16_t id, zip_flags_t where, int64_t& mtime) {
  zip_uint16_t len = 0;
  const zip_uint8_t* data = zip_file_extra_field_get_by_id(za, index, id, 0, &len, where);
  if (data == nullptr) return false;
  switch (id) {
    case kNtfsTimesId: return ParseNtfsTimes(data, len, mtime);
    case kInfoZipUnixId: return ParseInfoZipUnix(data, len, mtime);
    default: return ParseExtendedTimestamp(data, len, mtime);
  }
}

}  // namespace

std::array<zip_uint8_t, 5> ExtendedTimestamp(int64_t mtime) {
  // The field holds an unsigned 32-bit count of seconds; clamp what does not fit.
  uint32_t t = mtime < 0 ? 0u : mtime > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(mtime);
  return {0x01, zip_uint8_t(t), zip_uint8_t(t >> 8), zip_uint8_t(t >> 16), zip_uint8_t(t >> 24)};
}

bool ParseExtendedTimestamp(const zip_uint8_t* data, size_t size, int64_t& mtime) {
  if (size < 5 || (data[0] & 0x01) == 0) return false;
  mtime = int64_t(Le32(data + 1));
  return true;
}

bool ParseInfoZipUnix(const zip_uint8_t* data, size_t size, int64_t& mtime) {
  // Access time, then modification time (signed 32-bit); user and group follow locally.
  if (size < 8) return false;
  mtime = int64_t(int32_t(Le32(data + 4)));
  return true;
}

bool ParseNtfsTimes(const zip_uint8_t* data, size_t size, int64_t& mtime) {
  // 4 reserved bytes, then tagged attributes; tag 1 holds mtime, atime, ctime as FILETIME.
  size_t pos = 4;
  while (pos + 4 <= size) {
    unsigned tag = data[pos] | data[pos + 1] << 8;
    size_t len = data[pos + 2] | data[pos + 3] << 8;
    pos += 4;
    if (pos + len > size) return false;
    if (tag == 1 && len >= 8) {
      uint64_t ft = Le64(data + pos);
      constexpr int64_t kEpochDiff = 11644473600ll;  // 1601-01-01 to 1970-01-01
      mtime = int64_t(ft / 10000000ull) - kEpochDiff;
      return true;
    }
    pos += len;
  }
  return false;
}

int64_t MemberMtime(zip_t* za, zip_uint64_t index, const zip_stat_t& st, bool* exact) {
  int64_t t = 0;
  bool found = FieldTime(za, index, kExtendedTimestampId, ZIP_FL_LOCAL, t) ||
               FieldTime(za, index, kExtendedTimestampId, ZIP_FL_CENTRAL, t) ||
               FieldTime(za, index, kNtfsTimesId, ZIP_FL_CENTRAL, t) ||
               FieldTime(za, index, kNtfsTimesId, ZIP_FL_LOCAL, t) ||
               FieldTime(za, index, kInfoZipUnixId, ZIP_FL_LOCAL, t) ||
               FieldTime(za, index, kInfoZipUnixId, ZIP_FL_CENTRAL, t);
  if (exact) *exact = found;
  if (found) return t;
  return (st.valid & ZIP_STAT_MTIME) ? int64_t(st.mtime) : 0;
}

NameEncoding ChooseEncoding(const std::vector<RawName>& names) {
  bool dos = false, allUtf8 = true;
  std::vector<std::string> legacy;
  for (const RawName& n : names) {
    if (n.utf8Flagged) continue;
    legacy.push_back(n.bytes);
    dos = dos || n.madeOnDos;
    if (allUtf8 && !arc::IsValidUtf8(n.bytes)) allUtf8 = false;
  }
  if (legacy.empty()) return NameEncoding::Utf8;
  // Half-width katakana in CP932 can form valid UTF-8, so an archive from Windows is read as
  // CP932 first.
  // The guess converts every name twice: only where its answer can matter.
  const arc::LegacyJapanese japanese =
      dos || !allUtf8 ? arc::GuessLegacyJapanese(legacy, dos) : arc::LegacyJapanese::Neither;
  if (dos && japanese == arc::LegacyJapanese::Cp932) return NameEncoding::Cp932;
  if (allUtf8) return NameEncoding::Utf8;
  switch (japanese) {
    case arc::LegacyJapanese::Cp932: return NameEncoding::Cp932;
    case arc::LegacyJapanese::EucJp: return NameEncoding::EucJp;
    case arc::LegacyJapanese::Neither: break;
  }
  // Unix tools store the bytes the file system had (unzip, bsdtar and 7-Zip extract them so);
  // CP437 is what DOS tools wrote.
  return dos ? NameEncoding::Cp437 : NameEncoding::Bytes;
}

std::string DecodeName(const RawName& name, NameEncoding encoding) {
  if (name.utf8Flagged) return name.bytes;
  switch (encoding) {
    case NameEncoding::Utf8:
    case NameEncoding::Bytes: return name.bytes;
    case NameEncoding::Cp932: {
      std::string out;
      if (arc::Cp932ToUtf8(name.bytes, out)) return out;
      return arc::Cp437ToUtf8(name.bytes);
    }
    case NameEncoding::EucJp: {
      std::string out;
      if (arc::EucJpToUtf8(name.bytes, out)) return out;
      return arc::Cp437ToUtf8(name.bytes);
    }
    case NameEncoding::Cp437: break;
  }
  return arc::Cp437ToUtf8(name.bytes);
}

bool ReadRawNames(zip_t* za, std::vector<RawName>& names, std::string& error) {
  names.clear();
  zip_int64_t count = zip_get_num_entries(za, 0);
  if (count < 0) {
    error = "cannot read the archive directory";
    return false;
  }
  names.reserve(size_t(count));
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* raw = zip_get_name(za, zip_uint64_t(i), ZIP_FL_ENC_RAW);
    if (raw == nullptr) {
      error = "cannot read the name of member " + std::to_string(i);
      return false;
    }
    RawName n;
    n.bytes = raw;
    const char* strict = zip_get_name(za, zip_uint64_t(i), ZIP_FL_ENC_STRICT);
    // The strict name equals the raw one only for ASCII or a name flagged as UTF-8. libzip
    // has already put the name of a valid Unicode-path field (0x7075) in place of the raw
    // one, marked as UTF-8, so such names count as flagged too.
    n.utf8Flagged = strict != nullptr && n.bytes == strict && arc::IsValidUtf8(n.bytes);
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, zip_uint64_t(i), 0, &opsys, &attributes) == 0)
      n.madeOnDos =
          opsys == ZIP_OPSYS_DOS || opsys == ZIP_OPSYS_WINDOWS_NTFS || opsys == ZIP_OPSYS_VFAT;
    names.push_back(std::move(n));
  }
  return true;
}

}  // namespace tavrun::zip
