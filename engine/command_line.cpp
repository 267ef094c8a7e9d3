#include "engine/command_line.h"

#include "app/settings.h"

namespace tavrun {

std::string CompressLzhSwitches() {
  std::string prefix = "U ";
  if (Setting(LzhCheckTimestamp) == "1") prefix += "-c1 ";
  if (Setting(LzhControlDialog) == "1") prefix += "-n1 ";
  if (Setting(LzhArchiveTime) == "1") prefix += "-y1 ";
  if (Setting(LzhOverwriteConfirm) == "1") prefix += "-t1 ";
  const std::string& rate = Setting(LzhCompressRate);
  if (rate == "0" || rate == "3" || rate == "4") prefix += "-jm" + rate + " ";
  return prefix;
}

std::string ExtractLzhSwitches() {
  std::string prefix = "E -x1 ";
  if (Setting(LzhCheckTimestamp) == "1") prefix += "-c1 ";
  if (Setting(LzhControlDialog) == "1") prefix += "-n1 ";
  if (Setting(LzhOverwriteConfirm) == "1") prefix += "-y1 ";
  if (Setting(LzhReadonlyConfirm) == "2") prefix += "-ga2 ";
  return prefix;
}

std::string CompressZipSwitches() {
  std::string prefix = "-u -S -v -j ";
  if (Setting(ZipControlDialog) == "1") prefix += "-q ";
  if (Setting(ZipArchiveTime) == "1") prefix += "-o ";
  const std::string& rate = Setting(ZipCompressRate);
  // Level 6 is the library's own default and gets no switch.
  if (rate.size() == 1 && rate[0] >= '0' && rate[0] <= '9' && rate != "6") {
    prefix += "-" + rate + " ";
  }
  return prefix;
}

std::string ExtractZipSwitches() {
  std::string prefix = "-x -qq ";
  if (Setting(UnzipControlDialog) == "1") prefix += "--i ";
  const std::string& overwrite = Setting(UnzipOverwriteConfirm);
  if (overwrite == "2") {
    prefix += "-o ";
  } else if (overwrite == "1") {
    prefix += "-n ";
  }
  return prefix;
}

std::string QuoteArgument(const std::string& path) {
  std::string token = "\"";
  for (char c : path) {
    if (c == '"') token += '"';
    token += c;
  }
  token += '"';
  return token;
}

}  // namespace tavrun
