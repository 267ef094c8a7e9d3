// The compressed stream on its own, read back by a strict reader written from the format rules:
// it refuses what lenient decoders let pass and strict ones reject. (liblhasa and four other
// readers decode our archives in the interop test.)

#include <bit>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

#include "encoder.h"
#include "huffman.h"
#include "lhasa_decode.h"
#include "test_util.h"

using namespace tavrun::lzh;
using lzhtest::Bytes;

namespace {

// Lazy matching with a long search: a stream shape of its own for the readers.
EncoderTuning Lazy() {
  EncoderTuning t;
  t.optimalPasses = 0;
  t.maxChain = 128;
  t.niceLength = 128;
  return t;
}

void Require(bool ok, const char* why) {
  if (!ok) throw std::runtime_error(why);
}

class StrictReader {
 public:
  StrictReader(const Bytes& d, Method m)
      : d_(d), window_(WindowSize(m)), np_(std::countr_zero(window_) + 1) {}

  Bytes Read(size_t size) {
    while (out_.size() < size) Block();
    Require(d_.size() == (pos_ + 7) / 8, "compressed size is not ceil(bits/8)");
    Require(pos_ % 8 == 0 || Get(8 - pos_ % 8) == 0, "padding bits not zero");
    return out_;
  }
  uint64_t commands = 0;  // more than 65,535 means more than one block
  uint64_t blocks = 0;
  uint32_t lastBlockCommands = 0;

 private:
  using Code = std::map<std::pair<int, uint32_t>, int>;  // (length, code) -> symbol

  uint32_t Get(int n) {
    uint32_t v = 0;
    for (; n > 0; --n, ++pos_) {
      Require(pos_ < d_.size() * 8, "read past the end");
      v = v << 1 | ((d_[pos_ / 8] >> (7 - pos_ % 8)) & 1);
    }
    return v;
  }
  static Code Canonical(const std::vector<int>& len) {
    uint64_t kraft = 0;
    int used = 0;
    for (int l : len) {
      Require(l <= 16, "code longer than 16 bits");
      used += l > 0;
      kraft += l ? 1ull << (16 - l) : 0;
    }
    Require(used >= 2 && kraft == 1ull << 16, "table incomplete, over-full or of one code");
    Code c;
    uint32_t code = 0;
    for (int l = 1; l <= 16; ++l, code <<= 1)
      for (size_t s = 0; s < len.size(); ++s)
        if (len[s] == l) c[{l, code++}] = static_cast<int>(s);
    return c;
  }
  int Sym(const Code& c) {
    // Some decoders look a whole longest code ahead before each symbol.
    Require(pos_ + static_cast<size_t>(c.rbegin()->first.first) <= d_.size() * 8,
            "fewer bits after a symbol than its table's longest code");
    uint32_t code = 0;
    for (int l = 1; l <= 16; ++l) {
      code = code << 1 | Get(1);
      if (auto it = c.find({l, code}); it != c.end()) return it->second;
    }
    throw std::runtime_error("no such code");
  }
  Code Lengths(int nbit, int maxN, int special) {
    const int n = static_cast<int>(Get(nbit));
    Require(n > 0 && n <= maxN, "single-symbol form or too many lengths");
    std::vector<int> len(maxN);
    for (int i = 0; i < n; ++i) {
      int l = static_cast<int>(Get(3));
      if (l == 7)
        while (Get(1)) ++l;
      len[i] = l;
      if (i + 1 == special) {
        i += static_cast<int>(Get(2));
        Require(i < n, "zero run past n");
      }
    }
    Require(len[n - 1] != 0, "n not trimmed");
    return Canonical(len);
  }
  void Block() {
    const uint32_t count = Get(16);
    Require(count > 0, "block with no commands");
    ++blocks;
    lastBlockCommands = count;
    const Code t = Lengths(5, 19, 3);
    const int nc = static_cast<int>(Get(9));
    Require(nc > 0, "single-symbol literal/length table");
    std::vector<int> clen(510);
    for (int i = 0; i < nc;) {
      const int s = Sym(t);
      if (s > 2) {
        clen[i++] = s - 2;
        continue;
      }
      i += s == 0 ? 1 : s == 1 ? static_cast<int>(Get(4)) + 3 : static_cast<int>(Get(9)) + 20;
      Require(i <= nc, "zero run past n");
    }
    Require(clen[nc - 1] != 0, "n not trimmed");
    const Code c = Canonical(clen), p = Lengths(np_ < 16 ? 4 : 5, np_, -1);
    for (uint32_t k = 0; k < count; ++k, ++commands) {
      const int sym = Sym(c);
      if (sym < 256) {
        out_.push_back(static_cast<uint8_t>(sym));
        continue;
      }
      const int ps = Sym(p);
      const uint32_t d = ps <= 1 ? static_cast<uint32_t>(ps) : (1u << (ps - 1)) + Get(ps - 1);
      Require(d + 1 < window_ && d < out_.size(), "copy from beyond the window or the start");
      for (int j = 0; j < sym - 253; ++j) out_.push_back(out_[out_.size() - d - 1]);
    }
  }

