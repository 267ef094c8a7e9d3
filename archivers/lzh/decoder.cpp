#include "decoder.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "file_io.h"

namespace tavrun::lzh {
namespace {

constexpr size_t kChunk = 1 << 16;
constexpr int kMaxCodeLength = 16;
constexpr int kLiteralAndLengthCodes = 256 + 256 - 3 + 1;  // literals, then lengths 3..256
constexpr int kLengthCodes = 19;                           // code lengths of the code above
constexpr size_t kHistory = 1 << 16;                       // the largest window (-lh7-)
constexpr size_t kMaxMatch = 256;

// Where the compressed bytes come from: a descriptor read in chunks, or memory.
class Input {
 public:
  Input(int fd, uint64_t offset, uint64_t size) : fd_(fd), offset_(offset), left_(size) {}
  Input(const uint8_t* data, size_t size) : data_(data), end_(size), fd_(-1), left_(0) {}

  // Makes more bytes available; false at the end of the member or on a read error.
  bool Fill() {
    if (fd_ < 0 || left_ == 0) return false;
    chunk_.resize(kChunk);
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left_, kChunk));
    const ssize_t n = tavrun::arc::ReadAt(fd_, chunk_.data(), want, offset_);
    if (n <= 0) {
      readError_ = true;
      return false;
    }
    offset_ += static_cast<uint64_t>(n);
    left_ -= static_cast<uint64_t>(n);
    data_ = chunk_.data();
    pos_ = 0;
    end_ = static_cast<size_t>(n);
    return true;
  }
  bool readError() const { return readError_; }

  const uint8_t* data_ = nullptr;
  size_t pos_ = 0, end_ = 0;

 private:
  int fd_;
  uint64_t offset_ = 0, left_;
  std::vector<uint8_t> chunk_;
  bool readError_ = false;
};

// MSB-first bits. Past the member's end it supplies zero bytes (the last codes may be
// peeked beyond it) and counts them, so a stream that really reads past its end is caught.
class BitReader {
 public:
  explicit BitReader(Input& in) : in_(in) { Refill(); }

  uint32_t Peek(int n) const { return static_cast<uint32_t>(buf_ >> (64 - n)); }
  void Drop(int n) {
    buf_ <<= n;
    count_ -= n;
    if (count_ < 32) Refill();
  }
  uint32_t Get(int n) {
    if (n == 0) return 0;
    uint32_t v = Peek(n);
    Drop(n);
    return v;
  }
  // More than the lookahead's worth of invented bytes: the stream ran past its data.
  bool exhausted() const { return padding_ > 8; }
  // Some of the invented bits were consumed.
  bool overran() const { return padding_ * 8 > count_; }
  bool readError() const { return in_.readError(); }

 private:
  void Refill() {
    if (in_.pos_ + 8 <= in_.end_) {
      uint64_t v;
      std::memcpy(&v, in_.data_ + in_.pos_, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      v = __builtin_bswap64(v);
#endif
      const int bytes = (63 - count_) >> 3;
      const int newCount = count_ + bytes * 8;
      buf_ = (buf_ | (v >> count_)) & (~uint64_t{0} << (64 - newCount));
      count_ = newCount;
      in_.pos_ += static_cast<size_t>(bytes);
      return;
    }
    while (count_ <= 56) {
      uint64_t byte = 0;
      if (in_.pos_ < in_.end_ || in_.Fill())
        byte = in_.data_[in_.pos_++];
      else
        ++padding_;
      buf_ |= byte << (56 - count_);
      count_ += 8;
    }
  }

  Input& in_;
  uint64_t buf_ = 0;
  int count_ = 0;
  int padding_ = 0;
};

// A canonical Huffman code: codes of up to `kPrimaryBits` bits are looked up in one step;
// the rare longer ones are found length by length.
template <int kSymbols, int kPrimaryBits>
class HuffmanTable {
 public:
  void SetSingle(int symbol) { single_ = symbol; }

