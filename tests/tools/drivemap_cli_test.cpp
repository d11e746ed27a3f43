// drivemap run as a program on temporary trees: build and stats, a stopped scan, errors and
// bad arguments, a Wine-style prefix, a writer waiting for the lock, damaged and unreadable map
// files, hostile names, what a scan left out, and limits on file size and address space.
#include "tools/drivemap_runner.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

TEST_F(DrivemapOnTree, BuildStatsAndErrors) {
    const std::string pe = BuildPeFile({.imports = {"KERNEL32.DLL", "HELPER.DLL"}});
    const std::string ne = BuildNeFile({.modules = {"KERNEL", "HELPER16"}});
    const std::string peNoRefs = BuildPeFile({.imports = {"USER32.DLL"}});
    ASSERT_TRUE(tree_.AddFile("Docs/readme.txt", "hello"));
    ASSERT_TRUE(tree_.AddFile("Docs/Old/notes.txt", "x"));
    ASSERT_TRUE(tree_.AddFile("Bin/app.exe", pe));
    ASSERT_TRUE(tree_.AddFile("Bin/old16.exe", ne));
    ASSERT_TRUE(tree_.AddFile("Bin/helper.dll", peNoRefs));
    Outcome run = Drivemap(Machine() + "build --stop-after 1");
    EXPECT_EQ(run.err.rfind("drivemap: error 7: ", 0), 0u) << run.err;
    EXPECT_FALSE(state_.Exists("PWDRVMAP.DAT")) << "a stopped scan saves nothing";
    for (const char *command : {"sync", "stats"}) {
        run = Drivemap(Machine() + command);
        EXPECT_EQ(run.exitCode, 1) << command;
        EXPECT_EQ(run.err.rfind("drivemap: error 2: not found\n", 0), 0u) << run.err;
        // The hint repeats the machine and state options.
        EXPECT_NE(run.err.find("drivemap --drive C=" + tree_.Root() + " --state " + state_.Root() + " build"), npos)
            << run.err;
    }
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    const json stats = Json(Drivemap(Machine() + "--json stats"));
    json total = stats["total"];
    // The map file is its 8-byte header, one 9-byte drive record and the blocks.
    EXPECT_EQ(stats["mapFile"]["bytes"], 8 + 9 + total["blockBytes"].get<uint64_t>());
    EXPECT_EQ(total["fileBytes"], 5 + 1 + pe.size() + ne.size() + peNoRefs.size());
    for (const char *key : {"blockBytes", "fileBytes"}) total.erase(key);
    // helper.dll references only a system module.
    EXPECT_EQ(total, json::parse(R"({"directories": 3, "files": 5, "neExecutables": 1, "peExecutables": 2,
        "withReferences": 2, "blocks": 4})"));
    for (const char *arguments : {"", "frobnicate", "--platform xp machine", "stats --no-such-option"}) {
        run = Drivemap(Machine() + arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        // A line on what is wrong and one on where to look, not the whole usage.
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << arguments << ": " << run.err;
        EXPECT_NE(run.err.find("--help"), npos) << arguments << ": " << run.err;
    }
    // A letter given twice is refused; overlapping drives are mapped with a warning; PATH lists
    // each directory once.
    run = Drivemap(Machine() + "--drive 'C=" + tree_.Path("Docs") + "' machine");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("C: is given twice"), npos) << run.err;
    run = Drivemap(Machine() + "--drive 'D=" + tree_.Path("Docs") + "' --json machine",
                   "PATH='" + tree_.Path("Bin") + ":" + tree_.Path("Bin") + "/:/no/such/dir'");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("overlap"), npos) << run.err;
    EXPECT_EQ(json::parse(run.out)["path"], "C:\\Bin");
}

