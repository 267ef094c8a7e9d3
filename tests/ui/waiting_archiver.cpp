// A stand-in LZH library whose command takes as long as the test wants. A call writes its
// archive under a temporary name, notes that it has started (its command line, appended to
// the gate's name + ".started")
// and waits: when the gate file (TAVRUN_WAIT_GATE) exists it renames the archive into place
// and returns 0; when its progress reports a cancel (the user's, with the dialog that "-n1"
// turns off, or the run's) it removes the temporary file and returns 7. It gives up with 8
// after a minute, so a UI thread that never answers fails the test instead of hanging it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "dialogs.h"
#include "host.h"

namespace {

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

// The first double-quoted token: the archive of "U [switches] "archive" "file"".
std::string ArchiveOf(const std::string& line) {
  const size_t open = line.find('"');
  const size_t close = open == std::string::npos ? open : line.find('"', open + 1);
  return close == std::string::npos ? std::string() : line.substr(open + 1, close - open - 1);
}

int32_t Answer(int32_t code, const char* text, char* output, uint32_t size) {
  if (output != nullptr && size > 0) std::snprintf(output, size, "%s", text);
  return code;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t Unlha(uintptr_t window, const char* line,
                                                                char* output, uint32_t size) {
  const char* gateVariable = std::getenv("TAVRUN_WAIT_GATE");
  const std::string gate = gateVariable != nullptr ? gateVariable : "";
  const std::string command = line;
  const std::string archive = ArchiveOf(command);
  if (gate.empty() || archive.empty()) return Answer(2, "bad command line", output, size);
  const std::string part = archive + ".part";
  std::ofstream(part) << "partial";
  std::ofstream(gate + ".started", std::ios::app) << command << "\n";
  const bool dialog = command.find("-n1 ") == std::string::npos;
  auto progress = tavrun::arc::MakeProgress(window, dialog, "LZH圧縮");
  for (int waited = 0; !Exists(gate); waited += 2) {
    if (!progress->Update(archive, 0)) {
      std::remove(part.c_str());
      return Answer(7, "cancelled", output, size);
    }
    if (waited > 60000) {
      std::remove(part.c_str());
      return Answer(8, "nobody opened the gate", output, size);
    }
    usleep(2000);
  }
  std::rename(part.c_str(), archive.c_str());
  return Answer(0, "", output, size);
}

extern "C" __attribute__((visibility("default"))) int32_t UnlhaCheckArchive(const char*, int32_t) {
  return 1;
}

// The run's cancel reaches the call through the host, as in the real libraries.
extern "C" __attribute__((visibility("default"))) void TavrunSetHost(const TavrunHost* host) {
  tavrun::arc::SetHost(host);
}
