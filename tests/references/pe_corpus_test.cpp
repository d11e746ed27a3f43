// The import scanner over real 32- and 64-bit DLLs and programs that MinGW-w64 builds here, console
// and GUI, with and without delay-load imports: the names it reads are those the toolchain's own
// objdump lists (plus the delay-loaded helper, which objdump does not list), under the classic
// rules only those of 32-bit programs that are not console programs.
#include "common/mingw_programs.h"
#include "common/settings_machine.h"
#include "host_machine.h"
#include "references/import_scanner.h"
#include "references/scanning_rules.h"
#include "references/settings_lists.h"
#include "support/path_utils.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

class PeCorpus : public ::testing::TestWithParam<const char *> {
protected:
    void TearDown() override { FreeScanBuffers(), FreeSystemFilesList(), ResetScanningRules(); }
};

// The names as the scanner hands them on: lower case, without extension.
Names ScannerForm(const Names &dlls) {
    Names names;
    for (std::string name : dlls) {
        RemoveFileExtension(name.data());
        name.resize(strlen(name.c_str()));
        CharLowerBuffA(name.data(), static_cast<DWORD>(name.size()));
        names.push_back(name);
    }
    return names;
}

TEST_P(PeCorpus, NamesAsObjdumpReadsThem) {
    const std::string prefix = MingwToolPrefix(GetParam());
    if (prefix.empty())
        GTEST_SKIP() << GetParam() << "-gcc, -dlltool, -nm or -objdump is not installed (Debian: gcc-mingw-w64 and "
                     << "binutils-mingw-w64 packages; CI installs them)";
    const bool is64 = std::string(GetParam()).rfind("x86_64", 0) == 0;
    SettingsMachine machine;
    ASSERT_TRUE(machine.Tree().AddDir("bin"));
    std::string error;
    const std::vector<MingwProgram> programs = BuildMingwPrograms(prefix, machine.Tree().Path("bin"), error);
    ASSERT_FALSE(programs.empty()) << error;

    for (const bool modern : {false, true}) {
        ASSERT_TRUE(machine.WriteSettings(modern ? "[Scanning]\r\nPe32Plus=1\r\nImportsInAnySection=1\r\n"
                                                   "DelayLoadImports=1\r\nSubsystems=3\r\n\r\n"
                                                 : ""));
        LoadScanningRules();
        for (const MingwProgram &program : programs) {
            SCOPED_TRACE(program.file + (modern ? " modern" : " classic"));
            ASSERT_FALSE(program.dlls.empty()) << "objdump lists no imports";
            Names expected = ScannerForm(program.dlls);
            if (modern && program.delayLoad) expected.push_back("helper");
            if (!modern && is64) expected.clear();  // the classic rules misread a PE32+ header
            DWORD kind = 0;
            LPCSTR names = ReadModuleReferences(("C:\\bin\\" + program.file).c_str(), &kind);
            if (!modern && program.console) {
                EXPECT_EQ(nullptr, names);
                continue;
            }
            EXPECT_EQ(static_cast<DWORD>(EXE_KIND_PE), kind);
            EXPECT_EQ(expected, ListStrings(names));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Mingw, PeCorpus, ::testing::Values("i686-w64-mingw32", "x86_64-w64-mingw32"));

}  // namespace
