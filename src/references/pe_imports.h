// The module names of a Portable Executable file (PE32, and PE32+ when the rules read it).
#pragma once

#include "references/scan_bytes.h"

// Appends to the list at `pos` the import names of the open PE file `file`, whose PE header (from
// its signature on) is `pe`, then those of its delay-load imports when the rules read them, and
// closes the list; writes only within [pos, end), which must hold at least one byte. Reads the
// descriptors into `header` (cbHeader bytes, the header read buffer), which overwrites `pe`.
// Returns the position of the closing NUL. A table that cannot be found or read adds nothing
// (pe_layout.h: where each rule looks). Names come without extension; a name with no NUL in its
// first 100 bytes is cut at 99 characters. Every read goes through `window`, which describes what
// `header` holds.
LPSTR ReadPeImportNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, const ByteSpan *pe,
                        ScanWindow *window);

// The PE branch: reads the PE header at file offset `peOffset` into `header` (cbHeader bytes, the
// header read buffer), refuses character-mode subsystems that gScanRules does not name, then reads
// the import names into [pos, end) (at least one byte) with ReadPeImportNames. Returns 0, with
// the list closed, when the file is not scanned. `window` describes what `header` holds
// (ReadScanFileVia).
[[nodiscard]] BOOL ReadPeModuleNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, uint64_t peOffset,
                                     ScanWindow *window);
