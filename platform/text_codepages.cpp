// ANSI text: case mapping and collation of code page 1252, conversion between the OEM code page
// 437 and 1252.
//
// Collation follows Windows' word sort. Each byte has a primary weight (symbols < digits <
// letters, accented letters with their base letter, æ/œ/ß expanded to two letters), an accent
// weight and a case weight. Strings are compared level by level over the whole string: primary,
// accents, case (lower before upper; skipped by lstrcmpiA), then the hyphens and apostrophes that
// the earlier levels ignore, and last the bytes themselves so that only equal strings (equal but
// for case, for lstrcmpiA) compare 0. Every level is a lexicographic order, so the whole is a
// total order that sorting and binary search can rely on.
#include "text_codepages.h"

#include "win32.h"

#include <cstdint>
#include <cstring>

namespace {

struct CollationWeight {
    uint16_t wPrimary;   // 0: ignored until the hyphen level
    uint16_t wPrimary2;  // second letter of an expansion (æ = a e), 0 if none
    uint8_t bAccent;
    uint8_t bUpper;
    uint8_t bHyphenRank;  // order among the ignored characters, 0 for the others
};

constexpr uint16_t kFirstSymbolWeight = 0x0100;
constexpr uint16_t kFirstDigitWeight = 0x1000;
constexpr uint16_t kFirstLetterWeight = 0x2000;
constexpr uint8_t kExpansionAccent = 0x40;  // "ae" < "æ" and "ss" < "ß"

unsigned char UpperOf(unsigned char c) { return host::ToUpperAnsi(c); }

unsigned char LowerOf(unsigned char c) { return host::ToLowerAnsi(c); }

// Symbols in collation order; bytes listed nowhere (controls, unassigned) come before them.
constexpr unsigned char kSymbolOrder[] = {
    0x20, 0xA0, '!',  '"',  '#',  '$',  '%',  '&',  '(',  ')',  '*',  ',',  '.',  '/',  ':',  ';',
    '?',  '@',  '[',  '\\', ']',  '^',  '_',  '`',  '{',  '|',  '}',  '~',  0xA1, 0xA6, 0xA8, 0xAF,
    0xB4, 0xB8, 0xBF, 0x88, 0x98, 0x91, 0x92, 0x82, 0x93, 0x94, 0x84, 0x8B, 0x9B, 0xAB, 0xBB, 0x96,
    0x97, 0x85, 0x86, 0x87, 0x95, 0x89, 0xB6, 0xB7, 0xA7, 0xA9, 0xAE, 0xB0, 0x99, '+',  0xB1, '<',
    '=',  '>',  0xD7, 0xF7, 0xAC, 0xA2, 0xA3, 0xA4, 0xA5, 0x80, 0xB5, 0xBC, 0xBD, 0xBE,
};

// Characters word sort skips until its last level.
constexpr unsigned char kHyphenOrder[] = {'\'', '-', 0xAD};

// Lower-case letters: each string is one base letter followed by its accented forms in order.
constexpr const char *kLetterGroups[] = {
    "a\xAA\xE1\xE0\xE2\xE4\xE3\xE5",
    "b",
    "c\xE7",
    "d\xF0",
    "e\xE9\xE8\xEA\xEB",
    "f\x83",
    "g",
    "h",
    "i\xED\xEC\xEE\xEF",
    "j",
    "k",
    "l",
    "m",
    "n\xF1",
    "o\xBA\xF3\xF2\xF4\xF6\xF5\xF8",
    "p",
    "q",
    "r",
    "s\x9A",
    "t",
    "u\xFA\xF9\xFB\xFC",
    "v",
    "w",
    "x",
    "y\xFD\xFF",
    "z\x9E",
    "\xFE",
};

struct CollationTable {
    CollationWeight weights[256];
    unsigned char baseLetter[256];  // unaccented ASCII letter of a letter, 0 otherwise
};

uint16_t LetterWeight(char letter) { return static_cast<uint16_t>(kFirstLetterWeight + (letter - 'a')); }

CollationTable BuildCollationTable() {
    CollationTable table{};
    uint16_t wNext = kFirstSymbolWeight;
    bool fListed[256] = {};
    for (unsigned char c : kSymbolOrder) fListed[c] = true;
    for (unsigned char c : kHyphenOrder) fListed[c] = true;
    for (int d = '0'; d <= '9'; ++d) fListed[d] = true;
    for (const char *group : kLetterGroups) {
        for (const char *p = group; *p; ++p) {
            fListed[static_cast<unsigned char>(*p)] = true;
            fListed[UpperOf(static_cast<unsigned char>(*p))] = true;
        }
    }
    fListed[0xE6] = fListed[0xC6] = fListed[0x9C] = fListed[0x8C] = fListed[0xDF] = true;

    for (int c = 1; c < 256; ++c) {
        if (!fListed[c]) table.weights[c].wPrimary = wNext++;
    }
    for (unsigned char c : kSymbolOrder) table.weights[c].wPrimary = wNext++;
    for (size_t i = 0; i < sizeof kHyphenOrder; ++i)
        table.weights[kHyphenOrder[i]].bHyphenRank = static_cast<uint8_t>(i + 1);

    for (int d = 0; d <= 9; ++d) table.weights['0' + d].wPrimary = static_cast<uint16_t>(kFirstDigitWeight + d);
    const unsigned char superscripts[] = {0xB9, 0xB2, 0xB3};  // ¹ ² ³
    for (int d = 1; d <= 3; ++d) {
        table.weights[superscripts[d - 1]].wPrimary = static_cast<uint16_t>(kFirstDigitWeight + d);
        table.weights[superscripts[d - 1]].bAccent = 1;
    }

    uint16_t wLetter = kFirstLetterWeight;
    for (const char *group : kLetterGroups) {
        char base = group[0];
        uint8_t bAccent = 0;
        for (const char *p = group; *p; ++p, ++bAccent) {
            unsigned char lower = static_cast<unsigned char>(*p);
            unsigned char upper = UpperOf(lower);
            table.weights[lower] = CollationWeight{wLetter, 0, bAccent, 0, 0};
            if (upper != lower) table.weights[upper] = CollationWeight{wLetter, 0, bAccent, 1, 0};
            if (base >= 'a' && base <= 'z') {
                table.baseLetter[lower] = static_cast<unsigned char>(base);
                table.baseLetter[upper] = static_cast<unsigned char>(base - 0x20);
            }
        }
        ++wLetter;
    }
    struct Expansion {
        unsigned char lower, upper;
        char first, second;
    };
    const Expansion expansions[] = {{0xE6, 0xC6, 'a', 'e'}, {0x9C, 0x8C, 'o', 'e'}, {0xDF, 0xDF, 's', 's'}};
    for (const Expansion &e : expansions) {
        CollationWeight w{LetterWeight(e.first), LetterWeight(e.second), kExpansionAccent, 0, 0};
        table.weights[e.lower] = w;
        table.baseLetter[e.lower] = static_cast<unsigned char>(e.first);
        if (e.upper != e.lower) {
            w.bUpper = 1;
            table.weights[e.upper] = w;
            table.baseLetter[e.upper] = static_cast<unsigned char>(e.first - 0x20);
        }
    }
    return table;
}

const CollationTable &Collation() {
    static const CollationTable table = BuildCollationTable();
    return table;
}

// Walks the weighted elements of a string, skipping the characters ignored until the last level.
struct CollationCursor {
    const unsigned char *p;
    bool fSecondHalf = false;  // the second letter of an expansion is next

