#include "store/entry_header.h"

#include "references/import_scanner.h"
#include "store/entry_records.h"
#include "store/module_state.h"
#include "support/dos_time.h"
#include "support/path_utils.h"

#include <cstring>

// Size (names with their NULs, plus 1 for bRefCount) and count of the leading names of the
// reference buffer that a record keeps: at most 255, and only names closed within the buffer, so
// that a list the scanner left unterminated is never read past its end.
static void MeasureKeptReferences(DWORD *pcbSize, DWORD *pcNames) {
    DWORD offset = 0, count = 0;
    while (count < MAX_RECORD_REFERENCES && offset < REFERENCE_BUFFER_SIZE && gReferenceBuffer[offset] != '\0') {
        const void *nul = std::memchr(gReferenceBuffer + offset, '\0', REFERENCE_BUFFER_SIZE - offset);
        if (nul == nullptr) break;
        offset = static_cast<DWORD>(static_cast<const char *>(nul) - gReferenceBuffer) + 1;
        ++count;
    }
    *pcbSize = offset + 1;
    *pcNames = count;
}

BOOL BuildEntryHeader(LPCSTR name, LPCSTR fullPath, BOOL isDirectory, NewRecord *record) {
    std::memset(record, 0, sizeof *record);
    const size_t cchName = strnlen(name, ENTRY_NAME_MAX + 1);
    if (cchName > ENTRY_NAME_MAX) return 0;

    DWORD cbLength = DIR_RECORD_SIZE(static_cast<DWORD>(cchName));
    WORD flags = 0;
    if (gOperationMode == MODE_SYNC) flags |= ENTRY_SEEN;

    if (!isDirectory) {
        flags |= ENTRY_IS_FILE;
        cbLength += ENTRY_FILE_TAIL_SIZE;
        DWORD kind = EXE_KIND_NONE;
        if (gReferenceBuffer != nullptr && fullPath != nullptr &&
            strnlen(fullPath, PATH_BUFFER_SIZE) < PATH_BUFFER_SIZE &&
            GetFileReferences(fullPath, &kind, gReferenceBuffer, REFERENCE_BUFFER_SIZE)) {
            flags |= ENTRY_SCANNED | ENTRY_EXECUTABLE;
            if (kind == EXE_KIND_PE) flags |= ENTRY_PE;
            DWORD cbSize = 0, count = 0;
            MeasureKeptReferences(&cbSize, &count);
            if (count != 0) {
                flags |= ENTRY_HAS_REFS;
                cbLength += cbSize;
                record->cbReferences = cbSize;
                record->cReferences = count;
            }
        }
    }

    SetEntryLength(record->Header(), static_cast<WORD>(cbLength));
    SetEntryFlags(record->Header(), flags);
    return 1;
}

void WriteFileTail(EntryRecord *record, const FIND_DATA *pFind, DWORD cReferences, DWORD cbReferences) {
    BYTE *tail = GetFileTail(record);
    SYSTEMTIME now;
    GetLocalTime(&now);
    WORD usedDate = 0, usedTime = 0;
    GetLocalDosDateTime(&now, &usedDate, &usedTime);
    StoreField<WORD>(tail + FILE_TAIL_WRITE_DATE, pFind->wLastWriteDate);
    StoreField<WORD>(tail + FILE_TAIL_WRITE_TIME, pFind->wLastWriteTime);
    StoreField<WORD>(tail + FILE_TAIL_USED_DATE, usedDate);
    StoreField<WORD>(tail + FILE_TAIL_USED_TIME, usedTime);

    const WORD both = ENTRY_SCANNED | ENTRY_HAS_REFS;
    if ((GetEntryFlags(record) & both) != both || cbReferences < 2 || gReferenceBuffer == nullptr) return;
    const DWORD cbNames = cbReferences - 1 < REFERENCE_BUFFER_SIZE ? cbReferences - 1 : REFERENCE_BUFFER_SIZE;
    BYTE *part = tail + ENTRY_FILE_TAIL_SIZE;
    part[0] = static_cast<BYTE>(cReferences);
    CharLowerBuffA(gReferenceBuffer, cbNames);
    std::memcpy(part + 1, gReferenceBuffer, cbNames);
}

EntryRecord *AppendNewRecord(DirectoryBlock *block, NewRecord *record, LPCSTR name, const FIND_DATA *pFind) {
    auto *placed = reinterpret_cast<EntryRecord *>(BlockEnd(block));
    std::memcpy(placed, record->header, ENTRY_HEADER_SIZE);
    std::memcpy(GetEntryName(placed), name, std::strlen(name) + 1);
    if (IsFile(placed)) WriteFileTail(placed, pFind, record->cReferences, record->cbReferences);
    SetBlockUsed(block, GetBlockUsed(block) + record->Length());
    SetBlockEntryCount(block, static_cast<WORD>(GetBlockEntryCount(block) + 1));
    return placed;
}
