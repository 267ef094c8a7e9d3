#include "cli/archive_listing.h"

#include <zip.h>

#include <cstdio>
#include <ctime>
#include <memory>

extern "C" {
#include <lhasa.h>
}

#include "encoding.h"

namespace tavrun::cli {
namespace {

// Names not written as UTF-8 are nearly always CP932 in the archives this tool meets.
std::string ReadableName(const std::string& raw, bool zip) {
  if (arc::IsValidUtf8(raw)) return raw;
  std::string utf8;
  if (arc::Cp932ToUtf8(raw, utf8)) return utf8;
  return zip ? arc::Cp437ToUtf8(raw) : raw;
}

const char* ZipMethodName(int32_t method) {
  switch (method) {
    case ZIP_CM_STORE: return "store";
    case ZIP_CM_DEFLATE: return "deflate";
    case ZIP_CM_DEFLATE64: return "deflate64";
    case ZIP_CM_BZIP2: return "bzip2";
    case ZIP_CM_LZMA: return "lzma";
    case ZIP_CM_XZ: return "xz";
    case 93: return "zstd";  // newer than this libzip's header
    case ZIP_CM_PPMD: return "ppmd";
    default: return "other";
  }
}

const char* ZipEncryptionName(uint16_t method) {
  switch (method) {
    case ZIP_EM_NONE: return "";
    case ZIP_EM_TRAD_PKWARE: return "+zipcrypto";
    case ZIP_EM_AES_128: return "+aes128";
    case ZIP_EM_AES_192: return "+aes192";
    case ZIP_EM_AES_256: return "+aes256";
    default: return "+encrypted";
  }
}

struct ZipCloser {
  void operator()(zip_t* za) const { zip_discard(za); }
};

}  // namespace

bool ListZipMembers(const std::string& path, std::vector<MemberInfo>& members,
                    std::string& errorText) {
  int error = 0;
  std::unique_ptr<zip_t, ZipCloser> za(zip_open(path.c_str(), ZIP_RDONLY, &error));
  if (!za) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, error);
    errorText = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return false;
  }
  const zip_int64_t count = zip_get_num_entries(za.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(za.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW, &st) != 0) {
      errorText = zip_strerror(za.get());
      return false;
    }
    MemberInfo member;
    member.name = ReadableName(st.name != nullptr ? st.name : "", true);
    member.directory = !member.name.empty() && member.name.back() == '/';
    member.size = st.size;
    member.packed = st.comp_size;
    member.mtime = st.mtime;
    member.method =
        std::string(ZipMethodName(st.comp_method)) + ZipEncryptionName(st.encryption_method);
    members.push_back(std::move(member));
  }
  return true;
}

bool ListLzhMembers(const std::string& path, std::vector<MemberInfo>& members,
                    std::string& errorText) {
  std::string name = path;
  LHAInputStream* stream = lha_input_stream_from(name.data());
  if (stream == nullptr) {
    errorText = "cannot open the archive";
    return false;
  }
  LHAReader* reader = lha_reader_new(stream);
  for (LHAFileHeader* header = reader != nullptr ? lha_reader_next_file(reader) : nullptr;
       header != nullptr; header = lha_reader_next_file(reader)) {
    MemberInfo member;
    std::string raw = header->path != nullptr ? header->path : "";
    if (header->filename != nullptr) raw += header->filename;
    member.name = ReadableName(raw, false);
    member.method = std::string(header->compress_method, 1, 3);
    member.directory = member.method == "lhd";
    member.size = header->length;
    member.packed = header->compressed_length;
    member.mtime = header->timestamp;
    members.push_back(std::move(member));
  }
  if (reader != nullptr) lha_reader_free(reader);
  lha_input_stream_free(stream);
  return true;
}

std::string DateText(int64_t mtime) {
  const time_t t = static_cast<time_t>(mtime);
  tm local{};
  char text[32] = "";
  if (localtime_r(&t, &local) != nullptr)
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

std::string MemberLines(const std::vector<MemberInfo>& members) {
  std::string lines;
  for (const MemberInfo& member : members) {
    std::string name = member.name;
    for (char& c : name) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    char head[96];
    std::snprintf(head, sizeof head, "%12llu  %s  %-14s  ",
                  static_cast<unsigned long long>(member.size), DateText(member.mtime).c_str(),
                  member.method.c_str());
    lines += std::string(head) + name + "\n";
  }
  return lines;
}

}  // namespace tavrun::cli
