// A tree of names Windows cannot hold, next to names it can but that stretch it (255 bytes, bytes
// that are not UTF-8, case twins), each followed by an ordinary subtree with an executable: a
// build, a reload and a sync record every entry outside those names, the names' own contents under
// their generated names, and nothing that depends on where the names fall in the walk.
#include "common/exe_builder.h"
#include "common/map_dump.h"
#include "common/temp_tree.h"
#include "mapfile/map_file.h"
#include "scan/drive_class.h"
#include "store/path_lookup.h"
#include "store/store_fixture.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const SYSTEMTIME kNow = {2030, 1, 2, 1, 0, 0, 0, 0};

struct Observed {
    std::map<std::string, unsigned> reasons;  // host name -> reason, for reasons 1 and 2
    int reports = 0;
    static void Hear(void *context, unsigned reason, const char *, const char *hostName, const char *) {
        auto *observed = static_cast<Observed *>(context);
        ++observed->reports;
        if (reason <= HOST_LISTING_CASE_TWIN) observed->reasons[hostName] = reason;
    }
};

class HostileNames : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ResetDriveClassState();
        HostMachine_FreezeLocalTime(&kNow);
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, disk_.Root().c_str()));
        ASSERT_TRUE(HostMachine_MapDrive('P', DRIVE_REMOVABLE, program_.Root().c_str()));
        HostMachine_SetModuleFileName("P:\\HOST.EXE");
    }
    void TearDown() override {
        StoreTest::TearDown();
        ResetDriveClassState();
    }
    EntryRecord *Find(const std::string &path) {
        EntryPosition position;
        return ResolvePath(path.c_str(), &position) ? LoadPtr32<EntryRecord>(&position.pEntry) : nullptr;
    }
    TempTree disk_, program_;
};

TEST_F(HostileNames, EveryNameLosesNothingOutsideItself) {
    // "NNa<name>" holds file.txt; "NNb" follows it in every listing and holds sub\\appNN.exe.
    // "09atwin" is left out: "09aTwin" comes first in byte order.
    const std::vector<std::string> names = {"a:c",
                                            "a?",
                                            "a*b",
                                            "a\\b",
                                            "a\"<>|",
                                            std::string("a\x01\x1f"),
                                            "a.",
                                            "a ",
                                            "a\xff\xfe\x80",
                                            "aTwin",
                                            "a" + std::string(252, 'x')};
    ASSERT_TRUE(disk_.AddFile("09atwin/file.txt"));
    std::map<std::string, std::string> hostileDirs;  // host name -> sentinel number
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string number = (i < 10 ? "0" : "") + std::to_string(i);
        const std::string dir = number + names[i];
        ASSERT_TRUE(disk_.AddFile(dir + "/file.txt", dir));
        const std::string sentinel = number + "b/sub/app" + number + ".exe";
        ASSERT_TRUE(disk_.AddFile(sentinel, BuildPeFile({.imports = {"sentinel" + number + ".dll"}})));
        hostileDirs[dir] = number;
    }
    Observed observed;
    HostMachine_ObserveListings(Observed::Hear, &observed);
    ASSERT_TRUE(DriveMap_BuildAll(nullptr, nullptr, nullptr));
    HostMachine_ObserveListings(nullptr, nullptr);
    EXPECT_EQ(DRIVEMAP_OK, DriveMap_GetError());
    EXPECT_TRUE(CheckMapInvariants());

    // The shown name of each host directory, from the host layer's own listing.
    std::map<std::string, std::string> shownAs;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("C:\\*.*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        char host[4096];
        ASSERT_TRUE(HostMachine_ResolvePath((std::string("C:\\") + data.cFileName).c_str(), host, sizeof host));
        shownAs[std::strrchr(host, '/') + 1] = data.cFileName;
    } while (FindNextFileA(search, &data));
    FindClose(search);

    size_t recorded = 0;
    for (const auto &[dir, number] : hostileDirs) {
        SCOPED_TRACE(number);
        EntryRecord *app = Find("C:\\" + number + "b\\sub\\app" + number + ".exe");
        ASSERT_NE(app, nullptr) << "the sentinel after " << number;
        EXPECT_NE(GetReferencePart(app), nullptr);
        const bool generated = shownAs[dir] != dir;
        EXPECT_EQ(generated, std::stoi(number) < 8);
        EXPECT_EQ(observed.reasons.count(dir), generated ? 1u : 0u);
        EXPECT_NE(Find("C:\\" + shownAs[dir] + "\\file.txt"), nullptr) << shownAs[dir];
        ++recorded;
    }
    EXPECT_EQ(shownAs.count("09atwin"), 0u);
    EXPECT_EQ(observed.reasons["09atwin"], (unsigned)HOST_LISTING_CASE_TWIN);
    // Each directory reported once however often the walk lists it: eight generated names and the
    // twin, all in the root.
    EXPECT_EQ(observed.reports, 8 + 1);

    // Every shown directory with its file, every sentinel with sub and the executable.
    const std::vector<std::string> built = Sorted(DumpMap(false));
    EXPECT_EQ(built.size(), 1 + recorded * 2 + names.size() * 3);  // and the drive's line

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
