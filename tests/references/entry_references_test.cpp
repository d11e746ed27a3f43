// DriveMap_GetEntryReferences over maps built from trees and made by hand: the two scopes, the
// first-copy and own-directory rules, the order of the pairs, a result block too small for every
// match, memory running out, and the export's frame.
#include "common/exe_builder.h"
#include "common/map_builder.h"
#include "maintenance/query_fixture.h"
#include "support/path_utils.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

ReferenceResultBlock *const kUnwritten = reinterpret_cast<ReferenceResultBlock *>(0x10);

struct Answer {
    BOOL result;
    DWORD code;
    bool blockWritten;
    std::vector<std::string> users;  // the referencing files' full paths, upper case
    bool operator==(const Answer &) const = default;
    friend void PrintTo(const Answer &a, std::ostream *os) {
        *os << "result " << a.result << " code " << a.code << (a.blockWritten ? " block " : " no block ")
            << ::testing::PrintToString(a.users);
    }
};

Answer Found(std::vector<std::string> users) { return {1, DRIVEMAP_OK, true, std::move(users)}; }
const Answer kNobody{1, DRIVEMAP_OK, true, {}};
Answer Refused(DWORD code) { return {0, code, false, {}}; }

// The query with the critical flag set on entry (it must be cleared). The block's pairs become
// paths through DriveMap_GetFullPath, and the block is freed.
Answer References(const char *path, EntryPosition *position = nullptr, WORD *pCount = nullptr) {
    EntryPosition ignored;
    ReferenceResultBlock *block = kUnwritten;
    gCriticalFlag = 1;
    Answer answer{DriveMap_GetEntryReferences(7, path, position ? position : &ignored, &block, 9),
                  gErrorCode,
                  block != kUnwritten,
                  {}};
    EXPECT_EQ(0u, gCriticalFlag) << path;
    if (block == kUnwritten || block == nullptr) return answer;
    const WORD count = LoadField<WORD>(&block->wCount);
    if (pCount != nullptr) *pCount = count;
    EXPECT_GE(GlobalSize(GlobalHandle(block)), 2u + 8u * count);
    for (WORD i = 0; i < count; ++i) {
        EntryPosition pair;
        std::memcpy(&pair, reinterpret_cast<BYTE *>(block) + 2 + 8 * i, sizeof pair);
        CHAR full[PATH_BUFFER_SIZE];
        EXPECT_TRUE(DriveMap_GetFullPath(full, &pair));
        CharUpperA(full);
        answer.users.emplace_back(full);
    }
    FreeLockedBuffer(block);
    return answer;
}

class EntryReferences : public QueryTest {
protected:
    // Drive C: shared DLLs in the Windows and System directories, private ones in program
    // directories; drive D: one more user of the shared DLL.
    void BuildSharedAndPrivateTree() {
        const std::string shared = BuildPeFile({.imports = {"SHARED.DLL", "shadow.dll"}});
        for (const auto &[file, bytes] : std::initializer_list<std::pair<const char *, std::string>>{
                 {"WINDOWS/SYSTEM32/shared.dll", "MZ"},
                 {"WINDOWS/SYSTEM32/shadow.dll", "MZ"},
                 {"WINDOWS/shadow.dll", "MZ"},
                 {"WINDOWS/SYSTEM32/sysapp.exe", BuildPeFile({.imports = {"shared.dll"}})},
                 {"A/a.exe", shared},
                 {"B/b.exe", shared},  // its own directory holds a shared.dll: that one is loaded
                 {"B/shared.dll", "MZ"},
                 {"App/priv.dll", "MZ"},
                 {"App/app.exe", BuildPeFile({.imports = {"PRIV.DLL"}})},
                 {"App/FOO.DLL", "MZ"},
                 {"App/FOO.EXE", "MZ"},
                 {"App/user.exe", BuildPeFile({.imports = {"FOO.DLL"}})},
                 {"Other/other.exe", BuildPeFile({.imports = {"priv.dll"}})}})
            ASSERT_TRUE(disk_.AddFile(file, bytes));
        ASSERT_TRUE(second_.AddFile("Tools/d.exe", shared));
        ASSERT_TRUE(HostMachine_MapDrive('D', DRIVE_FIXED, second_.Root().c_str()));
        BuildMap();
    }
    static void UseWindows95() {
        HostMachine_SetVersion(0xC3B60004), HostMachine_SetVwin32(1);
        ResetDriveClassState();
    }
    TempTree second_;
};

TEST_F(EntryReferences, SharedFilesAreSearchedMapWideAndPrivateOnesInTheirOwnDirectory) {
    BuildSharedAndPrivateTree();
    // Drive-table order, depth first; the System directory's own user counts although the directory
    // holds a shared.dll (the queried one); B's does not.
    EXPECT_EQ(Found({"C:\\A\\A.EXE", "C:\\WINDOWS\\SYSTEM32\\SYSAPP.EXE", "D:\\TOOLS\\D.EXE"}),
              References("C:\\WINDOWS\\SYSTEM32\\SHARED.DLL"));
    // The Windows directory's copy is found first: the System directory's is used by nobody.
    EXPECT_EQ(kNobody, References("C:\\WINDOWS\\SYSTEM32\\shadow.dll"));
    EXPECT_EQ(Found({"C:\\A\\A.EXE", "C:\\B\\B.EXE", "D:\\TOOLS\\D.EXE"}), References("C:\\WINDOWS\\shadow.dll"));
    // Private: only its own directory; the base name decides, whatever the extension.
    EXPECT_EQ(Found({"C:\\APP\\APP.EXE"}), References("C:\\App\\priv.dll"));
    EXPECT_EQ(Found({"C:\\APP\\USER.EXE"}), References("C:\\App\\FOO.DLL"));
    EXPECT_EQ(Found({"C:\\APP\\USER.EXE"}), References("C:\\App\\FOO.EXE"));
    EXPECT_EQ(kNobody, References("C:\\Other\\other.exe"));
    // A directory of PATH is shared too.
    ASSERT_TRUE(SetEnvironmentVariableA("PATH", "C:\\App"));
    EXPECT_EQ(Found({"C:\\APP\\APP.EXE", "C:\\OTHER\\OTHER.EXE"}), References("C:\\App\\priv.dll"));

    // A path on a substituted drive (which Windows 95 tells apart) is asked as its true path; the
    // position is the record's.
    UseWindows95();
    ASSERT_TRUE(HostMachine_SubstDrive('S', "C:\\WINDOWS\\SYSTEM32"));
    EntryPosition position = {0, 0};
    EXPECT_EQ(References("C:\\WINDOWS\\SYSTEM32\\shared.dll"), References("S:\\shared.dll", &position));
    EXPECT_STRCASEEQ("shared.dll", GetEntryName(LoadPtr32<EntryRecord>(&position.pEntry)));
    EXPECT_TRUE(CheckMapInvariants());
}

