// The command line of tavrun-cli, taken apart. Parsing only reads the arguments; nothing is
// checked on disk here.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"

namespace tavrun::cli {

struct Options {
  bool help = false;
  bool compress = true;
  bool zip = false;
  std::string source;
  std::string target;
  std::string settingsFile;  // empty: the defaults
  // Settings the options set, in command-line order, applied over the defaults or the file.
  std::vector<std::pair<SettingIndex, std::string>> settings;
  bool logLevelGiven = false;
  std::string logFile;  // empty: no log
  unsigned jobs = 0;    // 0: one per processor
  bool quiet = false;
};

// False with a message (in the locale's language) for a bad command line.
bool ParseOptions(const std::vector<std::string>& arguments, Options& options,
                  std::string& errorText);

}  // namespace tavrun::cli
