// The import scanner over built NE and PE files, their boundary cases, and real MinGW DLLs
// against objdump's reading of their import tables.
#include "common/exe_builder.h"
#include "common/settings_machine.h"
#include "host_machine.h"
#include "references/import_scanner.h"
#include "references/settings_lists.h"
#include "scan/drive_class.h"
#include "store/module_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

namespace {

using Names = std::vector<std::string>;

struct ScanResult {
    DWORD result;
    DWORD kind;
    Names names;
};

class ImportScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        strcpy(gWindowsDirectory, "C:\\WINDOWS");
        strcpy(gSystemDirectory, "C:\\WINDOWS\\SYSTEM32");
        ResetDriveClassState();
        baseline_ = HostMachine_GlobalBlockCount();
    }
    void TearDown() override {
        FreeScanBuffers();
        FreeSystemFilesList();
        ResetDriveClassState();
        gWindowsDirectory[0] = gSystemDirectory[0] = '\0';
        EXPECT_EQ(baseline_, HostMachine_GlobalBlockCount()) << "global memory leaked";
    }

    // Scans `bytes` as C:\<name> into a list of cbList bytes followed by guard bytes. Checks that
    // nothing is written on failure, and on success that the list is closed by two NULs within
    // cbList and that the guard survives.
    ScanResult Scan(const std::string &name, const std::string &bytes, DWORD cbList = SCAN_NAME_BUFFER_SIZE) {
        if (!bytes.empty()) machine_.Tree().AddFile(name, bytes);
        std::vector<char> list(cbList + 16, 'x');
        ScanResult scan{0, 0xBAD, {}};
        scan.result = GetFileReferences(("C:\\" + name).c_str(), &scan.kind, list.data(), cbList);
        EXPECT_TRUE(std::all_of(list.begin() + cbList, list.end(), [](char c) { return c == 'x'; }));
        if (scan.result == 0) {
            EXPECT_EQ(0xBADu, scan.kind);
            EXPECT_TRUE(std::all_of(list.begin(), list.end(), [](char c) { return c == 'x'; }));
            return scan;
        }
        size_t pos = 0;
        while (pos < cbList && list[pos] != '\0') {
            const size_t len = strnlen(&list[pos], cbList - pos);
            scan.names.emplace_back(&list[pos], len);
            pos += len + 1;
        }
        EXPECT_LE(pos + 2, cbList) << name << ": list not closed";
        if (pos + 2 <= cbList) EXPECT_EQ('\0', list[pos + 1]) << name;
        return scan;
    }

    SettingsMachine machine_;
    unsigned long baseline_ = 0;
};

PeFileSpec Pe(Names imports) {
    PeFileSpec spec;
    spec.imports = std::move(imports);
    return spec;
}

NeFileSpec Ne(Names modules, uint8_t appType = 3) {
    NeFileSpec spec;
    spec.modules = std::move(modules);
    spec.appType = appType;
    return spec;
}

TEST_F(ImportScannerTest, NamesInTableOrderLowerCasedWithoutOwnName) {
    const struct {
        const char *file;
        std::string bytes;
        DWORD kind;
        Names names;
    } cases[] = {
        {"app.exe", BuildPeFile(Pe({"KERNEL32.DLL", "Foo.Dll", "foo.dll", "my.lib.dll", "MSVCRT"})), EXE_KIND_PE,
         {"kernel32", "foo", "foo", "my.lib", "msvcrt"}},
        {"foo.dll", BuildPeFile(Pe({"FOO.DLL", "bar.dll"})), EXE_KIND_PE, {"bar"}},
        {"none.exe", BuildPeFile(Pe({})), EXE_KIND_PE, {}},
        {"gaps.exe", BuildPeFile(Pe({"a.dll", "", "b.dll"})), EXE_KIND_PE, {"a"}},
        // 0x8E is A-umlaut in the OEM code page, 0xC4 in ANSI, lower-cased to 0xE4.
        {"win16.exe", BuildNeFile(Ne({"KERNEL", "USER", "\x8EGYPT"})), EXE_KIND_NE, {"kernel", "user", "\xE4gypt"}},
        {"LIB16.DLL", BuildNeFile(Ne({"lib16", "GDI"}, 0)), EXE_KIND_NE, {"gdi"}},
        {"gaps16.exe", BuildNeFile(Ne({"A", "", "B"})), EXE_KIND_NE, {"a"}},
    };
    for (const auto &c : cases) {
        const ScanResult scan = Scan(c.file, c.bytes);
        EXPECT_EQ(1u, scan.result) << c.file;
        EXPECT_EQ(c.kind, scan.kind) << c.file;
        EXPECT_EQ(c.names, scan.names) << c.file;
    }
}

