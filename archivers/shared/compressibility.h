// Whether compressing a file can pay, judged before any real parsing from a cheap look at
// stretches of it: the first, and then stretches spread evenly over the rest. Photos, archives
// and random data otherwise cost a full parse only to be stored in the end.
//
// The look is an LZ77 estimate: copies of four bytes or more found by one hash probe into the
// window (each stretch read with the window before it, so that repeats from there count),
// priced at about what a copy costs in either format, and the bytes left over priced at their
// entropy in blocks of 32 KiB. It runs at several hundred MB/s and stops as soon as the data is
// clear that the input is worth compressing, so ordinary files pay almost nothing for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tavrun::arc {

// Compressing pays when the estimate saves at least this share (1 %) of the input: below it,
// a parse at tens of MB/s buys next to nothing.
constexpr double kWorthSaving = 0.01;

// The estimate over stretches handed in one after another.
class CompressibilityProbe {
 public:
  // `window`: how far back a copy may reach (the format's dictionary).
  explicit CompressibilityProbe(uint32_t window);

  // Stops the look (Look returns false) once the estimate saved this many bytes: the input
  // is then worth compressing whatever the rest of it holds.
  void StopOnceSaved(double bytes) { stopAt_ = bytes; }
  // Looks at data[history, history + length), with data[0, history) the bytes just before it
  // in the input. False once StopOnceSaved's bytes are saved (nothing more to learn).
  bool Look(const uint8_t* data, size_t history, size_t length);

  uint64_t bytes() const { return bytes_; }
  // The bytes the estimate saves of those looked at (negative when coding would grow them).
  double SavedBytes() const;

 private:
  void EndBlock();

  uint32_t window_;
  uint64_t bytes_ = 0;
  double bits_ = 0;
  uint32_t literals_[256] = {};
  uint32_t blockLiterals_ = 0;
  double stopAt_ = 1e300;
};

// Reads `length` bytes at `offset` into `buffer`; false when it cannot.
using ReadStretch = std::function<bool(uint64_t offset, uint8_t* buffer, size_t length)>;

// Looks at stretches of an input of `size` bytes, read through `read`, and tells whether
// compressing it pays. An input that cannot be read counts as compressible: the real reading
// then reports the error.
bool WorthCompressing(uint64_t size, uint32_t window, const ReadStretch& read);
// The same for a file, read with pread (its offset is left alone): a large file is looked at
// for a while, so `keepGoing`, when given, is asked before each stretch and false stops the
// look (the answer is then "compressible", for the real reading to see the cancel). And for
// bytes in memory.
bool WorthCompressingFile(int fd, uint64_t size, uint32_t window,
                          const std::function<bool()>& keepGoing = {});
bool WorthCompressingData(const uint8_t* data, size_t size, uint32_t window);

}  // namespace tavrun::arc
