// Members that Mac LHA tools stored as MacBinary (a 128-byte header, the data fork, the
// resource fork): only the data fork is written out, while the CRC stays over the whole stream.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "decoder.h"

namespace tavrun::lzh {

// Sits between a member's decoder and its writer: holds the first 128 bytes back until they
// tell whether the member is MacBinary, then passes on the data fork (or everything).
class MacBinaryFilter {
 public:
  MacBinaryFilter(uint64_t total, DecodeSink next) : total_(total), next_(std::move(next)) {}

  bool operator()(const uint8_t* d, size_t n);
  // Passes on a member too short to be MacBinary.
  bool Finish() { return decided_ || Decide(); }

 private:
  static constexpr size_t kHeader = 128;
  bool Decide();

  uint64_t total_;
  DecodeSink next_;
  std::vector<uint8_t> head_;
  bool decided_ = false;
  uint64_t keep_ = 0;
};

}  // namespace tavrun::lzh
