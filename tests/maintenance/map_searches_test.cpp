// The searches by name, by extension and for a table of names: what each finds, in which order and
// spelling, the byte layout of the lists handed out, paths that do not fit the buffers, memory that
// runs out, and the frames (only the extension search has one).
#include "common/map_builder.h"
#include "common/settings_machine.h"
#include "maintenance/query_fixture.h"
#include "support/path_utils.h"

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using FrameState = std::tuple<DWORD, DWORD, DWORD>;  // critical flag, operation mode, error code
FrameState Frame() { return {gCriticalFlag, gOperationMode, gErrorCode}; }

class MapSearch : public QueryTest {
protected:
    // The result and the buffer, which starts full of 'x'.
    static std::pair<BOOL, std::string> Search(const char *name, const char *directory, DWORD flags) {
        CHAR result[PATH_BUFFER_SIZE];
        std::memset(result, 'x', sizeof result);
        const BOOL found = DriveMap_SearchForFile(result, name, directory, flags);
        return {found, std::string(result, strnlen(result, sizeof result))};
    }
    struct ExtensionList {
        BOOL result;
        std::vector<std::string> paths;
        bool operator==(const ExtensionList &) const = default;
        friend void PrintTo(const ExtensionList &list, std::ostream *os) {
            *os << "result " << list.result << ::testing::PrintToString(list.paths);
        }
    };
    // The extension search; the list's block is checked (two zero bytes after the list's closing
    // NUL, no more) and freed.
    static ExtensionList FilesWithExtension(const char *extension) {
        LPSTR list = reinterpret_cast<LPSTR>(1);
        ExtensionList found{DriveMap_GetFilesWithExtension(extension, &list), {}};
        EXPECT_EQ(FrameState(0, MODE_QUERY, DRIVEMAP_OK), Frame());
        if (list == nullptr) return found;
        found.paths = ListStrings(list);
        DWORD cbList = 0;
        MeasureStringList(list, 0, &cbList, nullptr);
        EXPECT_EQ(cbList + 2, GlobalSize(GlobalHandle(list)));
        EXPECT_EQ(std::string(3, '\0'), std::string(list + cbList - 1, 3));
        FreeLockedBuffer(list);
        return found;
    }
};

TEST_F(MapSearch, SearchForFileTriesTheGivenWindowsSystemAndPathDirectoriesInThatOrder) {
    for (const char *file : {"WINDOWS/shared.dll", "WINDOWS/SYSTEM32/shared.dll", "WINDOWS/SYSTEM32/sysonly.dll",
                             "Tools/sysonly.dll", "Tools/tool.exe", "Tools/Sub/inner.txt", "App/tool.exe"})
        ASSERT_TRUE(disk_.AddFile(file));
    BuildMap();
    ASSERT_TRUE(SetEnvironmentVariableA("PATH", "C:\\Nowhere;;C:\\Tools\\;C:\\App"));
    gCriticalFlag = 1, gOperationMode = MODE_SYNC, gErrorCode = DRIVEMAP_STOPPED;
    gCurrentDrive = nullptr;

    using Found = std::pair<BOOL, std::string>;
    const char *const none = nullptr;
    EXPECT_EQ(Found(1, "C:\\WINDOWS\\shared.dll"), Search("shared.dll", none, 0x07));
    EXPECT_EQ(Found(1, "C:\\WINDOWS\\SYSTEM32\\SYSONLY.DLL"), Search("SYSONLY.DLL", none, 0x07));  // as written
    EXPECT_EQ(Found(1, "C:\\Tools\\tool.exe"), Search("tool.exe", none, 0x07));                    // one backslash
    EXPECT_EQ(Found(1, "C:\\App\\tool.exe"), Search("tool.exe", "C:\\App", 0x0F));
    EXPECT_EQ(Found(1, "C:\\Tools\\SUB"), Search("SUB", "C:\\Tools", 0x08));  // a directory
    EXPECT_EQ(Found(0, ""), Search("tool.exe", none, 0x08));                  // no directory given
    EXPECT_EQ(Found(0, ""), Search("tool.exe", none, 0x03));
    EXPECT_EQ(Found(0, ""), Search("missing.dll", "C:\\App", 0xFF));
    EXPECT_EQ(Found(1, "D:\\not\\mapped.txt"), Search("D:\\not\\mapped.txt", none, 0));  // the map is not asked
    const std::string tooLong = "C:\\" + std::string(297, 'x');
    EXPECT_EQ(Found(0, ""), Search(tooLong.c_str(), none, 0));
    // A join of more than 299 characters is not tried: cut, it would name another path.
    EXPECT_EQ(Found(0, ""), Search((std::string(290, 'y') + "\\tool.exe").c_str(), "C:\\App", 0x08));

    EXPECT_EQ(FrameState(1, MODE_SYNC, DRIVEMAP_STOPPED), Frame());  // no frame
    EXPECT_EQ(nullptr, gCurrentDrive);                               // the lookups' drive given back
    gCriticalFlag = 0;
}

