// Time: the host's clock and time zone seen through Win32's FILETIME (100 ns ticks since
// 1601-01-01 UTC), SYSTEMTIME and DOS date/time words, plus a local time that tests can freeze.
// Calendar arithmetic is done here in 64 bits; only the time-zone rules come from the C library.

// 32-bit builds need a 64-bit time_t for local times after 2038 (DOS dates reach 2107).
#if defined(__i386__) && !defined(_TIME_BITS)
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif
#define _TIME_BITS 64
#endif

#include "clock.h"

#include "host_machine.h"

#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerMillisecond = 10000;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kUnixEpochTicks = 116444736000000000;  // 1970-01-01 as a FILETIME
constexpr int64_t kDaysFrom1601To1970 = 134774;

std::mutex g_mutex;  // guards the frozen time
bool g_fFrozen = false;
SYSTEMTIME g_frozenLocal{};

// Ticks of a FILETIME; negative when the high bit is set, which Windows rejects.
int64_t TicksOf(const FILETIME *pft) {
    return static_cast<int64_t>((static_cast<uint64_t>(pft->dwHighDateTime) << 32) | pft->dwLowDateTime);
}

void StoreTicks(int64_t ticks, FILETIME *pft) {
    pft->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
    pft->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
}

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = FloorDiv(y, 400);
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t *pYear, unsigned *pMonth, unsigned *pDay) {
    z += 719468;
    const int64_t era = FloorDiv(z, 146097);
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *pDay = doy - (153 * mp + 2) / 5 + 1;
    *pMonth = mp < 10 ? mp + 3 : mp - 9;
    *pYear = static_cast<int64_t>(yoe) + era * 400 + (*pMonth <= 2);
}

bool IsLeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool IsValidSystemTime(const SYSTEMTIME &st) {
    static const unsigned char daysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12) return false;
    unsigned cDays = daysInMonth[st.wMonth - 1] + (st.wMonth == 2 && IsLeapYear(st.wYear));
    return st.wDay >= 1 && st.wDay <= cDays && st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 &&
           st.wMilliseconds < 1000;
}

int64_t TicksOfSystemTime(const SYSTEMTIME &st) {
    int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kDaysFrom1601To1970;
    int64_t seconds = days * kSecondsPerDay + st.wHour * 3600 + st.wMinute * 60 + st.wSecond;
    return seconds * kTicksPerSecond + st.wMilliseconds * kTicksPerMillisecond;
}

void SystemTimeOfTicks(int64_t ticks, SYSTEMTIME *pst) {
    int64_t days = ticks / (kSecondsPerDay * kTicksPerSecond);
    int64_t rest = ticks % (kSecondsPerDay * kTicksPerSecond);
    int64_t year;
    unsigned month, day;
    CivilFromDays(days - kDaysFrom1601To1970, &year, &month, &day);
    pst->wYear = static_cast<WORD>(year);
    pst->wMonth = static_cast<WORD>(month);
    pst->wDay = static_cast<WORD>(day);
    pst->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    pst->wHour = static_cast<WORD>(rest / (3600 * kTicksPerSecond));
    pst->wMinute = static_cast<WORD>(rest / (60 * kTicksPerSecond) % 60);
    pst->wSecond = static_cast<WORD>(rest / kTicksPerSecond % 60);
    pst->wMilliseconds = static_cast<WORD>(rest / kTicksPerMillisecond % 1000);
}

// The C library's time-zone rules are loaded again (tzset, which also stats /etc/localtime) only
// when TZ differs from the value last seen, and offsets already asked for are remembered by the
// exact second, so that a walk converting the times of many files costs neither. Each thread has
// its own, without a constructor, so that a conversion takes neither a lock nor a guard.
struct OffsetCache {
    unsigned generation;  // g_zoneGeneration when the zone was loaded
    bool bLoaded;         // tzset ran for the TZ below
    bool bHadTz;
    char tz[256];  // TZ's value; one as long as this is never taken as unchanged
    // Where TZ was found in the environment: the array, the entry's index and pointer (without TZ:
    // the number of entries and the last one), so that an unchanged environment is known without
    // searching it.
    char **environment;
    size_t index;
    const char *entry;
    struct Slot {
        bool bValid;
        int64_t t;
        long offset;
    };
    Slot slots[256];
};

std::atomic<unsigned> g_zoneGeneration{0};  // counted up to have every thread load the zone again
thread_local OffsetCache t_offsets;

