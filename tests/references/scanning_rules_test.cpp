// The scanning rules of the settings' "Scanning" section: how the switches are read, and what each
// kind of executable gives under the classic rules and with every rule on.
#include "common/exe_builder.h"
#include "common/settings_machine.h"
#include "host_machine.h"
#include "references/import_scanner.h"
#include "references/scanning_rules.h"
#include "references/settings_lists.h"
#include "store/module_state.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

constexpr char kClassicSettings[] = "[SystemFiles]\r\nkernel32\r\n\r\n";
constexpr char kModernSettings[] =
    "[SystemFiles]\r\nkernel32\r\n[Scanning]\r\nPe32Plus=1\r\nImportsInAnySection=1\r\n"
    "DelayLoadImports=1\r\nSubsystems=3,5,7\r\n\r\n";

class ScanningRulesTest : public ::testing::Test {
protected:
    void TearDown() override { FreeScanBuffers(), FreeSystemFilesList(), ResetScanningRules(); }
    // Kind and names of `bytes` scanned as C:\<name> under the rules now loaded; kind 0 when refused.
    std::pair<DWORD, Names> Scan(const std::string &name, const std::string &bytes) {
        machine_.Tree().AddFile(name, bytes);
        char list[SCAN_NAME_BUFFER_SIZE];
        DWORD kind = 0;
        if (!GetFileReferences(("C:\\" + name).c_str(), &kind, list, sizeof list)) return {0, {}};
        return {kind, ListStrings(list)};
    }
    SettingsMachine machine_;
};

