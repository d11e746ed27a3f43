// Where a Portable Executable's header puts the import tables, and how their relative virtual
// addresses become file offsets, under the classic rules or the rules of gScanRules.
#pragma once

#include "references/scan_bytes.h"

// Sections searched for an address; a table with more sections has the rest passed over.
#define PE_LAYOUT_MAX_SECTIONS 96

// A section as the address mapping needs it: addresses [dwVirtualAddress, +dwExtent) lie in the
// file from dwRawPointer on.
struct PeSection {
    DWORD dwVirtualAddress;
    DWORD dwExtent;  // the larger of VirtualSize and SizeOfRawData: linkers leave either 0 at times
    DWORD dwRawPointer;
};

struct PeImportLayout {
    DWORD dwImportRva;       // import directory; 0 when there is none to read
    DWORD dwDelayImportRva;  // delay-load import directory; 0 when none or not read
    uint64_t qwImageBase;    // for delay-load descriptors that give virtual addresses
    // The import table's addresses map through the section table (below) rather than through
    // ".idata"'s delta, which the classic rules apply to every address wherever it lies.
    BOOL fImportsAnySection;
    BOOL fIdata;
    PeSection idata;
    // Read when a rule maps through it: an address maps through the first section holding it.
    DWORD cSections;
    PeSection sections[PE_LAYOUT_MAX_SECTIONS];
};

// Reads the layout from the PE header `pe` (from its signature on). PE32 files and those the rules
// do not cover are read at the classic fixed offsets (data directories of a 224-byte PE32 optional
// header, section table behind it); a file that the rules cover is read by its own header
// (optional-header magic, SizeOfOptionalHeader, NumberOfRvaAndSizes). Under the classic rules the
// import directory must lie in ".idata", else dwImportRva is 0; a delay-load directory must lie
// in some section.
void ReadPeImportLayout(const ByteSpan *pe, PeImportLayout *layout);

// The file offset of `rva`: through the section that holds it (`anySection`), or by ".idata"'s
// delta. 0 when no section of the layout serves. The offset may lie outside the file (the read
// there then finds nothing).
[[nodiscard]] BOOL MapPeRva(const PeImportLayout *layout, uint64_t rva, BOOL anySection, int64_t *offset);
