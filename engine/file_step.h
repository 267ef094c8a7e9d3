// One file of a batch, from its plan to its outcome: the archive checks, the library call and
// what the call really did. The window's operations and tavrun-cli both run every file through
// RunFileStep, so a folder done by either is done, counted and logged the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/plan.h"

namespace tavrun {

enum class FileStatus {
  Done,     // the library wrote what the file asked for
  Kept,     // nothing written on purpose: what stood there stays (see `kept`)
  Skipped,  // not a file for this operation: not an archive of the format, the archive itself
  Failed,
};

// Why the engine itself decided about a file (the library's reason is in `libraryText`).
enum class StepNote {
  None,
  ArchiveIsSource,     // compression: the archive would be one of its own sources
  NotArchive,          // extraction: not an archive of the format (skipped)
  UnreadableArchive,   // extraction: named like an archive but cannot be read (`detail`)
  DamagedArchive,      // extraction: named like an archive but damaged or truncated
  MissingDestination,  // extraction: the destination directory is not there
  NothingWritten,      // the library succeeded but kept everything (see `kept`)
  LibraryFailed,       // the library's code and text
};

struct FileResult {
  FileStatus status = FileStatus::Failed;
  StepNote note = StepNote::None;
  // The library's code: 0 success, -1 not called or not loadable.
  int32_t code = -1;
  // The error text of the log's failure line: the code in decimal or the loader's text.
  std::string errorText;
  // The library's own text (the reason of a failure) and the engine's detail (errno text).
  std::string libraryText;
  std::string detail;
  // What the library reported keeping: path and why.
  std::vector<std::pair<std::string, std::string>> kept;
  int written = 0;
  bool cancelled = false;  // the user stopped this call; the batch stops after it
};

// Runs one planned file. `window` is the native owner of the libraries' dialogs (0: none).
// Never throws for a file's own trouble; an unexpected error inside propagates.
FileResult RunFileStep(Operation operation, const FilePlan& plan, uintptr_t window);

// The log lines of a result, in order, with their levels. The Parts' lines come first and
// unchanged; a kept file adds one warning line saying nothing was written.
struct LogEntry {
  std::string text;
  int16_t level;
};
std::vector<LogEntry> LogEntriesFor(Operation operation, const FilePlan& plan,
                                    const FileResult& result);

// A readable reason for a result that is not Done, in Japanese or English.
std::string ReasonText(const FileResult& result, bool japanese);

// The archive extensions of a format, lower case with the dot: what marks a file as meant to
// be an archive of the operation's format even when the archive check refuses it.
bool HasArchiveExtension(Operation operation, const std::string& name);

}  // namespace tavrun