bool SameTz(const OffsetCache &cache, const char *tz) {
    return strnlen(tz, sizeof cache.tz) < sizeof cache.tz && strcmp(cache.tz, tz) == 0;
}

// Whether TZ, as last seen, is still where it was with the same value. setenv, unsetenv and
// putenv replace, move or add entry pointers, or the array; a value changed in place is compared.
bool TzUnchanged(const OffsetCache &cache) {
    if (!cache.bLoaded || environ != cache.environment || environ == nullptr) return false;
    if (!cache.bHadTz)
        return environ[cache.index] == nullptr && (cache.index == 0 || environ[cache.index - 1] == cache.entry);
    return environ[cache.index] == cache.entry && SameTz(cache, cache.entry + 3);
}

void NoteWhereTzIs(OffsetCache &cache) {
    cache.environment = environ;
    cache.entry = nullptr;
    size_t i = 0;
    for (; environ != nullptr && environ[i] != nullptr; ++i) {
        cache.entry = environ[i];
        if (strncmp(environ[i], "TZ=", 3) == 0) break;
    }
    cache.index = i;
}

void LoadZoneIfChanged(OffsetCache &cache) {
    if (TzUnchanged(cache)) return;
    const char *tz = getenv("TZ");
    const bool same = cache.bLoaded && cache.bHadTz == (tz != nullptr) && (tz == nullptr || SameTz(cache, tz));
    NoteWhereTzIs(cache);
    if (same) return;
    tzset();
    cache.bLoaded = true;
    cache.bHadTz = tz != nullptr;
    snprintf(cache.tz, sizeof cache.tz, "%s", tz != nullptr ? tz : "");
    for (OffsetCache::Slot &slot : cache.slots) slot.bValid = false;
}

// The host's UTC offset, in seconds, in force at the Unix time t.
bool LocalOffsetAt(int64_t t, long *pOffset) {
    time_t tt = static_cast<time_t>(t);
    if (static_cast<int64_t>(tt) != t) return false;
    OffsetCache &cache = t_offsets;
    const unsigned generation = g_zoneGeneration.load(std::memory_order_acquire);
    if (cache.generation != generation) {
        cache.generation = generation;
        cache.bLoaded = false;
    }
    LoadZoneIfChanged(cache);
    OffsetCache::Slot &slot = cache.slots[static_cast<uint64_t>(t) % (sizeof cache.slots / sizeof *cache.slots)];
    if (slot.bValid && slot.t == t) {
        *pOffset = slot.offset;
        return true;
    }
    tm local{};
    if (!localtime_r(&tt, &local)) return false;
    slot = OffsetCache::Slot{true, t, local.tm_gmtoff};
    *pOffset = local.tm_gmtoff;
    return true;
}

bool LocalTicksToUtc(int64_t localTicks, int64_t *pUtcTicks) {
    int64_t localSeconds = FloorDiv(localTicks - kUnixEpochTicks, kTicksPerSecond);
    int64_t fraction = localTicks - kUnixEpochTicks - localSeconds * kTicksPerSecond;
    time_t tt = static_cast<time_t>(localSeconds);
    if (static_cast<int64_t>(tt) != localSeconds) return false;
    tm fields{};
    if (!gmtime_r(&tt, &fields)) return false;
    fields.tm_isdst = -1;  // the rules decide whether DST was in force then
    time_t utc = mktime(&fields);
    if (utc == static_cast<time_t>(-1) && localSeconds != -1) return false;
    int64_t utcTicks = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(utc), kTicksPerSecond, &utcTicks) ||
        __builtin_add_overflow(utcTicks, fraction + kUnixEpochTicks, &utcTicks) || utcTicks < 0)
        return false;
    *pUtcTicks = utcTicks;
    return true;
}

void HostLocalTime(SYSTEMTIME *pst) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    long offset = 0;
    if (!LocalOffsetAt(now.tv_sec, &offset)) offset = 0;
    int64_t ticks = (static_cast<int64_t>(now.tv_sec) + offset) * kTicksPerSecond + now.tv_nsec / 100 + kUnixEpochTicks;
    SystemTimeOfTicks(ticks, pst);
}

bool SetFailed() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

}  // namespace

namespace host {

void ResetTime() {
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        g_fFrozen = false;
    }
    g_zoneGeneration.fetch_add(1, std::memory_order_release);  // the zone files are read afresh
}

}  // namespace host

