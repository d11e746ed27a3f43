#include "support/message_pump.h"

namespace {

DWORD g_dwStopFlag = 1;

}  // namespace

void PumpMessages(void) {
    MSG msg;
    while (PeekMessageA(&msg, /*hWnd=*/NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

DWORD GetStopFlag(void) { return g_dwStopFlag; }

void SetStopFlag(DWORD dwStop) { g_dwStopFlag = dwStop; }
