// The command line of tavrun-cli, taken apart. Parsing only reads the arguments; nothing is
// checked on disk here.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"

namespace tavrun::cli {

enum class Command { Compress, Extract, List, Test };

enum class Encryption { Aes256, ZipCrypto };

struct Options {
  bool help = false;
  bool version = false;
  Command command = Command::Compress;
  bool compress = true;  // Command::Compress
  bool zip = false;
  std::string source;
  std::string target;        // compress and extract only
  std::string settingsFile;  // empty: the defaults
  // Settings the options set, in command-line order, applied over the defaults or the file.
  std::vector<std::pair<SettingIndex, std::string>> settings;
  bool logLevelGiven = false;
  std::string logFile;  // empty: no log
  unsigned jobs = 0;    // 0: one per processor
  bool quiet = false;
  bool json = false;
  std::string passwordFile;  // empty: none (extraction, list and test may ask on a terminal)
  Encryption encryption = Encryption::Aes256;
};

// False with a message (in the locale's language) for a bad command line, including an option
// that does not apply to the command or the format.
bool ParseOptions(const std::vector<std::string>& arguments, Options& options,
                  std::string& errorText);

}  // namespace tavrun::cli
