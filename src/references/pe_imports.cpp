// Module names of a Portable Executable file: the import descriptors of its import directory and,
// when the rules ask for them, its delay-load import descriptors (pe_layout.h says which rules
// find them where).
#include <cstring>

#include "references/pe_imports.h"
#include "references/pe_layout.h"
#include "references/scan_bytes.h"
#include "references/scanning_rules.h"
#include "store/module_state.h"
#include "support/path_utils.h"

namespace {

constexpr uint64_t kPeSubsystem = 0x5C;  // OptionalHeader.Subsystem, PE32 and PE32+ alike

// A descriptor table: records of cbRecord bytes, ended by one whose two key fields are both 0;
// the module name's address is one of them.
struct DescriptorTable {
    uint64_t cbRecord;
    uint64_t otherField;  // IMAGE_IMPORT_DESCRIPTOR.TimeDateStamp, or the delay-load Attributes
    uint64_t nameField;
    BOOL fDelayLoad;
};
// IMAGE_IMPORT_DESCRIPTOR.
constexpr DescriptorTable kImportTable = {20, 4, 12, 0};
// IMAGE_DELAYLOAD_DESCRIPTOR: Attributes bit 0 clear means the addresses are virtual addresses
// (the first delay-load helpers' layout), not relative ones.
constexpr DescriptorTable kDelayImportTable = {32, 0, 4, 1};
constexpr DWORD kDelayAttributesRva = 1;

// One read per import name.
constexpr DWORD kNameRead = 100;

// Appends `name` (extension removed) and closes the list. 0 when the name is empty, which would
// close the list here anyway, or does not fit with its NUL and the list's closing NUL: the names
// after it are dropped.
BOOL AppendName(LPSTR *pos, LPSTR end, LPSTR name) {
    RemoveFileExtension(name);
    const size_t len = strlen(name);
    if (len == 0 || static_cast<size_t>(end - *pos) < len + 2) return 0;
    memcpy(*pos, name, len + 1);
    *pos += len + 1;
    **pos = '\0';
    return 1;
}

// Reads the descriptor table at `tableRva` and appends the names it gives, mapping addresses by
// `anySection` (MapPeRva). The table is read into `header`.
void ReadDescriptorNames(LPSTR *pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, ScanWindow *window,
                         const PeImportLayout *layout, const DescriptorTable *kind, DWORD tableRva, BOOL anySection) {
    int64_t tableOffset = 0;
    if (tableRva == 0 || !MapPeRva(layout, tableRva, anySection, &tableOffset)) return;
    DWORD cbTable = ReadScanFileVia(window, file, tableOffset, header, cbHeader);
    ByteSpan table = {header, cbTable};
    for (uint64_t offset = 0;; offset += kind->cbRecord) {
        DWORD other = 0, nameAddress = 0;
        // A table that runs past the bytes read ends there.
        if (SpanAt(&table, offset, kind->cbRecord) == nullptr || !ReadLe(&table, offset + kind->otherField, &other) ||
            !ReadLe(&table, offset + kind->nameField, &nameAddress))
            break;
        if (other == 0 && nameAddress == 0) break;
        uint64_t nameRva = nameAddress;
        if (kind->fDelayLoad && (other & kDelayAttributesRva) == 0 && nameRva >= layout->qwImageBase)
            nameRva -= layout->qwImageBase;
        int64_t nameOffset = 0;
        if (!MapPeRva(layout, nameRva, anySection, &nameOffset)) break;
        CHAR name[kNameRead];
        DWORD cbName = ReadScanFileVia(window, file, nameOffset, name, sizeof name);
        if (cbName == 0) break;
        // A name without a NUL in the bytes read is cut at 99 characters.
        size_t len = strnlen(name, cbName);
        if (len == cbName) name[len < kNameRead ? len : kNameRead - 1] = '\0';
        if (!AppendName(pos, end, name)) break;
    }
}

}  // namespace

LPSTR ReadPeImportNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, const ByteSpan *pe,
                        ScanWindow *window) {
    *pos = '\0';
    // Everything needed from the PE header is taken before the descriptors overwrite it.
    PeImportLayout layout;
    ReadPeImportLayout(pe, &layout);
    ReadDescriptorNames(&pos, end, file, header, cbHeader, window, &layout, &kImportTable, layout.dwImportRva,
                        layout.fImportsAnySection);
    ReadDescriptorNames(&pos, end, file, header, cbHeader, window, &layout, &kDelayImportTable, layout.dwDelayImportRva,
                        /*anySection=*/1);
    return pos;
}

BOOL ReadPeModuleNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, uint64_t peOffset,
                       ScanWindow *window) {
    *pos = '\0';
    // Read again from the signature, so that the whole PE header and section table start the
    // buffer.
    DWORD cbPe = ReadScanFileVia(window, file, static_cast<int64_t>(peOffset), header, cbHeader);
    ByteSpan pe = {header, cbPe};
    WORD subsystem = 0;
    if (!ReadLe(&pe, kPeSubsystem, &subsystem)) return 0;
    const BOOL characterMode =
        subsystem == SUBSYSTEM_WINDOWS_CUI || subsystem == SUBSYSTEM_OS2_CUI || subsystem == SUBSYSTEM_POSIX_CUI;
    if (characterMode && (gScanRules.dwSubsystems & (1u << subsystem)) == 0) return 0;
    ReadPeImportNames(pos, end, file, header, cbHeader, &pe, window);
    return 1;
}
