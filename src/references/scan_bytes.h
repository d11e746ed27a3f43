// Bounded access to the bytes of an executable file being scanned. Every field of the file is read
// through ScanBytesAt, which checks offset and length against what a read actually filled, in
// 64-bit arithmetic so that no 32-bit field of the file can wrap a sum.
#pragma once

#include <stdint.h>

#include "references/import_scanner.h"

// Pointer to `cb` bytes at `offset` of `bytes`, or NULL when any of them lies outside.
[[nodiscard]] inline const BYTE *ScanBytesAt(const ScanBytes *bytes, uint64_t offset, uint64_t cb) {
    if (bytes == NULL || bytes->pb == NULL || offset > bytes->cb || cb > bytes->cb - offset) return NULL;
    return bytes->pb + offset;
}

// Little-endian fields; 0 when the field does not lie wholly within `bytes`.
[[nodiscard]] inline BOOL LoadScanByte(const ScanBytes *bytes, uint64_t offset, BYTE *value) {
    const BYTE *p = ScanBytesAt(bytes, offset, 1);
    if (p == NULL) return 0;
    *value = p[0];
    return 1;
}

[[nodiscard]] inline BOOL LoadScanWord(const ScanBytes *bytes, uint64_t offset, WORD *value) {
    const BYTE *p = ScanBytesAt(bytes, offset, 2);
    if (p == NULL) return 0;
    *value = (WORD)(p[0] | (p[1] << 8));
    return 1;
}

[[nodiscard]] inline BOOL LoadScanDword(const ScanBytes *bytes, uint64_t offset, DWORD *value) {
    const BYTE *p = ScanBytesAt(bytes, offset, 4);
    if (p == NULL) return 0;
    *value = (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
    return 1;
}

// The bytes of `bytes` from `offset` on (possibly none); 0 when the offset lies beyond them.
[[nodiscard]] inline BOOL SliceScanBytes(const ScanBytes *bytes, uint64_t offset, ScanBytes *slice) {
    const BYTE *p = ScanBytesAt(bytes, offset, 0);
    if (p == NULL) return 0;
    slice->pb = p;
    slice->cb = (DWORD)(bytes->cb - offset);
    return 1;
}

// Reads up to `cb` bytes at file offset `offset` into `buffer`. Returns the number read; 0 on a
// read error, at the end of the file, or for an offset the 32-bit seek cannot reach (negative or
// beyond 2 GiB).
[[nodiscard]] DWORD ReadScanFileAt(HFILE file, int64_t offset, void *buffer, DWORD cb);

// The NE branch: from the NE header `ne` at file offset `neOffset`, reads the module names into
// [pos, end) (at least one byte) and closes the list, reusing `header` (cbHeader bytes, the header
// read buffer) for the module-reference table. Returns 0, with the list closed, when the file's
// application type is not scanned or its tables cannot be read.
[[nodiscard]] BOOL ReadNeModuleNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader,
                                     const ScanBytes *ne, uint64_t neOffset);

// The PE branch: reads the PE header at file offset `peOffset` into `header` (cbHeader bytes, the
// header read buffer), refuses character-mode subsystems, then reads the import names into
// [pos, end) (at least one byte) with ReadPeImportNames. Returns 0, with the list closed, when the
// file is not scanned.
[[nodiscard]] BOOL ReadPeModuleNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, uint64_t peOffset);
