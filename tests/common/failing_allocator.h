// The test binaries replace operator new (failing_allocator.cpp) so that memory can be made to run
// out at a chosen allocation: once armed, the n-th allocation and every one after it throw
// std::bad_alloc until the allocator is disarmed. Unarmed, it is malloc and free.
#pragma once

// Allocations from now on: `count` more succeed, then they fail. -1 disarms (they never fail).
void FailAllocationsAfter(long count);

// An allocation failed since the allocator was last armed.
bool AllocationFailed();
