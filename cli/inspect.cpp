#include "cli/inspect.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "archivers/lzh/include/unlha32.h"
#include "archivers/zip/include/tavrun_zip_codes.h"
#include "common/paths.h"

namespace tavrun::cli {
namespace {

bool IsZip(Operation operation) {
  return operation == Operation::ExtractZip || operation == Operation::CompressZip;
}

FileResult Failed(StepNote note, int32_t code) {
  FileResult result;
  result.status = FileStatus::Failed;
  result.note = note;
  result.code = code;
  result.errorText = std::to_string(code);
  return result;
}

// What extraction decides about a file its archive check refuses: a file named like an archive
// of the format is a failure (damaged, or unreadable), anything else is not for this command.
FileResult Refused(Operation operation, const std::string& path) {
  if (!HasArchiveExtension(operation, path)) {
    FileResult result;
    result.status = FileStatus::Skipped;
    result.note = StepNote::NotArchive;
    return result;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    FileResult result = Failed(StepNote::UnreadableArchive,
                               IsZip(operation) ? TAVRUN_ZIP_E_ARCHIVE_OPEN : UNLHA_ERROR_ARCHIVE);
    result.detail = PlatformErrorText(errno);
    return result;
  }
  close(fd);
  return Failed(StepNote::DamagedArchive,
                IsZip(operation) ? TAVRUN_ZIP_E_NOT_ARCHIVE : UNLHA_ERROR_NOT_LZH);
}

// The check as extraction makes it; false with the result to report when it refuses.
bool Accepted(Operation operation, const std::string& path, FileResult& result) {
  std::string checkError;
  if (IsArchiveFor(operation, path, checkError)) return true;
  if (checkError.empty()) {
    result = Refused(operation, path);
  } else {
    result = Failed(StepNote::LibraryFailed, -1);
    result.errorText = checkError;
  }
  return false;
}

int OpenUp(const char* path, const struct stat* st, int type, FTW*) {
  if (type == FTW_D || type == FTW_DNR) chmod(path, (st->st_mode & 07777) | S_IRWXU);
  return 0;
}

int RemoveOne(const char* path, const struct stat*, int, FTW*) {
  remove(path);
  return 0;
}

}  // namespace

FileResult ListArchive(Operation operation, const std::string& path,
                       std::vector<MemberInfo>& members) {
  FileResult result;
  if (!Accepted(operation, path, result)) return result;
  std::string errorText;
  const bool listed = IsZip(operation) ? ListZipMembers(path, members, errorText)
                                       : ListLzhMembers(path, members, errorText);
  if (!listed) {
    result = Failed(StepNote::DamagedArchive,
                    IsZip(operation) ? TAVRUN_ZIP_E_NOT_ARCHIVE : UNLHA_ERROR_NOT_LZH);
    return result;
  }
  result.status = FileStatus::Done;
  result.note = StepNote::None;
  result.code = 0;
  return result;
}

FileResult TestArchive(Operation operation, const std::string& prefix, const std::string& from,
                       const std::string& name) {
  FileResult result;
  if (!Accepted(operation, from + name, result)) return result;
  std::string directory = TemporaryRoot() + "/tavrun-cli-check-XXXXXX";
  if (mkdtemp(directory.data()) == nullptr) {
    result = Failed(StepNote::LibraryFailed, -1);
    result.errorText = result.libraryText =
        "cannot make a temporary directory in " + TemporaryRoot() + ": " + PlatformErrorText(errno);
    return result;
  }
  const FilePlan plan = PlanFile(operation, prefix, from, directory + "/", name, false);
  result = RunFileStep(operation, plan, 0);
  RemoveTree(directory);
  // Nothing stays of the extraction, so "written" and "kept" say nothing to the user.
  if (result.status == FileStatus::Kept) result.status = FileStatus::Done;
  return result;
}

std::string TemporaryRoot() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
}

void RemoveTree(const std::string& path) {
  nftw(path.c_str(), OpenUp, 16, FTW_PHYS);
  nftw(path.c_str(), RemoveOne, 16, FTW_PHYS | FTW_DEPTH);
}

}  // namespace tavrun::cli
