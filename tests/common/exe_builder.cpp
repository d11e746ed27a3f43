#include "common/exe_builder.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

size_t AlignUp(size_t value, size_t alignment) { return (value + alignment - 1) / alignment * alignment; }

std::string DosHeader(uint16_t relocationTable, uint32_t newHeader) {
    std::string bytes(0x40, '\0');
    bytes.replace(0, 2, "MZ");
    PutLe16(bytes, 0x18, relocationTable);
    PutLe32(bytes, 0x3C, newHeader);
    if (bytes.size() < newHeader) bytes.resize(newHeader, '\0');
    return bytes;
}

// Descriptors of cbRecord bytes (one per name, then a zero one) whose name address lies at
// nameField, followed by the names, for a section at `rva`. `flags` goes into the first 32-bit
// field of each when it is not the name's.
std::string DescriptorData(const std::vector<std::string> &names, uint32_t rva, size_t cbRecord, size_t nameField,
                           uint32_t flags) {
    std::string data((names.size() + 1) * cbRecord, '\0');
    for (size_t i = 0; i < names.size(); i++) {
        if (flags != 0) PutLe32(data, i * cbRecord, flags);
        PutLe32(data, i * cbRecord + nameField, rva + (uint32_t)data.size());
        data += names[i];
        data += '\0';
    }
    return data;
}

}  // namespace

void PutLe16(std::string &bytes, size_t offset, uint16_t value) {
    if (bytes.size() < offset + 2) bytes.resize(offset + 2, '\0');
    bytes[offset] = (char)(value & 0xFF), bytes[offset + 1] = (char)(value >> 8);
}

void PutLe32(std::string &bytes, size_t offset, uint32_t value) {
    PutLe16(bytes, offset, (uint16_t)(value & 0xFFFF));
    PutLe16(bytes, offset + 2, (uint16_t)(value >> 16));
}

size_t PeDataDirectoryField(bool pe32Plus, size_t index) { return 0x18 + (pe32Plus ? 112 : 96) + 8 * index; }

size_t PeSectionTableField(bool pe32Plus) { return 0x18 + (pe32Plus ? 240 : 224); }

std::string BuildPeFile(const PeFileSpec &spec) {
    std::string bytes = DosHeader(spec.relocationTable, spec.newHeader);
    const size_t pe = spec.newHeader, table = pe + PeSectionTableField(spec.pe32Plus);
    bytes.resize(table + 40 * spec.sections.size(), '\0');
    bytes.replace(pe, 4, std::string("PE\0\0", 4));
    PutLe16(bytes, pe + 0x04, spec.pe32Plus ? 0x8664 : 0x14C);  // AMD64 or i386
    PutLe16(bytes, pe + kPeSectionCountField, (uint16_t)spec.sections.size());
    PutLe16(bytes, pe + 0x14, spec.pe32Plus ? 240 : 224);  // SizeOfOptionalHeader
    PutLe16(bytes, pe + 0x18, spec.pe32Plus ? 0x20B : 0x10B);
    PutLe16(bytes, pe + 0x5C, spec.subsystem);
    PutLe32(bytes, pe + PeDataDirectoryField(spec.pe32Plus, 0) - 4, 16);  // NumberOfRvaAndSizes
    size_t raw = AlignUp(bytes.size(), 0x200);
    for (size_t i = 0; i < spec.sections.size(); i++) {
        const uint32_t rva = 0x1000 * (uint32_t)(i + 1);
        std::string data;
        if (i == spec.importSection) {
            data = DescriptorData(spec.imports, rva, 20, 12, 0);
            PutLe32(bytes, pe + PeDataDirectoryField(spec.pe32Plus, 1), rva);
            PutLe32(bytes, pe + PeDataDirectoryField(spec.pe32Plus, 1) + 4, (uint32_t)(spec.imports.size() + 1) * 20);
        }
        if (i == spec.delayImportSection && !spec.delayImports.empty()) {
            const uint32_t at = rva + (uint32_t)data.size();
            data += DescriptorData(spec.delayImports, at, 32, 4, /*flags=*/1);
            PutLe32(bytes, pe + PeDataDirectoryField(spec.pe32Plus, 13), at);
            PutLe32(bytes, pe + PeDataDirectoryField(spec.pe32Plus, 13) + 4,
                    (uint32_t)(spec.delayImports.size() + 1) * 32);
        }
        const size_t header = table + 40 * i;
        bytes.replace(header, spec.sections[i].size() < 8 ? spec.sections[i].size() : 8, spec.sections[i]);
        PutLe32(bytes, header + 8, (uint32_t)data.size());                       // VirtualSize
        PutLe32(bytes, header + 12, rva);                                        // VirtualAddress
        PutLe32(bytes, header + 16, (uint32_t)AlignUp(data.size() + 1, 0x200));  // SizeOfRawData
        PutLe32(bytes, header + 20, (uint32_t)raw);                              // PointerToRawData
        bytes.resize(raw, '\0');
        bytes += data;
        raw = AlignUp(bytes.size() + 1, 0x200);
    }
    bytes.resize(raw, '\0');
    return bytes;
}

std::string BuildNeFile(const NeFileSpec &spec) {
    std::string bytes = DosHeader(spec.relocationTable, spec.newHeader);
    const size_t ne = spec.newHeader;
    const size_t moduleTable = 0x40, importedNames = moduleTable + 2 * spec.modules.size();
    bytes.resize(ne + importedNames, '\0');
    bytes.replace(ne, 2, "NE");
    bytes[ne + 0x0D] = (char)spec.appType;
    PutLe16(bytes, ne + kNeModuleCountField, (uint16_t)spec.modules.size());
    PutLe16(bytes, ne + 0x28, (uint16_t)moduleTable);
    PutLe16(bytes, ne + 0x2A, (uint16_t)importedNames);
    // The imported-names table begins with an empty name, as linkers write it.
    std::string names(1, '\0');
    for (size_t i = 0; i < spec.modules.size(); i++) {
        PutLe16(bytes, ne + moduleTable + 2 * i, (uint16_t)names.size());
        const std::string name = spec.modules[i].substr(0, 255);
        names += (char)name.size();
        names += name;
    }
    return bytes + names;
}

std::string ReadHostFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RunCommand(const std::string &command) {
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}
