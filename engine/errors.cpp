#include "engine/errors.h"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <system_error>

namespace tavrun {

std::string CurrentErrorText() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return OutOfMemoryText;
  } catch (const std::exception& e) {
    const std::string text = e.what();
    return text.empty() ? std::string(UnknownErrorText) : text;
  } catch (...) {
    return UnknownErrorText;
  }
}

int16_t SettingAsInt16(SettingIndex index) {
  const std::string& text = Setting(index);
  int16_t value = 0;
  if (ToInt16(text, value)) return value;
  // ToInt16 rejects both non-numbers and numbers beyond 16 bits; tell the two apart.
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  std::strtod(begin, &end);
  bool isNumber = end != begin && text.find_first_not_of(" \t+-.0123456789eE") == std::string::npos;
  for (const char* p = end; isNumber && *p != '\0'; ++p) {
    if (*p != ' ' && *p != '\t') isNumber = false;
  }
  throw EngineError(isNumber ? OverflowText : TypeMismatchText);
}

int16_t LogThresholdOrOff() {
  try {
    return SettingAsInt16(LogLevel);
  } catch (...) {
    return 9;
  }
}

}  // namespace tavrun
