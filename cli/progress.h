// The progress line on a terminal: files and bytes done, the rate and the time left, redrawn
// in place on standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tavrun::cli {

// "512 B", "1.5 KiB", "20.0 MiB".
std::string SizeText(uint64_t bytes);
// "0:07", "12:05", "1:02:03".
std::string DurationText(uint64_t seconds);

class ProgressLine {
 public:
  // Shown only when `enabled` and `stream` is a terminal.
  ProgressLine(bool enabled, std::FILE* stream, size_t files, uint64_t bytes);
  ~ProgressLine();
  void Update(size_t doneFiles, uint64_t doneBytes);
  // Removes the line, so what follows starts at the left margin.
  void Clear();
  bool Shown() const { return shown_; }

 private:
  bool shown_;
  std::FILE* stream_;
  size_t files_;
  uint64_t bytes_;
  std::chrono::steady_clock::time_point start_;
  bool drawn_ = false;
};

}  // namespace tavrun::cli
