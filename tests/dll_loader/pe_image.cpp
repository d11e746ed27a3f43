#include "dll_loader/pe_image.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// Offsets in the file, relative to the "PE\0\0" signature, of the IMAGE_NT_HEADERS32 fields read.
constexpr uint32_t kMachineField = 4, kSectionCountField = 6, kOptionalHeaderSizeField = 20, kCharacteristicsField = 22,
                   kOptionalHeader = 24;
// ... and relative to the optional header.
constexpr uint32_t kMagicField = 0, kEntryPointField = 16, kImageBaseField = 28, kImageSizeField = 56,
                   kHeadersSizeField = 60, kDirectoryCountField = 92, kDirectories = 96;
constexpr uint16_t kMachineI386 = 0x14C, kPe32Magic = 0x10B, kImageFileDll = 0x2000;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionExecute = 0x20000000, kSectionRead = 0x40000000, kSectionWrite = 0x80000000;

template <typename T>
[[nodiscard]] int Read(const std::vector<uint8_t> &file, uint64_t offset, T *value) {
    if (offset + sizeof(T) > file.size()) return 0;
    std::memcpy(value, file.data() + offset, sizeof(T));
    return 1;
}

int Fail(std::string *error, const std::string &reason) {
    *error = reason;
    return 0;
}

// Adds `delta` to every 32-bit address the relocation blocks name (IMAGE_REL_BASED_HIGHLOW); the
// padding entries (IMAGE_REL_BASED_ABSOLUTE) do nothing, and no other type occurs in a PE32 image.
int ApplyRelocations(const PeImage &image, uint32_t delta, std::string *error) {
    const ImageDataDirectory &table = image.directories[kRelocationDirectory];
    for (uint32_t at = 0; at + 8 <= table.Size;) {
        const auto *block = static_cast<const uint32_t *>(image.At(table.VirtualAddress + at, 8));
        if (block == nullptr || block[1] < 8 || at + block[1] > table.Size) return Fail(error, "damaged relocations");
        const auto *entries = reinterpret_cast<const uint16_t *>(block + 2);
        for (uint32_t i = 0; i < (block[1] - 8) / 2; ++i) {
            const unsigned type = entries[i] >> 12;
            if (type == 0) continue;
            void *target = image.At(block[0] + (entries[i] & 0xFFF), 4);
            if (type != 3 || target == nullptr) return Fail(error, "unsupported relocation");
            uint32_t value;
            std::memcpy(&value, target, 4);
            value += delta;
            std::memcpy(target, &value, 4);
        }
        at += block[1];
    }
    return 1;
}

int Protection(uint32_t characteristics) {
    return (characteristics & kSectionRead ? PROT_READ : 0) | (characteristics & kSectionWrite ? PROT_WRITE : 0) |
           (characteristics & kSectionExecute ? PROT_EXEC | PROT_READ : 0);
}

}  // namespace

int MapPeImage(const std::string &path, PeImage *image, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    uint32_t nt = 0, signature = 0, imageBase = 0, cbHeaders = 0, directoryCount = 0;
    uint16_t machine = 0, sectionCount = 0, cbOptional = 0, characteristics = 0, magic = 0;
    if (!Read(file, 0x3C, &nt) || !Read(file, nt, &signature) || signature != 0x4550)
        return Fail(error, path + " is no PE file");
    const uint64_t optional = uint64_t{nt} + kOptionalHeader;
    if (!Read(file, nt + kMachineField, &machine) || !Read(file, nt + kSectionCountField, &sectionCount) ||
        !Read(file, nt + kOptionalHeaderSizeField, &cbOptional) ||
        !Read(file, nt + kCharacteristicsField, &characteristics) || !Read(file, optional + kMagicField, &magic) ||
        !Read(file, optional + kEntryPointField, &image->entryPoint) ||
        !Read(file, optional + kImageBaseField, &imageBase) ||
        !Read(file, optional + kImageSizeField, &image->cbImage) ||
        !Read(file, optional + kHeadersSizeField, &cbHeaders) ||
        !Read(file, optional + kDirectoryCountField, &directoryCount))
        return Fail(error, "truncated PE headers");
    if (machine != kMachineI386 || magic != kPe32Magic || !(characteristics & kImageFileDll))
        return Fail(error, "not a PE32 DLL for i386");
    if (cbHeaders > file.size() || cbHeaders > image->cbImage) return Fail(error, "damaged PE headers");
    for (uint32_t i = 0; i < std::min<uint32_t>(directoryCount, 16); ++i)
        if (!Read(file, optional + kDirectories + 8 * i, &image->directories[i]))
            return Fail(error, "truncated PE headers");

    // The preferred base saves the relocation work when it is free; anywhere else works as well.
    void *want = reinterpret_cast<void *>(uintptr_t{imageBase});
    void *at =
        mmap(want, image->cbImage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (at == MAP_FAILED)
        at = mmap(nullptr, image->cbImage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) return Fail(error, "no room for the image");
    image->base = static_cast<uint8_t *>(at);
    image->cbHeaders = cbHeaders;
    std::memcpy(image->base, file.data(), cbHeaders);

    const uint64_t sectionTable = optional + cbOptional;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const uint64_t header = sectionTable + uint64_t{i} * kSectionHeaderSize;
        uint32_t cbVirtual = 0, rva = 0, cbRaw = 0, rawOffset = 0, flags = 0;
        if (!Read(file, header + 8, &cbVirtual) || !Read(file, header + 12, &rva) || !Read(file, header + 16, &cbRaw) ||
            !Read(file, header + 20, &rawOffset) || !Read(file, header + 36, &flags)) {
            UnmapPeImage(image);
            return Fail(error, "truncated section table");
        }
        const uint32_t cbCopied = std::min(cbRaw, cbVirtual != 0 ? cbVirtual : cbRaw);
        if (image->At(rva, std::max(cbVirtual, cbCopied)) == nullptr || uint64_t{rawOffset} + cbCopied > file.size()) {
            UnmapPeImage(image);
            return Fail(error, "a section lies outside the image or the file");
        }
        std::memcpy(image->base + rva, file.data() + rawOffset, cbCopied);
        image->sections.push_back({rva, std::max(cbVirtual, cbCopied), flags});
    }
    const uint32_t delta = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(image->base)) - imageBase;
    if (delta != 0 && !ApplyRelocations(*image, delta, error)) {
        UnmapPeImage(image);
        return 0;
    }
    return 1;
}

void ProtectPeImage(const PeImage &image) {
    const uint32_t cbPage = static_cast<uint32_t>(sysconf(_SC_PAGESIZE));
    mprotect(image.base, image.cbHeaders, PROT_READ);
    for (const PeSection &s : image.sections) {
        const uint32_t first = s.rva & ~(cbPage - 1);
        mprotect(image.base + first, s.rva + s.cbVirtual - first, Protection(s.characteristics));
    }
}

void UnmapPeImage(PeImage *image) {
    if (image->base != nullptr) munmap(image->base, image->cbImage);
    *image = PeImage{};
}
