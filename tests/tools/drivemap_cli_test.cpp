// drivemap run as a program on temporary trees: build, stats and sync of a map, a stopped scan,
// the error lines, bad arguments, the machine of a Wine-style prefix; concurrent writers, damaged
// and unreadable map files, hostile names, what a scan left out, and runs out of file size or
// address space.
#include <gtest/gtest.h>

#include "common/exe_builder.h"
#include "common/temp_tree.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

extern char **environ;

namespace {

struct Outcome {
    int exitCode;
    std::string out, err;
};

// Runs drivemap with `arguments` (shell words) and the environment assignments `environment`.
Outcome Drivemap(const std::string &arguments, const std::string &environment = std::string()) {
    TempTree capture;
    const std::string out = capture.Path("out"), err = capture.Path("err");
    const int status = std::system(
        (environment + " '" DRIVEMAP_EXECUTABLE "' " + arguments + " >'" + out + "' 2>'" + err + "' </dev/null")
            .c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadHostFile(out), ReadHostFile(err)};
}

nlohmann::json Json(const Outcome &run) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return nlohmann::json::parse(run.out, nullptr, /*allow_exceptions=*/false);
}

class DrivemapOnTree : public ::testing::Test {
protected:
    std::string Machine() const { return "--drive 'C=" + tree_.Root() + "' --state '" + state_.Root() + "' --quiet "; }
    TempTree tree_, state_;
};

TEST_F(DrivemapOnTree, BuildStatsSync) {
    const std::string pe = BuildPeFile({.imports = {"KERNEL32.DLL", "HELPER.DLL"}});
    const std::string ne = BuildNeFile({.modules = {"KERNEL", "HELPER16"}});
    const std::string peNoRefs = BuildPeFile({.imports = {"USER32.DLL"}});
    ASSERT_TRUE(tree_.AddFile("Docs/readme.txt", "hello"));
    ASSERT_TRUE(tree_.AddFile("Docs/Old/notes.txt", "x"));
    ASSERT_TRUE(tree_.AddFile("Bin/app.exe", pe));
    ASSERT_TRUE(tree_.AddFile("Bin/old16.exe", ne));
    ASSERT_TRUE(tree_.AddFile("Bin/helper.dll", peNoRefs));

    const Outcome build = Drivemap(Machine() + "build");
    ASSERT_EQ(build.exitCode, 0) << build.err;
    EXPECT_TRUE(state_.Exists("PWDRVMAP.DAT"));
    EXPECT_TRUE(state_.Exists("PURGWELL.DAT"));
    EXPECT_NE(build.out.find("C:"), std::string::npos) << "build prints the statistics";

    auto stats = Json(Drivemap(Machine() + "--json stats"));
    ASSERT_EQ(stats["drives"].size(), 1u);
    const auto &total = stats["total"];
    EXPECT_EQ(total["directories"], 3);
    EXPECT_EQ(total["files"], 5);
    EXPECT_EQ(total["peExecutables"], 2);
    EXPECT_EQ(total["neExecutables"], 1);
    EXPECT_EQ(total["withReferences"], 2) << "helper.dll references only a system module";
    EXPECT_EQ(total["blocks"], 4);
    EXPECT_EQ(total["fileBytes"], 5 + 1 + pe.size() + ne.size() + peNoRefs.size());
    // The map file is its 8-byte header, one 9-byte drive record and the blocks.
    EXPECT_EQ(stats["mapFile"]["bytes"], 8 + 9 + total["blockBytes"].get<uint64_t>());

    ASSERT_TRUE(tree_.AddFile("Docs/Old/new.txt", "new"));
    ASSERT_TRUE(std::filesystem::remove(tree_.Path("Docs/readme.txt")));
    const Outcome synced = Drivemap(Machine() + "--json sync");
    ASSERT_EQ(synced.exitCode, 0) << synced.err;
    EXPECT_EQ(Json(synced)["total"]["fileBytes"], 1 + 3 + pe.size() + ne.size() + peNoRefs.size());
}

