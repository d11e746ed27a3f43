// Global memory: GlobalAlloc and its family over one region reserved once below 4 GiB, so that
// the library can keep block addresses in 32-bit fields on every build. Boost.Interprocess'
// rbtree_best_fit manages the region; this file adds what Windows adds on top of a heap: handles
// for moveable blocks, lock counts, zero-filling, moves on reallocation, and the test hooks
// (allocation limit, forced moves, block count).
//
// Region layout: [handle area | heap]. The handle area is PROT_NONE address space; a moveable
// block's handle is an address inside it (slot * 8 + 4), so a handle is a 32-bit value that can
// never be mistaken for, or used as, a data pointer. Every block in the heap starts with a 16-byte
// BlockHeader, then the caller's data (16-byte aligned).
#include "global_memory.h"

#include "host_machine.h"

#include <boost/interprocess/indexes/iset_index.hpp>
#include <boost/interprocess/managed_external_buffer.hpp>
#include <boost/interprocess/mem_algo/rbtree_best_fit.hpp>
#include <boost/interprocess/sync/mutex_family.hpp>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define HOST_MEMORY_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOST_MEMORY_ASAN 1
#endif
#endif
#ifdef HOST_MEMORY_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

namespace bip = boost::interprocess;
using HeapAlgorithm = bip::rbtree_best_fit<bip::null_mutex_family, bip::offset_ptr<void>, 16>;
using HeapSegment = bip::basic_managed_external_buffer<char, HeapAlgorithm, bip::iset_index>;

// GlobalFlags bits and error codes that win32.h does not need to publish.
constexpr UINT GMEM_DISCARDABLE_BIT = 0x0100;
constexpr UINT GMEM_DISCARDED_BIT = 0x4000;
constexpr UINT GMEM_INVALID_HANDLE_VALUE = 0x8000;
constexpr UINT GMEM_LOCKCOUNT_MASK = 0x00FF;
constexpr DWORD ERROR_NOT_LOCKED_CODE = 158;
constexpr DWORD ERROR_DISCARDED_CODE = 157;

constexpr size_t MiB = size_t(1) << 20;
constexpr size_t kHandleAreaBytes = 16 * MiB;  // 2M moveable handles of 8 bytes each
constexpr size_t kMaxBlockBytes = 0x7FFF0000;  // keeps every size sum far from overflow

#ifdef HOST_MEMORY_ASAN
constexpr size_t kRedzoneBytes = 32;  // poisoned after each block's data
#else
constexpr size_t kRedzoneBytes = 0;
#endif

#if defined(__x86_64__)
// Under AddressSanitizer only [0, 0x7fff8000) is application memory on x86_64.
#ifdef HOST_MEMORY_ASAN
constexpr uint64_t kAddressLimit = 0x7fff8000ull;
#else
constexpr uint64_t kAddressLimit = 0x100000000ull;
#endif
constexpr size_t kMaxHeapBytes = 1024 * MiB;
constexpr uintptr_t kRegionHints[] = {0x10000000, 0x20000000, 0x08000000, 0x30000000, 0x40000000};
#else
// Every address is below 4 GiB; a smaller reservation leaves room in a 32-bit address space.
constexpr uint64_t kAddressLimit = 0x100000000ull;
constexpr size_t kMaxHeapBytes = 512 * MiB;
constexpr uintptr_t kRegionHints[] = {0};
#endif

constexpr size_t kMinHeapBytes = 32 * MiB;

// The heap's size: a quarter of the address-space limit (RLIMIT_AS), at least kMinHeapBytes and at
// most kMaxHeapBytes, which is also the size without a limit. Growing with the limit, it leaves the
// rest of the process three quarters of it, so a higher limit never makes fail what a lower one
// let work. It is reserved once at that size, never retried smaller (which would hand a lower limit
// more room for the rest than a higher one).
size_t HeapBytes() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMaxHeapBytes;
    const uint64_t quarter = static_cast<uint64_t>(limit.rlim_cur) / 4 / MiB * MiB;
    return quarter < kMinHeapBytes ? kMinHeapBytes : quarter > kMaxHeapBytes ? kMaxHeapBytes : quarter;
}

