#include "support/dos_time.h"

void GetLocalDosDateTime(const SYSTEMTIME *pNow, WORD *pDosDate, WORD *pDosTime) {
    if (pDosDate != nullptr)
        *pDosDate = static_cast<WORD>((pNow->wYear - 1980u) * 512u + pNow->wMonth * 32u + pNow->wDay);
    if (pDosTime != nullptr)
        *pDosTime = static_cast<WORD>(pNow->wHour * 2048u + pNow->wMinute * 32u + pNow->wSecond / 2u);
}
