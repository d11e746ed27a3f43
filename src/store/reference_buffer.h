// The module-owned buffer (REFERENCE_BUFFER_SIZE bytes, locked global memory) into which an
// executable's module names are read while its record is made: a multi-string list. It is
// gReferenceBuffer of the state table, none until EnsureReferenceBuffer.
#pragma once

#include "pwdvmp32.h"

#define REFERENCE_BUFFER_SIZE 10240

// Allocates the reference buffer if it is absent. 0, or DRIVEMAP_* error 3 when it cannot be had
// (the buffer then stays absent). Called by every export that may make file records.
DWORD EnsureReferenceBuffer();

// Frees the reference buffer (the map is being freed); safe when it is absent.
void FreeReferenceBuffer();
