// Time: the DOS words' range and the host time zone's offset at each moment.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

namespace {

class Clock : public ::testing::Test {
protected:
    void SetUp() override {
        HostMachine_Reset();
        if (const char *tz = getenv("TZ")) savedTz = tz;
        // Central Europe: +1 h in winter, +2 h from the last Sunday of March to that of October.
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1), tzset();
    }
    void TearDown() override {
        savedTz ? setenv("TZ", savedTz->c_str(), 1) : unsetenv("TZ");
        tzset(), HostMachine_Reset();
    }
    std::optional<std::string> savedTz;
};

FILETIME FileTime(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
    const SYSTEMTIME st{y, mo, 0, d, h, mi, s, 0};
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft)) << y;
    return ft;
}
uint64_t Ticks(const FILETIME &ft) { return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }
FILETIME FromTicks(uint64_t ticks) { return FILETIME{DWORD(ticks), DWORD(ticks >> 32)}; }

TEST_F(Clock, DosDateAndTimeWords) {
    const struct {
        FILETIME local;
        BOOL ok;
        WORD date, time;
    } cases[] = {
        {FileTime(1999, 12, 31, 23, 59, 59), TRUE, 0x279F, 0xBF7D},  // two-second steps
        {FileTime(1980, 1, 1, 0, 0, 0), TRUE, 0x0021, 0x0000},
        {FileTime(2107, 12, 31, 23, 59, 58), TRUE, 0xFF9F, 0xBF7D},
        {FileTime(1979, 12, 31, 23, 59, 59), FALSE, 0, 0},
        {FileTime(2108, 1, 1, 0, 0, 0), FALSE, 0, 0},
    };
    for (const auto &c : cases) {
        WORD date = 0, time = 0;
        EXPECT_EQ(FileTimeToDosDateTime(&c.local, &date, &time), c.ok) << Ticks(c.local);
        EXPECT_EQ(std::make_pair(date, time), std::make_pair(c.date, c.time)) << Ticks(c.local);
    }
}

// The words agree with FileTimeToSystemTime's fields at every second of a day, on every day of the
// words' range and on random moments down to the tick.
TEST_F(Clock, DosWordsAgreeWithTheSystemTime) {
    const auto expectAgree = [](uint64_t ticks) {
        const FILETIME ft = FromTicks(ticks);
        SYSTEMTIME st;
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
        WORD date = 0, time = 0;
        const BOOL inRange = st.wYear >= 1980 && st.wYear <= 2107;
        ASSERT_EQ(FileTimeToDosDateTime(&ft, &date, &time), inRange) << ticks;
        if (!inRange) return;
        ASSERT_EQ(date, ((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay) << ticks;
        ASSERT_EQ(time, (st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2)) << ticks;
    };
    const uint64_t kDay = 86400ull * 10000000;
    const uint64_t first = Ticks(FileTime(1979, 12, 31, 0, 0, 0)), last = Ticks(FileTime(2108, 1, 2, 0, 0, 0));
    for (uint64_t s = 0; s < 86400; ++s) expectAgree(first + kDay + s * 10000000 + 9999999);
    for (uint64_t day = first; day < last; day += kDay) expectAgree(day), expectAgree(day + kDay - 1);
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 200000; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;  // xorshift64
        expectAgree(x % (last + kDay));
    }
}

TEST_F(Clock, LocalTimeUsesTheOffsetOfThatMoment) {
    // Noon UTC in winter, in summer and in a summer past 2038; sub-second ticks are kept.
    const struct {
        FILETIME utc, local;
    } cases[] = {
        {FileTime(2001, 1, 15, 12, 0, 0), FileTime(2001, 1, 15, 13, 0, 0)},
        {FileTime(2001, 7, 15, 12, 0, 0), FileTime(2001, 7, 15, 14, 0, 0)},
        {FileTime(2090, 7, 15, 12, 0, 0), FileTime(2090, 7, 15, 14, 0, 0)},
    };
    for (const auto &c : cases) {
        FILETIME utc = FromTicks(Ticks(c.utc) + 1234567), local;
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
        EXPECT_EQ(Ticks(local), Ticks(c.local) + 1234567) << Ticks(utc);
    }
    FILETIME last = FromTicks(0x7FFFFFFFFFFFFFFFull), out;
    EXPECT_FALSE(FileTimeToLocalFileTime(&last, &out)) << "an hour east of the last FILETIME";
}

}  // namespace