TEST_F(EntryReferences, RefusesWhatNamesNoFileOfTheMapAndSetsTheModeOnlyForAFullPath) {
    BuildSharedAndPrivateTree();
    const std::string tooLong = "C:\\" + std::string(297, 'x');
    const struct {
        const char *path;
        DWORD code;
        DWORD mode;
    } rows[] = {
        {nullptr, DRIVEMAP_NOT_FOUND, MODE_SYNC},
        {"", DRIVEMAP_NOT_FOUND, MODE_SYNC},
        {"App\\priv.dll", DRIVEMAP_NOT_FOUND, MODE_SYNC},
        {"C:\\", DRIVEMAP_NOT_FOUND, MODE_QUERY},  // a drive's root is no file
        {"C:\\App\\missing.dll", DRIVEMAP_NOT_FOUND, MODE_QUERY},
        {tooLong.c_str(), DRIVEMAP_NOT_FOUND, MODE_QUERY},
        {"P:\\HOST.EXE", DRIVEMAP_DRIVE_NOT_MAPPED, MODE_QUERY},  // removable: never mapped
        {"Q:\\x.dll", DRIVEMAP_DRIVE_NOT_MAPPED, MODE_QUERY},
    };
    for (const auto &row : rows) {
        gOperationMode = MODE_SYNC;
        EXPECT_EQ(Refused(row.code), References(row.path)) << (row.path ? row.path : "(null)");
        EXPECT_EQ(row.mode, gOperationMode) << (row.path ? row.path : "(null)");
    }
    // A substituted drive whose true path is itself on one ends rather than asks again.
    UseWindows95();
    ASSERT_TRUE(HostMachine_SubstDrive('S', "C:\\WINDOWS"));
    ASSERT_TRUE(HostMachine_SubstDrive('T', "S:\\SYSTEM32"));
    EXPECT_EQ(Refused(DRIVEMAP_DRIVE_NOT_MAPPED), References("T:\\shared.dll"));
}

// A private directory of a hand-made map: lib.dll and `users` executables that each name it twice.
class CrowdedDirectory : public QueryTest {
protected:
    void Build(int users) {
        DirectoryBlock *root = BuildDrive('C');
        ASSERT_TRUE(root);
        ASSERT_TRUE((dir_ = BuildDirectory(&root, "Dir")));
        ASSERT_TRUE(BuildFile(&dir_, "lib.dll"));
        for (int i = 0; i < users; ++i) {
            const std::string name = "e" + std::to_string(10000 + i) + ".exe";
            ASSERT_TRUE(BuildFile(&dir_, name.c_str(), 0, {"lib", "other", "LIB"}));
        }
    }
    DirectoryBlock *dir_ = nullptr;
};

TEST_F(CrowdedDirectory, KeepsTheFirstMatchesThatFitTheBlockAndCountsARecordPerName) {
    Build(4100);  // 8,200 matches
    WORD count = 0;
    const Answer answer = References("C:\\Dir\\lib.dll", nullptr, &count);
    ASSERT_EQ(8191u, count);
    ASSERT_EQ(8191u, answer.users.size());
    for (size_t i = 0; i < answer.users.size(); ++i)
        ASSERT_EQ("C:\\DIR\\E" + std::to_string(10000 + i / 2) + ".EXE", answer.users[i]) << i;

    // A block obtained smaller holds fewer: 65,534 bytes less 2,048 at each failure, here 10,238.
    HostMachine_LimitAllocations(10240);
    count = 0;
    EXPECT_EQ(1279u, References("C:\\Dir\\lib.dll", nullptr, &count).users.size());
    EXPECT_EQ(1279u, count);
    // No block at all: found, but no pairs.
    HostMachine_LimitAllocations(2000);
    EXPECT_EQ(kNobody, References("C:\\Dir\\lib.dll"));
    HostMachine_LimitAllocations(0);
    EXPECT_TRUE(CheckMapInvariants());
}

TEST_F(CrowdedDirectory, WithoutTheReferenceBufferEndsWithError3) {
    Build(1);
    ASSERT_EQ(nullptr, gReferenceBuffer);
    HostMachine_LimitAllocations(10239);
    EXPECT_EQ(Refused(DRIVEMAP_NO_MEMORY), References("C:\\Dir\\lib.dll"));
    HostMachine_LimitAllocations(0);
    EXPECT_EQ(Found({"C:\\DIR\\E10000.EXE", "C:\\DIR\\E10000.EXE"}), References("C:\\Dir\\lib.dll"));
    EXPECT_TRUE(CheckMapInvariants());
}

}  // namespace
