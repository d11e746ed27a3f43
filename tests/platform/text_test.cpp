// ANSI text: code page 1252 case mapping and collation, code page 437 conversion.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

class Text : public ::testing::Test {
protected:
    void SetUp() override { HostMachine_Reset(); }
};

// The single-character forms: the character in the low word of the pointer.
unsigned OfChar(decltype(&CharUpperA) map, unsigned c) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(map(reinterpret_cast<LPSTR>(uintptr_t(c)))));
}
unsigned UpperOfChar(unsigned c) { return OfChar(CharUpperA, c); }
unsigned LowerOfChar(unsigned c) { return OfChar(CharLowerA, c); }

TEST_F(Text, CaseMappingOfCodePage1252) {
    struct Pair { unsigned lower, upper; };
    const Pair pairs[] = {{'a', 'A'}, {'z', 'Z'}, {0xE0, 0xC0}, {0xE9, 0xC9}, {0xFE, 0xDE},
                          {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}};
    for (const Pair &p : pairs) {
        EXPECT_EQ(UpperOfChar(p.lower), p.upper) << std::hex << p.lower;
        EXPECT_EQ(LowerOfChar(p.upper), p.lower) << std::hex << p.upper;
    }
    for (unsigned same : {0xDFu, 0xB5u, 0xF7u, 0xD7u, unsigned('1'), unsigned('_'), 0x83u}) {
        EXPECT_EQ(UpperOfChar(same), same) << std::hex << same;
        EXPECT_EQ(LowerOfChar(same), same) << std::hex << same;
    }
    // Every mapping is undone by the other one.
    for (unsigned c = 1; c < 256; ++c) {
        if (UpperOfChar(c) != c) { EXPECT_EQ(LowerOfChar(UpperOfChar(c)), c) << std::hex << c; }
        if (LowerOfChar(c) != c) { EXPECT_EQ(UpperOfChar(LowerOfChar(c)), c) << std::hex << c; }
    }

    char text[] = "Caf\xE9 \xDF-x\xFF";
    EXPECT_EQ(CharUpperA(text), text);
    EXPECT_STREQ(text, "CAF\xC9 \xDF-X\x9F");
    char buffer[] = {'a', 0, 'b', 'c'};
    EXPECT_EQ(CharUpperBuffA(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 4), std::string("A\0Bc", 4)) << "exactly three bytes, past the NUL";
    EXPECT_EQ(CharLowerBuffA(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), std::string("a\0bc", 4));
}

TEST_F(Text, CollationOrdersLikeWordSort) {
    // Each string sorts strictly before the next one under lstrcmpA.
    const std::vector<std::string> ordered = {
        "",     " ",     "!",     "_",    "~",     "+",      "0",      "1",    "9",
        "a",    "A",     "\xE1",  "\xC1", "ab",    "aB",     "Ab",     "AB",   "ae",
        "\xE6", "b",     "coop",  "co-op", "cop", "e",      "\xE9",   "\xC9", "f",
        "s",    "ss",    "\xDF",  "st",   "z",     "\x9E",   "\xFE",
    };
    for (size_t i = 0; i + 1 < ordered.size(); ++i) {
        EXPECT_LT(lstrcmpA(ordered[i].c_str(), ordered[i + 1].c_str()), 0)
            << '"' << ordered[i] << "\" vs \"" << ordered[i + 1] << '"';
        EXPECT_GT(lstrcmpA(ordered[i + 1].c_str(), ordered[i].c_str()), 0);
    }

    EXPECT_EQ(lstrcmpA("abc", "abc"), 0);
    EXPECT_EQ(lstrcmpiA("Program Files", "PROGRAM FILES"), 0);
    EXPECT_EQ(lstrcmpiA("\xE9t\xE9", "\xC9T\xC9"), 0);
    EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
    EXPECT_NE(lstrcmpiA("e", "\xE9"), 0) << "accents still count";
    EXPECT_NE(lstrcmpiA("ss", "\xDF"), 0) << "only equal names compare equal";
    EXPECT_LT(lstrcmpA(nullptr, "a"), 0);
    EXPECT_EQ(lstrcmpiA(nullptr, nullptr), 0);
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrlenA("drive"), 5);
}

TEST_F(Text, CollationIsATotalOrder) {
    // Antisymmetry over every pair of two-byte strings built from a sample of bytes.
    std::vector<std::string> samples;
    for (unsigned c : {0x20u, 0x27u, 0x2Du, 0x31u, 0x41u, 0x61u, 0x8Cu, 0x9Cu, 0xAAu, 0xB2u,
                       0xC6u, 0xDFu, 0xE6u, 0xFFu, 0x01u})
        for (unsigned d : {0x2Du, 0x61u, 0x41u, 0xE0u, 0x73u})
            samples.push_back(std::string{char(c), char(d)});
    for (const std::string &a : samples) {
        for (const std::string &b : samples) {
            int ab = lstrcmpA(a.c_str(), b.c_str()), ba = lstrcmpA(b.c_str(), a.c_str());
            EXPECT_EQ(ab, -ba);
            EXPECT_EQ(ab == 0, a == b);
            EXPECT_EQ(lstrcmpiA(a.c_str(), b.c_str()), -lstrcmpiA(b.c_str(), a.c_str()));
        }
    }
}

TEST_F(Text, OemCodePage437) {
    char converted[8];
    ASSERT_TRUE(OemToCharA("\x81\x9A\x8E\xE1\xA4", converted));
    EXPECT_STREQ(converted, "\xFC\xDC\xC4\xDF\xF1");  // ü Ü Ä ß ñ
    char inPlace[] = "A\xC4\xB3\xC9\xFF";
    ASSERT_TRUE(OemToCharA(inPlace, inPlace));
    EXPECT_STREQ(inPlace, "A-|+\xA0");

    char buffer[6] = {'\x82', 0, '\x94', 'x', 'y', 'z'};
    ASSERT_TRUE(OemToCharBuffA(buffer, buffer, 3));
    EXPECT_EQ(std::string(buffer, 6), std::string("\xE9\0\xF6xyz", 6));

    // Every character 437 shares with 1252 converts back to itself.
    for (unsigned o = 0x20; o < 256; ++o) {
        char in[2] = {char(o), 0}, ansi[2], back[2];
        OemToCharA(in, ansi);
        if (static_cast<unsigned char>(ansi[0]) < 0x80 && o >= 0x80) continue;  // a substitute
        if (o == 0xA9 || o == 0xF9) continue;  // ⌐ and ∙ share ¬ and · with 0xAA and 0xFA
        CharToOemA(ansi, back);
        EXPECT_EQ(static_cast<unsigned char>(back[0]), o) << std::hex << o;
    }
    char oem[8];
    ASSERT_TRUE(CharToOemA("\xC0\xFD\x80", oem));
    EXPECT_STREQ(oem, "AyE");
}

}  // namespace