TEST_F(ImportScannerTest, RefusedFilesLeaveKindAndListUntouched) {
    PeFileSpec lowRelocations = Pe({"a.dll"});
    lowRelocations.relocationTable = 0x3F;
    PeFileSpec farHeader = Pe({"a.dll"});
    std::string notMz = BuildPeFile(Pe({"a.dll"}));
    notMz[0] = 'X';
    std::string le = BuildPeFile(Pe({}));
    le.replace(0x80, 2, "LE");
    const struct {
        const char *file;
        std::string bytes;
    } cases[] = {
        {"missing.exe", ""},
        {"short.exe", std::string("MZ", 2) + std::string(0x20, '\0')},
        {"notmz.exe", notMz},
        {"lowreloc.exe", BuildPeFile(lowRelocations)},
        {"le.exe", le},
        {"beyond.exe", BuildPeFile(Pe({})).substr(0, 0x80)},
        {"cui.exe", BuildPeFile([] { auto s = Pe({"a.dll"}); s.subsystem = 3; return s; }())},
        {"os2.exe", BuildPeFile([] { auto s = Pe({"a.dll"}); s.subsystem = 5; return s; }())},
        {"posix.exe", BuildPeFile([] { auto s = Pe({"a.dll"}); s.subsystem = 7; return s; }())},
        {"full.exe", BuildNeFile(Ne({"KERNEL"}, 1))},
        {"compat.exe", BuildNeFile(Ne({"KERNEL"}, 2))},
    };
    for (const auto &c : cases) EXPECT_EQ(0u, Scan(c.file, c.bytes).result) << c.file;
    EXPECT_EQ(0u, Scan("tiny.exe", BuildPeFile(Pe({"a.dll"})), /*cbList=*/1).result);
}

TEST_F(ImportScannerTest, NewHeaderNearTheEndOfTheFirstBlock) {
    const struct {
        bool pe;
        uint32_t offset;
        DWORD result;
    } cases[] = {
        {true, 20464, 1},   // signature tested in the first block
        {true, 20465, 1},   // read again from the header
        {false, 20436, 1},  // NE fields end exactly at the first block's end
        {false, 20464, 0},  // NE fields past the first block: not scanned
        {false, 20465, 1},
    };
    for (const auto &c : cases) {
        PeFileSpec pe = Pe({"KERNEL32.DLL"});
        NeFileSpec ne = Ne({"KERNEL"});
        pe.newHeader = ne.newHeader = c.offset;
        const ScanResult scan = Scan("far.exe", c.pe ? BuildPeFile(pe) : BuildNeFile(ne));
        EXPECT_EQ(c.result, scan.result) << c.offset;
        if (c.result) EXPECT_EQ(Names{c.pe ? "kernel32" : "kernel"}, scan.names) << c.offset;
    }
}

TEST_F(ImportScannerTest, ImportsOutsideIdataGiveAnEmptyPeList) {
    PeFileSpec noIdata = Pe({"a.dll"});
    noIdata.sections = {".text", ".rdata"};
    PeFileSpec inText = Pe({"a.dll"});
    inText.importSection = 0;
    PeFileSpec noDirectory = Pe({"a.dll"});
    noDirectory.importSection = 9;
    PeFileSpec upperCase = Pe({"a.dll"});
    upperCase.sections = {".text", ".IDATA"};
    std::string countPastTable = BuildPeFile(noIdata);
    PutLe16(countPastTable, 0x80 + kPeSectionCountField, 0xFFFF);
    const struct {
        const char *file;
        std::string bytes;
        Names names;
    } cases[] = {
        {"noidata.exe", BuildPeFile(noIdata), {}},
        {"intext.exe", BuildPeFile(inText), {}},
        {"nodir.exe", BuildPeFile(noDirectory), {}},
        {"sections.exe", countPastTable, {}},
        {"upper.exe", BuildPeFile(upperCase), {"a"}},
    };
    for (const auto &c : cases) {
        const ScanResult scan = Scan(c.file, c.bytes);
        EXPECT_EQ(1u, scan.result) << c.file;
        EXPECT_EQ(DWORD{EXE_KIND_PE}, scan.kind) << c.file;
        EXPECT_EQ(c.names, scan.names) << c.file;
    }
}