extern "C" {

void HostMachine_FreezeLocalTime(const SYSTEMTIME *time) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_fFrozen = time != nullptr;
    if (time) g_frozenLocal = *time;
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    if (!lpSystemTime) return;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        if (g_fFrozen) {
            *lpSystemTime = g_frozenLocal;
            return;
        }
    }
    HostLocalTime(lpSystemTime);
}

// A frozen local time stops this clock too: it is the frozen moment in UTC.
void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    if (!lpSystemTime) return;
    SYSTEMTIME frozen{};
    bool fFrozen;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        fFrozen = g_fFrozen;
        frozen = g_frozenLocal;
    }
    if (fFrozen) {
        int64_t utcTicks = 0;
        if (IsValidSystemTime(frozen) && LocalTicksToUtc(TicksOfSystemTime(frozen), &utcTicks))
            SystemTimeOfTicks(utcTicks, lpSystemTime);
        else
            *lpSystemTime = frozen;
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    SystemTimeOfTicks(static_cast<int64_t>(now.tv_sec) * kTicksPerSecond + now.tv_nsec / 100 + kUnixEpochTicks,
                      lpSystemTime);
}

// Uses the host time zone's offset in force at that moment (DST included).
BOOL WINAPI FileTimeToLocalFileTime(const FILETIME *lpFileTime, LPFILETIME lpLocalFileTime) {
    if (!lpFileTime || !lpLocalFileTime || TicksOf(lpFileTime) < 0) return SetFailed();
    int64_t ticks = TicksOf(lpFileTime);
    long offset = 0;
    if (!LocalOffsetAt(FloorDiv(ticks - kUnixEpochTicks, kTicksPerSecond), &offset)) return SetFailed();
    int64_t localTicks = 0;
    if (__builtin_add_overflow(ticks, static_cast<int64_t>(offset) * kTicksPerSecond, &localTicks) || localTicks < 0)
        return SetFailed();
    StoreTicks(localTicks, lpLocalFileTime);
    return TRUE;
}

// Of a local time that occurs twice (the hour DST ends) the C library's choice is taken.
BOOL WINAPI LocalFileTimeToFileTime(const FILETIME *lpLocalFileTime, LPFILETIME lpFileTime) {
    if (!lpLocalFileTime || !lpFileTime || TicksOf(lpLocalFileTime) < 0) return SetFailed();
    int64_t utcTicks = 0;
    if (!LocalTicksToUtc(TicksOf(lpLocalFileTime), &utcTicks)) return SetFailed();
    StoreTicks(utcTicks, lpFileTime);
    return TRUE;
}

// FAT date and time words (two-second resolution) of the FILETIME as given, without time-zone
// conversion; FALSE outside 1980-2107, the years the date word can hold.
BOOL WINAPI FileTimeToDosDateTime(const FILETIME *lpFileTime, LPWORD lpFatDate, LPWORD lpFatTime) {
    if (!lpFileTime || !lpFatDate || !lpFatTime || TicksOf(lpFileTime) < 0) return SetFailed();
    // Whole seconds first, then the day and the second of the day: a scan converts two times a
    // file, and the calendar fields of SystemTimeOfTicks (milliseconds, weekday) are not needed.
    const uint64_t seconds = static_cast<uint64_t>(TicksOf(lpFileTime)) / kTicksPerSecond;
    const int64_t days = static_cast<int64_t>(seconds / kSecondsPerDay);
    const unsigned secondOfDay = static_cast<unsigned>(seconds % kSecondsPerDay);
    int64_t year;
    unsigned month, day;
    CivilFromDays(days - kDaysFrom1601To1970, &year, &month, &day);
    if (year < 1980 || year > 2107) return SetFailed();
    *lpFatDate = static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
    *lpFatTime =
        static_cast<WORD>(((secondOfDay / 3600) << 11) | ((secondOfDay / 60 % 60) << 5) | (secondOfDay % 60 / 2));
    return TRUE;
}

// wDayOfWeek is ignored; any other field out of range fails.
BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME *lpSystemTime, LPFILETIME lpFileTime) {
    if (!lpSystemTime || !lpFileTime || !IsValidSystemTime(*lpSystemTime)) return SetFailed();
    StoreTicks(TicksOfSystemTime(*lpSystemTime), lpFileTime);
    return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME *lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (!lpFileTime || !lpSystemTime || TicksOf(lpFileTime) < 0) return SetFailed();
    SystemTimeOfTicks(TicksOf(lpFileTime), lpSystemTime);
    return TRUE;
}

}  // extern "C"
