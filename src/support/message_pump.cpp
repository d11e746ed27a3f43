#include "support/message_pump.h"

#include "store/module_state.h"

void PumpMessages(void) {
    MSG msg;
    while (PeekMessageA(&msg, /*hWnd=*/nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

DWORD GetStopFlag(void) { return gStopFlag; }

void SetStopFlag(DWORD dwStop) { gStopFlag = dwStop; }
