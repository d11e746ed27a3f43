#include "store/path_lookup.h"

#include "scan/drive_class.h"
#include "store/drive_table.h"
#include "store/entry_records.h"
#include "store/module_state.h"
#include "support/path_utils.h"

#include <cstring>

namespace {

const size_t kMaxPathChars = PATH_BUFFER_SIZE - 1;

void SetPosition(EntryPosition *position, const DirectoryBlock *block, const EntryRecord *entry) {
    StorePtr32(&position->pBlock, block);
    StorePtr32(&position->pEntry, entry);
}

// NextPathComponent cuts a component at 299 characters but still moves past all of it; such a
// cut name must not be compared, or it could match a record that is only its beginning.
bool IsCutShort(LPCSTR component, LPCSTR pos, LPCSTR next) {
    size_t cchSource = static_cast<size_t>(next - pos);
    if (cchSource > 0 && next[-1] == '\\') --cchSource;
    return cchSource > strlen(component);
}

// A record's name, bounded by the record's own length so that a missing NUL cannot run the read
// into the next record.
size_t EntryNameLength(const EntryRecord *entry) {
    WORD cbRecord = GetEntryLength(entry);
    return cbRecord > ENTRY_FIXED_SIZE ? strnlen(GetEntryName(entry), cbRecord - ENTRY_FIXED_SIZE) : 0;
}

// The full path is gathered leaf first, climbing the tree, each piece reversed; turning the whole
// round at the end gives it root first without knowing the depth in advance.
struct ReversedPath {
    CHAR sz[PATH_BUFFER_SIZE];
    size_t cch;
    bool overflow;
};

void AppendReversed(ReversedPath *path, LPCSTR text, size_t cchText) {
    if (path->overflow || cchText > kMaxPathChars - path->cch) {
        path->overflow = true;
        return;
    }
    for (size_t i = cchText; i-- > 0;) path->sz[path->cch++] = text[i];
}

// The trail level that `path`, whose last backslash is at `cchParent`, is a child of: the root
// (0) for "X:\name", else a level whose path is the path's first cchParent characters. The trail
// holds only paths that WalkPath reads as root and names alone (no empty component), so walking
// such a level's bytes from the root leads to its block. DIRECTORY_TRAIL_LEVELS + 1: none.
DWORD FindTrailParent(LPCSTR path, size_t cchParent) {
    if (path[0] == '\\' || path[1] != ':' || path[2] != '\\') return DIRECTORY_TRAIL_LEVELS + 1;
    if (cchParent == 2) return 0;
    const DirectoryTrail &trail = gDirectoryTrail;
    if (trail.pDrive != gCurrentDrive) return DIRECTORY_TRAIL_LEVELS + 1;
    for (DWORD level = trail.cLevels; level > 0; --level) {
        if (trail.ends[level] == cchParent)
            return std::memcmp(path, trail.szPath, cchParent) == 0 ? level : DIRECTORY_TRAIL_LEVELS + 1;
        if (trail.ends[level] < cchParent) break;
    }
    return DIRECTORY_TRAIL_LEVELS + 1;
}

// Where the last component of `path` starts, when it is one WalkPath would read as a name: a
// path shorter than the path buffer whose last backslash is not its last character.
size_t LastComponentStart(LPCSTR path) {
    const size_t cch = strnlen(path, PATH_BUFFER_SIZE);
    if (cch >= PATH_BUFFER_SIZE) return 0;
    LPCSTR last = strrchr(path, '\\');
    if (last == nullptr || last[1] == '\0') return 0;
    return static_cast<size_t>(last - path) + 1;
}

}  // namespace

BOOL WalkScanDirectory(LPCSTR path, EntryPosition *position) {
    DirectoryTrail &trail = gDirectoryTrail;
    const size_t nameStart = path != nullptr ? LastComponentStart(path) : 0;
    const DWORD parent = nameStart != 0 ? FindTrailParent(path, nameStart - 1) : DIRECTORY_TRAIL_LEVELS + 1;
    DirectoryBlock *parentBlock = nullptr;
    if (parent == 0 && gCurrentDrive != nullptr) parentBlock = GetDriveRoot(gCurrentDrive);
    if (parent != 0 && parent <= DIRECTORY_TRAIL_LEVELS) parentBlock = trail.blocks[parent];
    if (parentBlock == nullptr) {
        trail.cLevels = 0;
        return WalkPath(path, position, /*directoriesOnly=*/1);
    }
    // What WalkPath does at the last component, having reached the parent's block.
    if (trail.pDrive != gCurrentDrive) trail.pDrive = gCurrentDrive;
    trail.cLevels = parent;
    EntryRecord *entry = FindEntryByName(parentBlock, path + nameStart, /*directoriesOnly=*/1);
    SetPosition(position, parentBlock, entry);
    return entry != nullptr;
}

void ExtendDirectoryTrail(LPCSTR path, DirectoryBlock *block) {
    DirectoryTrail &trail = gDirectoryTrail;
    const size_t nameStart = block != nullptr && path != nullptr ? LastComponentStart(path) : 0;
    if (nameStart == 0 || trail.pDrive != gCurrentDrive || trail.cLevels >= DIRECTORY_TRAIL_LEVELS) return;
    if (FindTrailParent(path, nameStart - 1) != trail.cLevels) return;
    const size_t cch = std::strlen(path);
    std::memcpy(trail.szPath + nameStart - 1, path + nameStart - 1, cch - (nameStart - 1) + 1);
    if (trail.cLevels == 0) std::memcpy(trail.szPath, path, 3);
    ++trail.cLevels;
    trail.ends[trail.cLevels] = static_cast<WORD>(cch);
    trail.blocks[trail.cLevels] = block;
}

