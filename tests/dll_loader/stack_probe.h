// Calls a function with stdcall arguments and measures what the call did to the stack pointer, so
// that a test sees a callee that pops other argument bytes than it was given (a wrong alias in the
// .def file, a cdecl function behind a stdcall name) as a number, not as a crash somewhere later.
#pragma once

#include <cstdint>

struct ProbedCall {
    uint32_t result;      // eax
    int32_t stackChange;  // esp after the return minus esp before the arguments were pushed: 0 is balanced
};

ProbedCall CallProbingStack(const void *function, const uint32_t *arguments, uint32_t count);