struct BlockHeader {
    uint32_t dwCheck;     // kBlockMagic ^ the header's address while live, 0 once freed
    uint32_t iSlot;       // handle slot + 1 for a moveable block, 0 for a fixed one
    uint32_t cbData;      // size the caller asked for (GlobalSize)
    uint32_t dwReserved;  // keeps the data 16-byte aligned
};
static_assert(sizeof(BlockHeader) == 16, "data must stay 16-byte aligned");

constexpr uint32_t kBlockMagic = 0x474D454Du;  // "GMEM"

struct HandleSlot {
    BlockHeader *pHeader;  // nullptr for a discarded (zero-byte) moveable block
    uint16_t cLocks;
    bool fInUse;
    bool fDiscardable;
};

struct GlobalHeap {
    uintptr_t uHandleBase = 0;
    uintptr_t uHeapBase = 0;
    uintptr_t uHeapEnd = 0;
    HeapSegment segment;
    std::vector<HandleSlot> slots;
    std::vector<uint32_t> freeSlots;
    unsigned long cBlocks = 0;

    GlobalHeap(char *pHeap, size_t cbHeap) : segment(bip::create_only, pHeap, cbHeap) {}
};

std::mutex g_mutex;             // guards everything below
GlobalHeap *g_pHeap = nullptr;  // created on first use and never destroyed
bool g_fHeapTried = false;
unsigned long g_cbLimit = 0;  // 0: no limit
bool g_fMoveEveryReallocation = false;

uint32_t CheckWord(const BlockHeader *pHeader) {
    return kBlockMagic ^ static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pHeader));
}

char *DataOf(BlockHeader *pHeader) { return reinterpret_cast<char *>(pHeader + 1); }

size_t AlignUp16(size_t cb) { return (cb + 15) & ~size_t(15); }

size_t TotalBytes(size_t cbData) { return sizeof(BlockHeader) + AlignUp16(cbData) + kRedzoneBytes; }

// The bytes after the caller's data up to the end of the redzone; poisoned under ASan so that
// overruns of a global block are reported. Unpoisoned before the allocator touches the block.
void PoisonTail(BlockHeader *pHeader) {
#ifdef HOST_MEMORY_ASAN
    ASAN_POISON_MEMORY_REGION(DataOf(pHeader) + pHeader->cbData,
                              AlignUp16(pHeader->cbData) - pHeader->cbData + kRedzoneBytes);
#else
    (void)pHeader;
#endif
}

void UnpoisonTail(BlockHeader *pHeader) {
#ifdef HOST_MEMORY_ASAN
    ASAN_UNPOISON_MEMORY_REGION(DataOf(pHeader) + pHeader->cbData,
                                AlignUp16(pHeader->cbData) - pHeader->cbData + kRedzoneBytes);
#else
    (void)pHeader;
#endif
}

// Bytes a caller did not ask to have zeroed: filled with a pattern under ASan so that code which
// relies on fresh memory being zero fails there instead of passing by luck.
void FillUninitialised(char *p, size_t cb) {
#ifdef HOST_MEMORY_ASAN
    memset(p, 0xCD, cb);
#else
    (void)p;
    (void)cb;
#endif
}

bool MapRegion(size_t cbTotal, uintptr_t uHint, int extraFlags, char **ppRegion) {
    void *p = mmap(reinterpret_cast<void *>(uHint), cbTotal, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | extraFlags, -1, 0);
    if (p == MAP_FAILED) return false;
    uint64_t uEnd = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)) + cbTotal;
    if (uEnd > kAddressLimit) {
        munmap(p, cbTotal);
        return false;
    }
    *ppRegion = static_cast<char *>(p);
    return true;
}

