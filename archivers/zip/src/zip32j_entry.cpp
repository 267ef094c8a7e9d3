// Zip: the command line of libzip32j.so, handed to the engine in libzip32.so.
#include <exception>
#include <string>
#include <vector>

#include "cmdline.h"
#include "zip32.h"
#include "zip32j.h"

namespace {

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

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t Zip(uintptr_t window,
                                                              const char* commandLine, char* output,
                                                              uint32_t outputSize) {
  try {
    std::vector<std::string> tokens;
    std::string error;
    Parsed p;
    if (!tavrun::arc::TokenizeCommandLine(commandLine, tokens, error) || !Parse(tokens, p, error)) {
      tavrun::arc::WriteOutput(output, outputSize, error);
      return TAVRUN_ZIP_E_COMMAND_LINE;
    }
    if (Zip32InterfaceVersion() < ZIP32_INTERFACE_VERSION) {
      tavrun::arc::WriteOutput(output, outputSize, "libzip32.so is too old");
      return TAVRUN_ZIP_E_ENGINE;
    }
    std::vector<const char*> files;
    for (const std::string& f : p.files) files.push_back(f.c_str());
    p.request.window = window;
    p.request.archivePath = p.archive.c_str();
    p.request.files = files.data();
    p.request.fileCount = uint32_t(files.size());
    return Zip32Run(&p.request, output, outputSize);
  } catch (const std::exception& e) {
    tavrun::arc::WriteOutput(output, outputSize, e.what());
    return TAVRUN_ZIP_E_INTERNAL;
  }
}
