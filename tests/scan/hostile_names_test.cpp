// A tree of names Windows cannot hold, next to names it can but that stretch it (255 bytes, bytes
// that are not UTF-8, case twins), each followed by an ordinary subtree with an executable: a
// build, a reload and a sync record every entry outside those names, the names' own contents under
// their generated names, and nothing that depends on where the names fall in the walk.
#include "common/exe_builder.h"
#include "common/map_dump.h"
#include "scan/scan_fixture.h"

#include <map>
#include <string>
#include <vector>

namespace {

// What the listings report: the generated names by host name, the case twins left out.
struct Observed {
    std::map<std::string, std::string> shownAs;
    std::vector<std::string> twins;
    int reports = 0;
    static void Hear(void *context, unsigned reason, const char *, const char *hostName, const char *shownAs) {
        auto *observed = static_cast<Observed *>(context);
        ++observed->reports;
        if (reason == HOST_LISTING_GENERATED_NAME) observed->shownAs[hostName] = shownAs;
        if (reason == HOST_LISTING_CASE_TWIN) observed->twins.push_back(hostName);
    }
};

using HostileNames = ScanTest;

TEST_F(HostileNames, EveryNameLosesNothingOutsideItself) {
    // "NNa<name>" holds file.txt; "NNb" follows it in every listing and holds sub\\appNN.exe.
    // "09atwin" is left out: "09aTwin" comes first in byte order.
    const std::string longest = "a" + std::string(252, 'x');  // "10" and this: 255 bytes
    const std::vector<std::string> names = {"a:c", "a?", "a*b",           "a\\b",  "a\"<>|", "a\x01\x1f",
                                            "a.",  "a ", "a\xff\xfe\x80", "aTwin", longest};
    ASSERT_TRUE(disk_.AddFile("09atwin/file.txt"));
    std::vector<std::string> dirs;  // "NN" and the name
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string number = (i < 10 ? "0" : "") + std::to_string(i);
        dirs.push_back(number + names[i]);
        ASSERT_TRUE(disk_.AddFile(dirs.back() + "/file.txt"));
        ASSERT_TRUE(disk_.AddFile(number + "b/sub/app" + number + ".exe",
                                  BuildPeFile({.imports = {"sentinel" + number + ".dll"}})));
    }
    Observed observed;
    HostMachine_ObserveListings(Observed::Hear, &observed);
    ASSERT_TRUE(DriveMap_BuildAll(nullptr, nullptr, nullptr));
    HostMachine_ObserveListings(nullptr, nullptr);
    EXPECT_EQ(DRIVEMAP_OK, DriveMap_GetError());
    EXPECT_TRUE(CheckMapInvariants());

    for (const std::string &dir : dirs) {
        const std::string number = dir.substr(0, 2);
        const std::string shown = observed.shownAs.count(dir) ? observed.shownAs[dir] : dir;
        SCOPED_TRACE(number);
        EntryRecord *app = Find("C:\\" + number + "b\\sub\\app" + number + ".exe");
        ASSERT_NE(app, nullptr) << "the sentinel after " << number;
        EXPECT_NE(GetReferencePart(app), nullptr);
        EXPECT_EQ(shown != dir, std::stoi(number) < 8) << "shown under a generated name";
        EXPECT_NE(Find("C:\\" + shown + "\\file.txt"), nullptr) << shown;
    }
    EXPECT_EQ(observed.twins, std::vector<std::string>{"09atwin"});
    // Each directory reported once however often the walk lists it: eight generated names and the
    // twin, all in the root.
    EXPECT_EQ(observed.reports, 8 + 1);

    // The drive's line, every shown directory with its file, every sentinel with sub and the executable.
    const std::vector<std::string> built = Sorted(DumpMap(false));
    EXPECT_EQ(built.size(), 1 + names.size() * 5);

    // Saved and read back, then synchronised with the disk: the same map each time.
    ResetTestMap();
    ASSERT_TRUE(DriveMap_ReadAll(0));
    EXPECT_EQ(Sorted(DumpMap(false)), built);
    ASSERT_TRUE(DriveMap_SyncAll(nullptr, nullptr, nullptr));
    EXPECT_EQ(Sorted(DumpMap(false)), built);
    ResetTestMap();
    ASSERT_TRUE(DriveMap_ReadAll(0));
    EXPECT_EQ(Sorted(DumpMap(false)), built);
}

}  // namespace
