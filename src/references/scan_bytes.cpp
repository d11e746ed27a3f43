#include "references/scan_bytes.h"

DWORD ReadScanFileAt(HFILE file, int64_t offset, void *buffer, DWORD cb) {
    if (offset < 0 || offset > 0x7FFFFFFF) return 0;
    if (_llseek(file, static_cast<LONG>(offset), FILE_BEGIN) != static_cast<LONG>(offset)) return 0;
    const UINT cbRead = _lread(file, buffer, cb);
    if (cbRead == static_cast<UINT>(HFILE_ERROR) || cbRead > cb) return 0;
    return cbRead;
}