// Reserves the region once; on failure every allocation fails with ERROR_NOT_ENOUGH_MEMORY.
GlobalHeap *Heap() {
    if (g_fHeapTried) return g_pHeap;
    g_fHeapTried = true;
    const size_t cbHeap = HeapBytes();
    const size_t cbTotal = kHandleAreaBytes + cbHeap;
    char *pRegion = nullptr;
    bool fMapped = false;
    for (uintptr_t uHint : kRegionHints) {
        if ((fMapped = MapRegion(cbTotal, uHint, 0, &pRegion))) break;
    }
#if defined(__x86_64__) && defined(MAP_32BIT)
    if (!fMapped) fMapped = MapRegion(cbTotal, 0, MAP_32BIT, &pRegion);
#endif
    if (!fMapped) return nullptr;
    if (mprotect(pRegion, kHandleAreaBytes, PROT_NONE) != 0) {
        munmap(pRegion, cbTotal);
        return nullptr;
    }
#ifdef MADV_HUGEPAGE
    // A map of a few hundred thousand entries fills megabytes of blocks at once: huge pages turn
    // thousands of page faults into a few. Only advice; where the kernel has none, small pages serve.
    madvise(pRegion + kHandleAreaBytes, cbHeap, MADV_HUGEPAGE);
#endif
    try {
        g_pHeap = new GlobalHeap(pRegion + kHandleAreaBytes, cbHeap);
    } catch (...) {
        munmap(pRegion, cbTotal);
        return nullptr;
    }
    g_pHeap->uHandleBase = reinterpret_cast<uintptr_t>(pRegion);
    g_pHeap->uHeapBase = g_pHeap->uHandleBase + kHandleAreaBytes;
    g_pHeap->uHeapEnd = g_pHeap->uHeapBase + cbHeap;
    return g_pHeap;
}

HGLOBAL HandleOfSlot(const GlobalHeap *pHeap, uint32_t iSlot) {
    return reinterpret_cast<HGLOBAL>(pHeap->uHandleBase + uintptr_t(iSlot) * 8 + 4);
}

// The slot a moveable handle names, or nullptr when the value is not a live handle.
HandleSlot *SlotOfHandle(GlobalHeap *pHeap, const void *hMem) {
    uintptr_t u = reinterpret_cast<uintptr_t>(hMem);
    if (u < pHeap->uHandleBase || u >= pHeap->uHandleBase + kHandleAreaBytes) return nullptr;
    uintptr_t uOffset = u - pHeap->uHandleBase;
    if (uOffset % 8 != 4) return nullptr;
    size_t iSlot = uOffset / 8;
    if (iSlot >= pHeap->slots.size() || !pHeap->slots[iSlot].fInUse) return nullptr;
    return &pHeap->slots[iSlot];
}

// The header of the live block whose data starts at pData, or nullptr.
BlockHeader *HeaderOfData(GlobalHeap *pHeap, const void *pData) {
    uintptr_t u = reinterpret_cast<uintptr_t>(pData);
    if (u % 16 != 0 || u < pHeap->uHeapBase + sizeof(BlockHeader) || u >= pHeap->uHeapEnd) return nullptr;
    BlockHeader *pHeader = reinterpret_cast<BlockHeader *>(u) - 1;
#ifdef HOST_MEMORY_ASAN
    // A stray pointer may land just after another block's redzone.
    if (__asan_region_is_poisoned(pHeader, sizeof(BlockHeader))) return nullptr;
#endif
    return pHeader->dwCheck == CheckWord(pHeader) ? pHeader : nullptr;
}

// A fixed block's handle is its data pointer.
BlockHeader *FixedHeader(GlobalHeap *pHeap, const void *hMem) {
    BlockHeader *pHeader = HeaderOfData(pHeap, hMem);
    return pHeader && pHeader->iSlot == 0 ? pHeader : nullptr;
}

