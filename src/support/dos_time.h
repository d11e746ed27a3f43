/* The current local time as DOS (FAT) date and time words, the stamps of the map's records. */
#ifndef PWDVMP32_SUPPORT_DOS_TIME_H
#define PWDVMP32_SUPPORT_DOS_TIME_H

#include "win32.h"

/* Converts `pNow`, filled by GetLocalTime, into the DOS date ((year - 1980) * 512 + month * 32 +
 * day) and time (hour * 2048 + minute * 32 + second / 2). Either destination may be NULL. Years
 * outside 1980 to 2107 do not fit the format and wrap. */
void GetLocalDosDateTime(const SYSTEMTIME *pNow, WORD *pDosDate, WORD *pDosTime);

#endif /* PWDVMP32_SUPPORT_DOS_TIME_H */
