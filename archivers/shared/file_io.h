// The two system-call loops every archiver needs: a whole buffer written, and a positioned
// read retried when a signal interrupts it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tavrun::arc {

// Writes all of `data`; false with errno set on failure.
bool WriteAll(int fd, const void* data, size_t size);

// pread of up to `size` bytes at `offset`, retried on EINTR; -1 with errno on failure.
ssize_t ReadAt(int fd, void* data, size_t size, uint64_t offset);

}  // namespace tavrun::arc
