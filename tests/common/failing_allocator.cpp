#include "common/failing_allocator.h"

#include <cstdlib>
#include <new>

namespace {

long g_allocationsLeft = -1;  // before allocations start failing; -1: they never do
bool g_failed = false;        // an allocation failed since the last arming

void *Allocate(std::size_t size) {
    if (g_allocationsLeft == 0) {
        g_failed = true;
        throw std::bad_alloc();
    }
    if (g_allocationsLeft > 0) --g_allocationsLeft;
    if (void *p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}

}  // namespace

void FailAllocationsAfter(long count) {
    g_failed = false;
    g_allocationsLeft = count;
}

bool AllocationFailed() { return g_failed; }

// Every form a program may use: a new served here must be deleted here.
void *operator new(std::size_t size) { return Allocate(size); }
void *operator new[](std::size_t size) { return Allocate(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
