// libFuzzer target over the reading paths: structure check, full check and extraction of an
// archive given as bytes, into a scratch directory that must stay the only thing written:
// every write the library makes is checked against it (fuzz_write_guard) and the process
// aborts at the first one outside. Encrypted members are decrypted with the fixed password
// "secret", which the encrypted seeds use, so the decryption path is fuzzed as well. Seeds:
// tests/zip/fuzz_seeds.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_write_guard.h"
#include "zip_extract.h"
#include "zip_password.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dest = Scratch();
  const std::string parent = dest.substr(0, dest.size() - 5);
  const std::string archive = parent + "/in.zip";
  mkdir(dest.c_str(), 0700);
  static const bool guarded = (tavrun::fuzz::AllowWritesBelow(dest), true);
  (void)guarded;
  // Through a file, as the libraries see archives: the structure fallback needs one.
  int fd = open(archive.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0 || write(fd, data, size) != ssize_t(size)) abort();
  close(fd);
  tavrun::zip::CheckArchiveFile(archive, 1);
  tavrun::zip::CheckArchiveFile(archive, 2);
  tavrun::zip::Outcome report;
  if (zip_t* za = tavrun::zip::OpenArchive(archive, report)) {
    tavrun::zip::Unlock unlock;
    unlock.Try(za, "secret");
    tavrun::zip::ExtractOptions options;
    options.withDirectories = true;
    options.overwrite = tavrun::zip::ExtractOptions::Overwrite::Always;
    options.noProgress = true;
    tavrun::zip::ExtractArchive(za, dest, options, report);
    zip_discard(za);
  }
  // Anything beside the destination and the input in the scratch parent would be an escape.
  DIR* d = opendir(parent.c_str());
  if (d != nullptr) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != ".." && n != "dest" && n != "in.zip") abort();
    }
    closedir(d);
  }
  int dfd = open(dest.c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    RemoveTree(dfd);
    close(dfd);
  }
  return 0;
}
