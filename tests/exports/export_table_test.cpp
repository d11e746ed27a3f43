// Checks PWDVMP32.DLL's export table, as i686-w64-mingw32-objdump reads it, against the .def file,
// and the .def file against the library's fixed list of 29 exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Every export: plain name and argument bytes (stdcall), or the fixed mangled name.
struct KnownExport {
    const char *name;
    int argumentBytes;       // -1 for the mangled callbacks and comparers
    const char *mangledName; // nullptr for the decorated exports
};

const KnownExport kKnownExports[] = {
    {"DriveMap_GetCritical", 0, nullptr},
    {"DriveMap_GetDirtyFlag", 0, nullptr},
    {"DriveMap_GetError", 0, nullptr},
    {"DriveMap_RegisterAsClient", 0, nullptr},
    {"DriveMap_UnRegisterAsClient", 0, nullptr},
    {"DriveMap_FreeAll", 0, nullptr},
    {"DriveMap_BuildAll", 12, nullptr},
    {"DriveMap_SyncAll", 12, nullptr},
    {"DriveMap_ReadAll", 4, nullptr},
    {"DriveMap_WriteAll", 8, nullptr},
    {"DriveMap_GetEntry", 12, nullptr},
    {"DriveMap_GetFullPath", 8, nullptr},
    {"DriveMap_GetEntryReferences", 20, nullptr},
    {"DriveMap_GetFilesWithExtension", 8, nullptr},
    {"DriveMap_DeleteEntry", 8, nullptr},
    {"DriveMap_UpdateEntry", 8, nullptr},
    {"DriveMap_UpdateSystemIniEntry", 0, nullptr},
    {"DriveMap_IncrementEntryUsageCount", 12, nullptr},
    {"DriveMap_Move", 8, nullptr},
    {"DriveMap_SearchForFile", 16, nullptr},
    {"DriveMap_SearchDirectory", 28, nullptr},
    {"SearchAllDirForMyFiles", 8, nullptr},
    {"Delete_Allocated_Memory", 8, nullptr},
    {"BuildCallback", -1, "?BuildCallback@@YGHPAXPADPAUFIND_DATA@@J@Z"},
    {"SyncCallback", -1, "?SyncCallback@@YGHPAXPADPAUFIND_DATA@@J@Z"},
    {"BuildDirCallback", -1, "?BuildDirCallback@@YGHPAXIPAD1J@Z"},
    {"SyncDirCallback", -1, "?SyncDirCallback@@YGHPAXIPAD1J@Z"},
    {"CompareListEntries", -1, "?CompareListEntries@@YGHPAX0K@Z"},
    {"CompareListEntriesHuge", -1, "?CompareListEntriesHuge@@YGHPAX0K@Z"},
};

std::string ExportedName(const KnownExport &e) {
    if (e.mangledName) return e.mangledName;
    return "_" + std::string(e.name) + "@" + std::to_string(e.argumentBytes);
}

// Exported name -> ordinal: ordinals run from 1 in the byte order of all 29 names.
std::map<std::string, int> ExpectedOrdinals() {
    std::vector<std::string> names;
    for (const auto &e : kKnownExports) names.push_back(ExportedName(e));
    std::sort(names.begin(), names.end());
    std::map<std::string, int> ordinals;
    for (size_t i = 0; i < names.size(); ++i) ordinals[names[i]] = static_cast<int>(i) + 1;
    return ordinals;
}

struct DefExport {
    std::string exportedName;
    std::string internalName;
    int ordinal;
};

std::vector<DefExport> ReadDefFile(const std::string &path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << "cannot open " << path;
    std::vector<DefExport> exports;
    const std::regex line(R"(^\s*(\S+?)\s*=\s*(\S+)\s+@(\d+)\s*$)");
    bool inExports = false;
    std::string text;
    while (std::getline(in, text)) {
        if (text.find_first_not_of(" \t\r") == std::string::npos || text[0] == ';') continue;
        if (text.rfind("LIBRARY", 0) == 0) continue;
        if (text.rfind("EXPORTS", 0) == 0) {
            inExports = true;
            continue;
        }
        std::smatch m;
        EXPECT_TRUE(inExports && std::regex_match(text, m, line)) << "malformed .def line: " << text;
        if (inExports && std::regex_match(text, m, line))
            exports.push_back({m[1], m[2], std::stoi(m[3])});
    }
    return exports;
}

