// Keeping the caller's windows alive during long work, and the module-wide stop flag.
//
// The stop flag is a plain word without a lock (everything runs on the caller's thread): 1 means
// stop. It is 1 when the module is loaded; the directory walker clears it when a walk starts and
// sets it when a callback asks to stop, and the long operations test it between steps.
#pragma once

#include "win32.h"

// Dispatches every message waiting in the thread's queue. The thread's window procedures run
// inside this call and may call back into the library.
void PumpMessages(void);

DWORD GetStopFlag(void);
void SetStopFlag(DWORD dwStop);
