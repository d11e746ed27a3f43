// Checks PWDVMP32.DLL's export table, as i686-w64-mingw32-objdump reads it, against the .def file,
// and the .def file against the library's fixed list of 29 exports.
#include "common/exe_builder.h"
#include "common/export_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

struct DefExport {
    std::string exportedName, internalName;
    int ordinal;
};

std::vector<DefExport> ReadDefFile() {
    std::istringstream in(ReadHostFile(std::string(PWDVMP32_SOURCE_DIR) + "/src/exports/PWDVMP32.def"));
    std::vector<DefExport> exports;
    const std::regex line(R"(^\s*(\S+?)\s*=\s*(\S+)\s+@(\d+)\s*$)"), other(R"(^(LIBRARY .*|EXPORTS|;.*|\s*)\r?$)");
    std::smatch m;
    for (std::string text; std::getline(in, text);) {
        if (std::regex_match(text, m, line))
            exports.push_back({m[1], m[2], std::stoi(m[3])});
        else if (!std::regex_match(text, other))
            ADD_FAILURE() << "malformed .def line: " << text;
    }
    EXPECT_FALSE(exports.empty()) << "no exports read from the .def file";
    return exports;
}

TEST(ExportList, DefFileNamesAndOrdinalsFollowTheFixedList) {
    ASSERT_EQ(29u, std::size(kExportNames));
    ASSERT_TRUE(std::is_sorted(std::begin(kExportNames), std::end(kExportNames),
                               [](const char *a, const char *b) { return std::string(a) < b; }));
    std::map<std::string, int> expected;
    for (int i = 0; i < 29; ++i) expected[kExportNames[i]] = i + 1;
    std::set<std::string> seen;
    for (const auto &e : ReadDefFile()) {
        SCOPED_TRACE(e.exportedName);
        ASSERT_TRUE(expected.count(e.exportedName)) << "not one of the library's exports";
        EXPECT_EQ(e.ordinal, expected.at(e.exportedName));
        EXPECT_TRUE(seen.insert(e.exportedName).second) << "listed twice";
        // The alias is the stdcall symbol of our function, with the exported name's argument bytes.
        if (e.exportedName[0] == '_') {
            EXPECT_EQ("_" + e.internalName, e.exportedName);
        }
    }
}

TEST(ExportList, DllExportsExactlyTheDefFile) {
    const std::string dll = PWDVMP32_EXPORT_CHECK_DLL;
    if (dll.empty()) GTEST_SKIP() << "the export check is off in this build";
    ASSERT_FALSE(ReadHostFile(dll).empty()) << dll << " was not built";
    const std::string dump = RunCommand(std::string(MINGW_OBJDUMP) + " -p '" + dll + "'");
    ASSERT_NE(dump.find("PE32"), std::string::npos) << "objdump did not read the DLL";
    std::map<std::string, int> exported, listed;
    int base = 1;
    std::smatch m;
    if (std::regex_search(dump, m, std::regex(R"(Ordinal Base\s+(\d+))"))) base = std::stoi(m[1]);
    if (const size_t table = dump.find("[Ordinal/Name Pointer] Table"); table != std::string::npos) {
        std::istringstream rows(dump.substr(table));
        const std::regex entry(R"(^\s*\[\s*(\d+)\]\s+(\S+)\s*$)");
        std::string row;
        for (std::getline(rows, row); std::getline(rows, row) && std::regex_match(row, m, entry);)
            exported[m[2]] = std::stoi(m[1]) + base;
    }
    for (const auto &e : ReadDefFile()) listed[e.exportedName] = e.ordinal;
    EXPECT_EQ(exported, listed);
}

}  // namespace