// A prefix's dosdevices links are its drives: inside the prefix a fixed disk, outside it (z: -> /)
// a network drive; raw-device links and broken ones are no drives. The default state directory,
// under XDG_DATA_HOME on the host's file system, gets a drive letter of its own.
TEST(DrivemapPrefix, MachineOfAPrefix) {
    TempTree prefix, outside;
    ASSERT_TRUE(prefix.AddDir("drive_c/Windows/System32"));
    const std::string links[] = {"c:",  "../drive_c", "d:", outside.Root(), "z:",   "/",
                                 "c::", "/dev/null",  "e:", "/no/such/dir", "com1", "/dev/null"};
    for (size_t i = 0; i < std::size(links); i += 2)
        ASSERT_TRUE(prefix.AddSymlink("dosdevices/" + links[i], links[i + 1]));
    json machine = Json(
        Drivemap("--prefix '" + prefix.Root() + "' --json machine", "XDG_DATA_HOME='" + outside.Root() + "/data'"));
    EXPECT_FALSE(outside.Exists("data/drivemap")) << "machine only reads";
    const std::string state = outside.Path("data/drivemap");
    json drives = json::object();
    for (const auto &d : machine["drives"]) drives[d["letter"].get<std::string>()] = {d["type"], d["hostDirectory"]};
    EXPECT_EQ(drives, (json{{"C:", {"fixed", Canonical(prefix.Path("drive_c"))}},
                            {"D:", {"remote", Canonical(outside.Root())}},
                            {"Z:", {"remote", "/"}},
                            {"Y:", {"removable", state}}}));
    for (const char *key : {"drives", "stateDirectory"}) machine.erase(key);
    EXPECT_EQ(machine, json::parse(R"({"platform": "nt", "windowsDirectory": "C:\\Windows",
        "systemDirectory": "C:\\Windows\\System32", "path": "C:\\Windows\\System32;C:\\Windows",
        "program": "Y:\\DRIVEMAP.EXE"})"));
}

// While another process holds the state directory's lock, a writer says so and waits; a reader
// does not wait.
TEST_F(DrivemapOnTree, WriterWaitsForTheLockReaderDoesNot) {
    ASSERT_TRUE(tree_.AddFile("a.txt"));
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    const int dir = open(state_.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(dir, LOCK_EX), 0);
    Process sync(Machine() + "sync");
    const std::string waiting =
        "drivemap: another drivemap is writing the map in " + Canonical(state_.Root()) + "; waiting for it to finish\n";
    for (int i = 0; i < 1000 && sync.Err() != waiting; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(sync.Err(), waiting);
    EXPECT_FALSE(sync.Finished());
    EXPECT_EQ(Drivemap(Machine() + "stats").exitCode, 0);
    close(dir);
    EXPECT_EQ(sync.Wait().exitCode, 0);
}

// Map files with one id changed lose blocks when loaded, without an error from the library;
// drivemap says which drive lost how many, and sync saves over such a map only with --force.
TEST_F(DrivemapOnTree, DamagedMapFilesAreReported) {
    ASSERT_TRUE(tree_.AddFile("Sub/Deep/x.exe"));
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    const json whole = Totals();
    const std::string mapFile = state_.Path("PWDRVMAP.DAT");
    // Edits of the sample map's drive C, whose blocks are the root (0), Sub (1) and Sub\Deep (2):
    // the root's id lost drops Sub and Deep, Deep's parent id lost drops Deep.
    for (int edit = 0; edit < 2; ++edit) {
        MapFileDescription description = SampleMapDescription();
        description.drives.resize(1);
        std::vector<MapFileBlock> &blocks = description.drives[0].blocks;
        if (edit == 0) blocks[0].wBlockId = 0x4000;   // the root block's id
        if (edit == 1) blocks[2].wParentId = 0x4001;  // the parent id in Deep's block
        const int dropped = edit == 1 ? 1 : 2;
        const std::string map = BuildMapFile(description);
        ASSERT_TRUE(state_.AddFile("PWDRVMAP.DAT", map));
        const std::string report = "drive C: " + std::to_string(dropped) + " of its 3 directory blocks dropped";
        Outcome run = Drivemap(Machine() + "--json stats");
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_NE(run.err.find("the map file " + Canonical(mapFile) + " is damaged"), npos) << run.err;
        EXPECT_NE(run.err.find(report), npos) << run.err;
        EXPECT_EQ(json::parse(run.out)["damage"]["drives"][0]["blocksDropped"], dropped) << run.out;
        run = Drivemap(Machine() + "sync");
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_NE(run.err.find("not synchronised"), npos) << run.err;
        EXPECT_EQ(ReadHostFile(mapFile), map) << "left as it was";
        run = Drivemap(Machine() + "sync --force");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Totals(), whole) << "the sync saved the map of the disk";
    }
}

