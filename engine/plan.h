// What one file of a batch becomes: its paths, its command line, the key of the files it must
// not run beside, and its log lines. The window's operations and the command-line tool both
// build a file here, so a folder done by either is done the same way.
#pragma once

#include <string>

#include "engine/archivers.h"

namespace tavrun {

enum class Operation { CompressLzh, CompressZip, ExtractLzh, ExtractZip };

bool IsCompression(Operation operation);

// The operation the settings select (ArchiveType and the format field of that operation).
// False when none is selected; throws EngineError for a field that is no number.
bool SelectedOperation(Operation& operation);

// The switch prefix built from the current settings (ends in a blank).
std::string SwitchesFor(Operation operation);
ArchiverEntry EntryFor(Operation operation);

struct FilePlan {
  std::string source;           // the listed file: FromDirectory + name
  std::string archive;          // compression: the archive written
  std::string destination;      // extraction: the directory extracted into, ending in "/"
  bool ownDestination = false;  // extraction: a directory of its own, made when missing
  std::string commandLine;
  // Files with one key write the same archive or directory: they run one after another, in
  // list order, or one call could undo another's work.
  std::string groupKey;
};

// One listed file. `from` and `to` end in "/"; `prefix` comes from SwitchesFor;
// `directoryPerArchive` matters for extraction only.
FilePlan PlanFile(Operation operation, const std::string& prefix, const std::string& from,
                  const std::string& to, const std::string& name, bool directoryPerArchive);

// Extraction's checks before the call: whether the file is an archive of the operation's
// format (`errorText` gets the loader's text when the check could not be made at all), and
// the destination (made when it is a directory of its own and missing; true when the
// destination is a directory).
bool IsArchiveFor(Operation operation, const std::string& path, std::string& errorText);
bool PrepareDestination(const FilePlan& plan);

// The log line of a batch with nothing to do.
inline constexpr const char* NoFilesText = "対象ファイルが存在しません。";

// The log texts of one file.
std::string SuccessLogText(Operation operation, const std::string& source);
std::string FailureLogText(Operation operation, const std::string& errorText,
                           const std::string& source);
std::string NotArchiveLogText(Operation operation, const std::string& source);
std::string MissingDestinationLogText(const std::string& source, const std::string& destination);

}  // namespace tavrun
