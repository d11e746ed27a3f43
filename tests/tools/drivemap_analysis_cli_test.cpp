// drivemap's analysis commands on a small Windows installation: du's totals, the modules nothing
// uses under the library's reference rules, the executables whose modules are nowhere, and what a
// sync changed.
#include "tools/drivemap_runner.h"

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace {

class DrivemapAnalysis : public DrivemapOnTree {
protected:
    void SetUp() override {
        const std::map<std::string, std::string> files = {
            {"Windows/Shared.dll", std::string(300, 's')},
            // Shadowed by the Windows directory's copy, which a search by name finds first.
            {"Windows/System32/Shared.dll", std::string(200, 's')},
            {"Windows/System32/Kernel32.dll", std::string(150, 'k')},
            {"Apps/Tool.exe", BuildPeFile({.imports = {"KERNEL32.DLL", "SHARED.DLL", "PRIVATE.DLL"}})},
            {"Apps/Private.dll", std::string(120, 'p')},
            // Named by TOOL.EXE, but private to a directory whose programs do not use it.
            {"Other/Private.dll", std::string(110, 'p')},
            {"Other/Lonely.dll", std::string(100, 'l')},
            {"Other/Readme.txt", std::string(50, 't')},
            {"Broken/Broken.exe", BuildPeFile({.imports = {"SHARED.DLL", "GONE.DLL", "KERNEL32.DLL", "GONE.DLL"}})},
            {"Broken/Old16.exe", BuildNeFile({.modules = {"KERNEL", "GONE16", "PRIVATE"}})},
        };
        for (const auto &[path, content] : files) {
            ASSERT_TRUE(tree_.AddFile(path, content));
            sizes_[path] = content.size();
        }
        ASSERT_EQ(Drivemap(Windows() + "build").exitCode, 0);
    }
    std::string Windows() const {
        return Machine() + "--windows-dir 'C:\\Windows' --system-dir 'C:\\Windows\\System32' ";
    }
    // The sizes of the files below a host-relative directory ("" for all).
    uint64_t Below(const std::string &directory) const {
        uint64_t total = 0;
        for (const auto &[path, size] : sizes_)
            if (path.rfind(directory, 0) == 0) total += size;
        return total;
    }
    static std::set<std::string> Paths(const json &items) {
        std::set<std::string> paths;
        for (const auto &item : items) paths.insert(item["path"].get<std::string>());
        return paths;
    }
    std::map<std::string, uint64_t> sizes_;
};

TEST_F(DrivemapAnalysis, DiskUsage) {
    const json all = Json(Drivemap(Windows() + "--json du"));
    EXPECT_EQ(all["path"], nullptr);
    EXPECT_EQ(all["size"], Below(""));
    EXPECT_EQ(all["files"], sizes_.size());
    EXPECT_EQ(all["directories"], 5);
    // Every entry fits in the default 20, largest first: the root with the total of the tree.
    ASSERT_EQ(all["largest"].size(), 6 + sizes_.size());
    EXPECT_EQ(all["largest"][0], json({{"path", "C:\\"}, {"size", Below("")}, {"directory", true}}));
    for (size_t i = 1; i < all["largest"].size(); ++i)
        EXPECT_GE(all["largest"][i - 1]["size"], all["largest"][i]["size"]);

    // PATH as the map spells it, then the largest below it; a file is its own total.
    Outcome run = Drivemap(Windows() + "du 'c:\\windows' --top 2");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "650\tC:\\Windows\n350\tC:\\Windows\\System32\n300\tC:\\Windows\\Shared.dll\n");
    run = Drivemap(Windows() + "du '" + tree_.Path("Other/Lonely.dll") + "'");
    EXPECT_EQ(run.out, "100\tC:\\Other\\Lonely.dll\n");
    run = Drivemap(Windows() + "du --top 0");
    EXPECT_EQ(run.out, std::to_string(Below("")) + "\ttotal\n");
    run = Drivemap(Windows() + "du 'C:\\NOPE'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("drivemap: error 2: ", 0), 0u) << run.err;
}

TEST_F(DrivemapAnalysis, UnusedAndMissingModules) {
    Outcome run = Drivemap(Windows() + "unused");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "200\tC:\\Windows\\System32\\Shared.dll\n110\tC:\\Other\\Private.dll\n100\tC:\\Other\\Lonely.dll\n"
              "410\ttotal: 3 unused modules\n");
    json unused = Json(Drivemap(Windows() + "--json unused --ext 'txt, .DLL'"));
    EXPECT_EQ(Paths(unused["modules"]),
              (std::set<std::string>{"C:\\Windows\\System32\\Shared.dll", "C:\\Other\\Private.dll",
                                     "C:\\Other\\Lonely.dll", "C:\\Other\\Readme.txt"}));
    EXPECT_EQ(unused["count"], 4);
    EXPECT_EQ(unused["bytes"], 460);
    EXPECT_EQ(unused["extensions"], json({"txt", "dll"}));
    EXPECT_EQ(unused["systemModulesSkipped"], 1) << "KERNEL32.DLL";
    // The system modules are those of the state directory's settings file, its first [SystemFiles]
    // group only.
    ASSERT_TRUE(state_.AddFile("PURGWELL.DAT",
                               "[NonNEPEFiles]\r\ntxt\r\n[systemfiles]\r\n  ; kernel32\r\n\tLONELY\r\n"
                               "[SystemFiles]\r\nprivate\r\n"));
    unused = Json(Drivemap(Windows() + "--json unused"));
    EXPECT_EQ(Paths(unused["modules"]),
              (std::set<std::string>{"C:\\Windows\\System32\\Shared.dll", "C:\\Windows\\System32\\Kernel32.dll",
                                     "C:\\Other\\Private.dll"}));
    EXPECT_EQ(Drivemap(Windows() + "unused --ext vbx").exitCode, 1);

    // Each missing name once, in stored order; the system modules are never recorded.
    run = Drivemap(Windows() + "missing");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::multiset<std::string> lines;
    std::istringstream text(run.out);
    for (std::string line; std::getline(text, line);) lines.insert(line);
    EXPECT_EQ(lines,
              (std::multiset<std::string>{"C:\\Broken\\Broken.exe\tgone", "C:\\Broken\\Old16.exe\tgone16,private"}));
    const json missing = Json(Drivemap(Windows() + "--json missing --host"));
    EXPECT_EQ(missing["count"], 2);
    std::set<std::string> hostPaths;
    for (const auto &item : missing["executables"]) hostPaths.insert(item["hostPath"].get<std::string>());
    EXPECT_EQ(hostPaths, (std::set<std::string>{Canonical(tree_.Path("Broken/Broken.exe")),
                                                Canonical(tree_.Path("Broken/Old16.exe"))}));
    // A PATH directory reached through a symbolic link, which the map holds as a file, holds no
    // module, although the library's lookup stops at that file and calls every name below it found.
    ASSERT_TRUE(tree_.AddSymlink("Links", "Apps"));
    const std::string path = std::string("PATH='") + tree_.Path("Links") + ":" + std::getenv("PATH") + "'";
    ASSERT_EQ(Drivemap(Windows() + "sync", path).exitCode, 0);
    EXPECT_EQ(Json(Drivemap(Windows() + "--json missing", path))["count"], 2);
}

