// The library end to end through its exports alone, as a client program loads it: build, save,
// load, sync, lookups, the reference query, the searches and the change exports. Each case runs
// once per way this build can load the library (loaded_library.h): against the shared object and,
// on i386, against PWDVMP32.DLL itself. The library is loaded fresh for each case, after the
// machine is set up, as a Windows program would call LoadLibrary.
#include "common/exe_builder.h"
#include "common/temp_tree.h"
#include "host_machine.h"
#include "loaded_library/loaded_library.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// What the walker's callbacks saw. Both are stdcall: a caller that popped their arguments itself
// would unbalance the DLL's stack at the first call.
struct WalkLog {
    int files = 0, enters = 0, stopAtFile = 0;
    std::set<std::string> paths;
    static int WINAPI OnFile(void *context, char *path, FIND_DATA *, LONG) {
        auto *log = static_cast<WalkLog *>(context);
        log->paths.insert(path);
        return ++log->files != log->stopAtFile;
    }
    static int WINAPI OnDir(void *context, unsigned event, char *, char *, LONG) {
        static_cast<WalkLog *>(context)->enters += event == DIR_EVENT_ENTER;
        return 1;
    }
};

// Frees a locked block of global memory the library handed out.
void FreeGlobal(void *pointer) {
    HGLOBAL handle = GlobalHandle(pointer);
    GlobalUnlock(handle);
    GlobalFree(handle);
}

class LoadedLibraryTest : public ::testing::TestWithParam<LibraryKind> {
protected:
    void SetUp() override {
        HostMachine_Reset();
        static const SYSTEMTIME now = {2030, 1, 2, 1, 0, 0, 0, 0};
        HostMachine_FreezeLocalTime(&now);
        ASSERT_TRUE(disk_.AddDir("WINDOWS/SYSTEM32"));
        ASSERT_TRUE(disk_.AddFile("WINDOWS/SYSTEM32/FOO.DLL", BuildPeFile({})));
        ASSERT_TRUE(disk_.AddFile("Bin/app.exe", BuildPeFile({.imports = {"FOO.DLL", "bar.dll"}})));
        ASSERT_TRUE(disk_.AddFile("Bin/tool.exe", BuildPeFile({.imports = {"foo.dll"}})));
        ASSERT_TRUE(disk_.AddFile("Bin/old.exe", BuildNeFile({.modules = {"LEGACY"}})));
        ASSERT_TRUE(disk_.AddFile("Docs/Long File Name.TXT", "text"));
        ASSERT_TRUE(disk_.AddFile("Docs/gone.txt", "soon removed"));
        ASSERT_TRUE(HostMachine_MapDrive('C', DRIVE_FIXED, disk_.Root().c_str()));
        ASSERT_TRUE(HostMachine_MapDrive('P', DRIVE_REMOVABLE, program_.Root().c_str()));
        HostMachine_SetModuleFileName("P:\\HOST.EXE");
        baseline_ = HostMachine_GlobalBlockCount();
        std::string error;
        library_ = GetParam().load(&error);
        ASSERT_NE(nullptr, library_) << error;
        lib_ = &library_->Exports();
    }
    void TearDown() override {
        if (library_ != nullptr) lib_->DriveMap_FreeAll();
        library_.reset();
        HostMachine_Reset();
        EXPECT_EQ(baseline_, HostMachine_GlobalBlockCount()) << "global memory left behind";
    }
    // The full path of the map's record of `path`, as the map spells it; "" when it holds none.
    std::string MapPath(const char *path) {
        EntryPosition position = {};
        CHAR full[MAX_PATH] = {};
        if (!lib_->DriveMap_GetEntry(0, path, &position) || !lib_->DriveMap_GetFullPath(full, &position)) return "";
        return full;
    }
    std::string MapFile() const { return program_.ReadFile("PWDRVMAP.DAT"); }

    TempTree disk_, program_;
    unsigned long baseline_ = 0;
    std::unique_ptr<LoadedLibrary> library_;
    const DriveMapExports *lib_ = nullptr;
};

