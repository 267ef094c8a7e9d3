// The log writer: one dated, tagged line per call, appended to the log file.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace tavrun {

inline constexpr int16_t LogLevelInfo = 1;
inline constexpr int16_t LogLevelWarn = 2;
inline constexpr int16_t LogLevelError = 3;
inline constexpr int16_t LogOff = 9;

// Appends "YYYY/MM/DD HH:NN:SS" + tag (" [INFO] ", " [WARN] ", " [ERR] ") + message + CR LF
// to `path` when threshold != 9, the message is not empty and level >= threshold. Control
// characters and bytes that are no UTF-8 in the message are written escaped (EscapeLineBreaks), so
// a record is one line. Opens, appends and closes for every line; every failure is silent.
void WriteLog(const std::string& path, const std::string& message, int16_t level,
              int16_t threshold);

// The text with every control character written visibly: "\t", "\n", "\r", "\xNN" for the
// other C0 controls and DEL, "\uNNNN" for the C1 controls and U+2028/U+2029; a byte that is
// no part of well-formed UTF-8 is "\xNN" as well. Other bytes, backslashes included, stay as
// they are.
std::string EscapeLineBreaks(const std::string& text);

// Test seam: the local time used for the time stamp. An empty function restores the clock.
void SetLogClock(std::function<std::tm()> clock);

}  // namespace tavrun
