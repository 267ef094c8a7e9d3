#include "app/version.h"

#include <stdexcept>
#include <string>

#ifndef TAVRUN_VERSION_MAJOR
#error "TAVRUN_VERSION_MAJOR must come from the build"
#endif

namespace tavrun {
namespace {

// Version numbers are never negative; a negative one can only be a broken build.
std::string Number(int n) {
  if (n < 0) throw std::invalid_argument("negative version number");
  return std::to_string(n);
}

std::string PadLeft(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), '0') + text;
}

}  // namespace

std::string FormatShortVersion(int major, int minor, int revision) {
  try {
    std::string text = "Ver." + Number(major) + "." + Number(minor);
    if (revision != 0) text += "." + Number(revision);
    return text;
  } catch (...) {
    return "Ver.x.x";
  }
}

std::string FormatLongVersion(int major, int minor, int revision) {
  try {
    return "Ver." + Number(major) + "." + PadLeft(Number(minor), 2) + "." +
           PadLeft(Number(revision), 4);
  } catch (...) {
    return "Ver.x.xx.xxxx";
  }
}

std::string GetShortVersion() {
  return FormatShortVersion(TAVRUN_VERSION_MAJOR, TAVRUN_VERSION_MINOR, TAVRUN_VERSION_PATCH);
}

std::string GetLongVersion() {
  return FormatLongVersion(TAVRUN_VERSION_MAJOR, TAVRUN_VERSION_MINOR, TAVRUN_VERSION_PATCH);
}

}  // namespace tavrun
