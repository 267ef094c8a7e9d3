// Our decoder against liblhasa on the same streams, hand-made edge streams included, and on
// streams that lie or are damaged.
#include "decoder.h"

#include <cstring>

#include "encoder.h"
#include "lhasa_decode.h"
#include "test_util.h"

using namespace lzhtest;
using tavrun::lzh::DecodeBuffer;
using tavrun::lzh::DecodeStatus;

namespace {

struct Decoded {
  DecodeStatus status;
  Bytes data;
  int calls = 0;
};

Decoded Ours(const Bytes& packed, uint64_t length, const std::string& method) {
  Decoded d;
  d.status =
      DecodeBuffer(packed.data(), packed.size(), length, method, [&](const uint8_t* p, size_t n) {
        d.data.insert(d.data.end(), p, p + n);
        ++d.calls;
        return true;
      });
  return d;
}

// MSB-first bits, for streams no encoder of ours writes.
struct BitWriter {
  Bytes out;
  int used = 8;
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (used == 8) {
        out.push_back(0);
        used = 0;
      }
      if ((value >> i) & 1) out.back() |= static_cast<uint8_t>(0x80 >> used);
      ++used;
    }
  }
};

// One block whose three codes each have a single symbol (no bits per symbol).
void SingleSymbolBlock(BitWriter& w, uint32_t count, uint32_t symbol, uint32_t position,
                       int positionBits) {
  w.Put(count, 16);
  w.Put(0, 5), w.Put(0, 5);       // code-length code: one symbol
  w.Put(0, 9), w.Put(symbol, 9);  // literal/length code: one symbol
  w.Put(0, positionBits), w.Put(position, positionBits);
}

}  // namespace

TEST(Decoder, DecodesWhatLiblhasaDecodesFromOurEncoderAndFromHandMadeStreams) {
  using tavrun::lzh::Method;
  const Bytes text = Text(300000, 41), random = RandomBytes(70000, 42);
  Bytes repeats = RandomBytes(40000, 43);  // copies from 40,000 back and overlapping runs
  repeats.insert(repeats.end(), repeats.begin(), repeats.end());
  repeats.insert(repeats.end(), 5000, 'q');
  for (Method m : {Method::Lh5, Method::Lh6, Method::Lh7}) {
    const std::string id = tavrun::lzh::MethodId(m);
    for (const Bytes* data : {&text, &random, static_cast<const Bytes*>(&repeats)}) {
      SCOPED_TRACE(id + " " + std::to_string(data->size()));
      const Bytes packed = tavrun::lzh::Compress(m, data->data(), data->size());
      const Decoded d = Ours(packed, data->size(), id);
      EXPECT_EQ(d.status, DecodeStatus::Ok);
      EXPECT_EQ(d.data, *data);
      EXPECT_EQ(lzhtest::LhasaDecode(id, packed, data->size()), *data);
      // A shorter member than the stream holds ends early and is still sound.
      EXPECT_EQ(Ours(packed, data->size() / 2, id).data,
                Bytes(data->begin(), data->begin() + data->size() / 2));
    }
  }

  // Streams our encoder never writes: single-symbol codes, copies from before the first
  // byte (which read the spaces the format starts with), and a block count of zero.
  struct Case {
    const char* what;
    std::string method;
    Bytes stream;
    size_t length;
  };
  std::vector<Case> cases;
  {
    BitWriter w;
    SingleSymbolBlock(w, 1000, 'A', 0, 4);
    cases.push_back({"one literal repeated", "-lh5-", w.out, 1000});
  }
  {
    BitWriter w;
    SingleSymbolBlock(w, 300, 256 + 7, 9, 5);                   // copies of 10, from 257..512 back
    for (uint32_t i = 0; i < 300; ++i) w.Put(i * 37 % 256, 8);  // each copy's distance bits
    cases.push_back({"copies from before the start", "-lh7-", w.out, 3000});
  }
  {
    BitWriter w;
    SingleSymbolBlock(w, 2, 'x', 0, 4);
    SingleSymbolBlock(w, 5, 256 + 253, 1, 4);  // the longest copy, 256 bytes, from 2 back
    cases.push_back({"two blocks", "-lh5-", w.out, 2 + 5 * 256});
  }
  {
    BitWriter w;
    SingleSymbolBlock(w, 0, 'z', 0, 5);  // no symbols: passed over
    SingleSymbolBlock(w, 100, 'y', 0, 5);
    cases.push_back({"block count zero", "-lh6-", w.out, 100});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes expected = lzhtest::LhasaDecode(c.method, c.stream, c.length);
    ASSERT_EQ(expected.size(), c.length);
    const Decoded d = Ours(c.stream, c.length, c.method);
    EXPECT_EQ(d.status, DecodeStatus::Ok);
    EXPECT_EQ(d.data, expected);
  }
}

TEST(Decoder, LyingSizesAndDamagedStreamsCostOnlyTheirRealDataAndNeverPassAsSound) {
  using tavrun::lzh::Method;
  const Bytes text = Text(200000, 51);
  for (Method m : {Method::Lh5, Method::Lh7}) {
    const std::string id = tavrun::lzh::MethodId(m);
    SCOPED_TRACE(id);
    const Bytes packed = tavrun::lzh::Compress(m, text.data(), text.size());
    // A header claiming a terabyte: decoding stops where the real data ends.
    const Decoded huge = Ours(packed, uint64_t{1} << 40, id);
    EXPECT_EQ(huge.status, DecodeStatus::Damaged);
    EXPECT_LT(huge.data.size(), 2 * text.size());
    // Cut short: never reported whole.
    for (size_t cut : {size_t{0}, size_t{1}, size_t{7}, packed.size() / 3, packed.size() - 2}) {
      const Decoded d =
          Ours(Bytes(packed.begin(), packed.begin() + static_cast<long>(cut)), text.size(), id);
      EXPECT_NE(d.status, DecodeStatus::Ok) << "cut at " << cut;
      EXPECT_LE(d.data.size(), text.size());
    }
    // Changed bytes: any outcome but a crash or more bytes than the member has.
    std::mt19937 r(52);
    for (int i = 0; i < 300; ++i) {
      Bytes bad = packed;
      bad[r() % bad.size()] ^= static_cast<uint8_t>(1 + r() % 255);
      EXPECT_LE(Ours(bad, text.size(), id).data.size(), text.size());
    }
  }
  // Random bytes as a stream: a code that over-subscribes its lengths, a length over 16 or a
  // count beyond its table is refused, never read past.
  int refused = 0;
  for (uint32_t seed = 0; seed < 300; ++seed) {
    const Decoded d = Ours(RandomBytes(64, seed), 1 << 20, "-lh7-");
    EXPECT_NE(d.status, DecodeStatus::Ok);
    refused += d.data.empty();
  }
  EXPECT_GT(refused, 250);

  // A consumer that stops is not called again.
  const Bytes packed = tavrun::lzh::Compress(Method::Lh5, text.data(), text.size());
  int calls = 0;
  EXPECT_EQ(DecodeBuffer(packed.data(), packed.size(), text.size(), "-lh5-",
                         [&](const uint8_t*, size_t) { return ++calls > 5; }),
            DecodeStatus::Stopped);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(tavrun::lzh::OwnDecoderSupports("-lh1-"));
}