BlockHeader *AllocBlock(GlobalHeap *pHeap, size_t cbData, bool fZero) {
    void *p = pHeap->segment.allocate(TotalBytes(cbData), std::nothrow);
    if (!p) return nullptr;
    BlockHeader *pHeader = static_cast<BlockHeader *>(p);
    pHeader->dwCheck = CheckWord(pHeader);
    pHeader->iSlot = 0;
    pHeader->cbData = static_cast<uint32_t>(cbData);
    pHeader->dwReserved = 0;
    if (fZero)
        memset(DataOf(pHeader), 0, cbData);
    else
        FillUninitialised(DataOf(pHeader), cbData);
    PoisonTail(pHeader);
    return pHeader;
}

void FreeBlock(GlobalHeap *pHeap, BlockHeader *pHeader) {
    UnpoisonTail(pHeader);
    pHeader->dwCheck = 0;
    pHeap->segment.deallocate(pHeader);
}

// Grows or shrinks the block where it lies; false when the space after it is taken.
bool ResizeInPlace(GlobalHeap *pHeap, BlockHeader *pHeader, size_t cbNew) {
    auto *pManager = pHeap->segment.get_segment_manager();
    size_t cbNeeded = TotalBytes(cbNew);
    UnpoisonTail(pHeader);
    size_t cbHave = pManager->size(pHeader);
    bool fDone = true;
    if (cbNeeded <= cbHave) {
        // Give back a large surplus (a directory block cut to its used size, say).
        if (cbHave - cbNeeded >= 256) {
            size_t cbReceived = cbNeeded;
            char *pReuse = reinterpret_cast<char *>(pHeader);
            pManager->allocation_command<char>(bip::shrink_in_place | bip::nothrow_allocation, cbHave, cbReceived,
                                               pReuse);
        }
    } else {
        size_t cbReceived = cbNeeded;
        char *pReuse = reinterpret_cast<char *>(pHeader);
        fDone = pManager->allocation_command<char>(bip::expand_fwd | bip::nothrow_allocation, cbNeeded, cbReceived,
                                                   pReuse) != nullptr;
    }
    if (fDone) pHeader->cbData = static_cast<uint32_t>(cbNew);
    PoisonTail(pHeader);
    return fDone;
}

// Resizes a block, moving it when it cannot stay (or always, when fForceMove). Bytes beyond the
// old size are zeroed when fZero. Returns the block's header, or nullptr with the block intact.
BlockHeader *ResizeBlock(GlobalHeap *pHeap, BlockHeader *pHeader, size_t cbNew, bool fZero, bool fMayMove,
                         bool fForceMove) {
    size_t cbOld = pHeader->cbData;
    if (!fForceMove && ResizeInPlace(pHeap, pHeader, cbNew)) {
        if (cbNew > cbOld) {
            if (fZero)
                memset(DataOf(pHeader) + cbOld, 0, cbNew - cbOld);
            else
                FillUninitialised(DataOf(pHeader) + cbOld, cbNew - cbOld);
        }
        return pHeader;
    }
    if (!fMayMove) return nullptr;
    BlockHeader *pNew = AllocBlock(pHeap, cbNew, false);
    if (!pNew) return nullptr;
    size_t cbKept = cbOld < cbNew ? cbOld : cbNew;
    memcpy(DataOf(pNew), DataOf(pHeader), cbKept);
    if (cbNew > cbKept && fZero) memset(DataOf(pNew) + cbKept, 0, cbNew - cbKept);
    pNew->iSlot = pHeader->iSlot;
    FreeBlock(pHeap, pHeader);
    return pNew;
}

bool OverLimit(SIZE_T cb) { return cb > kMaxBlockBytes || (g_cbLimit != 0 && cb > g_cbLimit); }

