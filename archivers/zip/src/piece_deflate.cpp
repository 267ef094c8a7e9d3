#include "piece_deflate.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "file_io.h"

namespace tavrun::zip {

namespace {

// Stored blocks hold at most this many bytes each, behind a 5-byte header.
constexpr size_t kStoredBlock = 65535;
constexpr size_t kStoredHeader = 5;
// What joining a piece to the next can add: one byte of header bits and an empty stored block.
constexpr size_t kJoin = 5;
// Pieces are sampled in this many stretches of this size before they are parsed.
constexpr size_t kStretch = 64u << 10;
constexpr size_t kStretches = 4;

struct Compressor {
  explicit Compressor(int level) : c(libdeflate_alloc_compressor(level)), level(level) {}
  ~Compressor() {
    if (c) libdeflate_free_compressor(c);
  }
  libdeflate_compressor* c;
  int level;
};

size_t StoredSize(size_t n) {
  return n + kStoredHeader * std::max<size_t>(1, (n + kStoredBlock - 1) / kStoredBlock);
}

// `n` bytes as stored blocks, the last one final when `last`; returns the bytes written.
size_t Store(const uint8_t* in, size_t n, bool last, uint8_t* out) {
  size_t pos = 0, o = 0;
  do {
    const size_t len = std::min(n - pos, kStoredBlock);
    out[o++] = last && pos + len == n ? 1 : 0;  // BFINAL, type 0, padding
    out[o++] = uint8_t(len);
    out[o++] = uint8_t(len >> 8);
    out[o++] = uint8_t(~len);
    out[o++] = uint8_t(~len >> 8);
    std::memcpy(out + o, in + pos, len);
    o += len;
    pos += len;
  } while (pos < n);
  return o;
}

// Where the final block of a complete raw deflate stream starts, in bits, and how many
// padding bits follow its end: zlib's inflate stops at every block boundary (Z_BLOCK),
// including the end of the final block before it drops the padding, and then tells the bits
// it has not used of the last byte read. False when the stream is not one complete deflate
// stream.
bool FindFinalBlock(const uint8_t* data, size_t size, uint64_t& finalBit, int& padBits) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  constexpr size_t kSink = 1 << 16;
  std::unique_ptr<uint8_t[]> sink(new uint8_t[kSink]);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = uInt(size);
  finalBit = 0;
  uint64_t endBit = 0;
  bool ended = false, complete = false;
  for (;;) {
    z.next_out = sink.get();
    z.avail_out = uInt(kSink);
    int rc = inflate(&z, Z_BLOCK);
    if (rc == Z_STREAM_END) {
      complete = ended && z.avail_in == 0;
      break;
    }
    if (rc != Z_OK) break;
    if (z.data_type & 128) {
      const uint64_t at = uint64_t(z.total_in) * 8 - uint64_t(z.data_type & 7);
      if (z.data_type & 64) {  // after the final block
        endBit = at;
        ended = true;
      } else {  // before a block that may be the final one
        finalBit = at;
      }
    }
  }
  inflateEnd(&z);
  if (!complete || endBit > uint64_t(size) * 8 || uint64_t(size) * 8 - endBit > 7) return false;
  padBits = int(uint64_t(size) * 8 - endBit);
  return true;
}

// Turns a piece's complete deflate stream into the middle of a longer one: its final block
// made not final, then an empty stored block, which ends on a byte boundary, so the next
// piece's blocks can follow byte-aligned. Appends at most kJoin bytes to `buf`; false when
// the piece is not a complete stream.
bool MakeNotFinal(uint8_t* buf, size_t& size) {
  uint64_t finalBit = 0;
  int pad = 0;
  if (size == 0 || !FindFinalBlock(buf, size, finalBit, pad)) return false;
  buf[finalBit / 8] &= uint8_t(~(1u << (finalBit % 8)));
  // The padding is zero: the stored block's three header bits (not final, type 0) go there
  // when they fit, else in one more zero byte; LEN 0 and NLEN 0xFFFF follow aligned.
  buf[size - 1] &= uint8_t((1u << (8 - pad)) - 1);
  if (pad < 3) buf[size++] = 0;
  const uint8_t empty[4] = {0x00, 0x00, 0xFF, 0xFF};
  std::memcpy(buf + size, empty, 4);
  size += 4;
  return true;
}

int64_t MtimeNs(const struct stat& st) {
  return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

bool ReadFull(int fd, uint8_t* buf, uint64_t size, uint64_t& got) {
  got = 0;
  while (got < size) {
    ssize_t n = read(fd, buf + got, size - got > (1u << 30) ? (1u << 30) : size_t(size - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += uint64_t(n);
  }
  return true;
}

int MoreData(int fd) {
  uint8_t extra;
  ssize_t n;
  do n = read(fd, &extra, 1);
  while (n < 0 && errno == EINTR);
  return n > 0 ? 1 : (n == 0 ? 0 : -1);
}

libdeflate_compressor* CompressorFor(int level) {
  // Levels 0-12, each kept once made: the pieces alternate the probe's level and their own.
  static thread_local std::unique_ptr<Compressor> cached[13];
  if (level < 0 || level > 12) return nullptr;
  std::unique_ptr<Compressor>& c = cached[level];
  if (!c || c->c == nullptr) c = std::make_unique<Compressor>(level);
  return c->c;
}

bool WorthDeflating(const uint8_t* data, size_t size) {
  libdeflate_compressor* comp = CompressorFor(1);
  if (comp == nullptr || size == 0) return true;
  const size_t len = std::min(size, kStretch);
  std::unique_ptr<uint8_t[]> out(new uint8_t[len]);
  size_t sampled = 0, packed = 0;
  for (size_t i = 0; i < kStretches; ++i) {
    const size_t at = (size - len) * i / (kStretches - 1);
    const size_t m = libdeflate_deflate_compress(comp, data + at, len, out.get(), len);
    sampled += len;
    packed += m != 0 ? m : len;
    if (size == len) break;  // one stretch covers it all
  }
  return packed < sampled - sampled / 100;
}

struct PieceDeflater::Slot {
  std::unique_ptr<uint8_t[]> in, out;
  size_t inSize = 0, outSize = 0;
  bool last = false;
  bool ready = false;  // compressed (guarded by the mutex while workers run)
  bool ok = true;      // false when out of memory
};

PieceDeflater::PieceDeflater(int fd, uint64_t size, int level, uint64_t pieceSize, unsigned threads)
    : fd_(fd),
      size_(size),
      level_(level),
      pieceSize_(std::max<uint64_t>(pieceSize, 1)),
      pieces_(std::max<uint64_t>(1, (size + pieceSize_ - 1) / pieceSize_)) {
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    error_ = errno;
    failed_ = Status::ReadError;
  } else if (uint64_t(st.st_size) != size) {
    failed_ = Status::Changed;
  }
  openMtimeNs_ = MtimeNs(st);
  // One piece more than workers, so the next is ready while one is being handed out.
  const uint64_t workers = threads > 1 ? std::min<uint64_t>(threads, pieces_) : 0;
  const size_t inCap = size_t(std::min(size_, pieceSize_));
  for (uint64_t i = 0; i < (workers > 1 ? workers + 1 : 1); ++i) {
    auto slot = std::make_unique<Slot>();
    slot->in.reset(new uint8_t[std::max<size_t>(inCap, 1)]);
    // Deflate is given no more room than storing takes, less what the join adds.
    slot->out.reset(new uint8_t[StoredSize(inCap) + kJoin]);
    slots_.push_back(std::move(slot));
  }
  if (workers > 1)
    for (uint64_t i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

PieceDeflater::~PieceDeflater() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void PieceDeflater::Work() {
  for (;;) {
    Slot* slot = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      slot = queue_.front();
      queue_.pop_front();
    }
    Compress(*slot);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot->ready = true;
    }
    done_.notify_all();
  }
}

bool PieceDeflater::ReadPiece(Slot& slot) {
  const uint64_t offset = nextIn_ * pieceSize_;
  slot.inSize = size_t(std::min(pieceSize_, size_ - offset));
  slot.last = nextIn_ + 1 == pieces_;
  uint64_t got = 0;
  if (!ReadFull(fd_, slot.in.get(), slot.inSize, got)) {
    error_ = errno;
    failed_ = Status::ReadError;
    return false;
  }
  if (got != slot.inSize) {  // shrank
    failed_ = Status::Changed;
    return false;
  }
  crc_ = uint32_t(libdeflate_crc32(crc_, slot.in.get(), slot.inSize));
  return true;
}

// Reads the pieces that have a free slot, in order, and hands them to the workers.
void PieceDeflater::Refill() {
  while (failed_ == Status::Piece && nextIn_ < pieces_ && nextIn_ < nextOut_ + slots_.size()) {
    Slot& slot = *slots_[nextIn_ % slots_.size()];
    if (!ReadPiece(slot)) return;
    ++nextIn_;
    if (workers_.empty()) {
      Compress(slot);
      slot.ready = true;
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot.ready = false;
      queue_.push_back(&slot);
    }
    work_.notify_one();
  }
}

void PieceDeflater::Compress(Slot& slot) const {
  const uint8_t* in = slot.in.get();
  const size_t n = slot.inSize;
  slot.ok = true;
  // Only pieces of some size are sampled: a short last piece costs little either way.
  if (n < kStretches * kStretch || WorthDeflating(in, n)) {
    libdeflate_compressor* comp = CompressorFor(level_);
    if (comp == nullptr) {
      slot.ok = false;
      return;
    }
    const size_t room = StoredSize(n) - kJoin;
    size_t m = libdeflate_deflate_compress(comp, in, n, slot.out.get(), room);
    if (m != 0 && (slot.last || MakeNotFinal(slot.out.get(), m))) {
      slot.outSize = m;
      return;
    }
  }
  slot.outSize = Store(in, n, slot.last, slot.out.get());
}

PieceDeflater::Status PieceDeflater::Finish() {
  const int more = MoreData(fd_);
  struct stat st {};
  if (more < 0 || fstat(fd_, &st) != 0) {
    error_ = errno;
    return Status::ReadError;
  }
  if (more > 0 || uint64_t(st.st_size) != size_ || MtimeNs(st) != openMtimeNs_)
    return Status::Changed;
  return Status::End;
}

PieceDeflater::Status PieceDeflater::Next(const uint8_t*& data, size_t& size, uint64_t& input) {
  if (failed_ == Status::Piece && nextOut_ == pieces_) return Finish();
  Refill();
  if (failed_ != Status::Piece) return failed_;
  Slot& slot = *slots_[nextOut_ % slots_.size()];
  if (!workers_.empty()) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&slot] { return slot.ready; });
  }
  if (!slot.ok) return Status::NoMemory;
  data = slot.out.get();
  size = slot.outSize;
  input = slot.inSize;
  ++nextOut_;
  return Status::Piece;
}

}  // namespace tavrun::zip
