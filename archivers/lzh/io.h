// Small POSIX helpers for the commands.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "file_io.h"

namespace tavrun::lzh {

using tavrun::arc::ReadAt;
using tavrun::arc::WriteAll;

// Reads up to `size` bytes, retrying on EINTR; -1 on error.
ssize_t ReadSome(int fd, void* data, size_t size);

// Opens `path` for reading without ever blocking (a FIFO or a device would wait for a writer
// or hang a read) and accepts only a regular file. Returns the descriptor, or -1 with
// `notRegular` telling a wrong file type from an errno failure (errno kept).
int OpenRegularFile(const std::string& path, struct stat& st, bool& notRegular);

}  // namespace tavrun::lzh