// Takes a free handle slot; UINT32_MAX when the handle area is full.
uint32_t TakeSlot(GlobalHeap *pHeap) {
    uint32_t iSlot;
    if (!pHeap->freeSlots.empty()) {
        iSlot = pHeap->freeSlots.back();
        pHeap->freeSlots.pop_back();
    } else {
        if (pHeap->slots.size() >= kHandleAreaBytes / 8) return UINT32_MAX;
        try {
            pHeap->slots.push_back(HandleSlot{});
            // Room for every slot to come back, so that ReleaseSlot never allocates; reserved as
            // the slots grow, not one more each time.
            pHeap->freeSlots.reserve(pHeap->slots.capacity());
        } catch (...) {
            return UINT32_MAX;
        }
        iSlot = static_cast<uint32_t>(pHeap->slots.size() - 1);
    }
    pHeap->slots[iSlot] = HandleSlot{nullptr, 0, true, false};
    return iSlot;
}

void ReleaseSlot(GlobalHeap *pHeap, HandleSlot *pSlot) {
    *pSlot = HandleSlot{};
    pHeap->freeSlots.push_back(static_cast<uint32_t>(pSlot - pHeap->slots.data()));
}

HGLOBAL ReAllocMoveable(GlobalHeap *pHeap, HGLOBAL hMem, HandleSlot *pSlot, SIZE_T dwBytes, UINT uFlags) {
    bool fZero = (uFlags & GMEM_ZEROINIT) != 0;
    if (dwBytes == 0) {
        // Zero bytes discard the block; a locked block cannot be discarded.
        if (pSlot->cLocks != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (pSlot->pHeader) FreeBlock(pHeap, pSlot->pHeader);
        pSlot->pHeader = nullptr;
        return hMem;
    }
    if (!pSlot->pHeader) {
        BlockHeader *pHeader = AllocBlock(pHeap, dwBytes, fZero);
        if (!pHeader) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        pHeader->iSlot = static_cast<uint32_t>(pSlot - pHeap->slots.data()) + 1;
        pSlot->pHeader = pHeader;
        return hMem;
    }
    BlockHeader *pHeader =
        ResizeBlock(pHeap, pSlot->pHeader, dwBytes, fZero, /*fMayMove=*/true, g_fMoveEveryReallocation);
    if (!pHeader) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    pSlot->pHeader = pHeader;
    return hMem;
}

int g_pipeProbe[2] = {-1, -1};  // IsBadReadPtr's probe pipe, opened on first use
std::mutex g_probeMutex;

}  // namespace

