// Structural check of the whole drive map in memory, for tests: every block's byte accounting,
// every record's bounds, parent/child links and ids, each drive's block count, and the block chain.
#pragma once

#include <gtest/gtest.h>

// Success, or a failure naming the first broken invariant:
// - each drive's tree, from its pRootBlock (pParent 0), holds wBlockCount blocks, none twice;
// - in each block dwUsed = 18 + the sum of its records' wLength, wEntryCount records lie within
//   dwUsed, none shorter than its fixed part (name and NUL, plus a file's tail and reference part);
// - every linked directory record's child has pParent = the record's block, wParentId = that
//   block's id, and the record's wChildId = the child's id;
// - the chain from the first drive's root holds every block of every tree exactly once and ends
//   at gLastBlock.
::testing::AssertionResult CheckMapInvariants();
