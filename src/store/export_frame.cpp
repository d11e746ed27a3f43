#include "store/export_frame.h"

ExportFrame::ExportFrame(DWORD mode, DWORD end)
    : dwEnd(end), dwMode(mode), dwModeOnEntry(gOperationMode), fNested(gExportDepth != 0) {
    ++gExportDepth;
    dwCriticalOnEntry = SetCritical(1);
    if (dwMode != FRAME_KEEPS_MODE) gOperationMode = dwMode;
}

ExportFrame::~ExportFrame() {
    if (fStoresCode) gErrorCode = dwErrorCode;
    if (fNested) {
        if (dwMode != FRAME_KEEPS_MODE) gOperationMode = dwModeOnEntry;
        SetCritical(dwCriticalOnEntry);
    } else {
        SetCritical(dwEnd == FRAME_RESTORES_CRITICAL ? dwCriticalOnEntry : 0);
    }
    --gExportDepth;
}