  // False when the lengths describe no prefix code (a length over 16, or too many codes of
  // some length). A code with unused values is accepted: only using one is an error.
  bool Build(const uint8_t* lengths, int n) {
    single_ = -1;
    std::array<uint16_t, kMaxCodeLength + 1> count{};
    for (int s = 0; s < n; ++s) {
      if (lengths[s] > kMaxCodeLength) return false;
      ++count[lengths[s]];
    }
    count[0] = 0;
    int32_t left = 1;
    for (int l = 1; l <= kMaxCodeLength; ++l) {
      left = left * 2 - count[l];
      if (left < 0) return false;
    }
    std::array<uint32_t, kMaxCodeLength + 2> next{};
    uint32_t code = 0, index = 0;
    for (int l = 1; l <= kMaxCodeLength; ++l) {
      code = (code + (l > 1 ? count[l - 1] : 0)) << (l > 1 ? 1 : 0);
      first_[l] = code;
      next[l] = code;
      offset_[l] = static_cast<uint16_t>(index);
      count_[l] = count[l];
      index += count[l];
    }
    primary_.fill(0);
    std::array<uint16_t, kMaxCodeLength + 1> placed{};
    for (int s = 0; s < n; ++s) {
      const int l = lengths[s];
      if (l == 0) continue;
      sorted_[offset_[l] + placed[l]++] = static_cast<uint16_t>(s);
      const uint32_t c = next[l]++;
      if (l <= kPrimaryBits) {
        const uint32_t from = c << (kPrimaryBits - l), span = 1u << (kPrimaryBits - l);
        for (uint32_t k = 0; k < span; ++k) primary_[from + k] = static_cast<uint32_t>(s << 8 | l);
      }
    }
    return true;
  }

  // The next symbol, or -1 for a code the table does not hold.
  int Decode(BitReader& in) const {
    if (single_ >= 0) return single_;
    const uint32_t e = primary_[in.Peek(kPrimaryBits)];
    if (e != 0) {
      in.Drop(static_cast<int>(e & 0xFF));
      return static_cast<int>(e >> 8);
    }
    for (int l = kPrimaryBits + 1; l <= kMaxCodeLength; ++l) {
      const uint32_t c = in.Peek(l) - first_[l];
      if (c < count_[l]) {
        in.Drop(l);
        return sorted_[offset_[l] + c];
      }
    }
    return -1;
  }

 private:
  int single_ = -1;
  std::array<uint32_t, 1u << kPrimaryBits> primary_{};
  std::array<uint32_t, kMaxCodeLength + 1> first_{};
  std::array<uint16_t, kMaxCodeLength + 1> count_{}, offset_{};
  std::array<uint16_t, kSymbols> sorted_{};
};

// The decoded bytes: a 64 KiB history (spaces before the first byte, as the format's
// encoders assume) followed by room for one more window, handed on when full.
class Output {
 public:
  Output(uint64_t size, const DecodeSink& sink)
      : buf_(2 * kHistory + kMaxMatch + 16), pos_(kHistory), left_(size), sink_(sink) {
    std::fill(buf_.begin(), buf_.begin() + kHistory, ' ');
  }
  uint64_t left() const { return left_; }
  bool stopped() const { return stopped_; }

  void Literal(uint8_t b) {
    buf_[pos_++] = b;
    --left_;
  }
  // Copies `length` bytes from `distance` + 1 back (never past the end of the member).
  void Match(size_t length, size_t distance) {
    length = static_cast<size_t>(std::min<uint64_t>(length, left_));
    uint8_t* d = buf_.data() + pos_;
    const uint8_t* s = d - distance - 1;
    if (distance >= 7) {
      // Eight bytes at a time may write a little past the match: the margin allows it.
      for (size_t i = 0; i < length; i += 8) std::memcpy(d + i, s + i, 8);
    } else {
      for (size_t i = 0; i < length; ++i) d[i] = s[i];
    }
    pos_ += length;
    left_ -= length;
  }
  // Passes a full window on and keeps the last 64 KiB as history; false when stopped.
  bool MaybeFlush() {
    if (pos_ < 2 * kHistory) return true;
    if (!Emit()) return false;
    std::memmove(buf_.data(), buf_.data() + pos_ - kHistory, kHistory);
    pos_ = from_ = kHistory;
    return true;
  }
  bool Finish() { return Emit(); }

