// UnZip and UnZipCheckArchive: the entry points of libunzip32.so.
#include <zip.h>

#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cmdline.h"
#include "export.h"
#include "host.h"
#include "unzip32.h"
#include "zip_extract.h"
#include "zip_password.h"

namespace {

using tavrun::zip::ExtractOptions;

bool Parse(const std::vector<std::string>& tokens, ExtractOptions& o, std::string& archive,
           std::string& destination, std::string& error) {
  bool switches = true, overwrite = false, never = false;
  std::vector<std::string> paths;
  for (const std::string& t : tokens) {
    if (switches && t == "--") {
      switches = false;
    } else if (switches && t.size() > 1 && t[0] == '-') {
      if (t == "-x")
        o.withDirectories = true;
      else if (t == "-qq")
        o.quiet = true;
      else if (t == "--i")
        o.noProgress = true;
      else if (t == "-o")
        overwrite = true;
      else if (t == "-n")
        never = true;
      else {
        error = "unknown switch " + t;
        return false;
      }
    } else {
      switches = false;
      paths.push_back(t);
    }
  }
  if (overwrite && never) {
    error = "-o and -n contradict each other";
    return false;
  }
  o.overwrite = overwrite ? ExtractOptions::Overwrite::Always
                : never   ? ExtractOptions::Overwrite::Never
                          : ExtractOptions::Overwrite::Ask;
  if (paths.size() != 2) {
    error = paths.size() < 2 ? "an archive and a destination directory are needed"
                             : "too many paths: only an archive and a destination are taken";
    return false;
  }
  archive = paths[0];
  destination = paths[1];
  if (archive.empty() || destination.empty()) {
    error = "an empty path was given";
    return false;
  }
  return true;
}

}  // namespace

TAVRUN_ARC_EXPORT int32_t UnZip(uintptr_t window, const char* commandLine, char* output,
                                uint32_t outputSize) {
  using tavrun::zip::Kind;
  tavrun::zip::Outcome report;
  try {
    std::vector<std::string> tokens;
    std::string error, archive, destination;
    ExtractOptions options;
    options.window = window;
    if (!tavrun::arc::TokenizeCommandLine(commandLine, tokens, error) ||
        !Parse(tokens, options, archive, destination, error)) {
      report.Fail(Kind::CommandLine, error);
    } else if (zip_t* za = tavrun::zip::OpenArchive(archive, report)) {
      tavrun::zip::Unlock unlock;
      if (unlock.Open(za, archive, window, report))
        tavrun::zip::ExtractArchive(za, destination, options, report);
      zip_discard(za);
    }
  } catch (const std::bad_alloc&) {
    report.Fail(Kind::Internal, "out of memory");
  } catch (const std::exception& e) {
    report.Fail(Kind::Internal, e.what());
  }
  tavrun::arc::WriteOutput(output, outputSize, report.Text());
  return report.Code(tavrun::zip::kCodes);
}

TAVRUN_ARC_EXPORT int32_t UnZipCheckArchive(const char* path, int32_t mode) {
  if (path == nullptr || *path == '\0') return 0;
  try {
    return tavrun::zip::CheckArchiveFile(path, mode);
  } catch (...) {
    return 0;
  }
}

TAVRUN_ARC_EXPORT void TavrunSetHost(const TavrunHost* host) {
  tavrun::arc::SetHost(host);
}
