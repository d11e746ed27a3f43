#include "store/reference_buffer.h"

#include "store/module_state.h"
#include "support/path_utils.h"

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
