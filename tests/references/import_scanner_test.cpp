// The import scanner over built NE and PE files and their boundary cases.
#include "common/exe_builder.h"
#include "common/settings_machine.h"
#include "host_machine.h"
#include "references/import_scanner.h"
#include "references/never_scanned_list.h"
#include "references/settings_lists.h"
#include "scan/drive_class.h"
#include "store/module_state.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Names = std::vector<std::string>;

struct ScanResult {
    DWORD result, kind;
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
        FreeScanBuffers(), FreeSystemFilesList(), ResetDriveClassState();
        gWindowsDirectory[0] = gSystemDirectory[0] = '\0';
        EXPECT_EQ(baseline_, HostMachine_GlobalBlockCount()) << "global memory leaked";
    }
    // Scans `bytes` as C:\<name> into a list of cbList bytes followed by guard bytes. Checks that
    // nothing is written on failure, and on success that the list is closed by two NULs within
    // cbList and that the guard survives.
    ScanResult Scan(const std::string &name, const std::string &bytes, DWORD cbList = SCAN_NAME_BUFFER_SIZE) {
        if (!bytes.empty()) machine_.Tree().AddFile(name, bytes);
        std::string list(cbList + 16, 'x');
        ScanResult scan{0, 0xBAD, {}};
        scan.result = GetFileReferences(("C:\\" + name).c_str(), &scan.kind, list.data(), cbList);
        EXPECT_EQ(list.substr(cbList), std::string(16, 'x'));
        if (scan.result == 0) {
            EXPECT_EQ(scan.kind, 0xBADu);
            EXPECT_EQ(list, std::string(list.size(), 'x'));
            return scan;
        }
        EXPECT_LT(list.find(std::string(2, '\0')), cbList - 1) << name << ": list not closed";
        scan.names = ListStrings(list.c_str());
        return scan;
    }
    SettingsMachine machine_;
    unsigned long baseline_ = 0;
};

std::string Patched(std::string bytes, size_t at, const std::string &with) {
    return bytes.replace(at, with.size(), with);
}

