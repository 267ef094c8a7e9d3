#include "cli/progress.h"

#include <unistd.h>

#include "cli/messages.h"

namespace tavrun::cli {

std::string SizeText(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024.0;
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string DurationText(uint64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof(text), "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof(text), "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  return text;
}

ProgressLine::ProgressLine(bool enabled, std::FILE* stream, size_t files, uint64_t bytes)
    : shown_(enabled && isatty(fileno(stream)) == 1),
      stream_(stream),
      files_(files),
      bytes_(bytes),
      start_(std::chrono::steady_clock::now()) {}

ProgressLine::~ProgressLine() {
  Clear();
}

void ProgressLine::Update(size_t doneFiles, uint64_t doneBytes) {
  if (!shown_) return;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = elapsed > 0 ? static_cast<double>(doneBytes) / elapsed : 0;
  std::string line =
      Text(Msg::Progress, {std::to_string(doneFiles), std::to_string(files_), SizeText(doneBytes),
                           SizeText(bytes_), SizeText(static_cast<uint64_t>(rate))});
  // No estimate until something is done: a rate of nothing says nothing about the rest.
  if (rate > 0 && doneBytes <= bytes_) {
    const auto left = static_cast<uint64_t>(static_cast<double>(bytes_ - doneBytes) / rate + 0.5);
    line += Text(Msg::ProgressLeft, {DurationText(left)});
  }
  std::fprintf(stream_, "\r%s\x1b[K", line.c_str());
  std::fflush(stream_);
  drawn_ = true;
}

void ProgressLine::Clear() {
  if (!drawn_) return;
  std::fprintf(stream_, "\r\x1b[K");
  std::fflush(stream_);
  drawn_ = false;
}

}  // namespace tavrun::cli
