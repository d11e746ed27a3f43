// The settings data file drivemap ships (data/PURGWELL.DAT), read through the library's own
// reader: every never-scanned extension is found by the lookup (which it is only when the section
// is sorted as the lookup expects), and the system modules are recognised in the form import
// tables give them.
#include <gtest/gtest.h>

#include "common/settings_machine.h"
#include "pwdvmp32.h"
#include "references/import_scanner.h"
#include "references/settings_file.h"
#include "references/never_scanned_list.h"
#include "references/settings_lists.h"
#include "support/path_utils.h"

#include <fstream>
#include <iterator>

namespace {

class DefaultSettings : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream in(PWDVMP32_SOURCE_DIR "/data/PURGWELL.DAT", std::ios::binary);
        ASSERT_TRUE(machine_.WriteSettings(std::string(std::istreambuf_iterator<char>(in), {})));
    }
    void TearDown() override {
        FreeNeverScannedList();
        FreeSystemFilesList();
    }
    // The entries of section `name`, its header line left out.
    std::vector<std::string> Entries(const char *name) {
        LPSTR list = nullptr;
        EXPECT_TRUE(ReadSettingsSection(name, &list)) << name;
        std::vector<std::string> entries = ListStrings(list);
        FreeLockedBuffer(list);
        if (!entries.empty()) entries.erase(entries.begin());
        return entries;
    }

    SettingsMachine machine_;
};

TEST_F(DefaultSettings, NeverScannedExtensionsSortedAndFound) {
    const auto extensions = Entries("NonNEPEFiles");
    ASSERT_GE(extensions.size(), 50u);
    LoadNeverScannedList();
    for (size_t i = 0; i < extensions.size(); ++i) {
        const std::string &e = extensions[i];
        EXPECT_EQ(e.find_first_of(". \t"), std::string::npos) << "'" << e << "'";
        if (i > 0) {
            EXPECT_LT(CompareText(extensions[i - 1].c_str(), e.c_str()), 0) << extensions[i - 1] << " before " << e;
        }
        EXPECT_TRUE(IsNeverScannedFile(("C:\\Data\\FILE." + e).c_str())) << e;
    }
    // Extensions that NE or PE files carry, and those of files that may hold one, are never on it.
    for (const char *executable : {"exe", "dll", "com", "drv", "sys", "ocx", "cpl", "scr", "fon", "fot", "vxd", "386",
                                   "acm", "ax", "mui", "tlb", "tmp", "bak"})
        EXPECT_FALSE(IsNeverScannedFile((std::string("C:\\Data\\FILE.") + executable).c_str())) << executable;
}

// Every entry is a base name, recognised as the scanner hands names on: PE names without their
// extension in any case, NE names as stored.
TEST_F(DefaultSettings, SystemModulesInTheFormImportsGiveThem) {
    const auto modules = Entries("SystemFiles");
    ASSERT_GE(modules.size(), 20u);
    for (const auto &m : modules) {
        EXPECT_EQ(m.find_first_of(". \t"), std::string::npos) << m;
        EXPECT_TRUE(IsSystemModule(m.c_str(), EXE_KIND_PE)) << m;
    }
    for (const char *pe : {"kernel32", "USER32", "gdi32", "advapi32", "ntdll", "winspool", "msvcrt"})
        EXPECT_TRUE(IsSystemModule(pe, EXE_KIND_PE)) << pe;
    for (const char *ne : {"kernel", "user", "gdi", "mmsystem", "commdlg"})
        EXPECT_TRUE(IsSystemModule(ne, EXE_KIND_NE)) << ne;
    for (const char *other : {"helper", "mfc42", "vbrun300"}) EXPECT_FALSE(IsSystemModule(other, EXE_KIND_PE)) << other;
}

}  // namespace
