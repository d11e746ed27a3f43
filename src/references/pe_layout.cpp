#include "references/pe_layout.h"

#include "store/module_state.h"

namespace {

// IMAGE_NT_HEADERS fields, relative to the "PE\0\0" signature.
constexpr uint64_t kPeSectionCount = 0x06;        // FileHeader.NumberOfSections
constexpr uint64_t kPeOptionalHeaderSize = 0x14;  // FileHeader.SizeOfOptionalHeader
constexpr uint64_t kPeOptionalHeader = 0x18;
// The classic rules read a PE32 header at fixed offsets: SizeOfOptionalHeader is not consulted.
constexpr uint64_t kClassicImportDirectory = 0x80;  // OptionalHeader.DataDirectory[1].VirtualAddress
constexpr uint64_t kClassicSectionTable = 0xF8;

// IMAGE_OPTIONAL_HEADER32 and IMAGE_OPTIONAL_HEADER64, relative to the optional header.
constexpr WORD kMagicPe32 = 0x10B;
constexpr WORD kMagicPe32Plus = 0x20B;
constexpr uint64_t kPe32ImageBase = 28;  // 4 bytes
constexpr uint64_t kPe32DirectoryCount = 92;
constexpr uint64_t kPe32Directories = 96;
constexpr uint64_t kPe32PlusImageBase = 24;  // 8 bytes
constexpr uint64_t kPe32PlusDirectoryCount = 108;
constexpr uint64_t kPe32PlusDirectories = 112;
constexpr uint64_t kDirectorySize = 8;
constexpr DWORD kDirectoryImport = 1;
constexpr DWORD kDirectoryDelayImport = 13;

// IMAGE_SECTION_HEADER.
constexpr uint64_t kSectionHeaderSize = 40;
constexpr DWORD kSectionNameSize = 8;
constexpr uint64_t kSectionVirtualSize = 8;
constexpr uint64_t kSectionVirtualAddress = 12;
constexpr uint64_t kSectionRawSize = 16;
constexpr uint64_t kSectionRawPointer = 20;

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

BOOL ReadSection(const BYTE *record, PeSection *section) {
    ByteSpan span = {record, kSectionHeaderSize};
    DWORD virtualSize = 0, rawSize = 0;
    if (!ReadLe(&span, kSectionVirtualSize, &virtualSize) ||
        !ReadLe(&span, kSectionVirtualAddress, &section->dwVirtualAddress) ||
        !ReadLe(&span, kSectionRawSize, &rawSize) || !ReadLe(&span, kSectionRawPointer, &section->dwRawPointer))
        return 0;
    section->dwExtent = virtualSize > rawSize ? virtualSize : rawSize;
    return 1;
}

BOOL SectionHolds(const PeSection *section, uint64_t rva) {
    return rva >= section->dwVirtualAddress &&
           rva < static_cast<uint64_t>(section->dwVirtualAddress) + section->dwExtent;
}

// The first section named `name` in the table at `table`; 0 when none. Only whole records within
// `pe` are examined.
BOOL FindNamedSection(const ByteSpan *pe, uint64_t table, LPCSTR name, PeSection *section) {
    WORD cSections = 0;
    if (!ReadLe(pe, kPeSectionCount, &cSections)) return 0;
    for (DWORD i = 0; i < cSections; i++) {
        // A table that runs past the bytes read ends there.
        const BYTE *record = SpanAt(pe, table + i * kSectionHeaderSize, kSectionHeaderSize);
        if (record == nullptr) return 0;
        if (SectionNameEquals(record, name)) return ReadSection(record, section);
    }
    return 0;
}

// The section records of the table at `table`, at most PE_LAYOUT_MAX_SECTIONS; a table that runs
// past the bytes read ends there.
void ReadSectionTable(const ByteSpan *pe, uint64_t table, PeImportLayout *layout) {
    layout->cSections = 0;
    WORD cSections = 0;
    if (!ReadLe(pe, kPeSectionCount, &cSections)) return;
    for (DWORD i = 0; i < cSections && layout->cSections < PE_LAYOUT_MAX_SECTIONS; i++) {
        const BYTE *record = SpanAt(pe, table + i * kSectionHeaderSize, kSectionHeaderSize);
        if (record == nullptr || !ReadSection(record, &layout->sections[layout->cSections])) return;
        layout->cSections++;
    }
}

// What the file's own optional header says, for a file the rules read by its own layout.
struct OwnHeader {
    uint64_t directories;  // offset of DataDirectory[0] from the signature
    DWORD cDirectories;    // directories within both NumberOfRvaAndSizes and SizeOfOptionalHeader
    uint64_t sectionTable;
    uint64_t imageBase;
};

// 0 when the rules leave the file to the classic fixed offsets: a PE32+ file without Pe32Plus, a
// PE32 file when neither rule that looks past ".idata"'s imports is on, any other magic.
BOOL ReadOwnHeader(const ByteSpan *pe, OwnHeader *own) {
    WORD magic = 0, cbOptional = 0;
    if (!ReadLe(pe, kPeOptionalHeader, &magic) || !ReadLe(pe, kPeOptionalHeaderSize, &cbOptional)) return 0;
    uint64_t directories = 0, directoryCount = 0;
    if (magic == kMagicPe32Plus && gScanRules.fPe32Plus) {
        if (!ReadLe(pe, kPeOptionalHeader + kPe32PlusImageBase, &own->imageBase)) return 0;
        directories = kPe32PlusDirectories, directoryCount = kPe32PlusDirectoryCount;
    } else if (magic == kMagicPe32 && (gScanRules.fImportsAnySection || gScanRules.fDelayLoadImports)) {
        DWORD imageBase = 0;
        if (!ReadLe(pe, kPeOptionalHeader + kPe32ImageBase, &imageBase)) return 0;
        own->imageBase = imageBase;
        directories = kPe32Directories, directoryCount = kPe32DirectoryCount;
    } else {
        return 0;
    }
    DWORD cDirectories = 0;
    if (!ReadLe(pe, kPeOptionalHeader + directoryCount, &cDirectories)) return 0;
    const uint64_t cFit = cbOptional > directories ? (cbOptional - directories) / kDirectorySize : 0;
    own->cDirectories = cDirectories < cFit ? cDirectories : static_cast<DWORD>(cFit);
    own->directories = kPeOptionalHeader + directories;
    own->sectionTable = kPeOptionalHeader + cbOptional;
    return 1;
}

// The address of data directory `index`; 0 when the header has no such directory.
DWORD ReadDirectoryRva(const ByteSpan *pe, const OwnHeader *own, DWORD index) {
    DWORD rva = 0;
    if (index >= own->cDirectories || !ReadLe(pe, own->directories + index * kDirectorySize, &rva)) return 0;
    return rva;
}

}  // namespace

