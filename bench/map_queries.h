// Export calls shared by the benchmarks of a loaded map.
#pragma once

#include "pwdvmp32.h"

#include <benchmark/benchmark.h>

// Frees a block the library handed out.
inline void ReleaseGlobal(void *pointer) {
    HGLOBAL handle = GlobalHandle(pointer);
    GlobalUnlock(handle);
    GlobalFree(handle);
}

// One map-wide DriveMap_GetEntryReferences of `path`, its result block freed; returns the number of
// references it held.
inline WORD QueryMapWideReferences(benchmark::State &state, LPCSTR path) {
    EntryPosition position;
    ReferenceResultBlock *block = nullptr;
    if (!DriveMap_GetEntryReferences(0, path, &position, &block, 0)) state.SkipWithError("query failed");
    if (block == nullptr) return 0;
    const WORD count = block->wCount;
    ReleaseGlobal(block);
    return count;
}
