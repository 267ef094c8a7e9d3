// Reading archives back independently of the libraries under test: libzip for raw member
// bytes, Python's zipfile for what a third-party reader sees.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace ziptest {

struct PyMember {
  std::string name;
  unsigned flagBits = 0;
  int method = -1;
  std::string dateTime;  // "Y-M-D h:m:s" (DOS time, local)
  std::string extraHex;
  uint32_t externalAttr = 0;
  uint64_t size = 0, compSize = 0;
};

// Every member as Python sees it; `testzip` holds Python's CRC check ("None" when good).
bool PyInspect(const std::string& zip, std::map<std::string, PyMember>& members,
               std::string& testzip);

// The stored (compressed) bytes of a member, read raw with libzip; empty when missing.
std::string RawMember(const std::string& zip, const std::string& name);
int MemberCount(const std::string& zip);

}  // namespace ziptest
