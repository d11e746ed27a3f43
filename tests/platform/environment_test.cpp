// The emulated environment: variables apart from the host's, and %NAME% expansion.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class Environment : public ::testing::Test {
protected:
    void SetUp() override { HostMachine_Reset(); }
    void TearDown() override { HostMachine_Reset(); }

    // The expansion, or "<size N>" when it needs N bytes and did not fit in cb.
    std::string Expand(const char *source, DWORD cb = 256) {
        char buffer[256];
        memset(buffer, '#', sizeof buffer);
        DWORD result = ExpandEnvironmentStringsA(source, buffer, cb);
        for (size_t i = cb; i < sizeof buffer; ++i)
            if (buffer[i] != '#') return "<wrote past nSize>";
        if (result > cb) return "<size " + std::to_string(result) + ">";
        EXPECT_EQ(result, strlen(buffer) + 1);
        return buffer;
    }
};

TEST_F(Environment, VariablesAreSeparateFromTheHostAndIgnoreCase) {
    char value[32];
    ASSERT_NE(getenv("PATH"), nullptr);
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableA("PATH", value, sizeof value), 0u) << "host PATH leaked in";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ENVVAR_NOT_FOUND);

    ASSERT_TRUE(SetEnvironmentVariableA("Path", "C:\\DOS"));
    ASSERT_TRUE(SetEnvironmentVariableA("PATH", "C:\\WINDOWS;C:\\BIN"));
    EXPECT_EQ(GetEnvironmentVariableA("path", value, sizeof value), 17u);
    EXPECT_STREQ(value, "C:\\WINDOWS;C:\\BIN");

    memset(value, '#', sizeof value);
    EXPECT_EQ(GetEnvironmentVariableA("PATH", value, 17), 18u) << "too small: size with the NUL";
    EXPECT_EQ(value[0], '#');

    EXPECT_FALSE(SetEnvironmentVariableA("A=B", "x"));
    EXPECT_FALSE(SetEnvironmentVariableA("", "x"));
    ASSERT_TRUE(SetEnvironmentVariableA("pAtH", nullptr));
    EXPECT_EQ(GetEnvironmentVariableA("PATH", value, sizeof value), 0u);
    EXPECT_TRUE(SetEnvironmentVariableA("PATH", nullptr)) << "deleting an absent name succeeds";

    SetEnvironmentVariableA("TEMP", "C:\\TMP");
    HostMachine_Reset();
    EXPECT_EQ(GetEnvironmentVariableA("TEMP", value, sizeof value), 0u);
}

TEST_F(Environment, ExpandsKnownNamesOnly) {
    SetEnvironmentVariableA("PATH", "C:\\WINDOWS;C:\\BIN");
    SetEnvironmentVariableA("Empty", "");
    EXPECT_EQ(Expand("%PATH%"), "C:\\WINDOWS;C:\\BIN");
    EXPECT_EQ(Expand("[%path%]"), "[C:\\WINDOWS;C:\\BIN]");
    EXPECT_EQ(Expand("%EMPTY%x"), "x");
    EXPECT_EQ(Expand("%NOPE%;%PATH%"), "%NOPE%;C:\\WINDOWS;C:\\BIN");
    EXPECT_EQ(Expand("100%"), "100%");
    EXPECT_EQ(Expand("%%"), "%%");
    EXPECT_EQ(Expand("%NOPE%PATH%"), "%NOPE%PATH%");
    EXPECT_EQ(Expand(""), "");

    EXPECT_EQ(Expand("%PATH%", 18), "C:\\WINDOWS;C:\\BIN") << "exact fit";
    EXPECT_EQ(Expand("%PATH%", 17), "<size 18>");
    EXPECT_EQ(Expand("%PATH%", 0), "<size 18>");
    EXPECT_EQ(ExpandEnvironmentStringsA("%PATH%", nullptr, 0), 18u);
}

}  // namespace