TEST_F(MapSearch, ExtensionListIsDepthFirstInRecordOrderAndGrowsOrFailsWhole) {
    for (const char *file : {"A.EXE", "D/B.EXE", "E.EXE", "README", "notes.txt", "D/.dot"})
        ASSERT_TRUE(disk_.AddFile(file));
    BuildMap();
    const ExtensionList exe{1, {"C:\\A.exe", "C:\\D\\B.exe", "C:\\E.exe"}};
    gCriticalFlag = 1, gErrorCode = DRIVEMAP_STOPPED;  // set on entry, cleared at the end
    EXPECT_EQ(exe, FilesWithExtension("exe"));
    EXPECT_EQ(exe, FilesWithExtension("EXE"));
    EXPECT_EQ((ExtensionList{1, {}}), FilesWithExtension(".EXE"));
    EXPECT_EQ((ExtensionList{1, {"C:\\D\\.dot", "C:\\Readme"}}), FilesWithExtension(""));

    // 100 more paths of 33 bytes with one extension, 300 with another: the list is first asked for with
    // 196,602 bytes and then 2,048 less each time, and grows by doubling or else by what it needs.
    for (int i = 0; i < 400; ++i)
        ASSERT_TRUE(disk_.AddFile("Many/document-number-" + std::to_string(1000 + i) + (i % 4 ? ".dat" : ".exe")));
    ResetTestMap();
    BuildMap();
    const ExtensionList all = FilesWithExtension("dat");
    ASSERT_EQ(300u, all.paths.size());
    EXPECT_EQ("C:\\Many\\document-number-1001.dat", all.paths[0]);
    const struct {
        unsigned long limit;
        const char *extension;
        BOOL result;
    } limits[] = {
        {1000, "exe", 0},   // no list at all
        {4086, "exe", 1},   // 2,042 bytes, doubled to 4,084
        {4086, "dat", 0},   // and no further
        {10000, "dat", 1},  // 8,186 bytes, doubling fails, grown by what each path needs
        {9000, "dat", 0},   // until that fails too
    };
    for (const auto &row : limits) {
        HostMachine_LimitAllocations(row.limit);
        const ExtensionList found = FilesWithExtension(row.extension);
        HostMachine_LimitAllocations(0);
        EXPECT_EQ(row.result, found.result) << row.limit << " " << row.extension;
        EXPECT_EQ(row.result ? (row.extension[0] == 'e' ? 103u : 300u) : 0u, found.paths.size())
            << row.limit << " " << row.extension;
    }
    EXPECT_TRUE(CheckMapInvariants());
}

// MyFileQuery elements whose names are global memory, as a 64-bit caller must pass them.
class MyFiles {
public:
    explicit MyFiles(std::initializer_list<const char *> names) : queries_(names.size()) {
        size_t i = 0;
        for (const char *name : names) {
            DWORD cb = static_cast<DWORD>(std::strlen(name)) + 1;
            LPSTR copy = static_cast<LPSTR>(AllocLockedBuffer(&cb, 0));
            std::memcpy(copy, name, cb);
            StorePtr32(&queries_[i].pszName, copy);
            queries_[i].dwCaller1 = queries_[i].dwCaller2 = 0xAAAAAAAAu;
            queries_[i++].pFound = 0;
        }
    }
    ~MyFiles() {
        Delete_Allocated_Memory(queries_.data(), Count());
        for (MyFileQuery &query : queries_) FreeLockedBuffer(LoadPtr32<CHAR>(&query.pszName));
    }
    MyFileQuery *Data() { return queries_.data(); }
    LONG Count() const { return static_cast<LONG>(queries_.size()); }
    // Element i's list, head first; checks the caller's fields stayed as they were.
    std::vector<std::string> Found(size_t i) const {
        EXPECT_EQ(0xAAAAAAAAu, queries_[i].dwCaller1);
        EXPECT_EQ(0xAAAAAAAAu, queries_[i].dwCaller2);
        std::vector<std::string> paths;
        for (auto *node = LoadPtr32<MyFileFound>(&queries_[i].pFound); node != nullptr;
             node = LoadPtr32<MyFileFound>(&node->pNextFound))
            paths.emplace_back(LoadPtr32<CHAR>(&node->pszDirectory));
        return paths;
    }

private:
    std::vector<MyFileQuery> queries_;
};