TEST_F(ScanningRulesTest, SwitchesFromTheSettingsFile) {
    const struct {
        const char *settings;
        ScanRules rules;
    } cases[] = {
        {"[NonNEPEFiles]\r\ntxt\r\n\r\n", {0, 0, 0, 0}},
        {kModernSettings, {1, 1, 1, 0xA8}},
        // Names ignore case, blanks around them and their values go; unknown names, lines without
        // '=' and values that are not "on" leave a rule off.
        {"[scanning]\r\n  pe32plus = Yes \r\nDELAYLOADIMPORTS=off\r\nFuture=1\r\nImportsInAnySection\r\n"
         "Subsystems=3, 99,x7\r\n\r\n",
         {1, 0, 0, 0x88}},
        {"[Scanning]\r\n;Pe32Plus=1\r\nImportsInAnySection=TRUE\r\nSubsystems=\r\n\r\n", {0, 1, 0, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.settings);
        ASSERT_TRUE(machine_.WriteSettings(c.settings));
        gScanRules = {1, 1, 1, 1};
        LoadScanningRules();
        EXPECT_EQ(c.rules.fPe32Plus, gScanRules.fPe32Plus);
        EXPECT_EQ(c.rules.fImportsAnySection, gScanRules.fImportsAnySection);
        EXPECT_EQ(c.rules.fDelayLoadImports, gScanRules.fDelayLoadImports);
        EXPECT_EQ(c.rules.dwSubsystems, gScanRules.dwSubsystems);
    }
}

// Each file under the classic rules and with every rule on: {kind, names}, kind 0 when refused.
TEST_F(ScanningRulesTest, ClassicAndModernResults) {
    const Names helper = {"helper.dll"};
    const std::vector<std::string> idata = {".text", ".idata"}, rdata = {".text", ".rdata"};
    const std::string pe32Rdata = BuildPeFile({.sections = rdata, .imports = helper});
    std::string outside = pe32Rdata;  // the directory's address lies beyond every section
    PutLe32(outside, 0x80 + PeDataDirectoryField(false, 1), 0x9000);
    std::string nameOutside = BuildPeFile({.pe32Plus = true, .sections = rdata, .imports = {"a.dll", "b.dll"}});
    PutLe32(nameOutside, 0x400 + 20 + 12, 0x9000);  // the second descriptor's name address
    std::string pastEnd = BuildPeFile({.pe32Plus = true, .sections = rdata, .imports = helper});
    PutLe32(pastEnd, 0x80 + PeSectionTableField(true) + 40 + 20, 0x100000);  // .rdata PointerToRawData
    const std::string cut = BuildPeFile({.sections = idata, .imports = helper}).substr(0, 0x80 + 0xF8 + 60);
    const std::string delay32 = BuildPeFile({.sections = {".text", ".idata", ".rdata"},
                                             .delayImportSection = 2,
                                             .delayImports = {"helper.dll", "b.DLL"},
                                             .imports = {"KERNEL32.dll", "a.dll"}});
    const std::string delay64 = BuildPeFile({.subsystem = 3,
                                             .pe32Plus = true,
                                             .sections = {".text", ".rdata", ".didat"},
                                             .delayImportSection = 2,
                                             .delayImports = {"helper.dll"},
                                             .imports = {"a.dll"}});
    std::string delayPastEnd = delay32;
    PutLe32(delayPastEnd, 0x80 + 0xF8 + 80 + 20, 0x100000);  // .rdata PointerToRawData
    const struct {
        const char *file;
        std::string bytes;
        std::pair<DWORD, Names> classic, modern;
    } cases[] = {
        {"idata32.exe", BuildPeFile({.sections = idata, .imports = helper}), {2, {"helper"}}, {2, {"helper"}}},
        {"rdata32.exe", pe32Rdata, {2, {}}, {2, {"helper"}}},
        {"idata64.dll",
         BuildPeFile({.pe32Plus = true, .sections = idata, .imports = helper}),
         {2, {}},
         {2, {"helper"}}},
        {"rdata64.dll",
         BuildPeFile({.pe32Plus = true, .sections = rdata, .imports = helper}),
         {2, {}},
         {2, {"helper"}}},
        {"console32.exe", BuildPeFile({.subsystem = 3, .imports = helper}), {0, {}}, {2, {"helper"}}},
        {"posix64.exe",
         BuildPeFile({.subsystem = 7, .pe32Plus = true, .sections = rdata, .imports = helper}),
         {0, {}},
         {2, {"helper"}}},
        {"native.sys", BuildPeFile({.subsystem = 1, .sections = rdata, .imports = helper}), {2, {}}, {2, {"helper"}}},
        {"delay32.exe", delay32, {2, {"a"}}, {2, {"a", "helper", "b"}}},
        {"delay64.exe", delay64, {0, {}}, {2, {"a", "helper"}}},
        {"delaygone.exe", delayPastEnd, {2, {"a"}}, {2, {"a"}}},
        {"outside.exe", outside, {2, {}}, {2, {}}},
        {"nameout.dll", nameOutside, {2, {}}, {2, {"a"}}},
        {"cut.exe", cut, {2, {}}, {2, {}}},
        {"pastend.dll", pastEnd, {2, {}}, {2, {}}},
    };
    for (const bool modern : {false, true}) {
        ASSERT_TRUE(machine_.WriteSettings(modern ? kModernSettings : kClassicSettings));
        LoadScanningRules();
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.file) + (modern ? " modern" : " classic"));
            EXPECT_EQ(modern ? c.modern : c.classic, Scan(c.file, c.bytes));
        }
    }
}

// The rules are independent: PE32+ alone reads a 64-bit file's ".idata" but not its ".rdata".
TEST_F(ScanningRulesTest, EachSwitchAlone) {
    ASSERT_TRUE(machine_.WriteSettings("[Scanning]\r\nPe32Plus=1\r\n\r\n"));
    LoadScanningRules();
    const Names helper = {"helper.dll"};
    EXPECT_EQ(Names{"helper"}, Scan("a.dll", BuildPeFile({.pe32Plus = true, .imports = helper})).second);
    EXPECT_EQ(
        Names{},
        Scan("b.dll", BuildPeFile({.pe32Plus = true, .sections = {".text", ".rdata"}, .imports = helper})).second);
    EXPECT_EQ(0u, Scan("c.exe", BuildPeFile({.subsystem = 3, .pe32Plus = true, .imports = helper})).first);
    ASSERT_TRUE(machine_.WriteSettings("[Scanning]\r\nDelayLoadImports=1\r\n\r\n"));
    LoadScanningRules();
    const std::string delay = BuildPeFile({.sections = {".text", ".idata", ".rdata"},
                                           .delayImportSection = 2,
                                           .delayImports = helper,
                                           .imports = {"a.dll"}});
    EXPECT_EQ(Names({"a", "helper"}), Scan("d.exe", delay).second);
}

}  // namespace
