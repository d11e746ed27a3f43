// drivemap's change commands on maps of temporary trees: each change, saved and loaded again, gives
// the map a fresh build of the changed tree gives (usage fields aside); refused changes, the exit
// statuses, and a damaged map left alone.
#include "tools/drivemap_runner.h"

#include <algorithm>
#include <filesystem>

namespace {

class DrivemapChanges : public DrivemapOnTree {
protected:
    // What the map holds below C:\, as `ls -r --json` lists it, in path order (a change appends
    // records where a build lists them in the disk's order), without the usage fields.
    json Listing(const TempTree *tree = nullptr, const TempTree *state = nullptr) const {
        const std::string machine = "--drive 'C=" + (tree ? tree : &tree_)->Root() + "' --state '" +
                                    (state ? state : &state_)->Root() + "' --quiet ";
        json listing = Json(Drivemap(machine + "--json ls -r 'C:\\'"));
        json entries = listing["entries"];
        for (auto &entry : entries)
            for (const char *key : {"usageCount", "lastUse"}) entry.erase(key);
        std::sort(entries.begin(), entries.end(), [](const json &a, const json &b) { return a["path"] < b["path"]; });
        return entries;
    }
    // The listing of a fresh build of the tree as it now stands.
    json FreshListing() const {
        TempTree state;
        EXPECT_EQ(Drivemap("--drive 'C=" + tree_.Root() + "' --state '" + state.Root() + "' --quiet build").exitCode,
                  0);
        return Listing(&tree_, &state);
    }
};

TEST_F(DrivemapChanges, EachChangeGivesWhatAFreshBuildGives) {
    const std::string pe = BuildPeFile({.imports = {"KERNEL32.DLL", "HELPER.DLL"}});
    ASSERT_TRUE(tree_.AddFile("App/app.exe", pe));
    ASSERT_TRUE(tree_.AddFile("App/helper.dll", BuildPeFile({})));
    ASSERT_TRUE(tree_.AddFile("Old/Deep/notes.txt", "notes"));
    ASSERT_TRUE(tree_.AddFile("Docs/readme.txt", "hello"));
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);

    // A directory removed with its subtree, a file added by update (read for its references), a
    // file moved to another directory: together, what a fresh build of the changed tree gives.
    std::filesystem::remove_all(tree_.Path("Old"));
    ASSERT_EQ(Drivemap(Machine() + "delete '" + tree_.Path("Old") + "'").exitCode, 0);
    ASSERT_TRUE(tree_.AddFile("New/Sub/tool.exe", pe));
    ASSERT_EQ(Drivemap(Machine() + "update 'C:\\New\\Sub\\tool.exe'").exitCode, 0);
    std::filesystem::create_directories(tree_.Path("Docs2"));
    std::filesystem::rename(tree_.Path("Docs/readme.txt"), tree_.Path("Docs2/readme.txt"));
    ASSERT_EQ(Drivemap(Machine() + "move 'C:\\Docs\\readme.txt' 'C:\\Docs2\\readme.txt'").exitCode, 0);
    EXPECT_EQ(Listing(), FreshListing());
    EXPECT_EQ(Json(Drivemap(Machine() + "--json imports 'C:\\New\\Sub\\tool.exe'"))["imports"][0]["module"], "helper");
}

TEST_F(DrivemapChanges, RefusedChangesAndDamagedMaps) {
    ASSERT_TRUE(tree_.AddFile("a.txt", "a"));
    ASSERT_EQ(Drivemap(Machine() + "build").exitCode, 0);
    const std::string before = ReadHostFile(state_.Path("PWDRVMAP.DAT"));
    // One path refused, the other deleted: exit 1, a line for the refused one, the map saved.
    Outcome run = Drivemap(Machine() + "--json delete 'C:\\nothing.txt' 'C:\\a.txt'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "drivemap: C:\\nothing.txt: not deleted: error 2: not found\n");
    json out = json::parse(run.out);
    EXPECT_EQ(out["changes"][0]["error"]["code"], 2);
    EXPECT_EQ(out["changes"][1]["done"], true);
    EXPECT_EQ(out["saved"], true);
    EXPECT_NE(ReadHostFile(state_.Path("PWDRVMAP.DAT")), before);
    // A use of a file that is neither mapped nor on disk; a path on no drive is a usage error.
    run = Drivemap(Machine() + "use 'C:\\gone.txt'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("neither in the map nor on the disk"), std::string::npos) << run.err;
    EXPECT_EQ(Drivemap(Machine() + "update /no/such/place").exitCode, 2);

    // A map file that lost a block when it was loaded is not changed without --force.
    MapFileDescription description = SampleMapDescription();
    description.drives.resize(1);
    description.drives[0].blocks[2].wParentId = 0x4001;
    const std::string damaged = BuildMapFile(description);
    ASSERT_TRUE(state_.AddFile("PWDRVMAP.DAT", damaged));
    run = Drivemap(Machine() + "update 'C:\\a.txt'");
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_EQ(ReadHostFile(state_.Path("PWDRVMAP.DAT")), damaged);
    EXPECT_EQ(Drivemap(Machine() + "update --force 'C:\\a.txt'").exitCode, 0);
}

}  // namespace
