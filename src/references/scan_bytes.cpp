#include "references/scan_bytes.h"

#include <cstring>

DWORD ReadScanFileAt(HFILE file, int64_t offset, void *buffer, DWORD cb) {
    if (offset < 0 || offset > 0x7FFFFFFF) return 0;
    if (_llseek(file, static_cast<LONG>(offset), FILE_BEGIN) != static_cast<LONG>(offset)) return 0;
    const UINT cbRead = _lread(file, buffer, cb);
    if (cbRead == static_cast<UINT>(HFILE_ERROR) || cbRead > cb) return 0;
    return cbRead;
}

BOOL ReadScanFileOn(HFILE file, void *buffer, DWORD cb, DWORD *pcbRead) {
    *pcbRead = 0;
    const UINT cbRead = _lread(file, buffer, cb);
    if (cbRead == static_cast<UINT>(HFILE_ERROR) || cbRead > cb) return FALSE;
    *pcbRead = cbRead;
    return TRUE;
}

DWORD ReadScanFileVia(ScanWindow *window, HFILE file, int64_t offset, void *buffer, DWORD cb) {
    if (offset < 0 || offset > 0x7FFFFFFF) return 0;
    DWORD cbRead = 0;
    const int64_t inWindow = offset - window->offset;
    if (window->bytes != nullptr && inWindow >= 0 && inWindow < window->cb &&
        (inWindow + cb <= window->cb || window->atEnd)) {
        const DWORD cbHeld = window->cb - static_cast<DWORD>(inWindow);
        cbRead = cb < cbHeld ? cb : cbHeld;
        std::memmove(buffer, window->bytes + inWindow, cbRead);
    } else {
        cbRead = ReadScanFileAt(file, offset, buffer, cb);
    }
    if (buffer == window->bytes) *window = {window->bytes, offset, cbRead, cbRead < cb};
    return cbRead;
}
