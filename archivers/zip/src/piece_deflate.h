// Deflating a large file in pieces cut at fixed offsets, several pieces at once. Each piece is
// deflated on its own (libdeflate), its final block made non-final and closed by an empty
// stored block on a byte boundary, so the pieces join into one deflate stream; a piece that
// does not compress goes as stored blocks. The bytes depend on the level and the piece size,
// never on the number of threads.
#pragma once

#include <libdeflate.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrun::zip {

// Reads up to `size` bytes, fewer only at the end of the file; false on a read error
// (errno kept).
bool ReadFull(int fd, uint8_t* buf, uint64_t size, uint64_t& got);
// 1 when the file holds more bytes, 0 at its end, -1 on a read error (errno kept). A read
// error must never pass for the end of the file: that would store a short member as good.
int MoreData(int fd);

// One compressor per thread and libdeflate level: setting one up costs more than deflating
// a small file. NULL when out of memory.
libdeflate_compressor* CompressorFor(int level);

// True when deflate at its fastest saves at least 1 % on `size` bytes sampled from `data`:
// below that, parsing cannot pay for itself.
bool WorthDeflating(const uint8_t* data, size_t size);

class PieceDeflater {
 public:
  enum class Status { Piece, End, ReadError, Changed, NoMemory };

  // Reads `size` bytes from `fd` (at its current offset) in pieces of `pieceSize`, deflated
  // at libdeflate `level` by `threads` threads (1: on the calling thread).
  PieceDeflater(int fd, uint64_t size, int level, uint64_t pieceSize, unsigned threads);
  ~PieceDeflater();
  PieceDeflater(const PieceDeflater&) = delete;
  PieceDeflater& operator=(const PieceDeflater&) = delete;

  // The deflated bytes of the next piece, valid until the next call; `input` receives the
  // number of file bytes in it. End once every piece was handed out and the file is found
  // as it was (same size, same modification time).
  Status Next(const uint8_t*& data, size_t& size, uint64_t& input);
  int error() const { return error_; }   // the errno of a read error
  uint32_t crc() const { return crc_; }  // of the whole input once Next gave End

 private:
  struct Slot;
  void Refill();
  bool ReadPiece(Slot& slot);
  void Compress(Slot& slot) const;
  void Work();
  Status Finish();

  int fd_;
  uint64_t size_;
  int level_;
  uint64_t pieceSize_;
  uint64_t pieces_;
  uint64_t nextIn_ = 0, nextOut_ = 0;
  uint32_t crc_ = 0;
  int error_ = 0;
  Status failed_ = Status::Piece;  // a read failure waits here for the next call
  int64_t openMtimeNs_ = -1;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::deque<Slot*> queue_;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace tavrun::zip
