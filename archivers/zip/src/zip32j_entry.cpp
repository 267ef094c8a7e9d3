// Zip: the command line of libzip32j.so, handed to the engine in libzip32.so.
#include <exception>
#include <string>
#include <vector>

#include "cmdline.h"
#include "export.h"
#include "host.h"
#include "report.h"
#include "zip32.h"
#include "zip32j.h"

namespace {

using tavrun::zip::Kind;

struct Parsed {
  Zip32Request request{};
  std::string archive;
  std::vector<std::string> files;
};

bool Parse(const std::vector<std::string>& tokens, Parsed& p, std::string& error) {
  p.request.size = sizeof(Zip32Request);
  p.request.level = 6;
  bool switches = true;
  for (const std::string& t : tokens) {
    if (switches && t == "--") {
      switches = false;
    } else if (switches && t.size() > 1 && t[0] == '-') {
      if (t == "-u")
        p.request.updateNewerOnly = 1;
      else if (t == "-S")
        p.request.includeHidden = 1;
      else if (t == "-v")
        p.request.verbose = 1;
      else if (t == "-j")
        p.request.junkPaths = 1;
      else if (t == "-q")
        p.request.noProgress = 1;
      else if (t == "-o")
        p.request.archiveDateFromNewest = 1;
      else if (t == "-e")
        p.request.encryption = ZIP32_ENCRYPTION_AES256;
      else if (t == "-ez")
        p.request.encryption = ZIP32_ENCRYPTION_TRADITIONAL;
      else if (t.size() == 2 && t[1] >= '0' && t[1] <= '9')
        p.request.level = t[1] - '0';
      else {
        error = "unknown switch " + t;
        return false;
      }
    } else if (p.archive.empty()) {
      switches = false;  // everything after the archive is a file, even "-x"
      p.archive = t;
    } else {
      p.files.push_back(t);
    }
  }
  if (p.archive.empty()) {
    error = "no archive was given";
    return false;
  }
  if (p.files.empty()) {
    error = "no file to add was given";
    return false;
  }
  return true;
}

// A call that ends before the engine is reached: its reason and its code.
int32_t Refuse(Kind kind, const std::string& reason, char* output, uint32_t outputSize) {
  tavrun::arc::WriteOutput(output, outputSize, reason);
  return tavrun::zip::kCodes.Code(kind);
}

}  // namespace

TAVRUN_ARC_EXPORT int32_t Zip(uintptr_t window, const char* commandLine, char* output,
                              uint32_t outputSize) {
  try {
    std::vector<std::string> tokens;
    std::string error;
    Parsed p;
    if (!tavrun::arc::TokenizeCommandLine(commandLine, tokens, error) || !Parse(tokens, p, error))
      return Refuse(Kind::CommandLine, error, output, outputSize);
    if (Zip32InterfaceVersion() < ZIP32_INTERFACE_VERSION)
      return Refuse(Kind::Engine, "libzip32.so is too old", output, outputSize);
    std::vector<const char*> files;
    for (const std::string& f : p.files) files.push_back(f.c_str());
    p.request.window = window;
    p.request.archivePath = p.archive.c_str();
    p.request.files = files.data();
    p.request.fileCount = uint32_t(files.size());
    return Zip32Run(&p.request, output, outputSize);
  } catch (const std::exception& e) {
    return Refuse(Kind::Internal, e.what(), output, outputSize);
  }
}

TAVRUN_ARC_EXPORT void TavrunSetHost(const TavrunHost* host) {
  tavrun::arc::SetHost(host);
  Zip32SetHost(host);
}
