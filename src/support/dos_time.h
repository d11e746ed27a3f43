// The current local time as DOS (FAT) date and time words, the stamps of the map's records.
#pragma once

#include "win32.h"

// Converts `pNow`, filled by GetLocalTime, into the DOS date ((year - 1980) * 512 + month * 32 +
// day) and time (hour * 2048 + minute * 32 + second / 2). Either destination may be none. Years
// outside 1980 to 2107 do not fit the format and wrap.
void GetLocalDosDateTime(const SYSTEMTIME *pNow, WORD *pDosDate, WORD *pDosTime);