extern "C" {

// GMEM_MOVEABLE gives a handle (zero bytes: a discarded block that GlobalLock refuses), anything
// else the data pointer itself. Fails with ERROR_NOT_ENOUGH_MEMORY above the allocation limit.
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    std::lock_guard<std::mutex> guard(g_mutex);
    GlobalHeap *pHeap = Heap();
    if (!pHeap || OverLimit(dwBytes)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    bool fZero = (uFlags & GMEM_ZEROINIT) != 0;
    if (!(uFlags & GMEM_MOVEABLE)) {
        BlockHeader *pHeader = AllocBlock(pHeap, dwBytes, fZero);
        if (!pHeader) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        ++pHeap->cBlocks;
        return DataOf(pHeader);
    }
    uint32_t iSlot = TakeSlot(pHeap);
    if (iSlot == UINT32_MAX) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HandleSlot *pSlot = &pHeap->slots[iSlot];
    pSlot->fDiscardable = (uFlags & GMEM_DISCARDABLE_BIT) != 0;
    if (dwBytes != 0) {
        BlockHeader *pHeader = AllocBlock(pHeap, dwBytes, fZero);
        if (!pHeader) {
            ReleaseSlot(pHeap, pSlot);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        pHeader->iSlot = iSlot + 1;
        pSlot->pHeader = pHeader;
    }
    ++pHeap->cBlocks;
    return HandleOfSlot(pHeap, iSlot);
}

// A moveable block keeps its handle and may move, locked or not (always, with forced moves).
// A fixed block is resized in place unless GMEM_MOVEABLE allows a move; the result is then its
// new address. GMEM_MODIFY changes only the discardable flag of a moveable block. On failure the
// result is NULL and the block keeps its size, content and address.
HGLOBAL WINAPI GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags) {
    std::lock_guard<std::mutex> guard(g_mutex);
    GlobalHeap *pHeap = Heap();
    if (!pHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HandleSlot *pSlot = SlotOfHandle(pHeap, hMem);
    BlockHeader *pFixed = pSlot ? nullptr : FixedHeader(pHeap, hMem);
    if (!pSlot && !pFixed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (uFlags & GMEM_MODIFY) {
        if (pSlot) pSlot->fDiscardable = (uFlags & GMEM_DISCARDABLE_BIT) != 0;
        return hMem;
    }
    if (OverLimit(dwBytes)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (pSlot) return ReAllocMoveable(pHeap, hMem, pSlot, dwBytes, uFlags);
    bool fMayMove = (uFlags & GMEM_MOVEABLE) != 0;
    BlockHeader *pHeader = ResizeBlock(pHeap, pFixed, dwBytes, (uFlags & GMEM_ZEROINIT) != 0, fMayMove,
                                       fMayMove && g_fMoveEveryReallocation);
    if (!pHeader) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return DataOf(pHeader);
}

// Lock counts stop at 255, as on Windows.
LPVOID WINAPI GlobalLock(HGLOBAL hMem) {
    std::lock_guard<std::mutex> guard(g_mutex);
    GlobalHeap *pHeap = Heap();
    if (!pHeap || !hMem) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (HandleSlot *pSlot = SlotOfHandle(pHeap, hMem)) {
        if (!pSlot->pHeader) {
            SetLastError(ERROR_DISCARDED_CODE);
            return nullptr;
        }
        if (pSlot->cLocks < GMEM_LOCKCOUNT_MASK) ++pSlot->cLocks;
        return DataOf(pSlot->pHeader);
    }
    if (FixedHeader(pHeap, hMem)) return hMem;
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

// TRUE while still locked; FALSE with NO_ERROR once unlocked, with ERROR_NOT_LOCKED when it was
// not locked. Fixed blocks have no lock count: TRUE.
BOOL WINAPI GlobalUnlock(HGLOBAL hMem) {
    std::lock_guard<std::mutex> guard(g_mutex);
    GlobalHeap *pHeap = Heap();
    if (pHeap) {
        if (HandleSlot *pSlot = SlotOfHandle(pHeap, hMem)) {
            if (pSlot->cLocks == 0) {
                SetLastError(ERROR_NOT_LOCKED_CODE);
                return FALSE;
            }
            if (--pSlot->cLocks == 0) {
                SetLastError(ERROR_SUCCESS);
                return FALSE;
            }
            return TRUE;
        }
        if (FixedHeader(pHeap, hMem)) return TRUE;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// The handle of the block whose data starts at pMem (a handle passed in is returned as is).
HGLOBAL WINAPI GlobalHandle(LPCVOID pMem) {
    std::lock_guard<std::mutex> guard(g_mutex);
    GlobalHeap *pHeap = Heap();
    if (pHeap) {
        if (SlotOfHandle(pHeap, pMem)) return const_cast<LPVOID>(pMem);
        if (BlockHeader *pHeader = HeaderOfData(pHeap, pMem)) {
            if (pHeader->iSlot != 0) return HandleOfSlot(pHeap, pHeader->iSlot - 1);
            return const_cast<LPVOID>(pMem);
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

// Frees locked blocks too, as Windows does. NULL on success, hMem itself on failure.
HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
    if (!hMem) return nullptr;
    std::lock_guard<std::mutex> guard(g_mutex);
    GlobalHeap *pHeap = Heap();
    if (pHeap) {
        if (HandleSlot *pSlot = SlotOfHandle(pHeap, hMem)) {
            if (pSlot->pHeader) FreeBlock(pHeap, pSlot->pHeader);
            ReleaseSlot(pHeap, pSlot);
            --pHeap->cBlocks;
            return nullptr;
        }
        if (BlockHeader *pHeader = FixedHeader(pHeap, hMem)) {
            FreeBlock(pHeap, pHeader);
            --pHeap->cBlocks;
            return nullptr;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return hMem;
}

// The size asked for; 0 for a discarded block or a bad handle (ERROR_INVALID_HANDLE).
SIZE_T WINAPI GlobalSize(HGLOBAL hMem) {
    std::lock_guard<std::mutex> guard(g_mutex);
    GlobalHeap *pHeap = Heap();
    if (pHeap) {
        if (HandleSlot *pSlot = SlotOfHandle(pHeap, hMem)) return pSlot->pHeader ? pSlot->pHeader->cbData : 0;
        if (BlockHeader *pHeader = FixedHeader(pHeap, hMem)) return pHeader->cbData;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

UINT WINAPI GlobalFlags(HGLOBAL hMem) {
    std::lock_guard<std::mutex> guard(g_mutex);
    GlobalHeap *pHeap = Heap();
    if (pHeap) {
        if (HandleSlot *pSlot = SlotOfHandle(pHeap, hMem)) {
            UINT uFlags = pSlot->cLocks;
            if (pSlot->fDiscardable) uFlags |= GMEM_DISCARDABLE_BIT;
            if (!pSlot->pHeader) uFlags |= GMEM_DISCARDED_BIT;
            return uFlags;
        }
        if (FixedHeader(pHeap, hMem)) return 0;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return GMEM_INVALID_HANDLE_VALUE;
}

// Probes one byte per page by handing it to write(2) on a pipe: the kernel reports EFAULT for
// an unreadable address instead of faulting, also under qemu-user. The raw system call keeps
// sanitizer interceptors from inspecting the bytes. An empty range is readable.
BOOL WINAPI IsBadReadPtr(LPCVOID lp, UINT_PTR ucb) {
    if (ucb == 0) return FALSE;
    uintptr_t uFirst = reinterpret_cast<uintptr_t>(lp);
    if (uFirst == 0 || ucb - 1 > UINTPTR_MAX - uFirst) return TRUE;
    uintptr_t uLast = uFirst + (ucb - 1);
    std::lock_guard<std::mutex> guard(g_probeMutex);
    if (g_pipeProbe[0] < 0 && pipe2(g_pipeProbe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipeProbe[0] = g_pipeProbe[1] = -1;
        return FALSE;  // no way to probe: trust the caller
    }
    const uintptr_t uPage = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    for (uintptr_t u = uFirst;;) {
        long cbWritten = syscall(SYS_write, g_pipeProbe[1], reinterpret_cast<const void *>(u), 1);
        if (cbWritten < 0 && errno == EFAULT) return TRUE;
        if (cbWritten > 0) {
            char chDrain;
            while (read(g_pipeProbe[0], &chDrain, 1) > 0) {}
        }
        uintptr_t uNext = (u & ~(uPage - 1)) + uPage;
        if (uNext == 0 || uNext > uLast) break;
        u = uNext;
    }
    return FALSE;
}

void HostMachine_LimitAllocations(unsigned long maxBytes) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_cbLimit = maxBytes;
}

void HostMachine_MoveEveryReallocation(int on) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_fMoveEveryReallocation = on != 0;
}

unsigned long HostMachine_GlobalBlockCount(void) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_pHeap ? g_pHeap->cBlocks : 0;
}

}  // extern "C"

namespace host {

void ResetMemory() {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_cbLimit = 0;
    g_fMoveEveryReallocation = false;
}

}  // namespace host
