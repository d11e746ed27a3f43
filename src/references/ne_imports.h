// The module names of a New Executable (16-bit) file.
#pragma once

#include "references/scan_bytes.h"

// The NE branch: from the NE header `ne` at file offset `neOffset`, reads the module names into
// [pos, end) (at least one byte) and closes the list, reusing `header` (cbHeader bytes, the header
// read buffer) for the module-reference table. Returns 0, with the list closed, when the file's
// application type is not scanned or its tables cannot be read. `window` describes what `header`
// holds; every read goes through it (ReadScanFileVia).
[[nodiscard]] BOOL ReadNeModuleNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, const ByteSpan *ne,
                                     uint64_t neOffset, ScanWindow *window);