TEST_F(DrivemapOnTree, StoppedScansAndErrors) {
    ASSERT_TRUE(tree_.AddFile("a.txt"));
    ASSERT_TRUE(tree_.AddFile("b.txt"));
    ASSERT_TRUE(tree_.AddFile("sub/c.txt"));
    Outcome run = Drivemap(Machine() + "build --stop-after 1");
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.err.rfind("drivemap: error 7: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("nothing was saved"), std::string::npos) << run.err;
    EXPECT_FALSE(state_.Exists("PWDRVMAP.DAT"));

    for (const char *command : {"sync", "stats"}) {
        run = Drivemap(Machine() + command);
        EXPECT_EQ(run.exitCode, 1) << command;
        EXPECT_EQ(run.err.rfind("drivemap: error 2: not found\n", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("drivemap build"), std::string::npos) << "a hint: " << run.err;
    }

    for (const char *arguments : {"", "frobnicate", "--drive 1=/x machine", "--platform xp machine",
                                  "--stop-after 0 build", "stats --no-such-option", "--prefix /no/such/dir machine"}) {
        run = Drivemap(Machine() + arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_NE(run.err.find("Usage:"), std::string::npos) << arguments << ": " << run.err;
    }
}

// A prefix's dosdevices links are its drives: inside the prefix a fixed disk, outside it (z: -> /)
// a network drive; raw-device links and broken ones are no drives. The default state directory,
// under XDG_DATA_HOME on the host's file system, gets a drive letter of its own.
TEST(DrivemapPrefix, MachineOfAPrefix) {
    TempTree prefix, outside;
    ASSERT_TRUE(prefix.AddDir("drive_c/Windows/System32"));
    ASSERT_TRUE(prefix.AddDir("dosdevices"));
    ASSERT_TRUE(prefix.AddSymlink("dosdevices/c:", "../drive_c"));
    ASSERT_TRUE(prefix.AddSymlink("dosdevices/d:", outside.Root()));
    ASSERT_TRUE(prefix.AddSymlink("dosdevices/z:", "/"));
    ASSERT_TRUE(prefix.AddSymlink("dosdevices/c::", "/dev/null"));
    ASSERT_TRUE(prefix.AddSymlink("dosdevices/e:", "/no/such/dir"));
    ASSERT_TRUE(prefix.AddSymlink("dosdevices/com1", "/dev/ttyS0"));
    const Outcome run =
        Drivemap("--prefix '" + prefix.Root() + "' --json machine", "XDG_DATA_HOME='" + outside.Root() + "/data'");
    const auto machine = Json(run);
    nlohmann::json drives = nlohmann::json::object();
    for (const auto &d : machine["drives"]) drives[d["letter"].get<std::string>()] = {d["type"], d["hostDirectory"]};
    const std::string driveC = std::filesystem::canonical(prefix.Path("drive_c")).string();
    const std::string data = std::filesystem::canonical(outside.Path("data/drivemap")).string();
    EXPECT_EQ(drives, (nlohmann::json{{"C:", {"fixed", driveC}},
                                      {"D:", {"remote", std::filesystem::canonical(outside.Root()).string()}},
                                      {"Z:", {"remote", "/"}},
                                      {"Y:", {"removable", data}}}));
    EXPECT_EQ(machine["windowsDirectory"], "C:\\Windows");
    EXPECT_EQ(machine["systemDirectory"], "C:\\Windows\\System32");
    EXPECT_EQ(machine["platform"], "nt");
    EXPECT_EQ(machine["program"], "Y:\\DRIVEMAP.EXE");
    EXPECT_TRUE(outside.Exists("data/drivemap/PURGWELL.DAT"));
}

}  // namespace

namespace {

std::string Quoted(const std::string &text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string Canonical(const std::string &path) { return std::filesystem::canonical(path).string(); }

// drivemap with `arguments` (shell words) started in the background. Given a barrier, it starts
// only once that pipe's write end is closed everywhere, which releases every run waiting on it at
// the same moment.
class BackgroundRun {
public:
    explicit BackgroundRun(const std::string &arguments, int barrier = -1) {
        const std::string run = "exec '" DRIVEMAP_EXECUTABLE "' " + arguments + " </dev/null >" +
                                Quoted(capture_.Path("out")) + " 2>" + Quoted(capture_.Path("err"));
        const std::string command = barrier >= 0 ? "cat >/dev/null; " + run : run;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (barrier >= 0) posix_spawn_file_actions_adddup2(&actions, barrier, 0);
        const char *argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        if (posix_spawn(&pid_, "/bin/sh", &actions, nullptr, const_cast<char **>(argv), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~BackgroundRun() { Wait(); }
    bool Finished() {
        if (pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
        return pid_ <= 0;
    }
    Outcome Wait() {
        if (pid_ > 0 && waitpid(pid_, &status_, 0) == pid_) pid_ = -1;
        return {WIFEXITED(status_) ? WEXITSTATUS(status_) : -1, ReadHostFile(capture_.Path("out")), Err()};
    }
    std::string Err() const { return ReadHostFile(capture_.Path("err")); }

private:
    TempTree capture_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// Polls `done` every 20 ms for up to 20 s.
template <typename Done>
bool Eventually(Done done) {
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
}

void FillTree(TempTree &tree, int directories, int files) {
    for (int d = 0; d < directories; ++d)
        for (int f = 0; f < files; ++f)
            ASSERT_TRUE(tree.AddFile("dir" + std::to_string(d) + "/file" + std::to_string(f) + ".txt", "x"));
}

// Two builds of different trees into one state directory, released at the same moment, three
// times: both succeed, and the map that stays loads whole and is one of the two.
TEST(DrivemapWriters, TwoBuildsOnOneStateDirectory) {
    TempTree a, b, state;
    FillTree(a, 60, 20);
    FillTree(b, 30, 5);
    const std::string onA = "--drive " + Quoted("C=" + a.Root()) + " --state " + Quoted(state.Root()) + " --quiet ";
    const std::string onB = "--drive " + Quoted("C=" + b.Root()) + " --state " + Quoted(state.Root()) + " --quiet ";
    ASSERT_EQ(Drivemap(onA + "build").exitCode, 0);
    const auto totalsA = Json(Drivemap(onA + "--json stats"))["total"];
    ASSERT_EQ(Drivemap(onB + "build").exitCode, 0);
    const auto totalsB = Json(Drivemap(onB + "--json stats"))["total"];
    ASSERT_NE(totalsA, totalsB);

    for (int round = 0; round < 3; ++round) {
        int barrier[2];
        ASSERT_EQ(pipe2(barrier, O_CLOEXEC), 0);
        BackgroundRun first(onA + "build", barrier[0]), second(onB + "build", barrier[0]);
        close(barrier[0]);
        close(barrier[1]);
        const Outcome one = first.Wait(), two = second.Wait();
        EXPECT_EQ(one.exitCode, 0) << one.err;
        EXPECT_EQ(two.exitCode, 0) << two.err;
        const auto totals = Json(Drivemap(onA + "--json stats"))["total"];
        EXPECT_TRUE(totals == totalsA || totals == totalsB) << totals;
    }
}

// While another process holds the state directory's lock, a writer says so and waits; a reader
// does not wait.
TEST_F(DrivemapOnTree, WriterWaitsForTheLockReaderDoesNot) {
    ASSERT_TRUE(tree_.AddFile("a.txt"));
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    const int dir = open(state_.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(dir, LOCK_EX), 0);
    BackgroundRun sync(Machine() + "sync");
    EXPECT_TRUE(Eventually([&] { return sync.Err().find("waiting") != std::string::npos; })) << sync.Err();
    EXPECT_FALSE(sync.Finished());
    const Outcome stats = Drivemap(Machine() + "stats");
    EXPECT_EQ(stats.exitCode, 0) << stats.err;
    close(dir);
    const Outcome synced = sync.Wait();
    EXPECT_EQ(synced.exitCode, 0) << synced.err;
    EXPECT_EQ(synced.err, "drivemap: another drivemap is writing the map in " + Canonical(state_.Root()) +
                              "; waiting for it to finish\n");
}

// A command prefix under which root too is held to file permissions: the capabilities that bypass
// them dropped.
std::string WithoutPermissionBypass() {
    return geteuid() == 0
               ? "setpriv --inh-caps=-dac_override,-dac_read_search --bounding-set=-dac_override,-dac_read_search"
               : "";
}

uint16_t Le16(const std::string &bytes, size_t offset) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) | static_cast<uint8_t>(bytes[offset + 1]) << 8);
}

struct BlockInFile {
    size_t offset;
    uint16_t id;
    std::vector<std::pair<std::string, size_t>> directories;  // name, offset of the record's child id
};

// The blocks of a well-formed map file, in file order.
std::vector<BlockInFile> BlocksOf(const std::string &map) {
    std::vector<BlockInFile> blocks;
    for (size_t offset = 8 + 9 * static_cast<uint8_t>(map[5]); offset + 18 <= map.size();) {
        BlockInFile block{offset, Le16(map, offset + 8), {}};
        size_t record = offset + 18;
        for (uint16_t i = Le16(map, offset + 16); i > 0; --i, record += Le16(map, record))
            if (!(Le16(map, record + 2) & 1)) block.directories.emplace_back(map.c_str() + record + 10, record + 8);
        blocks.push_back(block);
        offset += Le16(map, offset + 12) | Le16(map, offset + 14) << 16;
    }
    return blocks;
}

// Map files with one id changed lose blocks on loading without an error from the library; drivemap
// says which drive lost how many, and sync saves over such a map only with --force.
TEST_F(DrivemapOnTree, DamagedMapFilesAreReported) {
    ASSERT_TRUE(tree_.AddFile("A/A1/f.txt"));
    ASSERT_TRUE(tree_.AddFile("B/g.txt"));
    ASSERT_TRUE(tree_.AddFile("r.txt"));
    const std::string mapFile = state_.Path("PWDRVMAP.DAT");
    // Each edit names what it changes and how many of the 4 blocks (root, A, A1, B) are lost.
    struct Edit {
        const char *what;
        unsigned dropped;
    };
    for (const Edit edit : {Edit{"root block id", 3}, Edit{"child's parent id", 1}, Edit{"record's child id", 2}}) {
        SCOPED_TRACE(edit.what);
        ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
        const auto whole = Json(Drivemap(Machine() + "--json stats"))["total"];
        std::string map = ReadHostFile(mapFile);
        const auto blocks = BlocksOf(map);
        ASSERT_EQ(blocks.size(), 4u);
        ASSERT_EQ(blocks[0].directories.size(), 2u);
        const auto &[nameA, childIdOfA] = blocks[0].directories[0];
        const auto &[nameB, childIdOfB] = blocks[0].directories[1];
        ASSERT_EQ(nameA + nameB, "AB");
        if (edit.dropped == 3) PutLe16(map, blocks[0].offset + 8, 0x4000);
        for (const auto &block : blocks)
            if (edit.dropped == 1 && block.id == Le16(map, childIdOfB)) PutLe16(map, block.offset + 10, 0x4001);
        if (edit.dropped == 2) PutLe16(map, childIdOfA, 0x4002);
        { std::ofstream(mapFile, std::ios::binary | std::ios::trunc) << map; }

        const std::string report = "drive C: " + std::to_string(edit.dropped) + " of its 4 directory blocks dropped";
        Outcome run = Drivemap(Machine() + "stats");
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_NE(run.err.find("the map file " + Canonical(mapFile) + " is damaged"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(report), std::string::npos) << run.err;
        run = Drivemap(Machine() + "--json stats");
        EXPECT_EQ(run.exitCode, 3);
        const auto damage = nlohmann::json::parse(run.out, nullptr, false)["damage"];
        EXPECT_EQ(damage["drives"], (nlohmann::json{{{"letter", "C:"},
                                                     {"blocksInFile", 4},
                                                     {"blocksLoaded", 4 - edit.dropped},
                                                     {"blocksDropped", edit.dropped}}}))
            << run.out;

        run = Drivemap(Machine() + "sync");
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_NE(run.err.find(report), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("not synchronised"), std::string::npos) << run.err;
        EXPECT_EQ(ReadHostFile(mapFile), map) << "left as it was";

        run = Drivemap(Machine() + "sync --force");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find(report), std::string::npos) << "said before going on: " << run.err;
        EXPECT_EQ(Json(Drivemap(Machine() + "--json stats"))["total"], whole) << "the sync found the rest again";
    }
}

// A place that holds no readable map file gets its own message, never the hint to build, and
// nothing replaces what is there.
TEST_F(DrivemapOnTree, MapFileThatCannotBeRead) {
    ASSERT_TRUE(tree_.AddFile("a.txt"));
    const std::string mapFile = state_.Path("PWDRVMAP.DAT");
    for (const char *kind : {"directory", "FIFO"}) {
        SCOPED_TRACE(kind);
        ASSERT_TRUE(kind[0] == 'd' ? state_.AddDir("PWDRVMAP.DAT/inside") : state_.AddFifo("PWDRVMAP.DAT"));
        for (const char *command : {"stats", "sync", "build"}) {
            const Outcome run = Drivemap(Machine() + command);
            EXPECT_EQ(run.exitCode, 1) << command;
            EXPECT_EQ(run.err, "drivemap: " + Canonical(mapFile) + " is a " + kind +
                                   ", not a map file: drivemap neither reads it nor replaces it; move it out of the "
                                   "way first\n")
                << command;
        }
        struct stat st;
        ASSERT_EQ(lstat(mapFile.c_str(), &st), 0);
        EXPECT_TRUE(kind[0] == 'd' ? state_.Exists("PWDRVMAP.DAT/inside") : S_ISFIFO(st.st_mode)) << "left as it was";
        std::filesystem::remove_all(mapFile);
    }

    // A map file the user cannot read (as root: with the capabilities that bypass permissions dropped).
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    const std::string saved = ReadHostFile(mapFile);
    ASSERT_EQ(chmod(mapFile.c_str(), 0), 0);
    for (const char *command : {"stats", "sync"}) {
        const Outcome run = Drivemap(Machine() + command, WithoutPermissionBypass());
        EXPECT_EQ(run.exitCode, 1) << command;
        EXPECT_EQ(run.err, "drivemap: cannot read the map file " + Canonical(mapFile) + ": Permission denied\n");
    }
    EXPECT_EQ(ReadHostFile(mapFile), saved);
}

// A save that passes the file-size limit ends with the library's error and a message, not with
// SIGXFSZ, and the previous map stays.
TEST_F(DrivemapOnTree, SaveBeyondTheFileSizeLimit) {
    ASSERT_TRUE(tree_.AddFile("a.txt"));
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    const std::string previous = ReadHostFile(state_.Path("PWDRVMAP.DAT"));
    for (int i = 0; i < 400; ++i)
        ASSERT_TRUE(tree_.AddFile("many/a file name long enough to fill the map quickly " + std::to_string(i)));
    // 16 blocks of 512 bytes (dash) or 1024 bytes (bash): far less than the map of 400 files.
    const Outcome run = Drivemap(Machine() + "build", "ulimit -f 16;");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("drivemap: error 5: writing the map file failed\n", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("file-size limit (ulimit -f)"), std::string::npos) << run.err;
    EXPECT_EQ(ReadHostFile(state_.Path("PWDRVMAP.DAT")), previous);
}

// Under any address-space limit that lets drivemap start, a run works or says that memory ran
// out, and never shows an exception's text. AddressSanitizer needs more address space than any
// such limit leaves, so the sanitizer build passes over it.
TEST_F(DrivemapOnTree, AddressSpaceLimits) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
    FillTree(tree_, 200, 10);
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    for (unsigned long kb = 6000; kb < 3000000; kb = kb * 3 / 2) {
        const std::string limit = "ulimit -v " + std::to_string(kb) + ";";
        if (Drivemap("--version", limit).exitCode != 0) continue;  // the loader cannot map it
        for (const char *command : {"build", "sync", "stats"}) {
            const Outcome run = Drivemap(Machine() + command, limit);
            SCOPED_TRACE(std::string(command) + " under " + limit + "\n" + run.err);
            for (const char *text : {"bad_alloc", "std::", "exception", "terminate"})
                EXPECT_EQ((run.out + run.err).find(text), std::string::npos);
            EXPECT_NE(run.exitCode, -1) << "ended by a signal";
            if (run.exitCode != 0) {
                EXPECT_TRUE(run.err.find("out of memory") != std::string::npos ||
                            run.err.find("memory ran out") != std::string::npos);
            }
        }
    }
}

// Only printable ASCII and newlines: what a terminal shows, whatever it decodes.
bool PrintableAscii(const std::string &text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7f); });
}

// Names with terminal controls and bytes that are not UTF-8 reach the user escaped, and JSON
// stays valid, with Windows names decoded as code page 1252.
TEST_F(DrivemapOnTree, NothingInjectedIntoTheTerminalOrTheJson) {
    for (const char *name : {"\x1b]0;PWNED\x07", "\x9b[2J", "del\x7f", "long name \xe9\xff\xfe dir"})
        ASSERT_TRUE(tree_.AddFile(name + std::string("/x.exe"), "MZ"));
    const std::string utf8 = "LC_ALL=C.UTF-8";

    Outcome run = Drivemap(Machine() + "--verbose build", utf8);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(PrintableAscii(run.out)) << run.out;
    EXPECT_NE(run.out.find("\\x1B]0;PWNED\\x07"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("C:\\\\x9B["), std::string::npos) << run.out;

    run = Drivemap(Machine() + "--verbose --json sync", utf8);
    EXPECT_TRUE(PrintableAscii(run.out));
    const auto items = Json(run)["leftOut"]["unscannedExecutables"]["items"];
    EXPECT_NE(
        std::find(items.begin(), items.end(), nlohmann::json{{"path", "C:\\long name \u00e9\u00ff\u00fe dir\\X.exe"}}),
        items.end())
        << items;

    // A Windows path given on the command line, and a host path in a usage error.
    run = Drivemap(Machine() + "--windows-dir 'C:\\\x1b[2J' machine", utf8);
    EXPECT_NE(run.out.find("C:\\\\x1B[2J"), std::string::npos) << run.out;
    run = Drivemap("--drive " + Quoted("C=" + tree_.Path("no\x1b[2J")) + " machine", utf8);
    EXPECT_TRUE(run.exitCode == 2) << run.err;
    EXPECT_TRUE(PrintableAscii(run.err)) << run.err;
}

// Files that carry an executable's extension but are not NE or PE executables, counted from the
// map after build and sync and listed with --verbose.
TEST_F(DrivemapOnTree, UnscannedExecutablesAreCounted) {
    ASSERT_TRUE(tree_.AddFile("Bin/app.exe", BuildPeFile({.imports = {"HELPER.DLL"}})));
    ASSERT_TRUE(tree_.AddFile("Bin/dos.com", "MZ just DOS"));
    ASSERT_TRUE(tree_.AddFile("Bin/TEXT.DLL", "not a library"));
    ASSERT_TRUE(tree_.AddFile("Bin/readme.txt", "MZ"));
    const nlohmann::json expected = {{"count", 2},
                                     {"items", {{{"path", "C:\\Bin\\Text.dll"}}, {{"path", "C:\\Bin\\Dos.com"}}}}};
    for (const char *command : {"build", "sync"})
        EXPECT_EQ(Json(Drivemap(Machine() + "--json --verbose " + command))["leftOut"]["unscannedExecutables"],
                  expected)
            << command;
}

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

nlohmann::json LeftOutCounts(const nlohmann::json &leftOut) {
    nlohmann::json counts = nlohmann::json::object();
    for (const auto &[kind, entry] : leftOut.items())
        if (entry["count"] != 0) counts[kind] = entry["count"];
    return counts;
}

// What the host layer's listings leave out or show differently, counted after build and sync and
// listed with --verbose. Runs without the capabilities that bypass permissions, so that a
// mode-000 directory cannot be read even by root.
TEST_F(DrivemapOnTree, HostListingReportsAreCounted) {
    const std::string level(60, 'L');
    ASSERT_TRUE(tree_.AddFile(".git/config"));
    ASSERT_TRUE(tree_.AddFile("a:b/f.txt"));
    ASSERT_TRUE(tree_.AddFile("Twin.txt"));
    ASSERT_TRUE(tree_.AddFile("twin.txt"));
    ASSERT_TRUE(tree_.AddFile("locked/secret.txt"));
    ASSERT_TRUE(tree_.AddFile(level + "1/" + level + "2/" + level + "3/" + level + "4/" + level + "5/deep.txt"));
    ASSERT_TRUE(tree_.AddFile("big.iso"));
    ASSERT_EQ(truncate(tree_.Path("big.iso").c_str(), (5ll << 30) + 7), 0);  // sparse: no disk space
    ASSERT_EQ(chmod(tree_.Path("locked").c_str(), 0), 0);
    const nlohmann::json expected = {{"dotDirectories", 1}, {"generatedNames", 1}, {"caseTwins", 1},
                                     {"pathsTooLong", 1},   {"files4GiB", 1},      {"unreadableDirectories", 1}};
    for (const char *command : {"build", "sync"}) {
        SCOPED_TRACE(command);
        Outcome run = Drivemap(Machine() + "--json --verbose " + command, WithoutPermissionBypass());
        const auto leftOut = Json(run)["leftOut"];
        EXPECT_EQ(LeftOutCounts(leftOut), expected) << leftOut;
        for (const auto &[kind, name] : {std::pair{"caseTwins", "twin.txt"},
                                         {"generatedNames", "a:b"},
                                         {"dotDirectories", ".git"},
                                         {"files4GiB", "big.iso"}}) {
            ASSERT_EQ(leftOut[kind]["items"].size(), 1u) << kind;
            EXPECT_EQ(leftOut[kind]["items"][0]["hostName"], name);
        }
        EXPECT_NE(leftOut["generatedNames"]["items"][0]["shownAs"], "a:b");
        run = Drivemap(Machine() + "--verbose " + command, WithoutPermissionBypass());
        EXPECT_NE(run.out.find("C:\\a:b  shown as  C:\\"), std::string::npos) << run.out;
        EXPECT_NE(Lower(run.out).find("\n              c:\\locked\n"), std::string::npos) << run.out;
    }
}

// An unreadable directory is mapped as empty: a sync drops what the map knew inside it, and says so.
TEST_F(DrivemapOnTree, SyncSaysWhatAnUnreadableDirectoryCost) {
    ASSERT_TRUE(tree_.AddFile("locked/one.txt"));
    ASSERT_TRUE(tree_.AddFile("locked/two.txt"));
    ASSERT_TRUE(tree_.AddFile("open.txt"));
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    ASSERT_EQ(chmod(tree_.Path("locked").c_str(), 0), 0);
    const Outcome run = Drivemap(Machine() + "--verbose sync", WithoutPermissionBypass());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(Lower(run.out).find("       1  directories that could not be read, mapped as empty; the sync dropped "
                                  "what the map held inside them\n              c:\\locked\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Json(Drivemap(Machine() + "--json stats"))["total"]["files"], 1);
}

}  // namespace
