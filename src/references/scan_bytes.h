// Reading parts of an executable file being scanned into a buffer. What was read is then parsed
// through the bounded reader (support/bounded_bytes.h), which checks every field against the bytes
// a read actually filled.
#pragma once

#include "support/bounded_bytes.h"

// Reads up to `cb` bytes at file offset `offset` into `buffer`. Returns the number read; 0 on a
// read error, at the end of the file, or for an offset the 32-bit seek cannot reach (negative or
// beyond 2 GiB).
[[nodiscard]] DWORD ReadScanFileAt(HFILE file, int64_t offset, void *buffer, DWORD cb);
