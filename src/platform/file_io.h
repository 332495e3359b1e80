// Whole reads and writes on a file descriptor: the loops that go on after a short transfer
// or an interrupted call, written once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace brennix {

// Writes all `length` bytes, at `offset` or (with -1) at the file's position. False when the
// file takes no more; errno says why (ENOSPC when the system gave no reason).
bool WriteAll(int fd, const void* data, size_t length, int64_t offset = -1);

// Reads `length` bytes at `offset`, fewer only where the file ends. -1 on an error (errno).
ssize_t ReadAll(int fd, void* data, size_t length, int64_t offset);

}  // namespace brennix
