// How the engine turns an unexpected failure into the text it logs and reports, and how it
// reads the settings it needs as numbers.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "app/settings.h"

namespace tavrun {

// An unexpected failure inside the engine, carrying the text the user and the log see.
class EngineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Fixed texts for failures that do not come with a description of their own.
inline constexpr const char* OverflowText = "オーバーフローしました。";
inline constexpr const char* OutOfMemoryText = "メモリが不足しています。";
inline constexpr const char* IndexOutOfRangeText = "インデックスが有効範囲にありません。";
inline constexpr const char* UnknownErrorText = "予期しないエラーが発生しました。";

// The description of the exception being handled; call only inside a catch block.
std::string CurrentErrorText();

// The setting converted to a 16-bit integer. Throws EngineError with TypeMismatchText for a
// text that is no number and OverflowText for one outside the 16-bit range.
int16_t SettingAsInt16(SettingIndex index);

// The LogLevel setting as threshold, or LogOff when it cannot be read, so that reporting a
// failure can never fail in turn.
int16_t LogThresholdOrOff();

}  // namespace tavrun