Names Numbered(const char *format, int count) {
    Names names;
    char name[300];
    for (int i = 0; i < count; i++) {
        snprintf(name, sizeof name, format, i);
        names.push_back(name);
    }
    return names;
}

TEST_F(ImportScannerTest, OversizedTablesAreCutAtWholeNames) {
    // 1,100 descriptors: the 20,480-byte read holds 1,024 of them.
    EXPECT_EQ(Numbered("m%04d", 1024), Scan("many.exe", BuildPeFile(Pe(Numbered("m%04d.dll", 1100)))).names);
    // 64 bytes a name: 160 would fill the 10,240-byte name buffer, leaving no room to close it.
    const std::string pad(59, 'p');
    Names full = Numbered((pad + "%04d").c_str(), 159);
    EXPECT_EQ(full, Scan("long.exe", BuildPeFile(Pe(Numbered((pad + "%04d.dll").c_str(), 200)))).names);
    // A last name of 62 characters just fits the name buffer, but not the caller's list of the same
    // size, which needs one more NUL.
    Names imports = Numbered((pad + "%04d.dll").c_str(), 159);
    imports.push_back(std::string(62, 'z') + ".dll");
    EXPECT_EQ(full, Scan("fill.exe", BuildPeFile(Pe(imports))).names);
    DWORD kind = 0;
    EXPECT_EQ(160u, ListStrings(ReadModuleReferences("C:\\fill.exe", &kind)).size());
    // 256 bytes a name: 39 fit.
    const std::string pad16(251, 'q');
    EXPECT_EQ(Numbered((pad16 + "%04d").c_str(), 39),
              Scan("long16.exe", BuildNeFile(Ne(Numbered((pad16 + "%04d").c_str(), 60)))).names);
    // The caller's list keeps room for the two closing NULs.
    const std::string three = BuildPeFile(Pe({"alpha.dll", "beta.dll", "gamma.dll"}));
    EXPECT_EQ(Names({"alpha", "beta"}), Scan("small.exe", three, 13).names);
    EXPECT_EQ(Names({"alpha"}), Scan("small.exe", three, 12).names);
    EXPECT_EQ(Names{}, Scan("small.exe", three, 2).names);
}

TEST_F(ImportScannerTest, DamagedNamesStayInBounds) {
    // A PE name without a NUL in its first 100 bytes is cut at 99 characters.
    const ScanResult pe = Scan("names.exe", BuildPeFile(Pe({std::string(150, 'a') + ".dll",
                                                            std::string(95, 'b') + ".dll", "c.dll"})));
    EXPECT_EQ(Names({std::string(99, 'a'), std::string(95, 'b'), "c"}), pe.names);

    // An NE name cut off by the end of the file keeps what was read.
    std::string cut = BuildNeFile(Ne({"KERNEL", "SHORT"}));
    cut[cut.size() - 6] = (char)200;
    EXPECT_EQ(Names({"kernel", "short"}), Scan("cut.exe", cut).names);

    // A module count far beyond the table: entries past the read are ignored, the rest of the
    // file is taken as offsets of (garbage) names, and the list stays closed.
    std::string count = BuildNeFile(Ne({"KERNEL", "USER"}));
    PutLe16(count, 0x80 + kNeModuleCountField, 0xFFFF);
    const ScanResult many = Scan("count.exe", count);
    EXPECT_EQ(1u, many.result);
    ASSERT_GE(many.names.size(), 2u);
    EXPECT_EQ(Names({"kernel", "user"}), Names(many.names.begin(), many.names.begin() + 2));

    // An import directory address pointing before the file's start maps to a negative offset.
    std::string negative = BuildPeFile(Pe({"a.dll"}));
    PutLe32(negative, 0x80 + 0xF8 + 40 + 20, 0x7FFFFFF0);  // .idata PointerToRawData
    EXPECT_EQ(Names{}, Scan("negative.exe", negative).names);
}