// A place that holds no readable map file gets its own message, never the hint to build, and
// nothing replaces what is there.
TEST_F(DrivemapOnTree, MapFileThatCannotBeRead) {
    ASSERT_TRUE(tree_.AddFile("a.txt"));
    const std::string mapFile = state_.Path("PWDRVMAP.DAT");
    for (const std::string kind : {"directory", "FIFO"}) {
        ASSERT_TRUE(kind == "FIFO" ? state_.AddFifo("PWDRVMAP.DAT") : state_.AddDir("PWDRVMAP.DAT/inside"));
        for (const char *command : {"stats", "build"}) {
            const Outcome run = Drivemap(Machine() + command);
            EXPECT_EQ(run.exitCode, 1) << command;
            EXPECT_EQ(run.err, "drivemap: " + Canonical(mapFile) + " is a " + kind +
                                   ", not a map file: drivemap neither reads it nor replaces it; move it out of the "
                                   "way first\n");
        }
        EXPECT_TRUE(kind == "FIFO" ? std::filesystem::is_fifo(mapFile) : state_.Exists("PWDRVMAP.DAT/inside"));
        std::filesystem::remove_all(mapFile);
    }
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    const std::string saved = ReadHostFile(mapFile);
    ASSERT_EQ(chmod(mapFile.c_str(), 0), 0);
    const Outcome run = Drivemap(Machine() + "sync", WithoutPermissionBypass());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "drivemap: cannot read the map file " + Canonical(mapFile) + ": Permission denied\n");
    EXPECT_EQ(ReadHostFile(mapFile), saved);
}

// A save that passes the file-size limit ends with the library's error and a message, not with
// SIGXFSZ, and the previous map stays. Under any address-space limit that lets drivemap start, a
// run works or says that memory ran out, and never shows an exception's text; AddressSanitizer
// needs more address space than any such limit leaves, so the sanitizer build passes over that.
TEST_F(DrivemapOnTree, ProcessLimits) {
    FillTree(tree_, 200, 10);
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    const std::string previous = ReadHostFile(state_.Path("PWDRVMAP.DAT"));
    // 16 blocks of 512 bytes (dash) or 1024 bytes (bash): far less than the map of 2,000 files.
    const Outcome run = Drivemap(Machine() + "build", "ulimit -f 16;");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("drivemap: error 5: writing the map file failed\n", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("file-size limit (ulimit -f)"), npos) << run.err;
    EXPECT_EQ(ReadHostFile(state_.Path("PWDRVMAP.DAT")), previous);
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
    for (unsigned long kb = 6000; kb < 3000000; kb = kb * 3 / 2) {
        const std::string limit = "ulimit -v " + std::to_string(kb) + ";";
        if (Drivemap("--version", limit).exitCode != 0) continue;  // the loader cannot map it
        for (const char *command : {"build", "sync", "stats"}) {
            const Outcome run = Drivemap(Machine() + command, limit);
            SCOPED_TRACE(std::string(command) + " under " + limit + "\n" + run.err);
            for (const char *text : {"bad_alloc", "std::", "exception", "terminate"})
                EXPECT_EQ((run.out + run.err).find(text), npos);
            EXPECT_NE(run.exitCode, -1) << "ended by a signal";
            if (run.exitCode != 0) {
                EXPECT_TRUE(run.err.find("out of memory") != npos || run.err.find("memory ran out") != npos);
            }
        }
    }
}