TEST_F(DrivemapAnalysis, SyncSaysWhatChanged) {
    ASSERT_TRUE(tree_.AddFile("New/a.txt", "a"));
    ASSERT_TRUE(tree_.AddDir("New/SUB"));
    ASSERT_TRUE(std::filesystem::remove(tree_.Path("Other/Lonely.dll")));
    ASSERT_TRUE(std::filesystem::remove_all(tree_.Path("Broken")));
    ASSERT_TRUE(tree_.AddFile("Other/Readme.txt", "shorter"));
    ASSERT_TRUE(
        tree_.AddFile("Apps/Tool.exe", BuildPeFile({.imports = {"SHARED.DLL", "WIDER.DLL", "AND.DLL"}}) + "overlay"));
    Outcome run = Drivemap(Windows() + "sync");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\nChanged: 2 directories added, 1 directory removed, 1 file added, 3 files removed, 2 "
                           "files updated, 1 executable rescanned.\n"),
              npos)
        << run.out;
    // TOOL.EXE no longer names PRIVATE.DLL, and nothing else misses a module.
    EXPECT_EQ(Paths(Json(Drivemap(Windows() + "--json unused"))["modules"]).count("C:\\Apps\\Private.dll"), 1u);
    run = Drivemap(Windows() + "missing");
    EXPECT_EQ(run.out, "C:\\Apps\\Tool.exe\twider,and\n");

    ASSERT_TRUE(tree_.AddFile("New/a.txt", "abc"));
    const json sync = Json(Drivemap(Windows() + "--json sync"));
    EXPECT_EQ(sync["changes"], json::parse(R"({"directoriesAdded": 0, "directoriesRemoved": 0, "filesAdded": 0,
        "filesRemoved": 0, "filesUpdated": 1, "executablesRescanned": 0})"));
    run = Drivemap(Windows() + "sync");
    EXPECT_NE(run.out.find("\nNothing changed.\n"), npos) << run.out;
}

}  // namespace
