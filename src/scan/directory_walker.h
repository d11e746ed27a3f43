// The recursive directory walker of the scans: every file and directory below a start directory is
// reported to a file callback, and each directory to a directory callback when it is entered, when
// its own listing is complete, before its subdirectories are walked and when it is left.
//
// Each directory is normally listed once: the names of its subdirectories are kept in one buffer
// shared by all levels (a stack: a child records its names after its parent's), and a level lists
// its directory a second time only when the buffer is missing or full. Messages are pumped at the
// start, when a directory is entered and before each entry of a listing pass.
//
// Entries whose full path would not fit the library's 299-character paths are passed over: a file
// that cannot be named, a directory that cannot be listed ("\*.*" appended). Nothing of them is
// reported, counted or entered.
//
// A directory that cannot be listed is walked as empty, but one whose listing failed for want of
// memory stops the walk (gWalk.fOutOfMemory), so that a scan never records a full directory as empty.
//
// The walker's state is module-wide: one walk at a time, not re-entrant.
#pragma once

#include "pwdvmp32.h"

#define WALK_NAME_BUFFER_SIZE 64936u  // 65,536 less 600
#define WALK_NAME_BUFFER_STEP 2048u

// Walks `startPath` with `pattern`, `flags` (WALK_*) and the two callbacks (either may be none);
// `context` and `userValue` go unchanged to every callback. Returns 1 when the start directory could
// be made current and the walk ran, stopped or not (the stop flag tells which), 0 with no callback
// made and the stop flag untouched when it could not. The current directory is restored.
DWORD WalkDirectoryTree(void *context, LPCSTR startPath, LPCSTR pattern, DWORD flags, FileCallback fileCallback,
                        DirCallback dirCallback, LONG userValue);

// Tells the current walk's directory callback of `event` on gWalk.currentPath (any text: none). A
// callback's 0 asks to stop: the stop flag is set and the result is 0.
BOOL CallDirCallback(DWORD event);

// For tests: the size of the name buffer the last walk obtained (0: it ran without one).
DWORD GetWalkNameBufferSize();
