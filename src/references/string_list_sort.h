// Sorting records in place: multi-string lists (entries ordered ignoring case) and arrays of
// fixed-size records under a caller's comparison.
#pragma once

#include "win32.h"

// Compares the records at `a` and `b`; `context` is the caller's value. Negative, 0 or positive.
typedef int(WINAPI *ShellSortCompare)(void *a, void *b, DWORD context);

// Sorts `count` records of `cbRecord` bytes at `base` in place; not stable.
void ShellSort(void *base, DWORD count, DWORD cbRecord, ShellSortCompare compare, DWORD context);

// Sorts the entries of a multi-string list in place, ignoring case (lstrcmpiA). An entry is a
// string, its NUL and `cbGap` further bytes that travel with it. The list must lie in global
// memory (below 4 GiB: its entries are sorted as 32-bit offsets from a 32-bit base). Left as it
// was when it is absent, unreadable, shorter than two entries or when memory is short.
void SortStringList(LPSTR list, DWORD cbGap);
