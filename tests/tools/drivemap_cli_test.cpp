// drivemap run as a program on temporary trees: build, stats and sync of a map, a stopped scan,
// the error lines, bad arguments, and the machine of a Wine-style prefix.
#include <gtest/gtest.h>

#include "common/exe_builder.h"
#include "common/temp_tree.h"

#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

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
    ASSERT_TRUE(tree_.AddFile("Docs/readme.txt", "hello") && tree_.AddFile("Docs/Old/notes.txt", "x") &&
                tree_.AddFile("Bin/app.exe", pe) && tree_.AddFile("Bin/old16.exe", ne) &&
                tree_.AddFile("Bin/helper.dll", peNoRefs));

    const Outcome build = Drivemap(Machine() + "build");
    ASSERT_EQ(build.exitCode, 0) << build.err;
    EXPECT_TRUE(state_.Exists("PWDRVMAP.DAT") && state_.Exists("PURGWELL.DAT"));
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

    ASSERT_TRUE(tree_.AddFile("Docs/Old/new.txt", "new") && std::filesystem::remove(tree_.Path("Docs/readme.txt")));
    const Outcome synced = Drivemap(Machine() + "--json sync");
    ASSERT_EQ(synced.exitCode, 0) << synced.err;
    EXPECT_EQ(Json(synced)["total"]["fileBytes"], 1 + 3 + pe.size() + ne.size() + peNoRefs.size());
}

TEST_F(DrivemapOnTree, StoppedScansAndErrors) {
    ASSERT_TRUE(tree_.AddFile("a.txt") && tree_.AddFile("b.txt") && tree_.AddFile("sub/c.txt"));
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
    ASSERT_TRUE(
        prefix.AddDir("drive_c/Windows/System32") && prefix.AddDir("dosdevices") &&
        prefix.AddSymlink("dosdevices/c:", "../drive_c") && prefix.AddSymlink("dosdevices/d:", outside.Root()) &&
        prefix.AddSymlink("dosdevices/z:", "/") && prefix.AddSymlink("dosdevices/c::", "/dev/null") &&
        prefix.AddSymlink("dosdevices/e:", "/no/such/dir") && prefix.AddSymlink("dosdevices/com1", "/dev/ttyS0"));
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
