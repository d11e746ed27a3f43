// The buffer that receives an executable's module names while its record is made.
#include "store/add_entry.h"

#include "support/path_utils.h"

LPSTR gReferenceBuffer = nullptr;

DWORD EnsureReferenceBuffer() {
    if (gReferenceBuffer != nullptr) return DRIVEMAP_OK;
    DWORD cbSize = REFERENCE_BUFFER_SIZE;
    gReferenceBuffer = static_cast<LPSTR>(AllocLockedBuffer(&cbSize, /*cbStep=*/0));
    return gReferenceBuffer != nullptr ? DRIVEMAP_OK : DRIVEMAP_NO_MEMORY;
}

void FreeReferenceBuffer() {
    FreeLockedBuffer(gReferenceBuffer);
    gReferenceBuffer = nullptr;
}