// Files with an executable's extension that are no NE or PE executables are counted from the map
// after build and sync. Names with terminal controls and bytes that are not UTF-8 reach the user
// escaped, and JSON stays valid, with Windows paths decoded as code page 1252.
TEST_F(DrivemapOnTree, UnscannedExecutablesAndHostileNames) {
    ASSERT_TRUE(tree_.AddFile("Bin/app.exe", BuildPeFile({.imports = {"HELPER.DLL"}})));
    ASSERT_TRUE(tree_.AddFile("Bin/readme.txt", "MZ"));
    ASSERT_TRUE(tree_.AddFile("Bin/TEXT.DLL", "not a library"));
    for (const char *name :
         {"Bin/dos.com", "\x1b]0;PWNED\x07/x.exe", "\x9b[2J/x.exe", "del\x7f/x.exe", "\xe9 \xff\xfe/x.exe"})
        ASSERT_TRUE(tree_.AddFile(name, "MZ"));
    const json unscanned = json::parse(R"({"count": 6, "items": [{"path": "C:\\\u00e9 \u00ff\u00fe\\X.exe"},
        {"path": "C:\\\u203a[2J\\X.exe"}, {"path": "C:\\del\u007f\\X.exe"}, {"path": "C:\\Bin\\Text.dll"},
        {"path": "C:\\Bin\\Dos.com"}, {"path": "C:\\__0~c977\\X.exe"}]})");
    const std::string utf8 = "LC_ALL=C.UTF-8";
    for (const char *command : {"build", "sync"}) {
        SCOPED_TRACE(command);
        Outcome run = Drivemap(Machine() + "--verbose " + command, utf8);
        EXPECT_TRUE(PrintableAscii(run.out)) << run.out;
        for (const char *escaped : {"\\x1B]0;PWNED\\x07", "C:\\\\x9B[2J\\X.exe", "C:\\del\\x7F\\X.exe"})
            EXPECT_NE(run.out.find(escaped), npos) << escaped << " in " << run.out;
        run = Drivemap(Machine() + "--verbose --json " + command, utf8);
        EXPECT_TRUE(PrintableAscii(run.out));
        EXPECT_EQ(Json(run)["leftOut"]["unscannedExecutables"], unscanned);
    }
    // A Windows path given on the command line, and a host path in a usage error.
    Outcome run = Drivemap(Machine() + "--windows-dir 'C:\\\x1b[2J' machine", utf8);
    EXPECT_NE(run.out.find("C:\\\\x1B[2J"), npos) << run.out;
    run = Drivemap("--drive 'C=" + tree_.Path("no\x1b[2J") + "' machine", utf8);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_TRUE(PrintableAscii(run.err)) << run.err;
}

// What the host layer's listings leave out or show differently, counted after build and sync and
// listed with --verbose; a sync drops what the map held in a directory it cannot read, and says
// so. Runs without the capabilities that bypass permissions, so that root cannot read a mode-000
// directory either.
TEST_F(DrivemapOnTree, HostListingReportsAreCounted) {
    const std::string level(60, 'L');
    for (const std::string &file :
         std::vector<std::string>{".git/config", "a:b/f.txt", "Twin.txt", "twin.txt", "locked/secret.txt", "big.iso",
                                  level + "1/" + level + "2/" + level + "3/" + level + "4/" + level + "5/deep.txt"})
        ASSERT_TRUE(tree_.AddFile(file));
    ASSERT_EQ(truncate(tree_.Path("big.iso").c_str(), (5ll << 30) + 7), 0);  // sparse: no disk space
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    ASSERT_EQ(Totals()["files"], 4);
    ASSERT_EQ(chmod(tree_.Path("locked").c_str(), 0), 0);
    const Outcome run = Drivemap(Machine() + "--verbose sync", WithoutPermissionBypass());
    EXPECT_NE(run.out.find("C:\\a:b  shown as  C:\\A_B~8DFD\n"), npos) << run.out;
    EXPECT_NE(run.out.find("the sync dropped what the map held inside them\n              C:\\locked\n"), npos)
        << run.out;
    EXPECT_EQ(Totals()["files"], 3) << "locked\\secret.txt dropped";
    const std::map<std::string, std::string> expected = {
        {"caseTwins", "twin.txt"}, {"dotDirectories", ".git"},    {"files4GiB", "big.iso"},
        {"generatedNames", "a:b"}, {"pathsTooLong", level + "5"}, {"unreadableDirectories", "C:\\locked"}};
    for (const char *command : {"build", "sync"}) {
        SCOPED_TRACE(command);
        const json leftOut =
            Json(Drivemap(Machine() + "--json --verbose " + command, WithoutPermissionBypass()))["leftOut"];
        std::map<std::string, std::string> found;  // each kind met, by the name of its one item
        for (const auto &[kind, entry] : leftOut.items()) {
            EXPECT_EQ(entry["count"], entry["items"].size()) << kind;
            for (const json &item : entry["items"]) found[kind] += item.value("hostName", item.value("path", ""));
        }
        EXPECT_EQ(found, expected) << leftOut;
        EXPECT_EQ(leftOut["generatedNames"]["items"][0]["shownAs"], "A_B~8DFD");
    }
}

}  // namespace
