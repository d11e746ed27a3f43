// Reading parts of an executable file being scanned into a buffer. What was read is then parsed
// through the bounded reader (support/bounded_bytes.h), which checks every field against the bytes
// a read actually filled.
#pragma once

#include "support/bounded_bytes.h"

// Reads up to `cb` bytes at file offset `offset` into `buffer`. Returns the number read; 0 on a
// read error, at the end of the file, or for an offset the 32-bit seek cannot reach (negative or
// beyond 2 GiB).
[[nodiscard]] DWORD ReadScanFileAt(HFILE file, int64_t offset, void *buffer, DWORD cb);

// Reads up to `cb` bytes at the file's current position into `buffer`, the number read going to
// *pcbRead (0 at the end of the file): ReadScanFileAt without the seek. FALSE on a read error.
[[nodiscard]] BOOL ReadScanFileOn(HFILE file, void *buffer, DWORD cb, DWORD *pcbRead);

// Bytes of the file that a read left in a buffer: `cb` bytes from file offset `offset`; atEnd
// when the read stopped at the end of the file, short of what it asked for.
struct ScanWindow {
    const BYTE *bytes;
    int64_t offset;
    DWORD cb;
    BOOL atEnd;
};

// ReadScanFileAt, with the same result for a file that does not change meanwhile, but what
// `window` holds is copied from it (memmove: `buffer` may be the window's own bytes) rather than
// read again: a range that lies within it, or one from within it when the window ends at the end
// of the file. A read into the window's own buffer makes the window describe what it now holds.
[[nodiscard]] DWORD ReadScanFileVia(ScanWindow *window, HFILE file, int64_t offset, void *buffer, DWORD cb);
