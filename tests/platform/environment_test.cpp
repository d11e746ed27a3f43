// The emulated environment: variables apart from the host's, and %NAME% expansion.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The expansion, or "<size N>" when it needs N bytes and did not fit in cb.
std::string Expand(const char *source, DWORD cb = 256) {
    char buffer[256];
    memset(buffer, '#', sizeof buffer);
    const DWORD result = ExpandEnvironmentStringsA(source, buffer, cb);
    if (std::string(buffer + cb, sizeof buffer - cb) != std::string(sizeof buffer - cb, '#')) return "<wrote past nSize>";
    if (result > cb) return "<size " + std::to_string(result) + ">";
    EXPECT_EQ(result, strlen(buffer) + 1);
    return buffer;
}

TEST(Environment, SeparateFromTheHostAndExpandsKnownNamesOnly) {
    HostMachine_Reset();
    ASSERT_NE(getenv("PATH"), nullptr);
    EXPECT_EQ(Expand("%PATH%"), "%PATH%") << "host PATH leaked in";
    ASSERT_TRUE(SetEnvironmentVariableA("Path", "C:\\DOS") && SetEnvironmentVariableA("PATH", "C:\\WINDOWS;C:\\BIN"));
    SetEnvironmentVariableA("Empty", "");
    const struct { const char *source, *expanded; } cases[] = {
        {"%PATH%", "C:\\WINDOWS;C:\\BIN"}, {"[%path%]", "[C:\\WINDOWS;C:\\BIN]"}, {"%EMPTY%x", "x"},
        {"%NOPE%;%PATH%", "%NOPE%;C:\\WINDOWS;C:\\BIN"}, {"100%", "100%"}, {"%%", "%%"},
        {"%NOPE%PATH%", "%NOPE%PATH%"}, {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(Expand(c.source), c.expanded) << c.source;
    EXPECT_EQ(Expand("%PATH%", 18), "C:\\WINDOWS;C:\\BIN") << "exact fit";
    EXPECT_EQ(Expand("%PATH%", 17), "<size 18>");
    EXPECT_EQ(Expand("%PATH%", 0), "<size 18>");
    EXPECT_EQ(ExpandEnvironmentStringsA("%PATH%", nullptr, 0), 18u);

    EXPECT_FALSE(SetEnvironmentVariableA("A=B", "x") || SetEnvironmentVariableA("", "x"));
    ASSERT_TRUE(SetEnvironmentVariableA("pAtH", nullptr));
    EXPECT_EQ(Expand("%PATH%"), "%PATH%");
    EXPECT_TRUE(SetEnvironmentVariableA("PATH", nullptr)) << "deleting an absent name succeeds";
    SetEnvironmentVariableA("TEMP", "C:\\TMP");
    HostMachine_Reset();
    EXPECT_EQ(Expand("%TEMP%"), "%TEMP%");
}

}  // namespace