    explicit CollationCursor(const char *s) : p(reinterpret_cast<const unsigned char *>(s)) {}

    // The next element's weight for `level` (0 primary, 1 accent, 2 case); false at the end.
    bool Next(int level, unsigned *pWeight) {
        const CollationTable &table = Collation();
        for (;;) {
            if (*p == 0) return false;
            const CollationWeight &w = table.weights[*p];
            if (w.wPrimary == 0) {
                ++p;
                continue;
            }
            unsigned primary = fSecondHalf ? w.wPrimary2 : w.wPrimary;
            if (w.wPrimary2 != 0 && !fSecondHalf) {
                fSecondHalf = true;
            } else {
                fSecondHalf = false;
                ++p;
            }
            *pWeight = level == 0 ? primary : level == 1 ? w.bAccent : w.bUpper;
            return true;
        }
    }
};

int Sign(long v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int CompareLevel(const char *a, const char *b, int level) {
    CollationCursor ca(a), cb(b);
    for (;;) {
        unsigned wa = 0, wb = 0;
        bool fa = ca.Next(level, &wa);
        bool fb = cb.Next(level, &wb);
        if (!fa || !fb) return fa ? 1 : fb ? -1 : 0;
        if (wa != wb) return wa < wb ? -1 : 1;
    }
}

// The ignored characters compared by where they stand (in weighted elements before them) and
// which they are; a string without them comes first ("coop" < "co-op").
int CompareHyphens(const char *a, const char *b) {
    const CollationTable &table = Collation();
    auto next = [&table](const unsigned char *&p, unsigned long *pPos, unsigned *pRank) {
        for (; *p; ++p) {
            const CollationWeight &w = table.weights[*p];
            if (w.bHyphenRank != 0) {
                *pRank = w.bHyphenRank;
                ++p;
                return true;
            }
            *pPos += w.wPrimary2 != 0 ? 2 : 1;
        }
        return false;
    };
    const unsigned char *pa = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *pb = reinterpret_cast<const unsigned char *>(b);
    unsigned long posA = 0, posB = 0;
    for (;;) {
        unsigned rankA = 0, rankB = 0;
        bool fa = next(pa, &posA, &rankA);
        bool fb = next(pb, &posB, &rankB);
        if (!fa || !fb) return fa ? 1 : fb ? -1 : 0;
        if (posA != posB) return posA < posB ? -1 : 1;
        if (rankA != rankB) return rankA < rankB ? -1 : 1;
    }
}

int CompareBytes(const char *a, const char *b, bool fIgnoreCase) {
    const unsigned char *pa = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *pb = reinterpret_cast<const unsigned char *>(b);
    for (;; ++pa, ++pb) {
        unsigned ca = fIgnoreCase ? UpperOf(*pa) : *pa;
        unsigned cb = fIgnoreCase ? UpperOf(*pb) : *pb;
        if (ca != cb || ca == 0) return Sign(static_cast<long>(ca) - static_cast<long>(cb));
    }
}

// Most names differ at the first level soon after a common prefix: the result is settled there
// without the cursors when every character up to the first differing weight has a weight of its
// own (none ignored, none expanded). 0 when that does not settle it.
int FirstLevelAtSimplePrefix(const char *a, const char *b) {
    const CollationTable &table = Collation();
    const unsigned char *pa = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *pb = reinterpret_cast<const unsigned char *>(b);
    for (;; ++pa, ++pb) {
        const CollationWeight &wa = table.weights[*pa], &wb = table.weights[*pb];
        if (wa.wPrimary == 0 || wb.wPrimary == 0 || wa.wPrimary2 != 0 || wb.wPrimary2 != 0) return 0;
        if (wa.wPrimary != wb.wPrimary) return wa.wPrimary < wb.wPrimary ? -1 : 1;
    }
}

int CompareAnsi(const char *a, const char *b, bool fIgnoreCase) {
    if (!a || !b) return a ? 1 : b ? -1 : 0;
    if (const int settled = FirstLevelAtSimplePrefix(a, b)) return settled;
    if (strcmp(a, b) == 0) return 0;  // a name found again: equal at every level
    int result = CompareLevel(a, b, 0);
    if (result == 0) result = CompareLevel(a, b, 1);
    if (result == 0 && !fIgnoreCase) result = CompareLevel(a, b, 2);
    if (result == 0) result = CompareHyphens(a, b);
    if (result == 0) result = CompareBytes(a, b, fIgnoreCase);
    return result;
}

// Code page 437 bytes 0x80-0xFF in code page 1252. Characters 1252 lacks get the substitute
// Windows' best fit would choose: box drawing to + - = |, Greek to Latin look-alikes.
constexpr unsigned char kOemToAnsiHigh[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5, 0xC9, 0xE6, 0xC6,
    0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 'P',  0x83, 0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1,
    0xAA, 0xBA, 0xBF, 0xAC, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB, '#',  '#',  '#',  '|',  '+',  '+',  '+',  '+',  '+',
    '+',  '|',  '+',  '+',  '+',  '+',  '+',  '+',  '+',  '+',  '+',  '-',  '+',  '+',  '+',  '+',  '+',  '+',  '+',
    '+',  '=',  '+',  '+',  '+',  '+',  '+',  '+',  '+',  '+',  '+',  '+',  '+',  '+',  '+',  '#',  '_',  '|',  '|',
    0xAF, 'a',  0xDF, 'G',  'p',  'S',  's',  0xB5, 't',  'F',  'T',  'O',  'd',  '8',  'f',  'e',  'n',  '=',  0xB1,
    '=',  '=',  '(',  ')',  0xF7, '~',  0xB0, 0xB7, 0xB7, 'v',  'n',  0xB2, '#',  0xA0,
};

unsigned char OemToAnsi(unsigned char c) { return c < 0x80 ? c : kOemToAnsiHigh[c - 0x80]; }

// Best-fit substitutes for 1252 symbols that code page 437 lacks.
unsigned char AnsiSymbolSubstitute(unsigned char c) {
    switch (c) {
    case 0x80: return 'E';
    case 0x82:
    case 0xB8: return ',';
    case 0x84:
    case 0x93:
    case 0x94:
    case 0xA8: return '"';
    case 0x85: return '.';
    case 0x86: return '+';
    case 0x88: return '^';
    case 0x8B: return '<';
    case 0x9B: return '>';
    case 0x91:
    case 0x92:
    case 0xB4: return '\'';
    case 0x95: return 0xF9;
    case 0x96:
    case 0x97:
    case 0xAD:
    case 0xAF: return '-';
    case 0x98: return '~';
    case 0x99: return 'T';
    case 0xA6: return '|';
    case 0xA9: return 'c';
    case 0xAE: return 'r';
    case 0xB9: return '1';
    case 0xB3: return '3';
    case 0xD7: return 'x';
    default: return '?';
    }
}

struct AnsiToOemTable {
    unsigned char map[256];
};

AnsiToOemTable BuildAnsiToOem() {
    AnsiToOemTable table{};
    for (int c = 0; c < 0x80; ++c) table.map[c] = static_cast<unsigned char>(c);
    for (int c = 0x80; c < 256; ++c) {
        unsigned char oem = 0;
        // Searching downwards finds ¬ (0xAA) before ⌐ (0xA9) and · (0xFA) before ∙ (0xF9),
        // the two 437 characters that share a 1252 character with an exact one.
        for (int o = 0xFF; o >= 0x80 && !oem; --o) {
            if (kOemToAnsiHigh[o - 0x80] == c) oem = static_cast<unsigned char>(o);
        }
        if (!oem) oem = Collation().baseLetter[c];
        if (!oem) oem = AnsiSymbolSubstitute(static_cast<unsigned char>(c));
        table.map[c] = oem;
    }
    return table;
}

unsigned char AnsiToOem(unsigned char c) {
    static const AnsiToOemTable table = BuildAnsiToOem();
    return table.map[c];
}

// A pointer argument whose high bits are zero carries a single character in its low word.
bool IsSingleCharacter(LPCSTR p) { return (reinterpret_cast<uintptr_t>(p) >> 16) == 0; }

}  // namespace

namespace host {}  // namespace host

extern "C" {

LPSTR WINAPI CharUpperA(LPSTR lpsz) {
    if (IsSingleCharacter(lpsz)) {
        auto c = static_cast<unsigned char>(reinterpret_cast<uintptr_t>(lpsz) & 0xFF);
        return reinterpret_cast<LPSTR>(static_cast<uintptr_t>(UpperOf(c)));
    }
    for (char *p = lpsz; *p; ++p) *p = static_cast<char>(UpperOf(static_cast<unsigned char>(*p)));
    return lpsz;
}

LPSTR WINAPI CharLowerA(LPSTR lpsz) {
    if (IsSingleCharacter(lpsz)) {
        auto c = static_cast<unsigned char>(reinterpret_cast<uintptr_t>(lpsz) & 0xFF);
        return reinterpret_cast<LPSTR>(static_cast<uintptr_t>(LowerOf(c)));
    }
    for (char *p = lpsz; *p; ++p) *p = static_cast<char>(LowerOf(static_cast<unsigned char>(*p)));
    return lpsz;
}

// Converts exactly cchLength bytes, NULs included; returns the count converted.
DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength) {
    if (!lpsz) return 0;
    for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = static_cast<char>(UpperOf(static_cast<unsigned char>(lpsz[i])));
    return cchLength;
}

DWORD WINAPI CharLowerBuffA(LPSTR lpsz, DWORD cchLength) {
    if (!lpsz) return 0;
    for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = static_cast<char>(LowerOf(static_cast<unsigned char>(lpsz[i])));
    return cchLength;
}

// pDst receives as many bytes as pSrc holds, with its NUL; it may be pSrc itself.
BOOL WINAPI OemToCharA(LPCSTR pSrc, LPSTR pDst) {
    if (!pSrc || !pDst) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t i = 0;
    for (; pSrc[i]; ++i) pDst[i] = static_cast<char>(OemToAnsi(static_cast<unsigned char>(pSrc[i])));
    pDst[i] = 0;
    return TRUE;
}

// Converts exactly cchDstLength bytes, NULs included.
BOOL WINAPI OemToCharBuffA(LPCSTR lpszSrc, LPSTR lpszDst, DWORD cchDstLength) {
    if (!lpszSrc || !lpszDst) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (DWORD i = 0; i < cchDstLength; ++i)
        lpszDst[i] = static_cast<char>(OemToAnsi(static_cast<unsigned char>(lpszSrc[i])));
    return TRUE;
}

BOOL WINAPI CharToOemA(LPCSTR pSrc, LPSTR pDst) {
    if (!pSrc || !pDst) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t i = 0;
    for (; pSrc[i]; ++i) pDst[i] = static_cast<char>(AnsiToOem(static_cast<unsigned char>(pSrc[i])));
    pDst[i] = 0;
    return TRUE;
}

// -1, 0 or 1; a NULL string sorts before any other.
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
    return CompareAnsi(lpString1, lpString2, /*fIgnoreCase=*/false);
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    return CompareAnsi(lpString1, lpString2, /*fIgnoreCase=*/true);
}

int WINAPI lstrlenA(LPCSTR lpString) {
    if (!lpString) return 0;
    size_t n = 0;
    while (lpString[n]) ++n;
    return static_cast<int>(n);
}

}  // extern "C"
