// The compressed stream on its own: an independent reader checks the block structure that
// strict readers insist on, and liblhasa's raw decoder checks that the data comes back.
#include <lha_decoder.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "crc16.h"
#include "encoder.h"
#include "huffman.h"
#include "test_util.h"

using namespace tavrun::lzh;
using lzhtest::Bytes;

namespace {

// ---- an independent reader of the block format ---------------------------------------
class BitReader {
 public:
  explicit BitReader(const Bytes& d) : d_(d) {}
  uint32_t Get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos_ >= d_.size() * 8) throw std::runtime_error("read past the end");
      v = (v << 1) | ((d_[pos_ / 8] >> (7 - pos_ % 8)) & 1);
      ++pos_;
    }
    return v;
  }
  size_t pos() const { return pos_; }

 private:
  const Bytes& d_;
  size_t pos_ = 0;
};

// A table as read: checks completeness, decodes a bit at a time.
struct Table {
  std::map<std::pair<int, uint32_t>, int> codes;
  int single = -1;
  void Build(const std::vector<int>& len) {
    int used = 0;
    uint64_t kraft = 0;
    for (int l : len) {
      if (l == 0) continue;
      ASSERT_LE(l, 16) << "code longer than 16 bits";
      ++used;
      kraft += 1ull << (16 - l);
    }
    ASSERT_GE(used, 2) << "a table must have two codes";
    ASSERT_EQ(kraft, 1ull << 16) << "incomplete or over-full table";
    uint32_t code = 0;
    for (int l = 1; l <= 16; ++l) {
      for (size_t s = 0; s < len.size(); ++s)
        if (len[s] == l) codes[{l, code++}] = static_cast<int>(s);
      code <<= 1;
    }
  }
  int Read(BitReader& br) const {
    if (single >= 0) return single;
    uint32_t code = 0;
    for (int l = 1; l <= 16; ++l) {
      code = (code << 1) | br.Get(1);
      auto it = codes.find({l, code});
      if (it != codes.end()) return it->second;
    }
    throw std::runtime_error("no such code");
  }
};

struct StreamStats {
  Bytes data;
  size_t blocks = 0;
  uint64_t commands = 0;
};

void ReadLengths(BitReader& br, int nbit, int maxN, int special, Table& t) {
  int n = static_cast<int>(br.Get(nbit));
  ASSERT_NE(n, 0) << "single-symbol form written";
  ASSERT_LE(n, maxN);
  std::vector<int> len(maxN, 0);
  for (int i = 0; i < n; ++i) {
    int l = static_cast<int>(br.Get(3));
    if (l == 7)
      while (br.Get(1)) ++l;
    len[i] = l;
    if (i + 1 == special) {
      int skip = static_cast<int>(br.Get(2));
      ASSERT_LE(i + 1 + skip, n) << "zero run past n";
      i += skip;
    }
  }
  ASSERT_NE(len[n - 1], 0) << "n not trimmed";
  t.Build(len);
}

void Decode(const Bytes& packed, size_t originalSize, int np, int pbit, uint32_t window,
            StreamStats& st) {
  BitReader br(packed);
  while (st.data.size() < originalSize) {
    uint32_t count = br.Get(16);
    ASSERT_NE(count, 0u) << "block with no commands";
    ++st.blocks;
    Table t, c, p;
    ReadLengths(br, 5, 19, 3, t);
    int nc = static_cast<int>(br.Get(9));
    ASSERT_NE(nc, 0) << "single-symbol literal/length table";
    std::vector<int> clen(510, 0);
    for (int i = 0; i < nc;) {
      int s = t.Read(br);
      int run = 0;
      if (s == 0) run = 1;
      else if (s == 1) run = static_cast<int>(br.Get(4)) + 3;
      else if (s == 2) run = static_cast<int>(br.Get(9)) + 20;
      if (run) {
        ASSERT_LE(i + run, nc) << "zero run past n";
        i += run;
      } else {
        clen[i++] = s - 2;
      }
    }
    ASSERT_NE(clen[nc - 1], 0);
    c.Build(clen);
    ReadLengths(br, pbit, np, -1, p);
    for (uint32_t k = 0; k < count; ++k) {
      int sym = c.Read(br);
      ++st.commands;
      if (sym < 256) {
        st.data.push_back(static_cast<uint8_t>(sym));
        continue;
      }
      int len = sym - 253;
      int ps = p.Read(br);
      uint32_t d = ps <= 1 ? static_cast<uint32_t>(ps) : (1u << (ps - 1)) + br.Get(ps - 1);
      ASSERT_LT(d + 1, window) << "copy from beyond the window";
      ASSERT_LE(d + 1, st.data.size()) << "copy from before the start";
      for (int j = 0; j < len; ++j) st.data.push_back(st.data[st.data.size() - d - 1]);
    }
  }
  EXPECT_EQ(packed.size(), (br.pos() + 7) / 8) << "compressed size is not ceil(bits/8)";
  if (br.pos() % 8) {
    EXPECT_EQ(br.Get(8 - br.pos() % 8), 0u) << "padding bits not zero";
  }
}

