// Module names of a Portable Executable (PE32) file: the import descriptors of its import
// directory, read only when the directory lies in the section named ".idata".
#include <cstring>

#include "references/pe_imports.h"
#include "references/scan_bytes.h"
#include "support/path_utils.h"

namespace {

// IMAGE_NT_HEADERS fields, relative to the "PE\0\0" signature.
constexpr uint64_t kPeSectionCount = 0x06;     // FileHeader.NumberOfSections
constexpr uint64_t kPeSubsystem = 0x5C;        // OptionalHeader.Subsystem
constexpr uint64_t kPeImportDirectory = 0x80;  // OptionalHeader.DataDirectory[1].VirtualAddress
// Behind a standard 224-byte PE32 optional header; SizeOfOptionalHeader is not consulted.
constexpr uint64_t kPeSectionTable = 0xF8;

// IMAGE_SECTION_HEADER.
constexpr uint64_t kSectionHeaderSize = 40;
constexpr DWORD kSectionNameSize = 8;
constexpr uint64_t kSectionVirtualSize = 8;
constexpr uint64_t kSectionVirtualAddress = 12;
constexpr uint64_t kSectionRawSize = 16;
constexpr uint64_t kSectionRawPointer = 20;

// IMAGE_IMPORT_DESCRIPTOR.
constexpr uint64_t kDescriptorSize = 20;
constexpr uint64_t kDescriptorTimeDateStamp = 4;
constexpr uint64_t kDescriptorName = 12;

// Character-mode programs (Windows, OS/2, POSIX) are not scanned.
constexpr WORD kSubsystemWindowsCui = 3;
constexpr WORD kSubsystemOs2Cui = 5;
constexpr WORD kSubsystemPosixCui = 7;

// One read per import name.
constexpr DWORD kNameRead = 100;

CHAR FoldAscii(CHAR ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<CHAR>(ch - 'A' + 'a') : ch; }

// The section name field compared as _strnicmp with a limit of 8 would: the field need not end
// in a NUL.
BOOL SectionNameEquals(const BYTE *field, LPCSTR name) {
    for (DWORD i = 0; i < kSectionNameSize; i++) {
        CHAR a = FoldAscii(static_cast<CHAR>(field[i])), b = FoldAscii(name[i]);
        if (a != b) return 0;
        if (a == '\0') return 1;
    }
    return 1;
}

}  // namespace

const BYTE *FindPeSection(LPCSTR name, const ByteSpan *pe) {
    WORD cSections = 0;
    if (!ReadLe(pe, kPeSectionCount, &cSections)) return nullptr;
    for (DWORD i = 0; i < cSections; i++) {
        // A table that runs past the bytes read ends there.
        const BYTE *record = SpanAt(pe, kPeSectionTable + i * kSectionHeaderSize, kSectionHeaderSize);
        if (record == nullptr) return nullptr;
        if (SectionNameEquals(record, name)) return record;
    }
    return nullptr;
}

LPSTR ReadPeImportNames(LPSTR pos, LPSTR end, HFILE file, BYTE *header, DWORD cbHeader, const ByteSpan *pe,
                        ScanWindow *window) {
    *pos = '\0';
    DWORD importRva = 0;
    if (!ReadLe(pe, kPeImportDirectory, &importRva) || importRva == 0) return pos;
    const BYTE *section = FindPeSection(".idata", pe);
    if (section == nullptr) return pos;
    ByteSpan record = {section, static_cast<DWORD>(kSectionHeaderSize)};
    DWORD virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0;
    if (!ReadLe(&record, kSectionVirtualSize, &virtualSize) ||
        !ReadLe(&record, kSectionVirtualAddress, &virtualAddress) || !ReadLe(&record, kSectionRawSize, &rawSize) ||
        !ReadLe(&record, kSectionRawPointer, &rawPointer))
        return pos;
    // The section's delta maps relative virtual addresses to file offsets only inside it, so an
    // import directory elsewhere is not followed. Linkers leave either size 0 at times: the larger
    // one bounds the section.
    uint64_t extent = virtualSize > rawSize ? virtualSize : rawSize;
    if (importRva < virtualAddress || importRva >= static_cast<uint64_t>(virtualAddress) + extent) return pos;
    // Names are mapped with the same delta wherever they lie, as the linker puts them in ".idata".
    int64_t delta = static_cast<int64_t>(virtualAddress) - static_cast<int64_t>(rawPointer);

    // The descriptors overwrite the PE header; everything needed from it is taken by now.
    DWORD cbTable = ReadScanFileVia(window, file, static_cast<int64_t>(importRva) - delta, header, cbHeader);
    ByteSpan table = {header, cbTable};
    for (uint64_t offset = 0;; offset += kDescriptorSize) {
        DWORD timeDateStamp = 0, nameRva = 0;
        // A table that runs past the bytes read ends there.
        if (SpanAt(&table, offset, kDescriptorSize) == nullptr ||
            !ReadLe(&table, offset + kDescriptorTimeDateStamp, &timeDateStamp) ||
            !ReadLe(&table, offset + kDescriptorName, &nameRva))
            break;
        if (timeDateStamp == 0 && nameRva == 0) break;
        CHAR name[kNameRead];
        DWORD cbName = ReadScanFileVia(window, file, static_cast<int64_t>(nameRva) - delta, name, sizeof name);
        if (cbName == 0) break;
        // A name without a NUL in the bytes read is cut at 99 characters.
        size_t len = strnlen(name, cbName);
        if (len == cbName) name[len < kNameRead ? len : kNameRead - 1] = '\0';
        RemoveFileExtension(name);
        len = strlen(name);
        // An empty name would close the list here anyway.
        if (len == 0) break;
        // Room for the name, its NUL and the list's closing NUL; a name that does not fit is
        // dropped with all after it.
        if (static_cast<size_t>(end - pos) < len + 2) break;
        memcpy(pos, name, len + 1);
        pos += len + 1;
        *pos = '\0';
    }
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
    if (subsystem == kSubsystemWindowsCui || subsystem == kSubsystemOs2Cui || subsystem == kSubsystemPosixCui) return 0;
    ReadPeImportNames(pos, end, file, header, cbHeader, &pe, window);
    return 1;
}
