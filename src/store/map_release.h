// Freeing the whole map. The store frees what it owns (blocks, the drive table and its working
// state, the reference buffer); the other modules' share of the map's working state (the map file
// handle, the scans' cursors, later the queries' states) is reset by functions those modules
// register, so that the store depends on none of them.
#pragma once

#include "pwdvmp32.h"

// Frees the map: every block, the drive table and the working state. The critical flag, the error
// code, the client count, the instance, the directory buffers and the never-scanned list survive.
// Keeps the operation mode and the critical flag as they were (MODE_FREE while it works).
void ReleaseMap();

// Adds `release` to the functions ReleaseMap calls, in registration order, before the blocks are
// freed. Modules register once, when the library is loaded (see MAP_RELEASE_FUNCTION). Returns 1,
// or 0 when the table is full.
BOOL RegisterMapRelease(void (*release)(void));

// Registers `function` when the library is loaded, from the module that owns the state it resets:
//     MAP_RELEASE_FUNCTION(CloseMapFile);
#define MAP_RELEASE_FUNCTION(function) \
    [[maybe_unused]] static const BOOL function##Registered = RegisterMapRelease(function)