  const Bytes& d_;
  const uint32_t window_;
  const int np_;
  size_t pos_ = 0;
  Bytes out_;
};

// Reads `packed` back with the strict reader (a whole longest code of bits after every
// symbol) and with liblhasa; both must give `in`. Returns the strict reader for its counts.
StrictReader ExpectReadBack(Method m, const Bytes& packed, const Bytes& in) {
  StrictReader strict(packed, m);
  try {
    EXPECT_EQ(strict.Read(in.size()), in);
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
  EXPECT_EQ(lzhtest::LhasaDecode(MethodId(m), packed, in.size()), in);
  return strict;
}

}  // namespace

TEST(Encoder, RoundTripsVariedDataAtEveryMethodWithEitherParser) {
  // clang-format off
  struct Case { std::string name; Bytes data; double maxRatio = 1.05; uint64_t minCommands = 0; };
  // clang-format on
  Bytes binary;  // little-endian counters with noise
  for (uint32_t i = 0; binary.size() < 150000; ++i)
    lzhtest::Put(binary, i * 7 + (i % 13 ? 0 : i * 2654435761u), 4);
  std::mt19937 r(5);
  Bytes letters(400000);  // from 16 letters at random: nearly every command a literal
  for (auto& b : letters) b = static_cast<uint8_t>('a' + r() % 16);
  const auto times = [](const Bytes& unit, int k) {
    Bytes b;
    while (k--) b.insert(b.end(), unit.begin(), unit.end());
    return b;
  };
  // Bytes in which no three repeat: one literal per byte, so a length picks the commands
  // of a block exactly.
  const auto noRepeats = [](size_t n) {
    std::vector<bool> seen(1 << 24);
    std::mt19937 g(11);
    Bytes b = {0, 0};
    while (b.size() < n) {
      const uint8_t c = static_cast<uint8_t>(g());
      const uint32_t k = b[b.size() - 2] << 16 | b.back() << 8 | c;
      if (seen[k]) continue;
      seen[k] = true;
      b.push_back(c);
    }
    return b;
  };
  const Bytes text = lzhtest::Text(700000, 2);
  const auto prefix = [&](size_t n) { return Bytes(text.begin(), text.begin() + n); };
  // Copies of 65-256 bytes from up to 4 KB back, each ended by a changed byte: matches
  // longer than the search's stop length, which are measured to their end separately.
  Bytes longCopies = prefix(5000);
  for (int k = 0; k < 400; ++k) {
    const size_t len = 65 + r() % 192, from = longCopies.size() - 300 - r() % 3700;
    for (size_t j = 0; j < len; ++j) longCopies.push_back(longCopies[from + j]);
    longCopies.push_back(static_cast<uint8_t>(r()));
  }
  int ownLastBlocks = 0, sharedLastBlocks = 0;
  for (const bool optimal : {false, true})
    for (Method m : {Method::Lh5, Method::Lh6, Method::Lh7}) {
      const uint32_t w = WindowSize(m);
      const EncoderTuning tuning = optimal ? DefaultTuning(m) : Lazy();
      const std::vector<Case> cases = {
          {"empty", {}},
          {"one byte", {0x41}},
          {"two bytes", {7, 7}},
          {"three bytes", {1, 2, 1}},
          {"short text", prefix(700), 0.9},
          {"a page of text", prefix(4000), 0.7},
          // Around the optimal parser's stretch of 32 KiB and the buffer's slide of 128 KiB.
          {"text of a stretch less one", prefix(32767), 0.6},
          {"text of a stretch", prefix(32768), 0.6},
          {"text of a stretch and one", prefix(32769), 0.6},
          {"text of a slide and a window", prefix(128 * 1024 + w + 1), 0.6},
          // One literal per byte: exactly one block's worth of commands, and one over.
          {"65535 literals", noRepeats(65535), 1.05, 65535},
          {"65536 literals", noRepeats(65536), 1.05, 65536},
          {"run", Bytes(200000, 'z'), 0.01},
          {"long copies", longCopies, 0.15},
          {"random", lzhtest::RandomBytes(100000, 1)},
          {"text over several buffer slides", lzhtest::Text(700000, 2), 0.6},
          {"binary", binary, 0.5},
          {"over 65535 commands", letters, 0.7, 65536},
          // Copies just inside the window compress to about one; one window apart they are out of
          // reach (the strict reader refuses a copy from beyond the window).
          {"repeats inside the window", times(lzhtest::RandomBytes(w - 600, 9), 3), 0.4},
          {"repeats beyond the window", times(lzhtest::RandomBytes(w + 16, 10), 2)},
      };
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(MethodId(m)) + (optimal ? " optimal " : " lazy ") + c.name);
        const Bytes packed = Compress(m, c.data.data(), c.data.size(), tuning);
        // Fed in pieces of any size, the stream is the same.
        Bytes pieces;
        Encoder enc(
            m,
            [&](const uint8_t* d, size_t n) {
              pieces.insert(pieces.end(), d, d + n);
              return true;
            },
            tuning);
        for (size_t off = 0, n; off < c.data.size(); off += n) {
          n = std::min<size_t>(c.data.size() - off, r() % 3 == 0 ? 1 : r() % 100000);
          ASSERT_TRUE(enc.Feed(c.data.data() + off, n));
        }
        ASSERT_TRUE(enc.Finish());
        EXPECT_EQ(pieces, packed);
        EXPECT_LE(packed.size(), c.data.size() * c.maxRatio + 16);  // a few bytes of tables
        const StrictReader strict = ExpectReadBack(m, packed, c.data);
        EXPECT_GE(strict.commands, c.minCommands);
        if (strict.blocks > 1 && strict.lastBlockCommands == 1) ++ownLastBlocks;
        if (strict.lastBlockCommands > 1) ++sharedLastBlocks;
      }
    }
  // Both ways of ending a stream were read back above.
  EXPECT_GT(ownLastBlocks, 0);
  EXPECT_GT(sharedLastBlocks, 0);
}

