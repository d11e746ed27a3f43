// ANSI text: code page 1252 case mapping and the collation order of names.
#include "host_machine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

// The single-character forms: the character in the low word of the pointer.
unsigned OfChar(decltype(&CharUpperA) map, unsigned c) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(map(reinterpret_cast<LPSTR>(uintptr_t(c)))));
}
unsigned UpperOfChar(unsigned c) { return OfChar(CharUpperA, c); }
unsigned LowerOfChar(unsigned c) { return OfChar(CharLowerA, c); }

TEST(Text, CaseMappingOfCodePage1252) {
    const struct {
        unsigned lower, upper;
    } pairs[] = {{'a', 'A'},   {'z', 'Z'},   {0xE0, 0xC0}, {0xE9, 0xC9}, {0xFE, 0xDE},
                 {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}};
    for (const auto &p : pairs) {
        EXPECT_EQ(UpperOfChar(p.lower), p.upper) << p.lower;
        EXPECT_EQ(LowerOfChar(p.upper), p.lower) << p.lower;
    }
    for (unsigned same : {0xDFu, 0xB5u, 0xF7u, 0xD7u, unsigned('1'), unsigned('_'), 0x83u}) {
        EXPECT_EQ(UpperOfChar(same), same) << same;
        EXPECT_EQ(LowerOfChar(same), same) << same;
    }
}

TEST(Text, CollationOrdersLikeWordSort) {
    // Each string sorts strictly before the next one under lstrcmpA.
    const std::string ordered[] = {
        "",     " ",    "!",  "_",  "~",  "+",    "0",    "1", "9",    "a",     "A",   "\xE1",
        "\xC1", "ab",   "aB", "Ab", "AB", "ae",   "\xE6", "b", "coop", "co-op", "cop", "e",
        "\xE9", "\xC9", "f",  "s",  "ss", "\xDF", "st",   "z", "\x9E", "\xFE",
    };
    for (size_t i = 0; i + 1 < std::size(ordered); ++i) {
        EXPECT_TRUE(lstrcmpA(ordered[i].c_str(), ordered[i + 1].c_str()) < 0) << ordered[i] << " vs " << ordered[i + 1];
        EXPECT_TRUE(lstrcmpA(ordered[i + 1].c_str(), ordered[i].c_str()) > 0) << ordered[i] << " vs " << ordered[i + 1];
    }
    EXPECT_TRUE(lstrcmpA("abc", "abc") == 0);
    EXPECT_TRUE(lstrcmpiA("Program Files", "PROGRAM FILES") == 0);
    EXPECT_TRUE(lstrcmpiA("\xE9t\xE9", "\xC9T\xC9") == 0);
    EXPECT_TRUE(lstrcmpiA("abc", "ABD") < 0);
    EXPECT_NE(lstrcmpiA("e", "\xE9"), 0) << "accents still count";
    EXPECT_NE(lstrcmpiA("ss", "\xDF"), 0) << "only equal names compare equal";
}

}  // namespace
