// Executable files built byte by byte for the import scanner's tests: an MS-DOS header pointing at
// a PE32 or NE header at a chosen offset, with chosen subsystem or application type, sections and
// imported module names. Tests corrupt single fields afterwards with PutLe16/PutLe32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Little-endian stores; the byte string grows with zeros when the field lies past its end.
void PutLe16(std::string &bytes, size_t offset, uint16_t value);
void PutLe32(std::string &bytes, size_t offset, uint32_t value);

// Field offsets relative to the new header, for tests that corrupt them.
constexpr size_t kPeSectionCountField = 0x06;
constexpr size_t kNeModuleCountField = 0x1E;

struct PeFileSpec {
    uint32_t newHeader = 0x80;        // e_lfanew
    uint16_t relocationTable = 0x40;  // e_lfarlc
    uint16_t subsystem = 2;           // Windows GUI
    bool pe32Plus = false;            // a 240-byte PE32+ optional header (magic 0x20B) instead of PE32
    // Section i lies at RVA 0x1000 * (i + 1); its raw data follows the headers, 0x200-aligned.
    std::vector<std::string> sections = {".text", ".idata"};
    size_t importSection = 1;  // the section holding the import descriptors and the names
    // Delay-load descriptors (relative addresses) and their names, in data directory 13.
    size_t delayImportSection = 0;
    std::vector<std::string> delayImports = {};
    std::vector<std::string> imports = {};
};

// Where BuildPeFile put a header field, relative to the new header.
size_t PeDataDirectoryField(bool pe32Plus, size_t index);  // DataDirectory[index].VirtualAddress
size_t PeSectionTableField(bool pe32Plus);

std::string BuildPeFile(const PeFileSpec &spec);

struct NeFileSpec {
    uint32_t newHeader = 0x80;
    uint16_t relocationTable = 0x40;
    uint8_t appType = 3;  // bits 8-10 of ne_flags: 3 uses the windowing interface
    // Module-reference table order; bytes as stored (OEM), each cut at 255.
    std::vector<std::string> modules;
};

std::string BuildNeFile(const NeFileSpec &spec);

// The whole content of a host file ("" when unreadable), and what a shell command prints.
std::string ReadHostFile(const std::string &path);
std::string RunCommand(const std::string &command);
