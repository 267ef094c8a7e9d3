// Small POSIX helpers for the commands.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavrun::lzh {

// Writes all of `data`; false with errno set on failure.
bool WriteAll(int fd, const void* data, size_t size);
// Reads up to `size` bytes, retrying on EINTR; -1 on error.
ssize_t ReadSome(int fd, void* data, size_t size);
std::string ErrnoText(int err);

}  // namespace tavrun::lzh
