#include "io.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace tavrun::lzh {

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

ssize_t ReadSome(int fd, void* data, size_t size) {
  for (;;) {
    ssize_t n = ::read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

std::string ErrnoText(int err) { return std::strerror(err); }

mode_t CurrentUmask() {
  // /proc tells the umask without the set-and-restore race of umask().
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  return 022;
}

}  // namespace tavrun::lzh