using Paths = std::vector<std::string>;

TEST_F(MapSearch, MyFilesListsEveryDirectoryHoldingTheNameLastFoundFirst) {
    DirectoryBlock *c = BuildDrive('C');
    ASSERT_TRUE(BuildFile(&c, "target.dll"));
    DirectoryBlock *sub = BuildDirectory(&c, "Sub");
    ASSERT_TRUE(BuildFile(&sub, "TARGET.DLL"));
    DirectoryBlock *nest = BuildDirectory(&sub, "Nest");
    ASSERT_TRUE(BuildDirectory(&nest, "target.dll"));  // a directory of the name counts too
    DirectoryBlock *d = BuildDrive('D');
    ASSERT_TRUE(BuildFile(&d, "Target.Dll"));
    gCriticalFlag = 1, gOperationMode = MODE_SYNC, gErrorCode = DRIVEMAP_STOPPED;

    MyFiles files({"target.dll", "nest", "none.txt"});
    EXPECT_TRUE(SearchAllDirForMyFiles(files.Data(), files.Count()));
    // Found in the order C:\, C:\Sub\, C:\Sub\Nest\ (a directory's own match after its tree), D:\.
    EXPECT_EQ((Paths{"D:\\", "C:\\Sub\\Nest\\", "C:\\Sub\\", "C:\\"}), files.Found(0));
    EXPECT_EQ((Paths{"C:\\Sub\\"}), files.Found(1));
    EXPECT_EQ(Paths{}, files.Found(2));
    EXPECT_TRUE(SearchAllDirForMyFiles(files.Data(), 0));
    EXPECT_EQ(FrameState(1, MODE_SYNC, DRIVEMAP_STOPPED), Frame());
    gCriticalFlag = 0;
}

TEST_F(MapSearch, MyFilesPassesOverDirectoriesTooDeepForItsPathsAndStopsWhenMemoryRunsOut) {
    // C:\A\B\C\ would be 606 characters: C's records are not searched, the others are.
    DirectoryBlock *block = BuildDrive('C');
    std::string path = "C:\\";
    for (char level : {'A', 'B', 'C'}) {
        ASSERT_TRUE(BuildFile(&block, "t.txt"));
        const std::string name(200, level);
        ASSERT_TRUE((block = BuildDirectory(&block, name.c_str())));
        path += name + "\\";
    }
    ASSERT_TRUE(BuildFile(&block, "t.txt"));
    {
        MyFiles files({"t.txt"});
        EXPECT_TRUE(SearchAllDirForMyFiles(files.Data(), files.Count()));
        EXPECT_EQ((Paths{path.substr(0, 405), path.substr(0, 204), "C:\\"}), files.Found(0));
    }
    // Nodes are 16 bytes: the first path's text fits 16 bytes, the next does not. Then not even a
    // node. The search ends with 0; what was linked stays until Delete_Allocated_Memory.
    for (const auto &[limit, linked] : {std::pair{16ul, Paths{"C:\\"}}, std::pair{8ul, Paths{}}}) {
        MyFiles files({"t.txt"});
        HostMachine_LimitAllocations(limit);
        EXPECT_FALSE(SearchAllDirForMyFiles(files.Data(), files.Count()));
        HostMachine_LimitAllocations(0);
        EXPECT_EQ(linked, files.Found(0));
    }
    EXPECT_TRUE(CheckMapInvariants());
}

}  // namespace
