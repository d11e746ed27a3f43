// ANSI text: code page 1252 case mapping and collation, code page 437 conversion.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The single-character forms: the character in the low word of the pointer.
unsigned OfChar(decltype(&CharUpperA) map, unsigned c) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(map(reinterpret_cast<LPSTR>(uintptr_t(c)))));
}
unsigned UpperOfChar(unsigned c) { return OfChar(CharUpperA, c); }
unsigned LowerOfChar(unsigned c) { return OfChar(CharLowerA, c); }

TEST(Text, CaseMappingOfCodePage1252) {
    const struct { unsigned lower, upper; } pairs[] = {{'a', 'A'}, {'z', 'Z'}, {0xE0, 0xC0}, {0xE9, 0xC9}, {0xFE, 0xDE},
                                                       {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}};
    for (const auto &p : pairs) EXPECT_TRUE(UpperOfChar(p.lower) == p.upper && LowerOfChar(p.upper) == p.lower) << p.lower;
    for (unsigned same : {0xDFu, 0xB5u, 0xF7u, 0xD7u, unsigned('1'), unsigned('_'), 0x83u})
        EXPECT_TRUE(UpperOfChar(same) == same && LowerOfChar(same) == same) << same;
    // Every mapping is undone by the other one.
    for (unsigned c = 1; c < 256; ++c) {
        if (UpperOfChar(c) != c) { EXPECT_EQ(LowerOfChar(UpperOfChar(c)), c) << c; }
        if (LowerOfChar(c) != c) { EXPECT_EQ(UpperOfChar(LowerOfChar(c)), c) << c; }
    }
    char text[] = "Caf\xE9 \xDF-x\xFF";
    EXPECT_EQ(CharUpperA(text), text);
    EXPECT_STREQ(text, "CAF\xC9 \xDF-X\x9F");
    char buffer[] = {'A', 0, 'B', 'C'};
    EXPECT_EQ(CharLowerBuffA(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 4), std::string("a\0bC", 4)) << "exactly three bytes, past the NUL";
}

TEST(Text, CollationOrdersLikeWordSortAndIsATotalOrder) {
    // Each string sorts strictly before the next one under lstrcmpA.
    const std::vector<std::string> ordered = {
        "",     " ",     "!",     "_",    "~",     "+",      "0",      "1",    "9",
        "a",    "A",     "\xE1",  "\xC1", "ab",    "aB",     "Ab",     "AB",   "ae",
        "\xE6", "b",     "coop",  "co-op", "cop", "e",      "\xE9",   "\xC9", "f",
        "s",    "ss",    "\xDF",  "st",   "z",     "\x9E",   "\xFE",
    };
    for (size_t i = 0; i + 1 < ordered.size(); ++i) {
        EXPECT_TRUE(lstrcmpA(ordered[i].c_str(), ordered[i + 1].c_str()) < 0 &&
                    lstrcmpA(ordered[i + 1].c_str(), ordered[i].c_str()) > 0) << ordered[i] << " vs " << ordered[i + 1];
    }
    EXPECT_TRUE(lstrcmpA("abc", "abc") == 0 && lstrcmpiA("Program Files", "PROGRAM FILES") == 0);
    EXPECT_TRUE(lstrcmpiA("\xE9t\xE9", "\xC9T\xC9") == 0 && lstrcmpiA("abc", "ABD") < 0);
    EXPECT_NE(lstrcmpiA("e", "\xE9"), 0) << "accents still count";
    EXPECT_NE(lstrcmpiA("ss", "\xDF"), 0) << "only equal names compare equal";
    EXPECT_TRUE(lstrcmpA(nullptr, "a") < 0 && lstrcmpiA(nullptr, nullptr) == 0);

    // Antisymmetry over every pair of two-byte strings built from a sample of bytes.
    std::vector<std::string> samples;
    for (unsigned c : {0x20u, 0x27u, 0x2Du, 0x31u, 0x41u, 0x61u, 0x8Cu, 0x9Cu, 0xAAu, 0xB2u, 0xC6u, 0xDFu, 0xE6u, 0xFFu, 0x01u})
        for (unsigned d : {0x2Du, 0x61u, 0x41u, 0xE0u, 0x73u}) samples.push_back(std::string{char(c), char(d)});
    for (const std::string &a : samples) {
        for (const std::string &b : samples) {
            const int ab = lstrcmpA(a.c_str(), b.c_str()), ba = lstrcmpA(b.c_str(), a.c_str());
            EXPECT_TRUE(ab == -ba && (ab == 0) == (a == b)) << a << " vs " << b;
            EXPECT_EQ(lstrcmpiA(a.c_str(), b.c_str()), -lstrcmpiA(b.c_str(), a.c_str()));
        }
    }
}

TEST(Text, OemCodePage437) {
    char converted[8];
    ASSERT_TRUE(OemToCharA("\x81\x9A\x8E\xE1\xA4", converted));
    EXPECT_STREQ(converted, "\xFC\xDC\xC4\xDF\xF1");  // ü Ü Ä ß ñ
    char inPlace[] = "A\xC4\xB3\xC9\xFF";
    ASSERT_TRUE(OemToCharA(inPlace, inPlace));
    EXPECT_STREQ(inPlace, "A-|+\xA0");
    char buffer[6] = {'\x82', 0, '\x94', 'x', 'y', 'z'};
    ASSERT_TRUE(OemToCharBuffA(buffer, buffer, 3));
    EXPECT_EQ(std::string(buffer, 6), std::string("\xE9\0\xF6xyz", 6));
}

}  // namespace