 private:
  bool Emit() {
    if (pos_ > from_ && !sink_(buf_.data() + from_, pos_ - from_)) stopped_ = true;
    from_ = pos_;
    return !stopped_;
  }

  std::vector<uint8_t> buf_;
  size_t pos_, from_ = kHistory;
  uint64_t left_;
  const DecodeSink& sink_;
  bool stopped_ = false;
};

// One -lh4-..-lh7- stream: blocks, each with its three code tables.
class StaticHuffmanDecoder {
 public:
  StaticHuffmanDecoder(BitReader& in, int positionCodes, int positionBits)
      : in_(in), positionCodes_(positionCodes), positionBits_(positionBits) {}

  DecodeStatus Run(Output& out) {
    while (out.left() > 0) {
      // A block that counts no symbols is read and passed over, as other readers do.
      while (blockLeft_ == 0) {
        blockLeft_ = in_.Get(16);
        if (!ReadLengthCode(kLengthCodes, 5, 3) || !ReadLiteralCode() ||
            !ReadLengthCodeInto(position_, positionCodes_, positionBits_, -1) || in_.exhausted())
          return Failure();
      }
      --blockLeft_;
      const int c = literal_.Decode(in_);
      if (c < 0) return Failure();
      if (c < 256) {
        out.Literal(static_cast<uint8_t>(c));
      } else {
        const int p = position_.Decode(in_);
        if (p < 0) return Failure();
        const size_t distance =
            p <= 1 ? static_cast<size_t>(p) : (size_t{1} << (p - 1)) + in_.Get(p - 1);
        out.Match(static_cast<size_t>(c - 253), distance);
      }
      if (in_.exhausted()) return Failure();
      if (!out.MaybeFlush()) return DecodeStatus::Stopped;
    }
    if (!out.Finish()) return DecodeStatus::Stopped;
    return in_.overran() ? Failure() : DecodeStatus::Ok;
  }

 private:
  DecodeStatus Failure() const {
    return in_.readError() ? DecodeStatus::ReadError : DecodeStatus::Damaged;
  }

  // The code-length code (or, with special < 0, the position code): a count, then each length
  // in 3 bits, 7 extended by a run of 1 bits; after `special` lengths, 2 bits of zero run.
  template <typename Table>
  bool ReadLengthCodeInto(Table& table, int symbols, int countBits, int special) {
    const int n = static_cast<int>(in_.Get(countBits));
    if (n == 0) {
      const int only = static_cast<int>(in_.Get(countBits));
      if (only >= symbols) return false;
      table.SetSingle(only);
      return true;
    }
    if (n > symbols) return false;
    std::array<uint8_t, 32> lengths{};
    for (int i = 0; i < n;) {
      int c = static_cast<int>(in_.Get(3));
      if (c == 7) {
        while (in_.Get(1) == 1)
          if (++c > kMaxCodeLength) return false;
      }
      lengths[static_cast<size_t>(i++)] = static_cast<uint8_t>(c);
      if (i == special) {
        for (int z = static_cast<int>(in_.Get(2)); z > 0 && i < n; --z)
          lengths[static_cast<size_t>(i++)] = 0;
      }
    }
    return table.Build(lengths.data(), symbols);
  }
  bool ReadLengthCode(int symbols, int countBits, int special) {
    return ReadLengthCodeInto(lengthCode_, symbols, countBits, special);
  }

