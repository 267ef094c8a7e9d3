// libFuzzer target for the decoder alone (many more inputs per second than a whole
// extraction): the first byte picks the method, the next three the declared size, the rest
// is the stream. The decoder must never hand on more than the declared size.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  static const char* const kMethods[] = {"-lh4-", "-lh5-", "-lh6-", "-lh7-", "-lh0-"};
  const std::string method = kMethods[data[0] % 5];
  const uint64_t declared = data[1] | data[2] << 8 | (data[3] & 0x3F) << 16;  // up to 4 MiB
  uint64_t produced = 0;
  tavrun::lzh::DecodeBuffer(data + 4, size - 4, declared, method, [&](const uint8_t*, size_t n) {
    produced += n;
    if (produced > declared) abort();
    return true;
  });
  return 0;
}
