// Path and string utilities: the path table, joining and splitting, case tests, the fall-back
// allocator and the PATH directory tests.
#include <gtest/gtest.h>

#include "host_machine.h"
#include "support/path_utils.h"

#include <string.h>

#include <vector>

namespace {

struct PathRow {
    const char *input, *fileName, *baseName, *extension, *parent, *root, *withoutExtension;
};

const PathRow kPathRows[] = {
    {"C:\\A\\B.E", "B.E", "B", "E", "C:\\A", "C:\\", "C:\\A\\B"},
    {"C:\\A\\B.E.G", "B.E.G", "B.E", "G", "C:\\A", "C:\\", "C:\\A\\B.E"},
    {"C:\\A\\", "A", "", "", "C:\\A", "C:\\", "C:\\A\\"},
    {"C:\\", "", "", "", "C:\\", "C:\\", "C:\\"},
    {"C:B", "B", "B", "", "C:", "C:\\", "C:B"},
    {"\\B", "B", "B", "", "\\", "\\B\\", "\\B"},
    {"B", "B", "B", "", "", "B\\", "B"},
    {".B", ".B", ".B", "", "", ".B\\", ".B"},
    {"C:\\A\\.B", ".B", "", "B", "C:\\A", "C:\\", "C:\\A\\"},
    {"B.", "B.", "B", "", "", "B.\\", "B"},
    {"C:\\A.D\\B", "B", "B", "", "C:\\A.D", "C:\\", "C:\\A.D\\B"},
    {"", "", "", "", "", "\\", ""},
};

TEST(PathUtils, PathTable) {
    char out[PATH_BUFFER_SIZE];
    for (const PathRow &row : kPathRows) {
        SCOPED_TRACE(std::string("input \"") + row.input + "\"");
        EXPECT_STREQ(GetPathFileName(out, row.input), row.fileName);
        EXPECT_STREQ(GetFileBaseName(out, row.input), row.baseName);
        EXPECT_STREQ(GetFileExtension(out, row.input), row.extension);
        EXPECT_STREQ(GetParentDirectory(out, row.input), row.parent);
        EXPECT_STREQ(GetPathRoot(out, row.input), row.root);
        EXPECT_STREQ(RemoveLastPathComponent(strcpy(out, row.input)), row.parent);
        EXPECT_STREQ(RemoveFileExtension(strcpy(out, row.input)), row.withoutExtension);
    }
}

TEST(PathUtils, AppendPathComponent) {
    char path[PATH_BUFFER_SIZE];
    const struct {
        const char *dir, *name, *joined;
    } joins[] = {{"C:", "B", "C:\\B"},   {"C:\\", "\\B", "C:\\B"},
                 {"", "\\B", "B"},       {"C:\\A", "\\\\B\\C", "C:\\A\\\\B\\C"},
                 {"C:\\A", "", "C:\\A"}, {"C:\\A", nullptr, "C:\\A"}};
    for (const auto &j : joins) EXPECT_STREQ(AppendPathComponent(strcpy(path, j.dir), j.name), j.joined) << j.dir;
    // Too long: cut at 299 characters, the separator and the start of the name kept.
    std::string dir = "C:\\" + std::string(280, 'd');
    AppendPathComponent(strcpy(path, dir.c_str()), std::string(40, 'n').c_str());
    EXPECT_EQ(std::string(path), dir + "\\" + std::string(PATH_BUFFER_SIZE - 2 - dir.size(), 'n'));
    EXPECT_EQ(strlen(AppendPathComponent(path, "more")), PATH_BUFFER_SIZE - 1u);
    EXPECT_EQ(strlen(AppendChar(path, 'x')), PATH_BUFFER_SIZE - 1u);  // full: refused
    EXPECT_STREQ(RemoveTrailingBackslash(strcpy(path, "C:\\")), "C:");
    EXPECT_EQ(LastCharOf(""), nullptr);
}

TEST(PathUtils, WalkingComponentsAndItems) {
    char part[PATH_BUFFER_SIZE];
    std::vector<std::string> parts;
    const char *pos = "C:\\A\\B";
    do {
        pos = NextPathComponent(part, pos);
        parts.push_back(part);
    } while (part[0] != '\0');
    EXPECT_EQ(parts, (std::vector<std::string>{"C:\\", "A", "B", ""}));
    EXPECT_STREQ(NextPathComponent(part, "\\\\server\\share"), "\\server\\share");
    EXPECT_STREQ(part, "");
    // Longer than the buffer: cut at 299 characters, and the walk still moves past all of it.
    const std::string longPart(400, 'x'), longPath = "C:\\" + longPart + "\\tail";
    pos = NextPathComponent(part, NextPathComponent(part, longPath.c_str()));
    EXPECT_EQ(std::string(part), longPart.substr(0, PATH_BUFFER_SIZE - 1));
    EXPECT_STREQ(pos, "tail");
    std::string list = ";;C:\\DOS;;" + longPart + ";D:\\BIN";
    pos = NextSemicolonItem(part, list.c_str());
    EXPECT_STREQ(part, "C:\\DOS");
    EXPECT_EQ(*NextSemicolonItem(part, NextSemicolonItem(part, pos)), '\0');
    EXPECT_STREQ(part, "D:\\BIN");
    EXPECT_EQ(std::string(GetPathRoot(part, longPart.c_str())), longPart.substr(0, PATH_BUFFER_SIZE - 2) + "\\");
}

TEST(PathUtils, Predicates) {
    for (const char *path : {"C:A", "\\A"}) EXPECT_FALSE(IsFullPath(path)) << path;
    EXPECT_TRUE(IsShortFileName("C:\\LONG NAME\\A B.E"));
    for (const char *name : {"ABCDEFGHI.TXT", "A.TEXT"}) EXPECT_FALSE(IsShortFileName(name)) << name;
    EXPECT_TRUE(IsAllUpperCase("1234_~.$") && IsAllLowerCase("1234_~.$"));
    const std::string upper(3000, 'A');  // longer than the 1024-byte copy: the whole text counts
    EXPECT_FALSE(IsAllUpperCase((upper + "a").c_str()));
    EXPECT_EQ(CompareTextNoCase("a", nullptr), -2);
}

TEST(PathUtils, ProperCase) {
    const char *mixed = "C:\\WINDOWS\\Long Name Dir\\MIXED.Txt\\readme.txt";
    char path[PATH_BUFFER_SIZE];
    EXPECT_STREQ(ProperCaseShortNames(strcpy(path, mixed)), "C:\\Windows\\Long Name Dir\\MIXED.Txt\\Readme.txt");
    EXPECT_STREQ(ProperCasePath(strcpy(path, mixed)), "C:\\Windows\\Long name dir\\Mixed.txt\\Readme.txt");
    EXPECT_STREQ(ProperCasePath(strcpy(path, "c:\\a\\\\B")), "C:\\A\\\\B");  // stops at the gap
}

TEST(PathUtilsMachine, AllocLockedBufferFallsBack) {
    HostMachine_Reset();
    const unsigned long blocksBefore = HostMachine_GlobalBlockCount();
    HostMachine_LimitAllocations(5000);
    DWORD cb = 10240;
    void *p = AllocLockedBuffer(&cb, 1024);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(cb, 4096u);
    FreeLockedBuffer(p);
    HostMachine_LimitAllocations(1000), cb = 10240;
    EXPECT_EQ(AllocLockedBuffer(&cb, 1024), nullptr);
    EXPECT_EQ(cb, 1024u);
    EXPECT_EQ(HostMachine_GlobalBlockCount(), blocksBefore);
    HostMachine_Reset();
}

TEST(PathUtilsMachine, DirectoriesInPath) {
    HostMachine_Reset();
    ASSERT_TRUE(SetEnvironmentVariableA("PATH", "C:\\WINDOWS;;C:\\Tools\\;D:\\Bin"));
    EXPECT_TRUE(IsDirectoryInPath("c:\\tools\\"));
    EXPECT_TRUE(IsDirectoryInPath("d:\\bin"));
    for (const char *dir : {"C:\\Tools", ""})
        EXPECT_FALSE(IsDirectoryInPath(dir)) << dir;  // the trailing backslash counts
    HostMachine_SetSystemDirectory("C:\\WINNT\\SYSTEM32");
    EXPECT_TRUE(IsWindowsSystemOrPathDirectory("c:\\winnt\\system32"));
    EXPECT_TRUE(IsWindowsSystemOrPathDirectory("D:\\BIN"));
    EXPECT_FALSE(IsWindowsSystemOrPathDirectory("C:\\WINDOWS\\SYSTEM32"));
    // Longer than the 10240-byte buffer: the buffer grows and the last item is still seen; when it
    // cannot grow, a partial value is never searched.
    std::string value;
    while (value.size() < 12000) value += "C:\\Some\\Directory\\In\\The\\Path;";
    ASSERT_TRUE(SetEnvironmentVariableA("PATH", (value + "C:\\Last").c_str()));
    EXPECT_TRUE(IsDirectoryInPath("C:\\Last"));
    HostMachine_LimitAllocations(11000);
    EXPECT_FALSE(IsDirectoryInPath("C:\\Some\\Directory\\In\\The\\Path"));
    HostMachine_LimitAllocations(0);
    // An item too long for the item buffer never matches its own first 299 characters.
    std::string longItem = "C:\\" + std::string(400, 'x');
    ASSERT_TRUE(SetEnvironmentVariableA("PATH", longItem.c_str()));
    EXPECT_FALSE(IsDirectoryInPath(longItem.substr(0, PATH_BUFFER_SIZE - 1).c_str()));
    HostMachine_Reset();
}

}  // namespace
