// The module names of a Portable Executable (32-bit) file.
#pragma once

#include "references/scan_bytes.h"

// Appends to the list at `pos` the import names of the open PE file `file`, whose PE header (from
// its signature on) is `pe`, and closes the list; writes only within [pos, end), which must hold
// at least one byte. Reads the import descriptors into `header` (cbHeader bytes, the header read
// buffer), which overwrites `pe`. Returns the position of the closing NUL. The list stays empty
// without an ".idata" section, with an import directory address of 0 or outside ".idata", or
// when the descriptors cannot be read. Names come without extension; a name with no NUL in its
// first 100 bytes is cut at 99 characters. Every read goes through `window`, which describes what
// `header` holds.
LPSTR ReadPeImportNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, const ByteSpan *pe,
                        ScanWindow *window);

// The first 40-byte section header, in the section table behind a PE32 optional header of the
// standard 224 bytes, whose 8-byte name equals `name` ignoring ASCII case; none when none does.
// Only whole records within `pe` are examined.
const BYTE *FindPeSection(LPCSTR name, const ByteSpan *pe);

// The PE branch: reads the PE header at file offset `peOffset` into `header` (cbHeader bytes, the
// header read buffer), refuses character-mode subsystems, then reads the import names into
// [pos, end) (at least one byte) with ReadPeImportNames. Returns 0, with the list closed, when the
// file is not scanned. `window` describes what `header` holds (ReadScanFileVia).
[[nodiscard]] BOOL ReadPeModuleNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, uint64_t peOffset,
                                     ScanWindow *window);
