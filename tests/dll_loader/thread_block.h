// The thread environment block a Win32 program finds through the fs segment register. The MinGW-w64
// C runtime's DLL start-up reads it (NtCurrentTeb()->StackBase, through fs:[0x18]), and code using
// implicit thread-local storage reads the TLS slot array at fs:[0x2C]. 32-bit glibc keeps its own
// thread pointer in gs, so fs is free for this.
#pragma once

#include <cstdint>

// Makes fs of the calling thread address a block laid out as the NT_TIB at the head of a TEB, with
// the stack bounds of this thread and an empty exception-handler chain, through an LDT entry
// (modify_ldt). Once per thread; later calls return what the first did. 0 when the kernel or the
// emulator refuses the entry or the segment load.
[[nodiscard]] int InstallThreadBlock();

// The block's slot `index` of implicit thread-local storage (TEB.ThreadLocalStoragePointer[index]).
void SetThreadLocalSlot(uint32_t index, void *data);
