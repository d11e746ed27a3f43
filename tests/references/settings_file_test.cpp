// The settings data file: sections read from the file's bytes, the never-scanned and system-files
// lists built from them, and the list sort with its exported comparers.
#include <gtest/gtest.h>

#include "common/settings_machine.h"
#include "exports/dll_main.h"
#include "host_machine.h"
#include "references/settings_file.h"
#include "references/never_scanned_list.h"
#include "references/settings_lists.h"
#include "references/string_list_sort.h"
#include "support/limits.h"
#include "support/path_utils.h"

#include <cstring>

using namespace std::string_literals;
using Strings = std::vector<std::string>;

namespace {

class SettingsFile : public ::testing::Test {
protected:
    // The section `name` of a file holding `bytes`, as its strings; none when not found.
    Strings Section(const std::string &bytes, const char *name) {
        EXPECT_TRUE(machine_.WriteSettings(bytes));
        LPSTR list = nullptr;
        const BOOL found = ReadSettingsSection(name, &list);
        EXPECT_EQ(found != 0, list != nullptr);
        Strings strings = ListStrings(list);
        FreeLockedBuffer(list);
        return strings;
    }
    void TearDown() override { FreeNeverScannedList(), FreeSystemFilesList(); }
    SettingsMachine machine_;
};

TEST_F(SettingsFile, LinesGroupsAndComments) {
    const struct {
        std::string bytes, name;
        Strings expected;
    } cases[] = {
        // Every kind of line end; a pair counts once, a NUL never pairs, empty lines give nothing.
        {"[A]\r\nx\ny\rz\n\rw\r\n\r\nv\0\nu\n"s, "A", {"[A]", "x", "y", "z", "w", "v", "u"}},
        // The final byte is never examined.
        {"[A]\nabc", "A", {"[A]", "ab"}},
        // Leading blanks go, trailing blanks and later semicolons stay; comments give nothing.
        {"[A]\n \t x  \n; note\n  ;indented\na;b\n", "A", {"[A]", "x  ", "a;b"}},
        // An indented header is an entry of the group before it.
        {"[A]\nx\n [B]\ny\n", "A", {"[A]", "x", "[B]", "y"}},
        {"[A]\nx\n [B]\ny\n", "B", {}},
        // The first of two groups of one name; names ignore case and end at ']' or the line end.
        {"[a]\n1\n[A]\n2\n", "A", {"[a]", "1"}},
        {"[A] ; old\nx\n", "A", {"[A] ; old", "x"}},
        // The text before the first '[' line is a group of its own, named by its first line.
        {"x[A]\ny\n[B]\nz\n", "A", {"x[A]", "y"}},
        // OEM text comes out in the ANSI code page.
        {"[A]\nm\x81ller\n", "A", {"[A]", "m\xFCller"}},
        {"", "A", {}},
        {"[" + std::string(PATH_BUFFER_SIZE, 'N') + "]\nx\n", std::string(PATH_BUFFER_SIZE - 1, 'N'), {}},
    };
    for (const auto &c : cases) EXPECT_EQ(Section(c.bytes, c.name.c_str()), c.expected) << c.bytes;
    LPSTR list = nullptr;  // no file
    HostMachine_SetModuleFileName("C:\\HOST.EXE");
    EXPECT_FALSE(ReadSettingsSection("A", &list));
    EXPECT_EQ(list, nullptr);
}

// A group longer than the list block is cut with its strings closed, and the groups after it are
// still found. The rest of the long group is never taken for a group, even when the cut falls at a
// line start and the next line would pass for a header.
TEST_F(SettingsFile, ListBlockLimit) {
    const struct {
        const char *header, *name;
        size_t cbList;
    } cases[] = {
        {"[Long]", "Long", SETTINGS_LIST_BUFFER_SIZE},        // cut inside an entry, which is closed
        {"[Long1]", "Long1", SETTINGS_LIST_BUFFER_SIZE - 1},  // cut right after a whole entry
    };
    for (const auto &c : cases) {
        std::string bytes = c.header + "\n"s;
        while (bytes.size() < SETTINGS_LIST_BUFFER_SIZE + 2000) bytes += " [Fake]  entry-0123456789\n";
        bytes += "[B]\nb\n";
        size_t cbList = 1;
        for (const auto &s : Section(bytes, c.name)) cbList += s.size() + 1;
        EXPECT_EQ(cbList, c.cbList) << c.header;
        EXPECT_EQ(Section(bytes, "B"), (Strings{"[B]", "b"}));
        EXPECT_EQ(Section(bytes, "Fake"), Strings{});
    }
}

// The last group of a full chunk is read again at the start of the next one.
TEST_F(SettingsFile, Chunks) {
    const size_t cbChunk = SETTINGS_CHUNK_BUFFER_SIZE - 3;
    // A group whose header line the chunk cuts is read whole from the next chunk.
    std::string prefix = "[X]\n" + std::string(cbChunk - 5 - 5, ';') + "\n";
    EXPECT_EQ(Section(prefix + "[Wanted]\nabc\ndef\n", "Wanted"), (Strings{"[Wanted]", "abc", "def"}));
    // A wanted group that the chunk's end cuts comes back as far as the chunk holds.
    prefix = "[X]\n" + std::string(cbChunk - 8 - 5, ';') + "\n";
    EXPECT_EQ(Section(prefix + "[W]\nabcdefghij\n", "W"), (Strings{"[W]", "abc"}));
    // One group filling the whole chunk ends the reading.
    EXPECT_EQ(Section("[Big]\n" + std::string(cbChunk, 'x') + "\n[W]\nw\n", "W"), Strings{});
}

TEST_F(SettingsFile, NeverScannedList) {
    // Loading is the library's attach; no file, no list: everything is scanned.
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    for (const char *path : {"C:\\A\\NOEXT", "C:\\A\\X.TXT"}) EXPECT_FALSE(IsNeverScannedFile(path)) << path;
    ASSERT_TRUE(machine_.WriteSettings("[Other]\ntxt\n[NonNEPEFiles]\r\nbak\r\nDOC\r\nexe\r\ntxt\r\nzip \r\n"));
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    for (const char *path :
         {"C:\\A\\Report.TXT", "C:\\A\\b.Doc", "C:\\A\\c.bak", "C:\\A\\NOEXT", "C:\\A\\DOT.", "C:\\A.TXT\\NOEXT"})
        EXPECT_TRUE(IsNeverScannedFile(path)) << path;
    for (const char *path : {"C:\\A\\P.EXE", "C:\\A\\L.Dll", "C:\\A\\X.BMP", "C:\\A\\X.ZIP"})
        EXPECT_FALSE(IsNeverScannedFile(path)) << path;
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
    EXPECT_FALSE(IsNeverScannedFile("C:\\A\\NOEXT"));
}

TEST_F(SettingsFile, SystemFilesList) {
    ASSERT_TRUE(machine_.WriteSettings("[Other]\nx\n"));
    EXPECT_FALSE(LoadSystemFilesList());
    EXPECT_FALSE(IsSystemFilesListLoaded());
    EXPECT_FALSE(IsInSystemFilesList("user"));
    // A missing section is looked for again at the next need; the list then comes sorted and lower case.
    ASSERT_TRUE(machine_.WriteSettings("[SystemFiles]\nUSER\nkernel\nGdi\nmmsystem.drv\nComm.DRV\n"));
    ASSERT_TRUE(LoadSystemFilesList());
    EXPECT_EQ(GetSystemFilesCount(), 6);
    for (const char *key : {"user", "gdi", "comm.drv", "[systemfiles]"}) EXPECT_TRUE(IsInSystemFilesList(key)) << key;
    for (const char *key : {"USER", "kernel32", "mmsystem"}) EXPECT_FALSE(IsInSystemFilesList(key)) << key;
    FreeSystemFilesList();
    EXPECT_FALSE(IsSystemFilesListLoaded());
    EXPECT_FALSE(IsInSystemFilesList("user"));
}

// Lists sorted in global memory, as the loader's lists lie.
LPSTR GlobalCopy(const std::string &bytes) {
    DWORD cb = (DWORD)bytes.size() + 1;
    auto *copy = (LPSTR)AllocLockedBuffer(&cb, 0);
    std::memcpy(copy, bytes.data(), bytes.size());
    return copy;
}

TEST(ListSort, SortStringListAndComparers) {
    const struct {
        std::string list;
        DWORD cbGap;
        std::string sorted;
    } cases[] = {
        {"pear\0Apple\0banana\0apple2\0\0"s, 0, "Apple\0apple2\0banana\0pear\0\0"s},
        {"b\0\1\2A\0\3\4c\0\5\6\0"s, 2, "A\0\3\4b\0\1\2c\0\5\6\0"s},  // each name followed by two bytes
    };
    for (const auto &c : cases) {
        LPSTR list = GlobalCopy(c.list);
        SortStringList(list, c.cbGap);
        EXPECT_EQ(std::string(list, c.sorted.size()), c.sorted);
        FreeLockedBuffer(list);
    }
    SortStringList(nullptr, 0);
    LPSTR list = GlobalCopy("abc\0ABC\0ABD\0"s);
    const DWORD base = (DWORD)(uintptr_t)list;
    DWORD lower = 0, upper = 4, other = 8, null = 0 - base;
    EXPECT_EQ(CompareListEntries(&lower, &upper, base), 0);
    EXPECT_LT(CompareListEntries(&lower, &other, base), 0);
    EXPECT_GT(CompareListEntriesHuge(&other, &upper, base), 0);
    EXPECT_EQ(CompareListEntries(&lower, &null, base), -2);
    FreeLockedBuffer(list);
}

}  // namespace