// Kind 0: the file is refused, nothing written.
TEST_F(ImportScannerTest, WhichFilesAreScannedAndTheNamesTheyGive) {
    const std::string noIdata = BuildPeFile({.sections = {".text", ".rdata"}, .imports = {"a.dll"}});
    std::string countPastTable = noIdata;
    PutLe16(countPastTable, 0x80 + kPeSectionCountField, 0xFFFF);
    const struct {
        const char *file;
        std::string bytes;
        DWORD kind;
        Names names;
    } cases[] = {
        {"app.exe",
         BuildPeFile({.imports = {"KERNEL32.DLL", "Foo.Dll", "foo.dll", "my.lib.dll", "MSVCRT"}}),
         EXE_KIND_PE,
         {"kernel32", "foo", "foo", "my.lib", "msvcrt"}},
        {"foo.dll", BuildPeFile({.imports = {"FOO.DLL", "bar.dll"}}), EXE_KIND_PE, {"bar"}},
        {"none.exe", BuildPeFile({}), EXE_KIND_PE, {}},
        {"gaps.exe", BuildPeFile({.imports = {"a.dll", "", "b.dll"}}), EXE_KIND_PE, {"a"}},
        // 0x8E is A-umlaut in the OEM code page, 0xC4 in ANSI, lower-cased to 0xE4.
        {"win16.exe",
         BuildNeFile({.modules = {"KERNEL", "USER", "\x8EGYPT"}}),
         EXE_KIND_NE,
         {"kernel", "user", "\xE4gypt"}},
        {"LIB16.DLL", BuildNeFile({.appType = 0, .modules = {"lib16", "GDI"}}), EXE_KIND_NE, {"gdi"}},
        {"gaps16.exe", BuildNeFile({.modules = {"A", "", "B"}}), EXE_KIND_NE, {"a"}},
        // Imports outside ".idata" (matched ignoring case) give an empty list.
        {"noidata.exe", noIdata, EXE_KIND_PE, {}},
        {"intext.exe", BuildPeFile({.importSection = 0, .imports = {"a.dll"}}), EXE_KIND_PE, {}},
        {"nodir.exe", BuildPeFile({.importSection = 9, .imports = {"a.dll"}}), EXE_KIND_PE, {}},
        {"sections.exe", countPastTable, EXE_KIND_PE, {}},
        {"upper.exe", BuildPeFile({.sections = {".text", ".IDATA"}, .imports = {"a.dll"}}), EXE_KIND_PE, {"a"}},
        // A new header near the end of the first 20,480-byte read: a PE signature is tested there
        // and read again from the header; NE fields must end within it.
        {"far1.exe", BuildPeFile({.newHeader = 20464, .imports = {"K32.DLL"}}), EXE_KIND_PE, {"k32"}},
        {"far2.exe", BuildPeFile({.newHeader = 20465, .imports = {"K32.DLL"}}), EXE_KIND_PE, {"k32"}},
        {"far3.exe", BuildNeFile({.newHeader = 20436, .modules = {"KERNEL"}}), EXE_KIND_NE, {"kernel"}},
        {"far4.exe", BuildNeFile({.newHeader = 20464, .modules = {"KERNEL"}}), 0, {}},
        {"far5.exe", BuildNeFile({.newHeader = 20465, .modules = {"KERNEL"}}), EXE_KIND_NE, {"kernel"}},
        {"missing.exe", "", 0, {}},
        {"short.exe", std::string("MZ", 2) + std::string(0x20, '\0'), 0, {}},
        {"notmz.exe", Patched(BuildPeFile({.imports = {"a.dll"}}), 0, "X"), 0, {}},
        {"lowreloc.exe", BuildPeFile({.relocationTable = 0x3F, .imports = {"a.dll"}}), 0, {}},
        {"le.exe", Patched(BuildPeFile({}), 0x80, "LE"), 0, {}},
        {"beyond.exe", BuildPeFile({}).substr(0, 0x80), 0, {}},
        {"cui.exe", BuildPeFile({.subsystem = 3, .imports = {"a.dll"}}), 0, {}},
        {"os2.exe", BuildPeFile({.subsystem = 5, .imports = {"a.dll"}}), 0, {}},
        {"posix.exe", BuildPeFile({.subsystem = 7, .imports = {"a.dll"}}), 0, {}},
        {"full.exe", BuildNeFile({.appType = 1, .modules = {"KERNEL"}}), 0, {}},
        {"compat.exe", BuildNeFile({.appType = 2, .modules = {"KERNEL"}}), 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const ScanResult scan = Scan(c.file, c.bytes);
        EXPECT_EQ(c.kind != 0, scan.result);
        EXPECT_EQ(c.kind != 0 ? c.kind : 0xBAD, scan.kind);
        EXPECT_EQ(c.names, scan.names);
    }
    EXPECT_EQ(0u, Scan("tiny.exe", BuildPeFile({.imports = {"a.dll"}}), /*cbList=*/1).result);
}

Names Numbered(const std::string &format, int count) {
    Names names;
    char name[300];
    for (int i = 0; i < count; i++) snprintf(name, sizeof name, format.c_str(), i), names.push_back(name);
    return names;
}

TEST_F(ImportScannerTest, OversizedTablesAreCutAtWholeNames) {
    // 1,100 descriptors: the 20,480-byte read holds 1,024 of them.
    EXPECT_EQ(Numbered("m%04d", 1024), Scan("many.exe", BuildPeFile({.imports = Numbered("m%04d.dll", 1100)})).names);
    // 64 bytes a name: 160 would fill the 10,240-byte name buffer, leaving no room to close it.
    const std::string pad(59, 'p');
    const Names full = Numbered(pad + "%04d", 159);
    EXPECT_EQ(full, Scan("long.exe", BuildPeFile({.imports = Numbered(pad + "%04d.dll", 200)})).names);
    // A last name of 62 characters just fits the name buffer, but not the caller's list of the same
    // size, which needs one more NUL.
    Names imports = Numbered(pad + "%04d.dll", 159);
    imports.push_back(std::string(62, 'z') + ".dll");
    EXPECT_EQ(full, Scan("fill.exe", BuildPeFile({.imports = imports})).names);
    DWORD kind = 0;
    EXPECT_EQ(160u, ListStrings(ReadModuleReferences("C:\\fill.exe", &kind)).size());
    // 256 bytes a name: 39 fit.
    const std::string pad16(251, 'q');
    EXPECT_EQ(Numbered(pad16 + "%04d", 39),
              Scan("long16.exe", BuildNeFile({.modules = Numbered(pad16 + "%04d", 60)})).names);
    // The caller's list keeps room for the two closing NULs.
    const std::string three = BuildPeFile({.imports = {"alpha.dll", "beta.dll", "gamma.dll"}});
    EXPECT_EQ(Names({"alpha", "beta"}), Scan("small.exe", three, 13).names);
    EXPECT_EQ(Names({"alpha"}), Scan("small.exe", three, 12).names);
}

TEST_F(ImportScannerTest, DamagedNamesStayInBounds) {
    // A PE name without a NUL in its first 100 bytes is cut at 99 characters.
    const std::string a150(150, 'a'), b95(95, 'b'),
        names = BuildPeFile({.imports = {a150 + ".dll", b95 + ".dll", "c.dll"}});
    EXPECT_EQ(Names({a150.substr(0, 99), b95, "c"}), Scan("names.exe", names).names);
    // An NE name cut off by the end of the file keeps what was read.
    std::string cut = BuildNeFile({.modules = {"KERNEL", "SHORT"}});
    cut[cut.size() - 6] = (char)200;
    EXPECT_EQ(Names({"kernel", "short"}), Scan("cut.exe", cut).names);
    // A module count far beyond the table: entries past the read are ignored, the rest of the
    // file is taken as offsets of (garbage) names, and the list stays closed.
    std::string count = BuildNeFile({.modules = {"KERNEL", "USER"}});
    PutLe16(count, 0x80 + kNeModuleCountField, 0xFFFF);
    const ScanResult many = Scan("count.exe", count);
    ASSERT_GE(many.names.size(), 2u);
    EXPECT_EQ(Names({"kernel", "user"}), Names(many.names.begin(), many.names.begin() + 2));
    // An import directory address pointing before the file's start maps to a negative offset.
    std::string negative = BuildPeFile({.imports = {"a.dll"}});
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
        {"KERNEL32.DLL", EXE_KIND_PE, 1},
        {"gdi.exe", EXE_KIND_PE, 1},
        {"gdi.exe", EXE_KIND_NE, 0},
        {"user.exe", EXE_KIND_NE, 1},
        {"user.drv", EXE_KIND_PE, 0},
        {"C:\\OTHER\\user.dll", 2, 0},
        {"C:\\windows\\system32\\USER.DLL", 2, 1},
        {"C:\\WINDOWS\\SYSTEM\\user.exe", 1, 1},
    };
    for (const auto &c : cases) EXPECT_EQ(c.system, IsSystemModule(c.name, c.kind)) << c.name;
    HostMachine_SetVersion(0xC3B60004);  // Windows 95 has no Windows\System of 16-bit modules
    ResetDriveClassState();
    EXPECT_EQ(0, IsSystemModule("C:\\WINDOWS\\SYSTEM\\user.exe", EXE_KIND_NE));
    // Extensions are gone from PE names before the test, so "gdi.exe" there never matches.
    EXPECT_EQ(Names({"gdi", "shell32"}),
              Scan("app.exe", BuildPeFile({.imports = {"KERNEL32.DLL", "USER.dll", "gdi.exe", "shell32.dll"}})).names);
    EXPECT_EQ(Names({"gdi"}), Scan("app16.exe", BuildNeFile({.modules = {"KERNEL32", "USER", "GDI"}})).names);
}

}  // namespace
