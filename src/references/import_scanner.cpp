// Reading a file's module references: the checks common to both formats, the scan buffers, the
// filtering of system modules and of the file's own name.
#include <cstring>

#include "references/import_scanner.h"
#include "references/never_scanned_list.h"
#include "references/ne_imports.h"
#include "references/pe_imports.h"
#include "references/scan_bytes.h"
#include "references/settings_lists.h"
#include "scan/drive_class.h"
#include "store/module_state.h"
#include "support/message_pump.h"
#include "support/path_utils.h"

namespace {

// IMAGE_DOS_HEADER.
constexpr WORD kDosMagic = 0x5A4D;              // "MZ"
constexpr uint64_t kDosRelocationTable = 0x18;  // e_lfarlc: at least 0x40 in a new-format file
constexpr WORD kMinRelocationTable = 0x40;
constexpr uint64_t kDosNewHeader = 0x3C;  // e_lfanew
constexpr DWORD kDosHeaderSize = 0x40;

// A new header beyond this offset is read again from its start; at or below it, its signature is
// tested in the first block.
constexpr DWORD kLastNewHeaderInFirstBlock = 0x4FF0;

constexpr WORD kNeSignature = 0x454E;   // "NE"
constexpr DWORD kPeSignature = 0x4550;  // "PE\0\0"

// Checks the MS-DOS header, finds the new header and hands over to the NE or PE branch, which
// fill the name buffer. 1 with *pdwKind set when the file was scanned.
BOOL ReadExecutable(HFILE file, DWORD *pdwKind) {
    LPSTR end = gScanNameBuffer + SCAN_NAME_BUFFER_SIZE;
    // The file was just opened: its start is read without a seek, the MS-DOS header alone first,
    // as most files are no executable. A file that has one holds all of it, so the header tests
    // are those of a whole first block.
    DWORD cbRead = 0;
    if (!ReadScanFileOn(file, gScanHeaderBuffer, kDosHeaderSize, &cbRead) || cbRead == 0) return 0;
    ByteSpan dos = {gScanHeaderBuffer, cbRead};
    WORD magic = 0, relocationTable = 0;
    DWORD newHeader = 0;
    if (!ReadLe(&dos, 0, &magic) || magic != kDosMagic || !ReadLe(&dos, kDosRelocationTable, &relocationTable) ||
        relocationTable < kMinRelocationTable || !ReadLe(&dos, kDosNewHeader, &newHeader))
        return 0;

    // Later reads take what the buffer already holds from it.
    ScanWindow window = {};
    ByteSpan header = {};
    if (newHeader > kLastNewHeaderInFirstBlock) {
        window.bytes = gScanHeaderBuffer;
        cbRead = ReadScanFileVia(&window, file, newHeader, gScanHeaderBuffer, SCAN_HEADER_BUFFER_SIZE);
        if (cbRead == 0) return 0;
        header = {gScanHeaderBuffer, cbRead};
    } else {
        // The rest of the first block, read on from the header.
        DWORD cbRest = 0;
        if (!ReadScanFileOn(file, gScanHeaderBuffer + kDosHeaderSize, SCAN_HEADER_BUFFER_SIZE - kDosHeaderSize,
                            &cbRest))
            return 0;
        cbRead += cbRest;
        window = {gScanHeaderBuffer, 0, cbRead, cbRead < SCAN_HEADER_BUFFER_SIZE};
        dos = {gScanHeaderBuffer, cbRead};
        if (!SliceSpan(&dos, newHeader, &header)) return 0;
    }

    WORD signature16 = 0;
    DWORD signature32 = 0;
    if (ReadLe(&header, 0, &signature16) && signature16 == kNeSignature) {
        if (!ReadNeModuleNames(gScanNameBuffer, end, file, gScanHeaderBuffer, SCAN_HEADER_BUFFER_SIZE, &header,
                               newHeader, &window))
            return 0;
        *pdwKind = EXE_KIND_NE;
        return 1;
    }
    if (ReadLe(&header, 0, &signature32) && signature32 == kPeSignature) {
        if (!ReadPeModuleNames(gScanNameBuffer, end, file, gScanHeaderBuffer, SCAN_HEADER_BUFFER_SIZE, newHeader,
                               &window))
            return 0;
        *pdwKind = EXE_KIND_PE;
        return 1;
    }
    return 0;
}

// The lookup key of a module name: PE names keep an extension other than DLL.
void GetSystemModuleKey(LPSTR key, LPCSTR name, DWORD kind) {
    if (kind == EXE_KIND_PE) {
        CHAR extension[PATH_BUFFER_SIZE];
        GetFileExtension(extension, name);
        if (CompareTextNoCase(extension, "DLL") != 0) {
            GetPathFileName(key, name);
            return;
        }
    }
    GetFileBaseName(key, name);
}

// A full path names a system module only when it lies in the Windows or System directory, or on
// NT in Windows\System (where 16-bit system modules live).
BOOL IsInSystemDirectory(LPCSTR path) {
    CHAR directory[PATH_BUFFER_SIZE];
    GetParentDirectory(directory, path);
    if (CompareTextNoCase(directory, gWindowsDirectory) == 0 || CompareTextNoCase(directory, gSystemDirectory) == 0)
        return 1;
    if (GetPlatform() != PLATFORM_NT) return 0;
    CHAR system16[PATH_BUFFER_SIZE];
    static_assert(sizeof system16 == sizeof gWindowsDirectory);
    memcpy(system16, gWindowsDirectory, sizeof system16);
    system16[PATH_BUFFER_SIZE - 1] = '\0';
    AppendPathComponent(system16, "System");
    return CompareTextNoCase(directory, system16) == 0;
}

}  // namespace

