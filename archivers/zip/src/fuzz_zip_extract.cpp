// libFuzzer target over the reading paths: structure check, full check and extraction of an
// archive given as bytes, into a scratch directory that must stay the only thing written.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "zip_extract.h"

namespace {

void RemoveTree(int dirFd) {
  DIR* d = fdopendir(dup(dirFd));
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    int sub = openat(dirFd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (sub >= 0) {
      RemoveTree(sub);
      close(sub);
      unlinkat(dirFd, n.c_str(), AT_REMOVEDIR);
    } else {
      unlinkat(dirFd, n.c_str(), 0);
    }
  }
  closedir(d);
}

const std::string& Scratch() {
  static const std::string dir = [] {
    char templ[] = "/tmp/fuzz_zip_extract.XXXXXX";
    const char* made = mkdtemp(templ);
    if (made == nullptr) abort();
    return std::string(made) + "/dest";
  }();
  return dir;
}

zip_t* OpenBytes(const uint8_t* data, size_t size) {
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(data, size, 0, &err);
  zip_t* za = nullptr;
  if (src != nullptr) {
    za = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (za == nullptr) zip_source_free(src);
  }
  zip_error_fini(&err);
  return za;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dest = Scratch();
  mkdir(dest.c_str(), 0700);
  if (zip_t* za = OpenBytes(data, size)) {
    tavrun::zip::CheckOpenArchive(za, 2);
    zip_discard(za);
  }
  if (zip_t* za = OpenBytes(data, size)) {
    tavrun::zip::ExtractOptions options;
    options.withDirectories = true;
    options.overwrite = tavrun::zip::ExtractOptions::Overwrite::Always;
    options.noProgress = true;
    tavrun::zip::Report report;
    tavrun::zip::ExtractArchive(za, dest, options, report);
    zip_discard(za);
  }
  // Anything beside the destination in the scratch parent would be an escape.
  std::string parent = dest.substr(0, dest.size() - 5);
  DIR* d = opendir(parent.c_str());
  if (d != nullptr) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != ".." && n != "dest") abort();
    }
    closedir(d);
  }
  int fd = open(dest.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    RemoveTree(fd);
    close(fd);
  }
  return 0;
}
