// libFuzzer target over the reading paths: the archive check in both modes and a full
// extraction into a scratch directory, which must stay the only place written to.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "unlha32.h"

namespace {

std::string g_root;

void RemoveTree(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (!d) {
    unlink(path.c_str());
    return;
  }
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    std::string p = path + "/" + n;
    if (e->d_type == DT_DIR)
      RemoveTree(p);
    else
      unlink(p.c_str());
  }
  closedir(d);
  rmdir(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_root.empty()) {
    char templ[] = "/tmp/fuzz_lzh.XXXXXX";
    if (!mkdtemp(templ)) return 0;
    g_root = templ;
  }
  const std::string archive = g_root + "/in.lzh";
  const std::string dest = g_root + "/out";
  RemoveTree(dest);
  mkdir(dest.c_str(), 0700);
  FILE* f = std::fopen(archive.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  UnlhaCheckArchive(archive.c_str(), 1);
  UnlhaCheckArchive(archive.c_str(), 2);
  char out[64];
  const std::string line = "E -x1 -y1 -c1 -n1 \"" + archive + "\" \"" + dest + "/\"";
  Unlha(0, line.c_str(), out, sizeof out);

  // Nothing but the archive and the destination may exist in the scratch directory.
  DIR* d = opendir(g_root.c_str());
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != ".." && n != "in.lzh" && n != "out") {
      std::fprintf(stderr, "written outside the destination: %s\n", n.c_str());
      abort();
    }
  }
  closedir(d);
  return 0;
}