std::string RunCommand(const std::string &command) {
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

const std::string kDefPath = std::string(PWDVMP32_SOURCE_DIR) + "/src/exports/PWDVMP32.def";

TEST(ExportList, DefFileNamesAndOrdinalsFollowTheFixedList) {
    const auto expected = ExpectedOrdinals();
    ASSERT_EQ(expected.size(), 29u);
    // The mangled names sort before the decorated ones, so they take ordinals 1 to 6.
    EXPECT_EQ(expected.at("?BuildCallback@@YGHPAXPADPAUFIND_DATA@@J@Z"), 1);
    EXPECT_EQ(expected.at("?CompareListEntriesHuge@@YGHPAX0K@Z"), 4);
    EXPECT_EQ(expected.at("_Delete_Allocated_Memory@8"), 7);
    EXPECT_EQ(expected.at("_SearchAllDirForMyFiles@8"), 29);

    std::set<std::string> seen;
    for (const auto &e : ReadDefFile(kDefPath)) {
        SCOPED_TRACE(e.exportedName);
        ASSERT_TRUE(expected.count(e.exportedName)) << "not one of the library's exports";
        EXPECT_EQ(e.ordinal, expected.at(e.exportedName));
        EXPECT_TRUE(seen.insert(e.exportedName).second) << "listed twice";
        // The alias is the stdcall symbol of our function; for decorated names its argument
        // bytes must be those of the exported name.
        if (e.exportedName[0] == '_') {
            EXPECT_EQ("_" + e.internalName, e.exportedName);
        }
    }
}

TEST(ExportList, DllExportsExactlyTheDefFile) {
    const std::string dll = PWDVMP32_DLL_PATH;
    if (dll.empty()) GTEST_SKIP() << "MinGW-w64 not installed: no DLL was built";
    ASSERT_TRUE(std::ifstream(dll).good()) << dll << " was not built";

    const std::string dump = RunCommand(std::string(MINGW_OBJDUMP) + " -p '" + dll + "'");
    ASSERT_NE(dump.find("PE32"), std::string::npos) << "objdump did not read the DLL";

    std::map<std::string, int> exported;
    const size_t table = dump.find("[Ordinal/Name Pointer] Table");
    int base = 1;
    std::smatch m;
    if (std::regex_search(dump, m, std::regex(R"(Ordinal Base\s+(\d+))"))) base = std::stoi(m[1]);
    if (table != std::string::npos) {
        std::istringstream rows(dump.substr(table));
        std::string row;
        std::getline(rows, row);
        const std::regex entry(R"(^\s*\[\s*(\d+)\]\s+(\S+)\s*$)");
        while (std::getline(rows, row) && std::regex_match(row, m, entry))
            exported[m[2]] = std::stoi(m[1]) + base;
    }

    std::map<std::string, int> listed;
    for (const auto &e : ReadDefFile(kDefPath)) listed[e.exportedName] = e.ordinal;
    EXPECT_EQ(exported, listed);

    // Statically linked to its C++ runtime: only system DLLs are imported.
    const std::regex import(R"(DLL Name:\s*(\S+))");
    for (auto it = std::sregex_iterator(dump.begin(), dump.end(), import); it != std::sregex_iterator(); ++it) {
        std::string name = (*it)[1];
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        EXPECT_TRUE(name == "kernel32.dll" || name == "user32.dll" || name == "msvcrt.dll" ||
                    name.rfind("api-ms-win-crt-", 0) == 0)
            << "imports " << name;
    }
}

}  // namespace
