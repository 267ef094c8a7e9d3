// The four archive operations. Each takes the list of bare file names of the source directory
// and processes it in index order: one progress text per file, then the file's step (the
// archive test and destination for extraction, the library call) and its log lines. A failed
// file makes the result false without stopping the loop; `messageText` is left holding the
// detail of the last failure. A call the user cancelled stops the loop: the remaining files
// are left alone and one warning line says how many. An unexpected error stops the loop, is
// logged at level 3 and returned in `messageText`. FromDirectory and ToDirectory must already
// end in "/".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/command_line.h"
#include "engine/file_step.h"
#include "engine/run_window.h"

namespace tavrun {

using FileList = std::vector<std::string>;

bool CompressLzh(RunWindow& window, const FileList& files, int32_t count, std::string& messageText);
bool ExtractLzh(RunWindow& window, const FileList& files, int32_t count, std::string& messageText);
bool CompressZip(RunWindow& window, const FileList& files, int32_t count, std::string& messageText);
bool ExtractZip(RunWindow& window, const FileList& files, int32_t count, std::string& messageText);

// The warning logged when a cancel stops the batch with `filesLeft` files not processed.
std::string CancelledRunText(int32_t filesLeft);

// "3 / 10".
std::string ProgressText(int32_t number, int32_t count);

// What the window's run did with each file that was not simply done (kept, skipped and failed
// files with their reasons in both languages, in list order), for the failure details after
// it. Cleared when a run starts.
struct FileReport {
  std::string source;
  FileStatus status = FileStatus::Failed;
  int32_t code = -1;  // the library's, -1 when none was called
  std::string reasonJapanese;
  std::string reasonEnglish;
};
// A copy: the run may still be adding to the list.
std::vector<FileReport> LastRunReports();
void ClearRunReports();

// The reports as the window's result box shows them behind its details button: a count line,
// then per file its state, name and library code, and its reason on the next line.
std::string RunReportText(const std::vector<FileReport>& reports, bool japanese);

}  // namespace tavrun
