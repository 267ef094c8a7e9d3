// libFuzzer entry: any bytes as a settings file, one edit, the invariants checked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "profile_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t seed = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                  static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  std::string content(reinterpret_cast<const char*>(data) + 4, size - 4);
  std::string failure = tavrun::testing::CheckEditInvariants(content, seed);
  if (!failure.empty()) {
    std::fprintf(stderr, "%s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
