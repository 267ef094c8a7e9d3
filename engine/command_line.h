// The command lines the batch hands to the archiver libraries: the switch prefix of each
// operation, built from the current settings, and paths as quoted tokens.
#pragma once

#include <string>

namespace tavrun {

// Switch prefixes, built from the current settings; each ends in a blank.
std::string CompressLzhSwitches();
std::string ExtractLzhSwitches();
std::string CompressZipSwitches();
std::string ExtractZipSwitches();

// A path as one command-line token: in double quotes, each double quote inside doubled, so a
// file name holding a quote cannot split the command line.
std::string QuoteArgument(const std::string& path);

}  // namespace tavrun
