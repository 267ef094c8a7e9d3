// What an archive holds, read from its headers only (nothing is decompressed): the `list`
// command. Checking the data is the `test` command's work, done by the extraction itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrun::cli {

struct MemberInfo {
  std::string name;  // UTF-8 (names in a legacy Japanese encoding converted)
  uint64_t size = 0;
  uint64_t packed = 0;
  int64_t mtime = 0;   // seconds since 1970
  std::string method;  // "lh5", "deflate", ...; "+aes256" or "+zipcrypto" when encrypted
  bool directory = false;
};

// False with the reason when the headers cannot be read to their end.
bool ListZipMembers(const std::string& path, std::vector<MemberInfo>& members,
                    std::string& errorText);
bool ListLzhMembers(const std::string& path, std::vector<MemberInfo>& members,
                    std::string& errorText);

// "2026-12-07 17:08" in local time.
std::string DateText(int64_t mtime);

// One line per member: size, date, method and name, control characters shown as '?'.
std::string MemberLines(const std::vector<MemberInfo>& members);

}  // namespace tavrun::cli
