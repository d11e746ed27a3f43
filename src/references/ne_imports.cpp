// Module names of a New Executable file: the module-reference table holds, per referenced module,
// a 16-bit offset into the imported-names table, where the name is stored as a length byte and
// that many OEM characters.
#include <cstring>

#include "references/ne_imports.h"
#include "references/scan_bytes.h"

namespace {

// NE header fields, relative to the "NE" signature.
constexpr uint64_t kNeFlagsHigh = 0x0D;      // bits 8-10 of ne_flags: the application type
constexpr uint64_t kNeModuleCount = 0x1E;    // ne_cmod
constexpr uint64_t kNeModuleTable = 0x28;    // ne_modtab
constexpr uint64_t kNeImportedNames = 0x2A;  // ne_imptab

// Full-screen programs and ones that do not use the windowing interface are not scanned.
constexpr BYTE kAppTypeFullScreen = 1;
constexpr BYTE kAppTypeWindowCompatible = 2;

// One read of the module-reference table: 5,120 entries. Entries beyond it are not read.
constexpr DWORD kModuleTableRead = 10240;

// A length byte and up to 255 characters, with room to spare.
constexpr DWORD kNameRead = 300;

}  // namespace

BOOL ReadNeModuleNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, const ByteSpan *ne,
                       uint64_t neOffset, ScanWindow *window) {
    *pos = '\0';
    BYTE flagsHigh = 0;
    WORD cModules = 0, moduleTable = 0, importedNames = 0;
    // A header whose fields lie past the bytes read is not scanned.
    if (!ReadLe(ne, kNeFlagsHigh, &flagsHigh) || !ReadLe(ne, kNeModuleCount, &cModules) ||
        !ReadLe(ne, kNeModuleTable, &moduleTable) || !ReadLe(ne, kNeImportedNames, &importedNames))
        return 0;
    BYTE appType = flagsHigh & 7;
    if (appType == kAppTypeFullScreen || appType == kAppTypeWindowCompatible) return 0;

    // The table read overwrites the header, whose fields are all taken by now.
    DWORD cbTable = ReadScanFileVia(window, file, static_cast<int64_t>(neOffset + moduleTable), header,
                                    cbHeader < kModuleTableRead ? cbHeader : kModuleTableRead);
    if (cbTable == 0) return 0;
    ByteSpan table = {header, cbTable};

    for (DWORD i = 0; i < cModules; i++) {
        WORD nameOffset = 0;
        if (!ReadLe(&table, static_cast<uint64_t>(i) * 2, &nameOffset)) break;
        BYTE raw[kNameRead];
        DWORD cbRaw =
            ReadScanFileVia(window, file, static_cast<int64_t>(neOffset + importedNames + nameOffset), raw, sizeof raw);
        // A failed read ends the list; the names read so far count.
        if (cbRaw == 0) break;
        ByteSpan name = {raw, cbRaw};
        BYTE cch = 0;
        if (!ReadLe(&name, 0, &cch)) break;
        // A name cut off by the end of the file keeps what was read.
        if (cch > cbRaw - 1) cch = static_cast<BYTE>(cbRaw - 1);
        const BYTE *text = SpanAt(&name, 1, cch);
        if (text == nullptr) break;
        // A NUL inside the name ends it, so that one table entry never yields two names; an empty
        // name ends the list, as it would close it anyway.
        size_t len = strnlen(reinterpret_cast<const char *>(text), cch);
        if (len == 0) break;
        // Room for the name, its NUL and the list's closing NUL; a name that does not fit is
        // dropped with all after it.
        if (static_cast<size_t>(end - pos) < len + 2) break;
        memcpy(pos, text, len);
        pos[len] = '\0';
        OemToCharA(pos, pos);
        pos += len + 1;
        *pos = '\0';
    }
    return 1;
}