LPSTR ReadModuleReferences(LPCSTR path, DWORD *pdwKind) {
    *pdwKind = EXE_KIND_NONE;
    HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR) return nullptr;
    LPSTR result = nullptr;
    if (EnsureScanBuffers()) {
        gScanNameBuffer[0] = gScanNameBuffer[1] = '\0';
        if (ReadExecutable(file, pdwKind)) result = gScanNameBuffer;
    }
    _lclose(file);
    if (result != nullptr && result[0] != '\0') {
        DWORD cbList = 0;
        MeasureStringList(result, /*cbGap=*/0, &cbList, nullptr);
        CharLowerBuffA(result, cbList);
    }
    return result;
}

DWORD GetFileReferences(LPCSTR path, DWORD *pdwKind, LPSTR list, DWORD cbList) {
    if (list == nullptr || cbList < 2 || IsNeverScannedFile(path)) return 0;
    PumpMessages();
    DWORD kind = EXE_KIND_NONE;
    LPCSTR names = ReadModuleReferences(path, &kind);
    if (names == nullptr) return 0;

    CHAR ownName[PATH_BUFFER_SIZE];
    GetFileBaseName(ownName, path);
    LPSTR pos = list;
    LPSTR end = list + cbList;
    for (LPCSTR name = names; *name != '\0'; name = NextListString(name)) {
        if (IsSystemModule(name, kind) || CompareTextNoCase(name, ownName) == 0) continue;
        // Room for the name, its NUL and the two closing NULs.
        size_t cb = strlen(name) + 1;
        if (static_cast<size_t>(end - pos) < cb + 2) break;
        memcpy(pos, name, cb);
        pos += cb;
    }
    pos[0] = pos[1] = '\0';
    *pdwKind = kind;
    return 1;
}

BOOL IsSystemModule(LPCSTR name, DWORD kind) {
    if (IsFullPath(name) && !IsInSystemDirectory(name)) return 0;
    if (!LoadSystemFilesList()) return 0;
    if (GetSystemFilesCount() == 0) return 0;
    CHAR key[PATH_BUFFER_SIZE];
    GetSystemModuleKey(key, name, kind);
    CharLowerA(key);
    return IsInSystemFilesList(key);
}

BOOL EnsureScanBuffers() {
    if (gScanNameBuffer == nullptr) {
        DWORD cb = SCAN_NAME_BUFFER_SIZE;
        gScanNameBuffer = static_cast<LPSTR>(AllocLockedBuffer(&cb, /*cbStep=*/0));
    }
    if (gScanHeaderBuffer == nullptr) {
        DWORD cb = SCAN_HEADER_BUFFER_SIZE;
        gScanHeaderBuffer = static_cast<BYTE *>(AllocLockedBuffer(&cb, /*cbStep=*/0));
    }
    return gScanNameBuffer != nullptr && gScanHeaderBuffer != nullptr;
}

void FreeScanBuffers() {
    FreeLockedBuffer(gScanNameBuffer);
    FreeLockedBuffer(gScanHeaderBuffer);
    gScanNameBuffer = nullptr;
    gScanHeaderBuffer = nullptr;
}