TEST(Encoder, SmallStreamsEndWithEnoughBitsForReadersThatLookAhead) {
  // A small file ending in its most frequent byte, the everyday case, ends on a short code
  // far from the table's longest: the end must be made safe, by whichever way is cheapest.
  std::mt19937 r(71);
  int checked = 0;
  for (Method m : {Method::Lh5, Method::Lh6, Method::Lh7})
    for (size_t n = 20; n < 3000; n += 1 + r() % 97) {
      Bytes in = lzhtest::Text(n, static_cast<uint32_t>(n));
      in.back() = ' ';
      const Bytes packed = Compress(m, in.data(), in.size(), DefaultTuning(m));
      SCOPED_TRACE(std::string(MethodId(m)) + " " + std::to_string(n));
      ExpectReadBack(m, packed, in);
      ++checked;
    }
  EXPECT_GT(checked, 150);
}

TEST(Encoder, LengthTablesWithGapsOfEverySizeReadBack) {
  // Bytes drawn from an alphabet whose values lie given distances apart: the literal lengths
  // then hold runs of zeros of those sizes, each sent by one of three run symbols or a mix
  // of them. Gaps of 3-18 make the short-run symbol cheap, so that a few gaps of 20-36 are
  // cheaper as two short runs than as one long.
  std::mt19937 r(81);
  const std::vector<std::vector<int>> gapSets = {
      {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20},
      {21, 22, 23, 24, 25, 26, 27, 28, 29, 30},
      {31, 32, 33, 34, 35, 36, 37},
      {5, 5, 5, 5, 5, 5, 5, 5, 7, 7, 7, 7, 7, 7, 25, 30},
      {4, 6, 8, 4, 6, 8, 4, 6, 8, 4, 6, 8, 19, 19, 22}};
  for (const std::vector<int>& gaps : gapSets)
    for (Method m : {Method::Lh5, Method::Lh7}) {
      std::vector<uint8_t> alphabet = {0};
      for (int gap : gaps)
        if (alphabet.back() + gap + 1 < 256)
          alphabet.push_back(static_cast<uint8_t>(alphabet.back() + gap + 1));
      Bytes in(2500);
      for (uint8_t& c : in) c = alphabet[std::min(r() % alphabet.size(), r() % alphabet.size())];
      SCOPED_TRACE(std::string(MethodId(m)) + " gaps from " + std::to_string(gaps[0]));
      const Bytes packed = Compress(m, in.data(), in.size(), DefaultTuning(m));
      ExpectReadBack(m, packed, in);
    }
}