TEST_P(LoadedLibraryTest, BuildSavesAMapThatLoadsBackWithTheSameEntries) {
    WalkLog stopFirst;
    stopFirst.stopAtFile = 1;
    EXPECT_FALSE(lib_->DriveMap_BuildAll(&stopFirst, WalkLog::OnFile, WalkLog::OnDir));
    EXPECT_EQ(DRIVEMAP_STOPPED, lib_->DriveMap_GetError());
    EXPECT_TRUE(MapFile().empty()) << "a stopped build saves nothing";

    WalkLog log;
    ASSERT_TRUE(lib_->DriveMap_BuildAll(&log, WalkLog::OnFile, WalkLog::OnDir));
    EXPECT_EQ(DRIVEMAP_OK, lib_->DriveMap_GetError());
    EXPECT_EQ(0u, lib_->DriveMap_GetDirtyFlag()) << "a build saves the map";
    EXPECT_EQ(10, log.files);  // 6 files and 4 directories
    EXPECT_EQ(5, log.enters);  // C:\, WINDOWS, SYSTEM32, Bin, Docs
    // The map spells a name that is all one case, as a valid 8.3 name, with a capital first letter.
    EXPECT_EQ("C:\\Docs\\Long File Name.TXT", MapPath("c:\\docs\\long file name.txt"));
    const std::string saved = MapFile();
    ASSERT_FALSE(saved.empty());

    lib_->DriveMap_FreeAll();
    EXPECT_EQ("", MapPath("C:\\Bin\\app.exe")) << "the map is gone";
    ASSERT_TRUE(lib_->DriveMap_ReadAll(0));
    EXPECT_EQ("C:\\Bin\\App.exe", MapPath("C:\\BIN\\APP.EXE"));
    ASSERT_TRUE(lib_->DriveMap_WriteAll(0, /*lockTest=*/0));
    EXPECT_EQ(saved, MapFile()) << "loading and saving again changes no byte";
}

TEST_P(LoadedLibraryTest, SyncFollowsTheDisk) {
    ASSERT_TRUE(lib_->DriveMap_BuildAll(nullptr, nullptr, nullptr));
    ASSERT_TRUE(disk_.AddFile("Docs/new.txt", "new"));
    ASSERT_EQ(0, std::remove(disk_.Path("Docs/gone.txt").c_str()));
    WalkLog log;
    ASSERT_TRUE(lib_->DriveMap_SyncAll(&log, WalkLog::OnFile, WalkLog::OnDir));
    EXPECT_EQ(DRIVEMAP_OK, lib_->DriveMap_GetError());
    EXPECT_EQ(1, log.files) << "the sync calls back for what it adds";
    EXPECT_EQ("C:\\Docs\\New.txt", MapPath("C:\\Docs\\new.txt"));
    EXPECT_EQ("", MapPath("C:\\Docs\\gone.txt"));
    const std::string synced = MapFile();

    // A fresh build of the same disk saves the same map.
    ASSERT_EQ(0, std::remove(program_.Path("PWDRVMAP.DAT").c_str()));
    lib_->DriveMap_FreeAll();
    ASSERT_TRUE(lib_->DriveMap_BuildAll(nullptr, nullptr, nullptr));
    EXPECT_EQ(synced, MapFile());
}

