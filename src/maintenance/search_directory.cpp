// DriveMap_SearchDirectory: the directory walker's walk over the map instead of the disk. The
// callbacks see what the walker shows for the same tree (its flags, its four events in the same
// order, the same answer to a callback's 0), with the records in their stored order in place of
// the file system's listing order and a pointer to each EntryRecord where the walker passes a
// FIND_DATA. It uses the walker's module-wide state and stop flag: one walk of either kind at a
// time. Nothing is pumped, the current directory stays, and the callbacks must not change the map
// (its blocks are walked in place).
#include "pwdvmp32.h"

#include "scan/directory_walker.h"
#include "store/block_layout.h"
#include "store/drive_table.h"
#include "store/module_state.h"
#include "store/path_lookup.h"
#include "support/message_pump.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

// A record whose full path would not fit the 299-character buffers is passed over, as the walker
// passes over such entries on the disk: a cut path would name another record.
BOOL FitsBelowCurrentPath(const EntryRecord *entry) {
    return JoinedPathLength(gWalk.currentPath, GetEntryName(entry)) < PATH_BUFFER_SIZE;
}

// Reports the block's records, then walks its subdirectories; the current path names its directory.
void WalkMapDirectory(const DirectoryBlock *block) {
    if (block == nullptr) return;
    if (!CallDirCallback(DIR_EVENT_ENTER)) return;

    DWORD cSubdirectories = 0;
    ForEachEntry(block, [&](EntryRecord *entry) -> bool {
        if (!FitsBelowCurrentPath(entry)) return false;
        if (!IsFile(entry)) {
            ++cSubdirectories;
            if ((gWalk.flags & WALK_DIRS_AS_FILES) == 0) return false;
        }
        if (gWalk.fileCallback == nullptr) return false;
        std::strcpy(gWalk.fullName, gWalk.currentPath);
        AppendPathComponent(gWalk.fullName, GetEntryName(entry));
        if (gWalk.fileCallback(gWalk.context, gWalk.fullName, reinterpret_cast<FIND_DATA *>(entry), gWalk.userValue))
            return false;
        SetStopFlag(1);
        return true;
    });

    if (!CallDirCallback(DIR_EVENT_LISTED) || GetStopFlag() == 1) return;
    if (!CallDirCallback(DIR_EVENT_BEFORE_SUBDIRS)) return;

    if ((gWalk.flags & WALK_RECURSE) != 0 && cSubdirectories > 0) {
        const size_t cchPath = std::strlen(gWalk.currentPath);
        DWORD cWalked = 0;
        ForEachEntry(block, [&](EntryRecord *entry) -> bool {
            if (IsFile(entry) || !FitsBelowCurrentPath(entry)) return false;
            AppendPathComponent(gWalk.currentPath, GetEntryName(entry));
            WalkMapDirectory(GetChildBlock(entry));
            gWalk.currentPath[cchPath] = '\0';  // by length, as the walker does
            return ++cWalked >= cSubdirectories || GetStopFlag() == 1;
        });
    }

    CallDirCallback(DIR_EVENT_LEAVE);
}

}  // namespace

// A path the map does not hold, one of 300 characters or more, and a file's record walk nothing.
// The pattern is kept in the walker's state but filters nothing: every record is visited.
extern "C" void WINAPI DriveMap_SearchDirectory(void *context, LPCSTR path, LPCSTR pattern, DWORD flags,
                                                FileCallback fileCallback, DirCallback dirCallback, LONG userValue) {
    gWalk.context = context;
    gWalk.userValue = userValue;
    gWalk.flags = flags;
    gWalk.pattern[0] = '\0';
    if (pattern != nullptr) std::strncat(gWalk.pattern, pattern, PATH_BUFFER_SIZE - 1);
    gWalk.fileCallback = fileCallback;
    gWalk.dirCallback = dirCallback;
    const BOOL fits = path != nullptr && std::strlen(path) < PATH_BUFFER_SIZE;
    std::strcpy(gWalk.currentPath, fits ? path : "");
    SetStopFlag(0);

    EntryPosition position;
    CurrentDriveScope keepDrive(gCurrentDrive);  // the lookup must not change the current drive
    if (fits && ResolvePath(path, &position)) {
        const EntryRecord *entry = LoadPtr32<EntryRecord>(&position.pEntry);
        if (entry == nullptr)
            WalkMapDirectory(LoadPtr32<DirectoryBlock>(&position.pBlock));  // a drive's root
        else if (!IsFile(entry))
            WalkMapDirectory(GetChildBlock(entry));
    }

    if ((flags & WALK_SET_STOP_AFTER) != 0) SetStopFlag(1);
}
