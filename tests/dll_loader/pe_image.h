// A PE32 image mapped into this 32-bit process as the Windows loader maps it: headers and sections
// at their relative addresses in one mapping, base relocations applied for where it landed. The
// structures keep Microsoft's field names; only the fields the loader reads are spelled out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#pragma pack(push, 1)
struct ImageDataDirectory {
    uint32_t VirtualAddress, Size;
};
struct ImageExportDirectory {
    uint32_t Characteristics, TimeDateStamp;
    uint16_t MajorVersion, MinorVersion;
    uint32_t Name, Base, NumberOfFunctions, NumberOfNames;
    uint32_t AddressOfFunctions, AddressOfNames, AddressOfNameOrdinals;
};
struct ImageImportDescriptor {
    uint32_t OriginalFirstThunk, TimeDateStamp, ForwarderChain, Name, FirstThunk;
};
struct ImageTlsDirectory {
    uint32_t StartAddressOfRawData, EndAddressOfRawData, AddressOfIndex, AddressOfCallBacks;
    uint32_t SizeOfZeroFill, Characteristics;
};
#pragma pack(pop)

enum ImageDirectory : unsigned {
    kExportDirectory = 0,
    kImportDirectory = 1,
    kRelocationDirectory = 5,
    kTlsDirectory = 9
};

struct PeSection {
    uint32_t rva, cbVirtual, characteristics;
};

struct PeImage {
    uint8_t *base = nullptr;  // where the image lies; RVAs are offsets from here
    uint32_t cbImage = 0;     // SizeOfImage
    uint32_t entryPoint = 0;  // AddressOfEntryPoint, an RVA; 0: none
    uint32_t cbHeaders = 0;
    ImageDataDirectory directories[16] = {};
    std::vector<PeSection> sections;

    // The directory's table, or nullptr when the image has none or it lies outside the image.
    template <typename T>
    T *Directory(ImageDirectory which) const {
        const ImageDataDirectory &d = directories[which];
        if (d.VirtualAddress == 0 || uint64_t{d.VirtualAddress} + sizeof(T) > cbImage) return nullptr;
        return reinterpret_cast<T *>(base + d.VirtualAddress);
    }
    // A pointer to `cb` bytes at `rva`, or nullptr when they do not lie inside the image.
    [[nodiscard]] void *At(uint32_t rva, uint32_t cb = 1) const {
        return uint64_t{rva} + cb <= cbImage ? base + rva : nullptr;
    }
};

// Maps the DLL file at `path`: checks that it is a PE32 DLL for i386, maps it writable (at its
// preferred base when that is free) and relocates it. 0 with the reason in `error` when any of that
// fails; nothing stays mapped then.
[[nodiscard]] int MapPeImage(const std::string &path, PeImage *image, std::string *error);
// Gives the headers and each section the protection its characteristics ask for, once the loader
// has written the import address table.
void ProtectPeImage(const PeImage &image);
void UnmapPeImage(PeImage *image);
