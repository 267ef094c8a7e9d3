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
    case LogLevelWarn: return " [WARN] ";
    case LogLevelError: return " [ERR] ";
    default: return " [INFO] ";
  }
}

// Length of the well-formed UTF-8 sequence at `i` (no overlong form, surrogate or value past
// U+10FFFF), 0 when the byte there starts none.
size_t Utf8SequenceAt(const std::string& text, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = b(0);
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  }
  if (len == 0 || i + len > text.size() || b(1) < lo || b(1) > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if ((b(k) & 0xC0) != 0x80) return 0;
  return len;
}

}  // namespace

std::string EscapeLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  char hex[8];
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\t') {
      out += "\\t";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && Utf8SequenceAt(text, i) == 0)) {
      // Bytes that are no UTF-8 too (a name from old media): the log stays text.
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else if (byte == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // C1 controls (NEL among them) break lines in some viewers.
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned char>(text[i + 1]));
      out += hex;
      ++i;
    } else if (byte == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
               (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
      // The Unicode line and paragraph separators.
      out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else if (byte >= 0x80) {
      const size_t len = Utf8SequenceAt(text, i);
      out.append(text, i, len);
      i += len - 1;
    } else {
      out += text[i];
    }
  }
  return out;
}

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
    // One record is one line: a crafted file name must not start a line of its own.
    line += EscapeLineBreaks(message);
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
