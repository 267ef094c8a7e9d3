// Our own decoder for the methods nearly every LZH archive uses: stored data (-lh0-, -lz4-)
// and the static-Huffman methods -lh5-, -lh6- and -lh7-. It reads the member straight from
// the archive, keeps at most a 64 KiB history plus one output block, and stops as soon as
// the stream asks for more input than the member holds, so a lying header costs no more
// time or memory than its real data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tavrun::lzh {

enum class DecodeStatus {
  Ok,         // all of the member's bytes were produced and passed on
  Damaged,    // the stream is malformed or shorter than its declared size
  Stopped,    // the consumer asked to stop
  ReadError,  // the archive could not be read
};

// Receives the decoded bytes in order; returns false to stop.
using DecodeSink = std::function<bool(const uint8_t* data, size_t size)>;

// True for the methods DecodeMember handles.
bool OwnDecoderSupports(const std::string& method);

// Decodes `packedSize` bytes at `offset` of `fd` into exactly `originalSize` bytes.
DecodeStatus DecodeMember(int fd, uint64_t offset, uint64_t packedSize, uint64_t originalSize,
                          const std::string& method, const DecodeSink& sink);

// Same over a stream held in memory (for tests and the fuzzer).
DecodeStatus DecodeBuffer(const uint8_t* data, size_t size, uint64_t originalSize,
                          const std::string& method, const DecodeSink& sink);

}  // namespace tavrun::lzh
