// Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/) from the fixture builders the
// tests use: map files, NE and PE executables and settings data files of the shapes the tests know,
// so that fuzzing starts from inputs that reach deep into each parser. Run by
// scripts/write-fuzz-corpus.sh; the corpora are kept in the tree and replayed by CTest.
#include "common/exe_builder.h"
#include "common/map_file_builder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void Write(const fs::path &dir, const std::string &name, const std::string &bytes) {
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << bytes;
}

std::vector<std::pair<std::string, MapFileDescription>> MapFiles() {
    const MapFileDescription sample = SampleMapDescription();
    MapFileDescription orphan = sample;
    orphan.drives[0].blocks[2].wParentId = 9;  // a block whose parent is not in the file
    MapFileDescription empty;
    MapFileDescription big;  // one block larger than the reader's 128 KB buffer
    big.drives = {{'C', {{0, 0, {}}}}};
    for (int i = 0; i < 6000; ++i)
        big.drives[0].blocks[0].records.push_back(FileRecord("file" + std::to_string(i) + ".dat", i));
    MapFileDescription old = sample;
    old.bVersion = 2;
    return {{"sample", sample}, {"orphan", orphan}, {"empty", empty}, {"big-block", big}, {"version-2", old}};
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR (fuzz/corpus)\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];

    // The library's loader and drivemap's reader of a map file's head read the same files; the
    // head reader's input starts with four bytes of how much longer the file is (none here).
    for (const auto &[name, description] : MapFiles()) {
        Write(root / "map_file_fuzz", name, BuildMapFile(description));
        Write(root / "map_file_head_fuzz", name, std::string(4, '\0') + BuildMapFile(description));
    }

    // Byte 0 picks the scanning rules (bit 0 PE32+, 1 imports in any section, 2 delay-load imports,
    // 3 character-mode subsystems), the rest is the file.
    const fs::path exe = root / "import_scanner_fuzz";
    const std::string classic(1, '\x00'), modern(1, '\x0F');
    Write(exe, "pe-idata", classic + BuildPeFile({.imports = {"KERNEL32.DLL", "HELPER.DLL", "VBRUN300.DLL"}}));
    Write(exe, "pe-rdata", classic + BuildPeFile({.sections = {".text", ".rdata"}, .imports = {"HELPER.DLL"}}));
    Write(exe, "pe-console", classic + BuildPeFile({.subsystem = 3, .imports = {"HELPER.DLL"}}));
    Write(exe, "pe-far-header", classic + BuildPeFile({.newHeader = 0x5000, .imports = {"A.DLL", "B.DLL"}}));
    Write(exe, "ne-windows", classic + BuildNeFile({.modules = {"KERNEL", "USER", "HELPER16"}}));
    Write(exe, "ne-fullscreen", classic + BuildNeFile({.appType = 1, .modules = {"HELPER16"}}));
    Write(exe, "pe32plus-rdata-delay",
          modern + BuildPeFile({.subsystem = 3,
                                .pe32Plus = true,
                                .sections = {".text", ".rdata", ".didat"},
                                .delayImportSection = 2,
                                .delayImports = {"LATE.DLL", "LATER.DLL"},
                                .imports = {"KERNEL32.DLL", "HELPER.DLL"}}));
    Write(exe, "pe32-idata-delay",
          modern + BuildPeFile({.sections = {".text", ".idata", ".rdata"},
                                .delayImportSection = 2,
                                .delayImports = {"LATE.DLL"},
                                .imports = {"HELPER.DLL"}}));

    // Byte 0 picks the section (0 "A", 1 NonNEPEFiles, 2 SystemFiles), byte 1 the memory limit.
    const fs::path settings = root / "settings_file_fuzz";
    const std::string text =
        "[NonNEPEFiles]\r\nbmp\r\ndoc\r\ntxt\r\n\r\n[SystemFiles]\r\nkernel32\r\n  user32\r\n; note\r\ngdi\r\n";
    Write(settings, "system-files", std::string("\x02\x00", 2) + text);
    Write(settings, "never-scanned-small-memory", std::string("\x01\x01", 2) + text);
    Write(settings, "oem-no-line-end", std::string("\x06\x00", 2) + "[SystemFiles]\n\x80\x81\x82");
    return 0;
}