TEST(Encoder, ConcurrentEncodersOnSeveralThreadsWriteWhatOneWrites) {
  // Each thread keeps its own spare buffers; a shared one would mix streams.
  std::vector<Bytes> inputs;
  for (uint32_t i = 0; i < 4; ++i) inputs.push_back(lzhtest::Text(50000 + i * 30000, 40 + i));
  std::vector<Bytes> alone;
  for (const Bytes& in : inputs)
    alone.push_back(Compress(Method::Lh7, in.data(), in.size(), DefaultTuning(Method::Lh7)));
  std::vector<Bytes> together(inputs.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < inputs.size(); ++i)
    threads.emplace_back([&, i] {
      for (int k = 0; k < 3; ++k)
        together[i] =
            Compress(Method::Lh7, inputs[i].data(), inputs[i].size(), DefaultTuning(Method::Lh7));
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(together, alone);
}

TEST(Encoder, OutputDoesNotDependOnTheFilesBefore) {
  // An encoder takes over the buffers of the last one on its thread without clearing them
  // all; what they held must not show in the output. A fresh thread starts with none.
  std::vector<Bytes> inputs = {{'a'},
                               {'a', 'b', 'a', 'b', 'a'},
                               lzhtest::Text(100, 60),
                               lzhtest::Text(3000, 61),
                               lzhtest::Text(45000, 62)};
  Bytes endsInRepeats = lzhtest::Text(6000, 63);  // ends inside a long copy
  endsInRepeats.insert(endsInRepeats.end(), endsInRepeats.begin(), endsInRepeats.begin() + 700);
  inputs.push_back(endsInRepeats);
  const Bytes before = lzhtest::RandomBytes(300000, 64);
  for (const bool optimal : {false, true})
    for (Method m : {Method::Lh5, Method::Lh6, Method::Lh7}) {
      const EncoderTuning tuning = optimal ? DefaultTuning(m) : Lazy();
      for (const Bytes& in : inputs) {
        SCOPED_TRACE(std::string(MethodId(m)) + (optimal ? " optimal " : " lazy ") +
                     std::to_string(in.size()));
        Bytes fresh;
        std::thread([&] { fresh = Compress(m, in.data(), in.size(), tuning); }).join();
        for (Method first : {Method::Lh5, Method::Lh7}) {
          Compress(first, before.data(), before.size(), DefaultTuning(first));
          EXPECT_EQ(Compress(m, in.data(), in.size(), tuning), fresh);
        }
      }
    }
}

TEST(Huffman, LengthsAreCompleteAndWithin16Bits) {
  std::vector<uint32_t> fib(40, 1), sparse(510);  // unlimited, Fibonacci weights need 39 bits
  for (size_t i = 2; i < fib.size(); ++i) fib[i] = fib[i - 1] + fib[i - 2];
  sparse[3] = 1000;
  sparse[509] = 7;
  for (const auto& f : {fib, sparse}) {
    const auto len = CodeLengths(f, 16);
    uint64_t kraft = 0;
    for (size_t s = 0; s < f.size(); ++s) {
      EXPECT_EQ(f[s] == 0, len[s] == 0) << s;
      EXPECT_LE(len[s], 16);
      kraft += len[s] ? 1ull << (16 - len[s]) : 0;
    }
    EXPECT_EQ(kraft, 1ull << 16);
  }
}
