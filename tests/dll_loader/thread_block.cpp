#include "dll_loader/thread_block.h"

#include <asm/ldt.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>

namespace {

constexpr uint32_t kTlsSlots = 64;

// The first fields of the TEB, at the offsets Win32 code reads: the NT_TIB, then at 0x2C the
// pointer to the implicit-TLS slot array.
struct ThreadBlock {
    uint32_t ExceptionList;  // 0x00: -1, the end of the SEH chain
    uint32_t StackBase;      // 0x04: the highest address of the stack
    uint32_t StackLimit;     // 0x08: the lowest
    uint32_t SubSystemTib, FiberData, ArbitraryUserPointer;
    uint32_t Self;  // 0x18: the block's own address
    uint32_t EnvironmentPointer, ClientId[2], ActiveRpcHandle;
    uint32_t ThreadLocalStoragePointer;  // 0x2C
    uint8_t rest[0x1000 - 0x30];
    void *tlsSlots[kTlsSlots];
};
static_assert(offsetof(ThreadBlock, Self) == 0x18 && offsetof(ThreadBlock, ThreadLocalStoragePointer) == 0x2C);

thread_local ThreadBlock gBlock;
thread_local int gInstalled = -1;  // -1 not tried, else what InstallThreadBlock returned
// One LDT entry per thread; entry 0 is left alone, as Wine leaves it.
int gNextEntry = 1;
pthread_mutex_t gEntryLock = PTHREAD_MUTEX_INITIALIZER;

int LoadFs(uint16_t selector) {
    asm volatile("movw %0, %%fs" : : "r"(selector));
    uint16_t now = 0;
    asm volatile("movw %%fs, %0" : "=r"(now));
    uint32_t self = 0;
    asm volatile("movl %%fs:0x18, %0" : "=r"(self));
    return now == selector && self == reinterpret_cast<uintptr_t>(&gBlock);
}

}  // namespace

int InstallThreadBlock() {
    if (gInstalled != -1) return gInstalled;
    pthread_attr_t attributes;
    void *stack = nullptr;
    size_t cbStack = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstack(&attributes, &stack, &cbStack);
        pthread_attr_destroy(&attributes);
    }
    gBlock.ExceptionList = 0xFFFFFFFF;
    gBlock.StackLimit = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(stack));
    gBlock.StackBase = gBlock.StackLimit + static_cast<uint32_t>(cbStack);
    gBlock.Self = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&gBlock));
    gBlock.ThreadLocalStoragePointer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(gBlock.tlsSlots));

    pthread_mutex_lock(&gEntryLock);
    user_desc entry = {};
    entry.entry_number = gNextEntry++;
    pthread_mutex_unlock(&gEntryLock);
    entry.base_addr = gBlock.Self;
    entry.limit = sizeof gBlock - 1;
    entry.seg_32bit = 1;
    entry.contents = MODIFY_LDT_CONTENTS_DATA;
    entry.useable = 1;
    const int written = syscall(SYS_modify_ldt, 1, &entry, sizeof entry) == 0;
    // Selector: the entry's index, table indicator LDT (4), privilege level 3.
    gInstalled = written && LoadFs(static_cast<uint16_t>(entry.entry_number << 3 | 4 | 3));
    return gInstalled;
}

void SetThreadLocalSlot(uint32_t index, void *data) {
    if (index < kTlsSlots) gBlock.tlsSlots[index] = data;
}
