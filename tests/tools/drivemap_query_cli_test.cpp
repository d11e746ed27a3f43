// drivemap's query commands on one mapped tree: a Windows directory whose System directory holds a
// shared module that a copy in the Windows directory shadows, a module private to its programs'
// directory, a program whose private import lies elsewhere, and a name with terminal controls.
#include "tools/drivemap_runner.h"

#include <set>

namespace {

using Set = std::set<std::string>;

Set Results(const std::string &text, char end = '\n') {
    Set results;
    for (size_t start = 0, stop; (stop = text.find(end, start)) != npos; start = stop + 1)
        results.insert(text.substr(start, stop - start));
    return results;
}

Set Paths(const json &objects, const char *key = "path") {
    Set paths;
    for (const json &object : objects) paths.insert(object[key].get<std::string>());
    return paths;
}

class DrivemapQuery : public DrivemapOnTree {
protected:
    void SetUp() override {
        ASSERT_TRUE(tree_.AddFile("Windows/System32/Shared.dll", BuildPeFile({})));
        ASSERT_TRUE(tree_.AddFile("Windows/Shared.dll", BuildPeFile({})));
        ASSERT_TRUE(tree_.AddFile("App/App.exe", app_));
        ASSERT_TRUE(tree_.AddFile("App/Tool.exe", BuildNeFile({.modules = {"KERNEL", "PRIVATE"}})));
        ASSERT_TRUE(tree_.AddFile("App/Private.dll", BuildPeFile({})));
        ASSERT_TRUE(tree_.AddFile("Other/User.exe", BuildPeFile({.imports = {"PRIVATE.DLL", "SHARED.DLL"}})));
        ASSERT_TRUE(tree_.AddFile("Other/\x9b[2J.dll", "MZ"));
        ASSERT_EQ(Drivemap(Query("build")).exitCode, 0);
    }
    std::string Query(const std::string &arguments) const {
        return Machine() + "--windows-dir 'C:\\WINDOWS' --system-dir 'C:\\WINDOWS\\SYSTEM32' " + arguments;
    }
    const std::string app_ = BuildPeFile({.imports = {"KERNEL32.DLL", "PRIVATE.DLL", "SHARED.DLL"}});
};

TEST_F(DrivemapQuery, LookupAndImports) {
    Outcome run = Drivemap(Query("lookup 'C:\\App\\App.exe' C:/APP/TOOL.EXE '" + tree_.Path("Other") + "' C: C:/None"));
    EXPECT_EQ(run.exitCode, 1) << "one path is not in the map";
    EXPECT_EQ(run.err, "drivemap: C:/None: error 2: not found\n");
    EXPECT_EQ(run.out.find("C:\\App\\App.exe\n  kind:        file\n  size:        " + std::to_string(app_.size())), 0u)
        << run.out;
    for (const char *line : {"  scanned:     PE\n  references:  private, shared\n", "  scanned:     NE\n",
                             "\nC:\\Other\n  kind:        directory\n", "\nC:\\\n  kind:        drive root\n"})
        EXPECT_NE(run.out.find(line), npos) << line << " in " << run.out;

    run = Drivemap(Query("--json lookup C:/App/App.exe C:/App/Tool.exe C:/Other C: C:/None"));
    json document = json::parse(run.out);
    json &app = document["entries"][0];
    EXPECT_TRUE(app["lastWrite"].is_string() && app["usageCount"].is_number()) << app;
    for (const char *key : {"lastWrite", "lastUse", "usageCount"}) app.erase(key);
    EXPECT_EQ(app, json({{"path", "C:\\App\\App.exe"},
                         {"kind", "file"},
                         {"size", app_.size()},
                         {"scanned", "PE"},
                         {"references", {"private", "shared"}}}));
    EXPECT_EQ(document["notFound"], json::parse(R"([{"path": "C:\\None", "error": 2, "message": "not found"}])"));

    // The private import of a program elsewhere is found nowhere; the shared one in the Windows
    // directory, before the System directory.
    run = Drivemap(Query("imports '" + tree_.Path("Other/User.exe") + "'"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "private\tnot found\nshared\tC:\\Windows\\Shared.dll\n");
    run = Drivemap(Query("imports C:/App/Private.dll"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Drivemap(Query("imports /no/such/drive/x.exe")).exitCode, 2);
}

// A private module: only its own directory is searched; a System directory copy that the Windows
// directory's shadows: the whole map, and nobody uses it.
TEST_F(DrivemapQuery, RefsAndTheirScope) {
    const struct {
        const char *module;
        Set users;
        const char *scope, *message, *shadowedBy;
    } cases[] = {
        {"C:\\App\\Private.dll",
         {"C:\\App\\App.exe", "C:\\App\\Tool.exe"},
         "directory",
         "searched C:\\App\\ only:",
         nullptr},
        {"C:\\Windows\\System32\\Shared.dll",
         {},
         "map",
         "searched the whole map: C:\\Windows\\System32 is the System directory\n",
         "C:\\Windows\\Shared.dll"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.module);
        Outcome run = Drivemap(Query("refs '" + std::string(c.module) + "'"));
        EXPECT_EQ(run.exitCode, c.users.empty() ? 1 : 0) << run.err;
        EXPECT_EQ(Results(run.out), c.users);
        EXPECT_EQ(run.err.find(std::string("drivemap: ") + c.message), 0u) << run.err;
        const json document = json::parse(Drivemap(Query("--json refs '" + std::string(c.module) + "'")).out);
        EXPECT_EQ(document["scope"], c.scope);
        EXPECT_EQ(Paths(document["usedBy"]), c.users);
        EXPECT_EQ(document["shadowedBy"], c.shadowedBy ? json(c.shadowedBy) : json(nullptr));
    }
    EXPECT_EQ(Drivemap(Query("refs C:/App")).err, "drivemap: C:/App: not a file\n");
}

TEST_F(DrivemapQuery, FindWhereLsAndExt) {
    EXPECT_EQ(Drivemap(Query("find SHARED.DLL")).out, "C:\\Windows\\Shared.dll\n");
    Outcome run = Drivemap(Query("find Private.dll"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Json(Drivemap(Query("--json find Private.dll --dir '" + tree_.Path("App") + "'"))),
              json({{"name", "Private.dll"}, {"path", "C:\\App\\Private.dll"}}));
    EXPECT_EQ(Drivemap(Query("find 'C:\\App\\Private.dll'")).exitCode, 2) << "a name, not a path";

    const Set shared = {"C:\\Windows\\Shared.dll", "C:\\Windows\\System32\\Shared.dll"};
    run = Drivemap(Query("where shared.dll Private.dll None.dll"));
    EXPECT_EQ(run.exitCode, 0);
    Set all = shared;
    all.insert("C:\\App\\Private.dll");
    EXPECT_EQ(Results(run.out), all);
    EXPECT_EQ(Drivemap(Query("where None.dll")).exitCode, 1);

    run = Drivemap(Query("ls C:/Windows"));
    EXPECT_EQ(run.exitCode, 0);
    const json record = Json(Drivemap(Query("--json lookup C:/Windows/Shared.dll")))["entries"][0];
    char line[128];
    std::snprintf(line, sizeof line, "%10llu  %s  C:\\Windows\\Shared.dll", record["size"].get<unsigned long long>(),
                  record["lastWrite"].get<std::string>().c_str());
    EXPECT_EQ(Results(run.out), (Set{line, "     <DIR>  -                    C:\\Windows\\System32"}));
    run = Drivemap(Query("ls C:/App/App.exe"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "drivemap: C:/App/App.exe: not a directory\n");
    EXPECT_EQ(Drivemap(Query("ls C:/None")).err, "drivemap: C:/None: error 2: not found\n");

    // Extensions with or without the dot; a hostile name printable as text, the bytes it is with -0.
    Set text = all;
    text.insert("C:\\Other\\\\x9B[2J.dll");
    run = Drivemap(Query("ext .DLL"), "LC_ALL=C.UTF-8");
    EXPECT_TRUE(PrintableAscii(run.out)) << run.out;
    EXPECT_EQ(Results(run.out), text);
    run = Drivemap(Query("ext dll --host -0"));
    Set onDisk;
    for (const char *file :
         {"App/Private.dll", "Windows/Shared.dll", "Windows/System32/Shared.dll", "Other/\x9b[2J.dll"})
        onDisk.insert(tree_.Path(file));
    EXPECT_EQ(Results(run.out, '\0'), onDisk);
    EXPECT_EQ(Drivemap(Query("ext xyz")).exitCode, 1);
}

}  // namespace
