// DriveMap_SearchDirectory against the directory walker: over the map built from a tree, the map's
// walk makes the same callbacks in the same order as the walker's walk of the tree itself, for every
// flag, start and place a callback stops.
#include "maintenance/query_fixture.h"
#include "scan/directory_walker.h"
#include "support/message_pump.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

const char *const kEventNames[] = {"enter", "listed", "before", "leave"};

// Every callback of one walk as a line; the callback numbered `stopAt` (1-based, files and
// directory events counted together) returns 0.
struct WalkLog {
    std::vector<std::string> lines;
    int stopAt = 0;
    bool mapWalk = false;
    bool recordMismatch = false;  // the map walk passed something other than the path's record

    bool Next() { return static_cast<int>(lines.size()) != stopAt; }
    static int WINAPI OnFile(void *context, char *path, FIND_DATA *find, LONG userValue) {
        auto *log = static_cast<WalkLog *>(context);
        log->lines.push_back("file " + std::string(path) + " " + std::to_string(userValue));
        if (log->mapWalk) {
            const std::string name = reinterpret_cast<EntryRecord *>(find)->szName;
            log->recordMismatch |= !std::string(path).ends_with("\\" + name);
        }
        return log->Next();
    }
    static int WINAPI OnDir(void *context, unsigned event, char *directory, char *unused, LONG userValue) {
        auto *log = static_cast<WalkLog *>(context);
        log->lines.push_back(std::string(kEventNames[event]) + " " + directory + " [" + unused + "] " +
                             std::to_string(userValue));
        return log->Next();
    }
};

struct WalkResult {
    std::vector<std::string> lines;
    DWORD stopFlag;
    bool operator==(const WalkResult &) const = default;
};

void PrintTo(const WalkResult &r, std::ostream *os) {
    *os << "stop flag " << r.stopFlag << ":";
    for (const std::string &line : r.lines) *os << "\n  " << line;
}

WalkResult WalkDisk(const char *start, DWORD flags, int stopAt) {
    WalkLog log;
    log.stopAt = stopAt;
    WalkDirectoryTree(&log, start, "*.*", flags, WalkLog::OnFile, WalkLog::OnDir, 42);
    return {log.lines, GetStopFlag()};
}

WalkResult WalkMap(const char *start, DWORD flags, int stopAt, bool *recordMismatch = nullptr) {
    WalkLog log;
    log.stopAt = stopAt;
    log.mapWalk = true;
    DriveMap_SearchDirectory(&log, start, "*.*", flags, WalkLog::OnFile, WalkLog::OnDir, 42);
    if (recordMismatch != nullptr) *recordMismatch = log.recordMismatch;
    return {log.lines, GetStopFlag()};
}

using MapWalk = QueryTest;

TEST_F(MapWalk, MakesTheDirectoryWalkersCallbacksForEveryFlagStartAndStop) {
    for (const char *file : {"a.txt", "B.EXE", "Sub/x.txt", "Sub/Deep/y.txt", "Sub/Deep/z.txt", "Sub/Other/w.doc",
                             "Long Name Folder/Mixed Case.Txt", ".hidden/h.txt", ".profile", "zz/last.txt"})
        ASSERT_TRUE(disk_.AddFile(file));
    ASSERT_TRUE(disk_.AddDir("Empty"));
    ASSERT_TRUE(disk_.AddDir("Sub/Deep/Empty Too"));
    // Passed over by both: the third 100-character level cannot be named in 299 characters.
    const std::string hundred(100, 'h');
    ASSERT_TRUE(disk_.AddFile(hundred + "/" + hundred + "/" + hundred + "/lost.txt"));
    BuildMap();

    const DWORD flagSets[] = {0, WALK_RECURSE, WALK_RECURSE | WALK_DIRS_AS_FILES,
                              WALK_DIRS_AS_FILES | WALK_SET_STOP_AFTER,
                              WALK_RECURSE | WALK_SET_STOP_AFTER | 0x80 /* ignored */};
    for (const char *start : {"C:\\", "C:\\Sub", "C:\\sub\\DEEP\\"}) {
        for (const DWORD flags : flagSets) {
            const WalkResult whole = WalkDisk(start, flags, 0);
            bool recordMismatch = false;
            EXPECT_EQ(whole, WalkMap(start, flags, 0, &recordMismatch)) << start << " flags " << flags;
            EXPECT_FALSE(recordMismatch);
            // Each callback in turn asks to stop.
            for (int stopAt = 1; stopAt <= static_cast<int>(whole.lines.size()); ++stopAt)
                EXPECT_EQ(WalkDisk(start, flags, stopAt), WalkMap(start, flags, stopAt))
                    << start << " flags " << flags << " stop at " << stopAt;
        }
    }
    // A listing's first and last entries and a walk's outline, so that an empty walk cannot pass.
    const WalkResult whole = WalkMap("C:\\", WALK_RECURSE, 0);
    ASSERT_GE(whole.lines.size(), 3u);
    EXPECT_EQ("enter C:\\ [] 42", whole.lines.front());
    EXPECT_EQ(9, std::count_if(whole.lines.begin(), whole.lines.end(),
                               [](const std::string &line) { return line.starts_with("file "); }));
    EXPECT_EQ("leave C:\\ [] 42", whole.lines.back());
    EXPECT_EQ(0u, whole.stopFlag);

    // Paths that name no directory of the map make no callback, and only WALK_SET_STOP_AFTER leaves
    // the stop flag set.
    const std::string tooLong = "C:\\" + std::string(297, 'x');
    for (const char *start : {"C:\\Missing", "C:\\a.txt", "Q:\\", "relative", tooLong.c_str()}) {
        EXPECT_EQ((WalkResult{{}, 0}), WalkMap(start, WALK_RECURSE, 0)) << start;
        EXPECT_EQ((WalkResult{{}, 1}), WalkMap(start, WALK_SET_STOP_AFTER, 0)) << start;
    }
    // No frame: the critical flag, the mode and the error code stay as they were.
    gCriticalFlag = 1, gOperationMode = MODE_SYNC, gErrorCode = DRIVEMAP_STOPPED;
    DriveMap_SearchDirectory(nullptr, "C:\\", nullptr, WALK_RECURSE, nullptr, nullptr, 0);  // no callbacks
    EXPECT_EQ(0u, GetStopFlag());
    EXPECT_EQ(std::make_tuple(1u, DWORD{MODE_SYNC}, DWORD{DRIVEMAP_STOPPED}),
              std::make_tuple(gCriticalFlag, gOperationMode, gErrorCode));
    gCriticalFlag = 0;
    EXPECT_TRUE(CheckMapInvariants());
}

}  // namespace
