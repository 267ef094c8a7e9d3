#include "engine/file_step.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "archivers/lzh/include/unlha32.h"
#include "archivers/zip/include/tavrun_zip_codes.h"
#include "common/log.h"
#include "common/paths.h"
#include "engine/host.h"
#include "engine/reasons.h"

namespace tavrun {
namespace {

// The codes the two families of libraries give the events the engine tells apart.
struct EntryCodes {
  int32_t archiveOpen;
  int32_t notArchive;
  int32_t cancelled;
  int32_t kept;
};

EntryCodes CodesFor(Operation operation) {
  if (EntryFor(operation) == ArchiverEntry::Unlha) {
    return {UNLHA_ERROR_ARCHIVE, UNLHA_ERROR_NOT_LZH, UNLHA_ERROR_CANCELLED, UNLHA_ERROR_KEPT};
  }
  return {TAVRUN_ZIP_E_ARCHIVE_OPEN, TAVRUN_ZIP_E_NOT_ARCHIVE, TAVRUN_ZIP_E_CANCELLED,
          TAVRUN_ZIP_E_KEPT_EXISTING};
}

// The same file by device and inode: a name that differs only by links or "./" still is it.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

FileResult Decided(FileStatus status, StepNote note) {
  FileResult result;
  result.status = status;
  result.note = note;
  return result;
}

// An archive of the format by its name that the archive check refused: unreadable, or
// damaged. Anything else the check refuses is simply not for this operation.
FileResult RejectedByCheck(Operation operation, const FilePlan& plan) {
  if (!HasArchiveExtension(operation, plan.source)) {
    return Decided(FileStatus::Skipped, StepNote::NotArchive);
  }
  const EntryCodes codes = CodesFor(operation);
  const int fd = open(plan.source.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    FileResult result = Decided(FileStatus::Failed, StepNote::UnreadableArchive);
    result.detail = PlatformErrorText(errno);
    result.code = codes.archiveOpen;
    result.errorText = std::to_string(result.code);
    return result;
  }
  close(fd);
  FileResult result = Decided(FileStatus::Failed, StepNote::DamagedArchive);
  result.code = codes.notArchive;
  result.errorText = std::to_string(result.code);
  return result;
}

// What the call's code and its reports mean for the file.
void Classify(Operation operation, const ArchiverResult& call, const CallReport& report,
              FileResult& result) {
  const EntryCodes codes = CodesFor(operation);
  result.code = call.code;
  result.errorText = call.errorText;
  result.libraryText = call.outputText;
  result.kept = report.kept;
  result.written = report.written;
  if (call.Succeeded()) {
    const bool nothingWritten = report.written == 0 && !report.kept.empty();
    result.status = nothingWritten ? FileStatus::Kept : FileStatus::Done;
    result.note = nothingWritten ? StepNote::NothingWritten : StepNote::None;
    return;
  }
  result.note = StepNote::LibraryFailed;
  result.cancelled = call.code == codes.cancelled;
  result.status = call.code == codes.kept ? FileStatus::Kept : FileStatus::Failed;
}

std::string Tagged(Operation operation, const std::string& text, const std::string& source) {
  // The tag is the one the failure line uses: the library's name before the path.
  return text + FailureLogText(operation, "", source);
}

}  // namespace

bool HasArchiveExtension(Operation operation, const std::string& name) {
  const size_t dot = name.rfind('.');
  const size_t slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string extension = name.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (EntryFor(operation) == ArchiverEntry::Unlha) {
    return extension == ".lzh" || extension == ".lha";
  }
  return extension == ".zip";
}

FileResult RunFileStep(Operation operation, const FilePlan& plan, uintptr_t window) {
  if (IsCompression(operation)) {
    if (SameFile(plan.archive, plan.source)) {
      return Decided(FileStatus::Skipped, StepNote::ArchiveIsSource);
    }
  } else {
    std::string checkError;
    if (!IsArchiveFor(operation, plan.source, checkError)) {
      if (checkError.empty()) return RejectedByCheck(operation, plan);
      // The library could not be loaded: that is no verdict on the file.
      FileResult result = Decided(FileStatus::Failed, StepNote::LibraryFailed);
      result.errorText = checkError;
      return result;
    }
    if (!PrepareDestination(plan)) {
      return Decided(FileStatus::Failed, StepNote::MissingDestination);
    }
  }
  FileResult result;
  CallRecorder recorder;
  const ArchiverResult call = CallArchiver(EntryFor(operation), window, plan.commandLine);
  Classify(operation, call, recorder.Report(), result);
  return result;
}

std::vector<LogEntry> LogEntriesFor(Operation operation, const FilePlan& plan,
                                    const FileResult& result) {
  switch (result.note) {
    case StepNote::None: return {{SuccessLogText(operation, plan.source), LogLevelInfo}};
    case StepNote::NothingWritten:
      return {
          {SuccessLogText(operation, plan.source), LogLevelInfo},
          {Tagged(operation, "書き込まずに既存のものを残しました。", plan.source), LogLevelWarn}};
    case StepNote::ArchiveIsSource:
      return {{Tagged(operation, "書庫自身は圧縮しません。", plan.source), LogLevelWarn}};
    case StepNote::NotArchive: return {{NotArchiveLogText(operation, plan.source), LogLevelWarn}};
    case StepNote::UnreadableArchive:
    case StepNote::DamagedArchive:
      return {{FailureLogText(operation, result.errorText, plan.source), LogLevelError},
              {Tagged(operation,
                      result.note == StepNote::UnreadableArchive
                          ? "書庫を読み込めません（" + result.detail + "）。"
                          : std::string("書庫が壊れているか、途中で切れています。"),
                      plan.source),
               LogLevelError}};
    case StepNote::MissingDestination:
      return {{MissingDestinationLogText(plan.source, plan.destination), LogLevelWarn}};
    case StepNote::LibraryFailed: break;
  }
  return {{FailureLogText(operation, result.errorText, plan.source), LogLevelError}};
}

std::string ReasonText(const FileResult& result, bool japanese) {
  switch (result.note) {
    case StepNote::None: return "";
    case StepNote::NothingWritten: {
      std::string why = result.kept.empty() ? std::string() : result.kept.front().second;
      if (japanese) why = TranslateLibraryText(why);
      std::string text = japanese ? "書き込んだものはありません。既存のものを残しました"
                                  : "nothing written: what stood there was kept";
      if (!why.empty()) text += japanese ? "（" + why + "）" : " (" + why + ")";
      return text;
    }
    case StepNote::ArchiveIsSource:
      return japanese ? "書庫自身は圧縮しません" : "the archive itself is not added to itself";
    case StepNote::NotArchive:
      return japanese ? "この形式の書庫ではありません" : "not an archive of this format";
    case StepNote::UnreadableArchive:
      return japanese ? "書庫を読み込めません: " + TranslateLibraryText(result.detail)
                      : "cannot read the archive: " + result.detail;
    case StepNote::DamagedArchive:
      return japanese ? "書庫が壊れているか、途中で切れています"
                      : "the archive is damaged or truncated";
    case StepNote::MissingDestination:
      return japanese ? "解凍先ディレクトリがありません" : "the destination directory is missing";
    case StepNote::LibraryFailed: break;
  }
  if (result.libraryText.empty()) return result.errorText;
  return japanese ? TranslateLibraryText(result.libraryText) : result.libraryText;
}

}  // namespace tavrun
