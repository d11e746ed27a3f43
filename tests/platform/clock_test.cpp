// Time: FILETIME/SYSTEMTIME arithmetic, DOS words, the host time zone, the frozen clock.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

namespace {

class Clock : public ::testing::Test {
protected:
    void SetUp() override {
        HostMachine_Reset();
        if (const char *tz = getenv("TZ")) savedTz = tz;
        // Central Europe: +1 h in winter, +2 h from the last Sunday of March to that of October.
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
    }
    void TearDown() override {
        savedTz ? setenv("TZ", savedTz->c_str(), 1) : unsetenv("TZ");
        tzset();
        HostMachine_Reset();
    }
    std::optional<std::string> savedTz;
};

SYSTEMTIME MakeTime(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms = 0) {
    return SYSTEMTIME{y, mo, 0, d, h, mi, s, ms};  // day of the week left 0
}
uint64_t Ticks(const FILETIME &ft) { return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }
FILETIME FromTicks(uint64_t ticks) { return FILETIME{DWORD(ticks), DWORD(ticks >> 32)}; }
auto Fields(const SYSTEMTIME &st) {
    return std::tuple(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

TEST_F(Clock, SystemTimeAndFileTimeConvertBothWays) {
    FILETIME ft;
    for (auto [st, ticks] : {std::pair(MakeTime(1970, 1, 1, 0, 0, 0), 116444736000000000ull),
                             std::pair(MakeTime(1601, 1, 1, 0, 0, 0), 0ull)}) {
        ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
        EXPECT_EQ(Ticks(ft), ticks);
    }
    for (SYSTEMTIME in : {MakeTime(2000, 2, 29, 23, 59, 59, 999), MakeTime(2107, 12, 31, 1, 2, 3, 4),
                          MakeTime(1980, 1, 1, 0, 0, 0), MakeTime(2038, 1, 19, 3, 14, 8, 500)}) {
        SYSTEMTIME out;
        ASSERT_TRUE(SystemTimeToFileTime(&in, &ft));
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &out));
        EXPECT_EQ(Fields(out), Fields(in)) << in.wYear;
    }
    SYSTEMTIME saturday = MakeTime(2000, 1, 1, 12, 0, 0);
    SystemTimeToFileTime(&saturday, &ft);
    FileTimeToSystemTime(&ft, &saturday);
    EXPECT_EQ(saturday.wDayOfWeek, 6);

    for (SYSTEMTIME bad : {MakeTime(1900, 2, 29, 0, 0, 0), MakeTime(2001, 13, 1, 0, 0, 0),
                           MakeTime(2001, 4, 31, 0, 0, 0), MakeTime(2001, 1, 1, 24, 0, 0),
                           MakeTime(1600, 12, 31, 0, 0, 0)})
        EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft)) << bad.wYear << "-" << bad.wMonth;
    FILETIME negative = FromTicks(0x8000000000000000ull);
    SYSTEMTIME out;
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &out));
}

TEST_F(Clock, DosDateAndTimeWords) {
    struct Case { SYSTEMTIME st; BOOL ok; WORD date, time; };
    const Case cases[] = {
        {MakeTime(1999, 12, 31, 23, 59, 58), TRUE, 0x279F, 0xBF7D},
        {MakeTime(1999, 12, 31, 23, 59, 59), TRUE, 0x279F, 0xBF7D},  // two-second steps
        {MakeTime(1980, 1, 1, 0, 0, 0), TRUE, 0x0021, 0x0000},
        {MakeTime(2107, 12, 31, 23, 59, 58), TRUE, 0xFF9F, 0xBF7D},
        {MakeTime(1979, 12, 31, 23, 59, 59), FALSE, 0, 0},
        {MakeTime(2108, 1, 1, 0, 0, 0), FALSE, 0, 0},
    };
    for (const Case &c : cases) {
        FILETIME local;
        ASSERT_TRUE(SystemTimeToFileTime(&c.st, &local));
        WORD date = 0, time = 0;
        EXPECT_EQ(FileTimeToDosDateTime(&local, &date, &time), c.ok) << c.st.wYear;
        if (c.ok) { EXPECT_EQ(std::pair(date, time), std::pair(c.date, c.time)) << c.st.wYear; }
    }
}

TEST_F(Clock, LocalTimeUsesTheOffsetOfThatMoment) {
    struct Case { SYSTEMTIME utc; WORD localHour; };
    const Case cases[] = {{MakeTime(2001, 1, 15, 12, 0, 0), 13}, {MakeTime(2001, 7, 15, 12, 0, 0), 14},
                          {MakeTime(2090, 7, 15, 12, 0, 0), 14}};
    for (const Case &c : cases) {
        FILETIME utc, local, back;
        SystemTimeToFileTime(&c.utc, &utc);
        utc = FromTicks(Ticks(utc) + 1234567);  // sub-second ticks are kept
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
        SYSTEMTIME st;
        FileTimeToSystemTime(&local, &st);
        EXPECT_EQ(st.wHour, c.localHour) << "month " << c.utc.wMonth << " of " << c.utc.wYear;
        ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
        EXPECT_EQ(Ticks(back), Ticks(utc));
    }
    FILETIME last = FromTicks(0x7FFFFFFFFFFFFFFFull), out;
    EXPECT_FALSE(FileTimeToLocalFileTime(&last, &out)) << "an hour east of the last FILETIME";
}

TEST_F(Clock, FrozenAndRealClock) {
    SYSTEMTIME frozen = MakeTime(2001, 7, 15, 14, 30, 0, 250);
    frozen.wDayOfWeek = 0;
    HostMachine_FreezeLocalTime(&frozen);
    SYSTEMTIME st;
    GetLocalTime(&st);
    EXPECT_EQ(memcmp(&st, &frozen, sizeof st), 0);
    GetSystemTime(&st);
    EXPECT_EQ(st.wHour, 12) << "the frozen moment in UTC";
    EXPECT_EQ(st.wMinute, 30);

    HostMachine_Reset();
    GetSystemTime(&st);
    FILETIME now;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &now));
    int64_t hostSeconds = int64_t(time(nullptr));
    int64_t ourSeconds = int64_t((Ticks(now) - 116444736000000000ull) / 10000000);
    EXPECT_LE(std::llabs(ourSeconds - hostSeconds), 5);
    SYSTEMTIME local;
    GetLocalTime(&local);
    EXPECT_NE(local.wHour * 60 + local.wMinute, st.wHour * 60 + st.wMinute) << "CET is never UTC";
}

}  // namespace