struct MethodCase {
  Method method;
  int np, pbit;
  uint32_t window;
};
const MethodCase kMethods[] = {
    {Method::Lh5, 14, 4, 1u << 13}, {Method::Lh6, 16, 5, 1u << 15}, {Method::Lh7, 17, 5, 1u << 16}};

// ---- liblhasa's raw decoder ----------------------------------------------------------
struct Source {
  const Bytes* data;
  size_t offset;
};
size_t Feed(void* buf, size_t len, void* ud) {
  auto* s = static_cast<Source*>(ud);
  size_t n = std::min(len, s->data->size() - s->offset);
  std::memcpy(buf, s->data->data() + s->offset, n);
  s->offset += n;
  return n;
}
Bytes LhasaDecode(Method m, const Bytes& packed, size_t length) {
  Source src{&packed, 0};
  std::string name = MethodId(m);
  LHADecoder* d = lha_decoder_new(lha_decoder_for_name(name.data()), Feed, &src, length);
  Bytes out(length);
  size_t got = 0;
  while (got < length) {
    size_t n = lha_decoder_read(d, out.data() + got, length - got);
    if (n == 0) break;
    got += n;
  }
  lha_decoder_free(d);
  out.resize(got);
  return out;
}

std::vector<std::pair<std::string, Bytes>> DataSets() {
  std::vector<std::pair<std::string, Bytes>> sets;
  sets.push_back({"empty", {}});
  sets.push_back({"one byte", {0x41}});
  sets.push_back({"three bytes", {1, 2, 1}});
  sets.push_back({"run", Bytes(200000, 'z')});
  sets.push_back({"random", lzhtest::RandomBytes(100000, 1)});
  sets.push_back({"text", lzhtest::Text(300000, 2)});
  Bytes bin;  // structured binary: little-endian counters with noise
  for (uint32_t i = 0; bin.size() < 150000; ++i) {
    uint32_t v = i * 7 + (i % 13 == 0 ? i * 2654435761u : 0);
    for (int k = 0; k < 4; ++k) bin.push_back(static_cast<uint8_t>(v >> (8 * k)));
  }
  sets.push_back({"binary", bin});
  Bytes all(256 * 3);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  sets.push_back({"every byte value", all});
  return sets;
}

}  // namespace

TEST(Crc16, MatchesTheArcCheckValue) {
  const char* s = "123456789";
  EXPECT_EQ(Crc16(0, s, 9), 0xBB3D);
  EXPECT_EQ(Crc16(Crc16(0, s, 4), s + 4, 5), 0xBB3D);  // continues across pieces
}

TEST(Crc16, AgreesWithTheBitwiseDefinitionAtEveryLengthAndAlignment) {
  Bytes data = lzhtest::RandomBytes(300, 21);
  for (size_t start = 0; start < 9; ++start) {
    for (size_t len = 0; len + start <= data.size(); len += 7) {
      uint16_t ref = 0;
      for (size_t i = start; i < start + len; ++i) {
        ref ^= data[i];
        for (int k = 0; k < 8; ++k) ref = (ref & 1) ? static_cast<uint16_t>((ref >> 1) ^ 0xA001) : ref >> 1;
      }
      ASSERT_EQ(Crc16(0, data.data() + start, len), ref) << start << "+" << len;
    }
  }
}

TEST(Huffman, LengthsAreCompleteAndLimited) {
  std::mt19937 r(3);
  std::vector<std::vector<uint32_t>> sets;
  std::vector<uint32_t> fib(40);  // Fibonacci weights force a deep tree without the limit
  fib[0] = fib[1] = 1;
  for (size_t i = 2; i < fib.size(); ++i) fib[i] = fib[i - 1] + fib[i - 2];
  sets.push_back(fib);
  for (int k = 0; k < 20; ++k) {
    std::vector<uint32_t> f(510);
    for (auto& x : f) x = r() % 4 == 0 ? 0 : (1u << (r() % 20)) + r() % 100;
    sets.push_back(f);
  }
  for (const auto& f : sets) {
    auto len = CodeLengths(f, 16);
    uint64_t kraft = 0;
    for (size_t s = 0; s < f.size(); ++s) {
      EXPECT_EQ(f[s] == 0, len[s] == 0) << "symbol " << s;
      EXPECT_LE(len[s], 16);
      if (len[s]) kraft += 1ull << (16 - len[s]);
    }
    EXPECT_EQ(kraft, 1ull << 16);
  }
}

