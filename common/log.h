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
// to `path` when threshold != 9, the message is not empty and level >= threshold.
// Opens, appends and closes for every line; every failure is silent.
void WriteLog(const std::string& path, const std::string& message, int16_t level,
              int16_t threshold);

// Test seam: the local time used for the time stamp. An empty function restores the clock.
void SetLogClock(std::function<std::tm()> clock);

}  // namespace tavrun
