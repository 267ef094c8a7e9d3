#include "file_io.h"

#include <unistd.h>

#include <cerrno>

namespace tavrun::arc {

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

ssize_t ReadAt(int fd, void* data, size_t size, uint64_t offset) {
  ssize_t n;
  do n = ::pread(fd, data, size, static_cast<off_t>(offset));
  while (n < 0 && errno == EINTR);
  return n;
}

}  // namespace tavrun::arc