void ReadPeImportLayout(const ByteSpan *pe, PeImportLayout *layout) {
    *layout = {};
    OwnHeader own = {};
    const BOOL ownHeader = ReadOwnHeader(pe, &own);
    DWORD importRva = 0;
    if (ownHeader) {
        importRva = ReadDirectoryRva(pe, &own, kDirectoryImport);
        if (gScanRules.fDelayLoadImports) layout->dwDelayImportRva = ReadDirectoryRva(pe, &own, kDirectoryDelayImport);
        layout->qwImageBase = own.imageBase;
    } else if (!ReadLe(pe, kClassicImportDirectory, &importRva)) {
        importRva = 0;
    }
    const uint64_t table = ownHeader ? own.sectionTable : kClassicSectionTable;
    layout->fImportsAnySection = ownHeader && gScanRules.fImportsAnySection;
    if (layout->fImportsAnySection || layout->dwDelayImportRva != 0) ReadSectionTable(pe, table, layout);
    if (!layout->fImportsAnySection) {
        // The classic rules follow an import directory only into ".idata".
        layout->fIdata = FindNamedSection(pe, table, ".idata", &layout->idata);
        if (layout->fIdata && !SectionHolds(&layout->idata, importRva)) importRva = 0;
    }
    int64_t offset = 0;
    layout->dwImportRva =
        importRva != 0 && MapPeRva(layout, importRva, layout->fImportsAnySection, &offset) ? importRva : 0;
    if (!MapPeRva(layout, layout->dwDelayImportRva, /*anySection=*/1, &offset)) layout->dwDelayImportRva = 0;
}

BOOL MapPeRva(const PeImportLayout *layout, uint64_t rva, BOOL anySection, int64_t *offset) {
    const PeSection *section = nullptr;
    if (!anySection) {
        if (layout->fIdata) section = &layout->idata;
    } else {
        for (DWORD i = 0; i < layout->cSections && section == nullptr; i++)
            if (SectionHolds(&layout->sections[i], rva)) section = &layout->sections[i];
    }
    if (section == nullptr) return 0;
    *offset = static_cast<int64_t>(rva) - static_cast<int64_t>(section->dwVirtualAddress) +
              static_cast<int64_t>(section->dwRawPointer);
    return 1;
}
