#include "dll_loader/stack_probe.h"

// cdecl: CallProbingStackThunk(function, arguments, count, &stackChange) -> eax. Pushes the
// arguments last to first, calls, and compares esp after the call with esp before the pushes; ebx,
// esi, edi and ebp are restored whatever the callee did to esp.
extern "C" uint32_t CallProbingStackThunk(const void *function, const uint32_t *arguments, uint32_t count,
                                          int32_t *stackChange);
asm(R"(
    .text
    .globl CallProbingStackThunk
    .type CallProbingStackThunk, @function
CallProbingStackThunk:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %edi
1:  testl %ecx, %ecx
    jz 2f
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jmp 1b
2:  call *8(%ebp)
    movl %esp, %ecx
    subl %edi, %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    movl %edi, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
    .size CallProbingStackThunk, .-CallProbingStackThunk
)");

ProbedCall CallProbingStack(const void *function, const uint32_t *arguments, uint32_t count) {
    ProbedCall call = {};
    call.result = CallProbingStackThunk(function, arguments, count, &call.stackChange);
    return call;
}