TEST(Huffman, OptimalWhenTheLimitDoesNotBind) {
  // Against the textbook merge of the two lightest weights: equal total cost.
  std::vector<uint32_t> f = {5, 9, 12, 13, 16, 45, 0, 3};
  auto len = CodeLengths(f, 16);
  std::vector<uint64_t> heap;
  for (auto x : f)
    if (x) heap.push_back(x);
  uint64_t cost = 0;
  while (heap.size() > 1) {
    std::sort(heap.begin(), heap.end());
    uint64_t s = heap[0] + heap[1];
    cost += s;
    heap.erase(heap.begin(), heap.begin() + 2);
    heap.push_back(s);
  }
  uint64_t ours = 0;
  for (size_t s = 0; s < f.size(); ++s) ours += uint64_t{f[s]} * len[s];
  EXPECT_EQ(ours, cost);
}

class EncoderMethods : public ::testing::TestWithParam<MethodCase> {};

TEST_P(EncoderMethods, RoundTripsThroughBothReaders) {
  const MethodCase mc = GetParam();
  for (const auto& [name, data] : DataSets()) {
    SCOPED_TRACE(name);
    Bytes packed = Compress(mc.method, data.data(), data.size());
    if (data.empty()) {
      EXPECT_TRUE(packed.empty());
      continue;
    }
    StreamStats st;
    ASSERT_NO_FATAL_FAILURE(Decode(packed, data.size(), mc.np, mc.pbit, mc.window, st));
    EXPECT_EQ(st.data, data);
    EXPECT_EQ(LhasaDecode(mc.method, packed, data.size()), data);
  }
}

TEST_P(EncoderMethods, UsesTheWholeWindowAndNoMore) {
  const MethodCase mc = GetParam();
  // A random block repeated: only a window longer than the block can find the repeat.
  const size_t block = mc.window - 600;
  Bytes unit = lzhtest::RandomBytes(block, 9), data;
  for (int i = 0; i < 3; ++i) data.insert(data.end(), unit.begin(), unit.end());
  Bytes packed = Compress(mc.method, data.data(), data.size());
  EXPECT_LT(packed.size(), block + block / 8);
  StreamStats st;
  ASSERT_NO_FATAL_FAILURE(Decode(packed, data.size(), mc.np, mc.pbit, mc.window, st));
  EXPECT_EQ(st.data, data);

  // The same block one window long is out of reach.
  Bytes far = lzhtest::RandomBytes(mc.window + 16, 10);
  Bytes two = far;
  two.insert(two.end(), far.begin(), far.end());
  Bytes packedFar = Compress(mc.method, two.data(), two.size());
  EXPECT_GT(packedFar.size(), two.size() * 95 / 100);
  EXPECT_EQ(LhasaDecode(mc.method, packedFar, two.size()), two);
}

TEST_P(EncoderMethods, SplitsBlocksBeyond65535Commands) {
  const MethodCase mc = GetParam();
  // Random letters from a small alphabet: almost every command is a literal.
  std::mt19937 r(5);
  Bytes data(400000);
  for (auto& b : data) b = static_cast<uint8_t>('a' + r() % 16);
  Bytes packed = Compress(mc.method, data.data(), data.size());
  StreamStats st;
  ASSERT_NO_FATAL_FAILURE(Decode(packed, data.size(), mc.np, mc.pbit, mc.window, st));
  EXPECT_GT(st.commands, 65535u);
  EXPECT_GE(st.blocks, 2u);
  EXPECT_EQ(st.data, data);
  EXPECT_EQ(LhasaDecode(mc.method, packed, data.size()), data);
}

TEST_P(EncoderMethods, PiecewiseFeedingGivesTheSameStream) {
  const MethodCase mc = GetParam();
  Bytes data = lzhtest::Text(700000, 11);  // several buffer slides
  Bytes whole = Compress(mc.method, data.data(), data.size());
  Bytes pieces;
  Encoder enc(mc.method, [&](const uint8_t* d, size_t n) {
    pieces.insert(pieces.end(), d, d + n);
    return true;
  });
  std::mt19937 r(12);
  for (size_t off = 0; off < data.size();) {
    size_t n = std::min<size_t>(data.size() - off, r() % 3 == 0 ? 1 : r() % 100000);
    ASSERT_TRUE(enc.Feed(data.data() + off, n));
    off += n;
  }
  ASSERT_TRUE(enc.Finish());
  EXPECT_EQ(pieces, whole);
  EXPECT_EQ(enc.compressedSize(), whole.size());
  EXPECT_EQ(LhasaDecode(mc.method, pieces, data.size()), data);
}

namespace {
void PrintTo(const MethodCase& m, std::ostream* os) { *os << MethodId(m.method); }
}  // namespace

INSTANTIATE_TEST_SUITE_P(Lzh, EncoderMethods, ::testing::ValuesIn(kMethods),
                         [](const auto& info) { return std::string(MethodId(info.param.method)).substr(1, 3); });
