// The -lh5- / -lh6- / -lh7- compressor: LZ77 over a sliding window followed by Huffman coding
// with tables chosen per block, a block being split where separate tables pay off. The
// commands are chosen either by lazy matching over hash chains (on four bytes plus a table of
// the latest three-byte match) or, by default, by a near-optimal parse: binary trees of the
// window's strings give every position's matches, and the cheapest path through each stretch
// of input is found with prices from the code lengths the data is expected to get. Data is
// pushed in pieces of any size; memory stays bounded by the window, whatever the input length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tavrun::lzh {

enum class Method { Lh0, Lh5, Lh6, Lh7 };

// "-lh5-" etc.
const char* MethodId(Method method);
// Window size in bytes (0 for stored).
uint32_t WindowSize(Method method);

// The settings the archives are written with are the defaults.
struct EncoderTuning {
  // Tree depth (near-optimal parse) or candidates looked at per position (lazy matching).
  // A shallower walk or a shorter niceLength costs source code and small files more than 1 %.
  int maxChain = 32;
  int lazyLength = 64;  // lazy: no lazy search once a match is this long
  int goodLength = 16;  // lazy: chain cut to a quarter once the previous match is this long
  int niceLength = 64;  // stop searching at a match this long
  uint32_t blockCommands = 65535;  // commands collected before blocks are chosen (1 .. 65535)
  int splitDepth = 4;              // a collected run may be halved this often into blocks
  // n > 0: near-optimal parse, each stretch of input parsed n times, each time priced by the
  // code lengths the previous parse would get; 2-5 % smaller than lazy matching at about a
  // third of its speed. 0: lazy matching.
  int optimalPasses = 1;
  // Inputs longer than this are cut into segments of this size, each parsed on its own with
  // the window before it as history, so that threads can parse them at once; 0: one stream,
  // parsed in one piece. 1 MiB costs under 0.05 % in size, keeps a few segments in flight
  // small and shares a file of a few MiB among threads.
  uint32_t segmentBytes = 4u << 20;
};

// The settings we use per method: the defaults, for every method.
EncoderTuning DefaultTuning(Method method);

class Encoder {
 public:
  // `sink` receives the compressed bytes; returning false stops the encoder (Feed and
  // Finish then return false). Methods lh5/lh6/lh7 only.
  using Sink = std::function<bool(const uint8_t* data, size_t size)>;
  // `threads` parse the segments of a long input at once; the output is the same whatever
  // their number. The sink is called on the thread that calls Feed and Finish.
  Encoder(Method method, Sink sink, EncoderTuning tuning = {}, unsigned threads = 1);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // Called on the thread that calls Feed and Finish while it waits for the other threads
  // (about every 50 ms) and as segments are done, with the input bytes parsed so far; false
  // stops the encoder (Feed and Finish then return false). For progress and cancel.
  using Poll = std::function<bool(uint64_t parsed)>;
  void SetPoll(Poll poll);

  bool Feed(const uint8_t* data, size_t size);
  // Flushes the last block and the last partial byte.
  bool Finish();
  uint64_t compressedSize() const;
  // Number of blocks written so far.
  uint32_t blocks() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One-shot helper, mainly for tests.
std::vector<uint8_t> Compress(Method method, const uint8_t* data, size_t size,
                              EncoderTuning tuning = {}, unsigned threads = 1);

}  // namespace tavrun::lzh