  // The literal/length code, its lengths coded with the code-length code; symbols 0-2 are
  // runs of zero lengths.
  bool ReadLiteralCode() {
    const int n = static_cast<int>(in_.Get(9));
    if (n == 0) {
      const int only = static_cast<int>(in_.Get(9));
      if (only >= kLiteralAndLengthCodes) return false;
      literal_.SetSingle(only);
      return true;
    }
    if (n > kLiteralAndLengthCodes) return false;
    std::array<uint8_t, kLiteralAndLengthCodes> lengths{};
    for (int i = 0; i < n;) {
      const int c = lengthCode_.Decode(in_);
      if (c < 0) return false;
      if (c > 2) {
        lengths[static_cast<size_t>(i++)] = static_cast<uint8_t>(c - 2);
        continue;
      }
      const int run = c == 0   ? 1
                      : c == 1 ? static_cast<int>(in_.Get(4)) + 3
                               : static_cast<int>(in_.Get(9)) + 20;
      if (i + run > kLiteralAndLengthCodes) return false;
      i += run;  // the lengths are zero already
    }
    return literal_.Build(lengths.data(), kLiteralAndLengthCodes);
  }

  BitReader& in_;
  const int positionCodes_, positionBits_;
  uint32_t blockLeft_ = 0;
  HuffmanTable<kLengthCodes, 8> lengthCode_;
  HuffmanTable<kLiteralAndLengthCodes, 12> literal_;
  HuffmanTable<32, 8> position_;
};

DecodeStatus CopyStored(Input& in, uint64_t originalSize, const DecodeSink& sink) {
  while (originalSize > 0) {
    if (in.pos_ == in.end_ && !in.Fill())
      return in.readError() ? DecodeStatus::ReadError : DecodeStatus::Damaged;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(originalSize, in.end_ - in.pos_));
    if (!sink(in.data_ + in.pos_, n)) return DecodeStatus::Stopped;
    in.pos_ += n;
    originalSize -= n;
  }
  return DecodeStatus::Ok;
}

// Position code size and its count's width per method; 0 for stored data, -1 unknown.
int PositionCodes(const std::string& method, int& countBits) {
  countBits = 4;
  if (method == "-lh0-" || method == "-lz4-") return 0;
  if (method == "-lh4-" || method == "-lh5-") return 14;
  countBits = 5;
  if (method == "-lh6-") return 16;
  if (method == "-lh7-") return 17;
  return -1;
}

DecodeStatus Decode(Input& in, uint64_t packedSize, uint64_t originalSize,
                    const std::string& method, const DecodeSink& sink) {
  int countBits = 0;
  const int codes = PositionCodes(method, countBits);
  if (codes < 0) return DecodeStatus::Damaged;
  if (codes == 0) {
    if (packedSize < originalSize) return DecodeStatus::Damaged;
    return CopyStored(in, originalSize, sink);
  }
  if (originalSize == 0) return DecodeStatus::Ok;
  BitReader bits(in);
  Output out(originalSize, sink);
  StaticHuffmanDecoder decoder(bits, codes, countBits);
  return decoder.Run(out);
}

}  // namespace

bool OwnDecoderSupports(const std::string& method) {
  int countBits = 0;
  return PositionCodes(method, countBits) >= 0;
}

DecodeStatus DecodeMember(int fd, uint64_t offset, uint64_t packedSize, uint64_t originalSize,
                          const std::string& method, const DecodeSink& sink) {
  Input in(fd, offset, packedSize);
  return Decode(in, packedSize, originalSize, method, sink);
}

DecodeStatus DecodeBuffer(const uint8_t* data, size_t size, uint64_t originalSize,
                          const std::string& method, const DecodeSink& sink) {
  Input in(data, size);
  return Decode(in, size, originalSize, method, sink);
}

}  // namespace tavrun::lzh
