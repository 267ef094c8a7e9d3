#include "common/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace tavrun {
namespace {

std::function<std::tm()>& ClockOverride() {
  static std::function<std::tm()> clock;
  return clock;
}

std::tm LocalNow() {
  if (ClockOverride()) return ClockOverride()();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

const char* TagFor(int16_t level) {
  switch (level) {
    case LogLevelWarn:
      return " [WARN] ";
    case LogLevelError:
      return " [ERR] ";
    default:
      return " [INFO] ";
  }
}

}  // namespace

void SetLogClock(std::function<std::tm()> clock) {
  ClockOverride() = std::move(clock);
}

void WriteLog(const std::string& path, const std::string& message, int16_t level,
              int16_t threshold) {
  if (threshold == LogOff) return;
  if (message.empty()) return;
  if (level < threshold) return;
  try {
    std::tm t = LocalNow();
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    std::string line = stamp;
    line += TagFor(level);
    line += message;
    line += "\r\n";

    // One write of the whole line to a file opened for appending; O_NONBLOCK keeps a FIFO
    // in the log's place from hanging the program.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return;
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
      ssize_t n = ::write(fd, data, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      data += n;
      left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
  } catch (...) {
    // A lost log line never disturbs the caller.
  }
}

}  // namespace tavrun