TEST_P(LoadedLibraryTest, ReferenceQueryAndSearches) {
    ASSERT_TRUE(lib_->DriveMap_BuildAll(nullptr, nullptr, nullptr));
    EntryPosition position = {};
    ReferenceResultBlock *block = nullptr;
    ASSERT_TRUE(lib_->DriveMap_GetEntryReferences(0, "C:\\WINDOWS\\SYSTEM32\\FOO.DLL", &position, &block, 0));
    EXPECT_EQ(DRIVEMAP_OK, lib_->DriveMap_GetError());
    ASSERT_NE(nullptr, block);
    std::set<std::string> users;
    WORD count = 0;
    std::memcpy(&count, &block->wCount, sizeof count);
    for (WORD i = 0; i < count; ++i) {
        EntryPosition pair;
        std::memcpy(&pair, reinterpret_cast<BYTE *>(block) + 2 + 8 * i, sizeof pair);
        CHAR full[MAX_PATH] = {};
        EXPECT_TRUE(lib_->DriveMap_GetFullPath(full, &pair));
        users.insert(full);
    }
    FreeGlobal(block);
    EXPECT_EQ((std::set<std::string>{"C:\\Bin\\App.exe", "C:\\Bin\\Tool.exe"}), users);

    CHAR found[MAX_PATH] = {};
    EXPECT_TRUE(lib_->DriveMap_SearchForFile(found, "foo.dll", nullptr, FIND_SYSTEM_DIR));
    EXPECT_STREQ("C:\\WINDOWS\\SYSTEM32\\foo.dll", found);

    WalkLog log;
    lib_->DriveMap_SearchDirectory(&log, "C:\\Bin", "*.exe", WALK_RECURSE, WalkLog::OnFile, WalkLog::OnDir, 0);
    EXPECT_EQ((std::set<std::string>{"C:\\Bin\\App.exe", "C:\\Bin\\Old.exe", "C:\\Bin\\Tool.exe"}), log.paths);

    LPSTR list = nullptr;
    ASSERT_TRUE(lib_->DriveMap_GetFilesWithExtension("exe", &list));
    ASSERT_NE(nullptr, list);
    std::set<std::string> listed;
    for (const char *item = list; *item != '\0'; item += std::strlen(item) + 1) listed.insert(item);
    FreeGlobal(list);
    EXPECT_EQ(3u, listed.size()) << ::testing::PrintToString(listed);

    // The name sought is global memory, which a 32-bit field can hold on every host.
    HGLOBAL nameBlock = GlobalAlloc(GMEM_FIXED, 16);
    std::strcpy(static_cast<char *>(GlobalLock(nameBlock)), "old.exe");
    MyFileQuery query = {};
    query.pszName = static_cast<PTR32>(reinterpret_cast<uintptr_t>(GlobalLock(nameBlock)));
    ASSERT_TRUE(lib_->SearchAllDirForMyFiles(&query, 1));
    ASSERT_NE(0u, query.pFound);
    const auto *node = reinterpret_cast<const MyFileFound *>(uintptr_t{query.pFound});
    EXPECT_STREQ("C:\\Bin\\", reinterpret_cast<const char *>(uintptr_t{node->pszDirectory}));
    EXPECT_EQ(0u, node->pNextFound);
    lib_->Delete_Allocated_Memory(&query, 1);  // the fixture checks that the nodes went
    GlobalUnlock(nameBlock);
    GlobalUnlock(nameBlock);
    GlobalFree(nameBlock);
}

TEST_P(LoadedLibraryTest, ChangeExportsRecordWhatTheClientDid) {
    ASSERT_TRUE(lib_->DriveMap_BuildAll(nullptr, nullptr, nullptr));
    ASSERT_TRUE(disk_.AddFile("Docs/added.txt", "added"));
    EXPECT_TRUE(lib_->DriveMap_UpdateEntry(0, "C:\\Docs\\added.txt"));
    EXPECT_EQ("C:\\Docs\\Added.txt", MapPath("C:\\DOCS\\ADDED.TXT"));
    EXPECT_TRUE(lib_->DriveMap_IncrementEntryUsageCount(0, "C:\\Docs\\added.txt", 3));

    ASSERT_EQ(0, std::rename(disk_.Path("Docs/added.txt").c_str(), disk_.Path("Bin/added.txt").c_str()));
    EXPECT_TRUE(lib_->DriveMap_Move("C:\\Bin\\added.txt", "C:\\Docs\\added.txt"));
    EXPECT_EQ("", MapPath("C:\\Docs\\added.txt"));
    EXPECT_EQ("C:\\Bin\\Added.txt", MapPath("C:\\Bin\\added.txt"));

    EXPECT_TRUE(lib_->DriveMap_DeleteEntry(0, "C:\\Bin\\added.txt"));
    EXPECT_EQ("", MapPath("C:\\Bin\\added.txt"));
    ASSERT_TRUE(lib_->DriveMap_WriteAll(0, /*lockTest=*/0));
    EXPECT_EQ(0u, lib_->DriveMap_GetDirtyFlag());
}

INSTANTIATE_TEST_SUITE_P(, LoadedLibraryTest, ::testing::ValuesIn(AvailableLibraryKinds()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