TEST_F(ImportScannerTest, SystemModulesAreLeftOut) {
    EXPECT_EQ(0, IsSystemModule("kernel32", EXE_KIND_PE)) << "no settings file";
    ASSERT_TRUE(machine_.WriteSettings("[SystemFiles]\r\nKERNEL32\r\nuser\r\ngdi.exe\r\n\r\n"));
    const struct {
        const char *name;
        DWORD kind;
        BOOL system;
    } cases[] = {
        {"kernel32", EXE_KIND_PE, 1},          {"KERNEL32.DLL", EXE_KIND_PE, 1},
        {"gdi.exe", EXE_KIND_PE, 1},           {"gdi.exe", EXE_KIND_NE, 0},
        {"user.exe", EXE_KIND_NE, 1},          {"user.drv", EXE_KIND_PE, 0},
        {"C:\\WINDOWS\\user.dll", 2, 1},       {"C:\\windows\\system32\\USER.DLL", 2, 1},
        {"C:\\WINDOWS\\SYSTEM\\user.exe", 1, 1}, {"C:\\OTHER\\user.dll", 2, 0},
    };
    for (const auto &c : cases) EXPECT_EQ(c.system, IsSystemModule(c.name, c.kind)) << c.name;
    HostMachine_SetVersion(0xC3B60004);  // Windows 95 has no Windows\System of 16-bit modules
    ResetDriveClassState();
    EXPECT_EQ(0, IsSystemModule("C:\\WINDOWS\\SYSTEM\\user.exe", EXE_KIND_NE));

    // Extensions are gone from PE names before the test, so "gdi.exe" there never matches.
    EXPECT_EQ(Names({"gdi", "shell32"}),
              Scan("app.exe", BuildPeFile(Pe({"KERNEL32.DLL", "USER.dll", "gdi.exe", "shell32.dll"}))).names);
    EXPECT_EQ(Names({"gdi"}), Scan("app16.exe", BuildNeFile(Ne({"KERNEL32", "USER", "GDI"}))).names);
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

// The DLLs the MinGW cross compiler installs are console-subsystem PE32 files: refused as they
// are, and read like objdump reads them once marked as GUI.
TEST_F(ImportScannerTest, MinGwDllsMatchObjdump) {
    const std::string objdump = MINGW_OBJDUMP;
    if (objdump.empty() || objdump.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "no MinGW objdump";
    std::vector<std::filesystem::path> dlls;
    std::error_code ignored;
    for (const char *dir : {"/usr/i686-w64-mingw32/lib", "/usr/lib/gcc/i686-w64-mingw32"})
        for (auto it = std::filesystem::recursive_directory_iterator(dir, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
            if (it->path().extension() == ".dll") dlls.push_back(it->path());
    std::sort(dlls.begin(), dlls.end());
    if (dlls.size() > 6) dlls.resize(6);
    if (dlls.empty()) GTEST_SKIP() << "no MinGW DLLs";

    const std::regex dllName("DLL Name: (.*)");
    for (const auto &dll : dlls) {
        std::ifstream in(dll, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(bytes.size(), 0x40u) << dll;
        const std::string file = dll.filename().string();
        if (Scan(file, bytes).result != 0) ADD_FAILURE() << file << ": console DLL scanned";

        Names expected;
        const std::string dump = RunCommand(objdump + " -p '" + dll.string() + "'");
        const std::string own = dll.stem().string();
        for (std::sregex_iterator m(dump.begin(), dump.end(), dllName), e; m != e; ++m) {
            std::string name = (*m)[1];
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return (char)tolower(c); });
            name = name.substr(0, name.rfind('.'));
            if (strcasecmp(name.c_str(), own.c_str()) != 0) expected.push_back(name);
        }
        ASSERT_FALSE(expected.empty()) << file;
        const uint32_t pe = (uint8_t)bytes[0x3C] | (uint8_t)bytes[0x3D] << 8;
        PutLe16(bytes, pe + 0x5C, 2);
        const ScanResult scan = Scan(file, bytes);
        EXPECT_EQ(DWORD{EXE_KIND_PE}, scan.kind) << file;
        EXPECT_EQ(expected, scan.names) << file;
    }
}

}  // namespace