BOOL WalkPath(LPCSTR path, EntryPosition *position, BOOL directoriesOnly) {
    SetPosition(position, nullptr, nullptr);
    // Only "X:\" paths name records of a drive; a drive without blocks holds not even its root.
    if (!IsFullPath(path) || path[1] != ':' || gCurrentDrive == nullptr) return 0;
    DirectoryBlock *searchBlock = GetDriveRoot(gCurrentDrive);
    if (searchBlock == nullptr) return 0;
    DirectoryBlock *foundInBlock = searchBlock;
    EntryRecord *found = nullptr;

    CHAR component[PATH_BUFFER_SIZE];
    LPCSTR pos = NextPathComponent(component, path);  // the root, "X:\"
    for (;;) {
        LPCSTR next = NextPathComponent(component, pos);
        if (component[0] == '\0') {
            SetPosition(position, foundInBlock, found);
            return 1;
        }
        // A directory record whose block was never linked: nothing below it is known.
        if (searchBlock == nullptr) {
            SetPosition(position, foundInBlock, nullptr);
            return 0;
        }
        EntryRecord *entry =
            IsCutShort(component, pos, next) ? nullptr : FindEntryByName(searchBlock, component, directoriesOnly);
        if (entry == nullptr) {
            SetPosition(position, searchBlock, nullptr);
            return 0;
        }
        if (IsFile(entry)) {
            SetPosition(position, searchBlock, entry);
            return 1;
        }
        foundInBlock = searchBlock;
        found = entry;
        searchBlock = GetChildBlock(entry);
        pos = next;
    }
}

BOOL ResolvePath(LPCSTR path, EntryPosition *position) {
    SetPosition(position, nullptr, nullptr);
    DriveRecord *drive = path != nullptr ? FindDriveRecord(path) : nullptr;
    if (drive == nullptr) return 0;
    gCurrentDrive = drive;
    return WalkPath(path, position, /*directoriesOnly=*/0);
}

DWORD LookUpFullPath(LPSTR workPath, EntryPosition *position) {
    for (BOOL rewritten = 0;;) {
        if (ResolvePath(workPath, position)) return LOOKUP_FOUND;
        const DWORD driveClass = ClassifyDrive(workPath);
        if (driveClass == DRIVE_CLASS_FIXED) return LOOKUP_NOT_IN_MAP;
        if (driveClass != DRIVE_CLASS_SUBST || rewritten) return LOOKUP_NOT_COVERED;
        CHAR truePath[PATH_BUFFER_SIZE];
        if (!GetFullPath(truePath, workPath)) return LOOKUP_NOT_COVERED;
        strcpy(workPath, truePath);
        rewritten = 1;
    }
}

void LinkBlockToPath(DirectoryBlock *block, LPCSTR path) {
    EntryPosition position;
    if (block == nullptr || !WalkScanDirectory(path, &position)) return;
    DirectoryBlock *parent = LoadPtr32<DirectoryBlock>(&position.pBlock);
    EntryRecord *entry = LoadPtr32<EntryRecord>(&position.pEntry);
    if (entry == nullptr) {
        SetBlockParent(block, nullptr);
        SetBlockParentId(block, 0);
        return;
    }
    SetChildBlock(entry, block);
    SetChildId(entry, GetBlockId(block));
    SetBlockParent(block, parent);
    SetBlockParentId(block, GetBlockId(parent));
    ExtendDirectoryTrail(path, block);
}

BOOL BuildFullPath(LPSTR buffer, const DirectoryBlock *block, const EntryRecord *entry) {
    buffer[0] = '\0';
    if (block == nullptr) return 0;
    ReversedPath reversed;
    reversed.cch = 0;
    reversed.overflow = false;
    if (entry != nullptr) AppendReversed(&reversed, GetEntryName(entry), EntryNameLength(entry));

    // Every step adds at least the backslash, so a damaged map with a pParent cycle still ends
    // here, by overflow.
    const DirectoryBlock *b = block;
    for (const DirectoryBlock *parent; (parent = GetBlockParent(b)) != nullptr && !reversed.overflow; b = parent) {
        AppendReversed(&reversed, "\\", 1);
        const EntryRecord *directory = FindEntryByChildId(parent, GetBlockId(b));
        if (directory != nullptr) AppendReversed(&reversed, GetEntryName(directory), EntryNameLength(directory));
    }
    const DriveRecord *drive = FindDriveByRoot(b);
    if (drive != nullptr) {
        const CHAR root[] = {static_cast<CHAR>(drive->chLetter), ':', '\\'};
        AppendReversed(&reversed, root, sizeof root);
    }

    if (reversed.overflow) return 0;
    for (size_t i = 0; i < reversed.cch; ++i) buffer[i] = reversed.sz[reversed.cch - 1 - i];
    buffer[reversed.cch] = '\0';
    return 1;
}
