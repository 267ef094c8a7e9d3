// The four archive operations. Each takes the list of bare file names of the source directory
// and processes it in index order: one progress text and one yield per file, one library call
// per file (after the archive test, for extraction), one log line per file. A failed file
// makes the result false without stopping the loop; `messageText` is left holding the detail
// of the last failure. A call the user cancelled (the archivers' code 7) stops the loop: the
// remaining files are left alone and one warning line says how many. An unexpected error
// stops the loop, is logged at level 3 and returned in `messageText`. FromDirectory and
// ToDirectory must already end in "/".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/run_window.h"

namespace tavrun {

using FileList = std::vector<std::string>;

bool CompressLzh(RunWindow& window, const FileList& files, int32_t count, std::string& messageText);
bool ExtractLzh(RunWindow& window, const FileList& files, int32_t count, std::string& messageText);
bool CompressZip(RunWindow& window, const FileList& files, int32_t count, std::string& messageText);
bool ExtractZip(RunWindow& window, const FileList& files, int32_t count, std::string& messageText);

// Switch prefixes, built from the current settings; each ends in a blank.
std::string CompressLzhSwitches();
std::string ExtractLzhSwitches();
std::string CompressZipSwitches();
std::string ExtractZipSwitches();

// A path as one command-line token: in double quotes, each double quote inside doubled, so a
// file name holding a quote cannot split the command line.
std::string QuoteArgument(const std::string& path);

// The warning logged when a cancel stops the batch with `filesLeft` files not processed.
std::string CancelledRunText(int32_t filesLeft);

// "3 / 10".
std::string ProgressText(int32_t number, int32_t count);

}  // namespace tavrun
