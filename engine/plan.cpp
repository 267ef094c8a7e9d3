#include "engine/plan.h"

#include "app/settings.h"
#include "common/paths.h"
#include "engine/command_line.h"
#include "engine/errors.h"

namespace tavrun {
namespace {

struct OperationTexts {
  const char* extension;       // compression: the archive's extension
  const char* successText;     // followed by the source path and "]"
  const char* failureTag;      // between the library's text and the source path
  const char* notArchiveText;  // extraction: followed by the source path and "]"
};

const OperationTexts& TextsFor(Operation operation) {
  static const OperationTexts kCompressLzh = {".lzh",
                                              "LZH圧縮しました [UNLHA32:", " [UNLHA32:", ""};
  static const OperationTexts kCompressZip = {".zip", "ZIP圧縮しました。[ZIP32J:", "[ZIP32J:", ""};
  static const OperationTexts kExtractLzh = {
      "", "LZH解凍しました。[UNLHA32:", "[UNLHA32:", "LZH書庫ではありません。[UNLHA32:"};
  static const OperationTexts kExtractZip = {
      "", "ZIP解凍しました。[UNZIP32:", "[UNZIP32:", "ZIP書庫ではありません。[UNZIP32:"};
  switch (operation) {
    case Operation::CompressLzh: return kCompressLzh;
    case Operation::CompressZip: return kCompressZip;
    case Operation::ExtractLzh: return kExtractLzh;
    case Operation::ExtractZip: break;
  }
  return kExtractZip;
}

}  // namespace

bool IsCompression(Operation operation) {
  return operation == Operation::CompressLzh || operation == Operation::CompressZip;
}

bool SelectedOperation(Operation& operation) {
  const int16_t type = SettingAsInt16(ArchiveType);
  if (type != 0 && type != 1) return false;
  const int16_t format = SettingAsInt16(type == 0 ? CompressType : ExtractType);
  if (format != 0 && format != 1) return false;
  if (type == 0) {
    operation = format == 0 ? Operation::CompressLzh : Operation::CompressZip;
  } else {
    operation = format == 0 ? Operation::ExtractLzh : Operation::ExtractZip;
  }
  return true;
}

std::string SwitchesFor(Operation operation) {
  switch (operation) {
    case Operation::CompressLzh: return CompressLzhSwitches();
    case Operation::CompressZip: return CompressZipSwitches();
    case Operation::ExtractLzh: return ExtractLzhSwitches();
    case Operation::ExtractZip: break;
  }
  return ExtractZipSwitches();
}

ArchiverEntry EntryFor(Operation operation) {
  switch (operation) {
    case Operation::CompressLzh:
    case Operation::ExtractLzh: return ArchiverEntry::Unlha;
    case Operation::CompressZip: return ArchiverEntry::Zip;
    case Operation::ExtractZip: break;
  }
  return ArchiverEntry::UnZip;
}

FilePlan PlanFile(Operation operation, const std::string& prefix, const std::string& from,
                  const std::string& to, const std::string& name, bool directoryPerArchive) {
  FilePlan plan;
  std::string ignored;
  plan.source = from + name;
  if (IsCompression(operation)) {
    plan.archive = to + GetBaseName(name, ignored) + TextsFor(operation).extension;
    plan.commandLine = prefix + QuoteArgument(plan.archive) + " " + QuoteArgument(plan.source);
    plan.groupKey = plan.archive;
    return plan;
  }
  plan.ownDestination = directoryPerArchive;
  plan.destination =
      directoryPerArchive ? AddBackslash(to + GetBaseName(name, ignored), ignored) : to;
  plan.commandLine = prefix + QuoteArgument(plan.source) + " " + QuoteArgument(plan.destination);
  // Archives extracted into the same directory may hold members of the same name; which one
  // stays must not depend on which call finishes first.
  plan.groupKey = plan.destination;
  return plan;
}

bool IsArchiveFor(Operation operation, const std::string& path, std::string& errorText) {
  if (EntryFor(operation) == ArchiverEntry::Unlha) {
    return CheckUnlhaArchive(path, ArchiveCheckMode, errorText);
  }
  return CheckUnZipArchive(path, ArchiveCheckMode, errorText);
}

bool PrepareDestination(const FilePlan& plan) {
  // Only a directory will do: a plain file of that name makes the destination missing.
  if (plan.ownDestination && !IsDirectory(plan.destination)) {
    std::string ignored;
    MakeDir(plan.destination, ignored);
  }
  return IsDirectory(plan.destination);
}

std::string SuccessLogText(Operation operation, const std::string& source) {
  return TextsFor(operation).successText + source + "]";
}

std::string FailureLogText(Operation operation, const std::string& errorText,
                           const std::string& source) {
  return errorText + TextsFor(operation).failureTag + source + "]";
}

std::string NotArchiveLogText(Operation operation, const std::string& source) {
  return TextsFor(operation).notArchiveText + source + "]";
}

std::string MissingDestinationLogText(const std::string& source, const std::string& destination) {
  return "解凍先ディレクトリがありません。[" + source + "][" + destination + "]";
}

}  // namespace tavrun
