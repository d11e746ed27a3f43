// 8.3 short names: which names are valid short names, and the PROGRA~1.TXT names generated for the
// others. Numbers are given per basis (first six characters and extension) in the listing's sorted
// order of long names, skipping any that would collide with an existing name, so that a directory's
// short names stay the same as long as its entries do.
//
// Names Windows cannot hold get a generated name in their place, D_C~5F3A style: three characters
// of the name, '~' and four hex digits of a hash of the name's bytes, so that the same name gets the
// same generated name whatever else the directory holds. A taken candidate moves on to the next
// number, in the sorted order of the names, so that collisions resolve the same way every time.
#include "short_names.h"

#include "text_codepages.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <cstddef>
#include <set>
#include <string_view>

namespace host {
namespace {

// A table per byte of which characters belong to a set, for the tests run on every listed name.
struct ByteSet {
    bool has[256] = {};
    constexpr ByteSet(const char *chars, bool controls) {
        for (; *chars != '\0'; ++chars) has[static_cast<unsigned char>(*chars)] = true;
        for (int c = 0; controls && c < 0x20; ++c) has[c] = true;
    }
};

// Characters a short name may hold besides letters and digits.
constexpr ByteSet kShortNamePunctuation("$%'-_@~`!(){}^#&", false);
// Characters no Windows name can hold.
constexpr ByteSet kInvalidNameChars("\\/:*?\"<>|", true);

// ASCII only: host names are UTF-8 bytes, not code page characters, so a name with a byte above
// 0x7F is a long name, kept exactly as the host has it. As a short name it would be stored
// re-cased through code page 1252 (C3 84 C3 96, "ÄÖ", as C3 84 E3 96), which a sync, matching
// names with only A to Z folded, would no longer find on disk.
bool IsShortNameChar(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return kShortNamePunctuation.has[c];
}

// Upper case, invalid characters made '_', spaces and dots dropped; the first `limit` characters
// of that, written to out: their count.
size_t ShortNamePart(std::string_view text, char *out, size_t limit) {
    size_t cch = 0;
    for (unsigned char c : text) {
        if (cch == limit) break;
        if (c == ' ' || c == '.') continue;
        out[cch++] = IsShortNameChar(c) ? static_cast<char>(ToUpperAnsi(c)) : '_';
    }
    return cch;
}

std::string ShortNamePart(std::string_view text, size_t limit) {
    std::string out(limit, '\0');
    out.resize(ShortNamePart(text, out.data(), limit));
    return out;
}

// FNV-1a over the bytes, folded to 16 bits.
unsigned NameHash(const std::string &name) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
    return (hash >> 16) ^ (hash & 0xFFFF);
}

// A set of short names and their bases, each with a number: 16 bytes a name, no string or node of
// its own, in a table at most two-thirds full. A directory of 20,000 long names needs 512 KB a
// table, which the heap reuses; a megabyte would be fresh pages mapped for it alone, each costing a
// fault. A name is keyed by its first 12 bytes, which hold all of "BASE~N.EXT" below ten million
// names of one basis; past that, two candidates that begin alike share a key, which only makes the
// generator pass over a number: equal names still always share one.
class ShortNameTable {
public:
    static constexpr size_t kMaxName = 12;  // "BASE~N.EXT"

    explicit ShortNameTable(size_t cNames) {
        size_t cSlots = 16;
        while (cSlots < cNames + cNames / 2) cSlots *= 2;
        slots_.resize(cSlots);
    }

    // The number of `name`, 0 when it is new.
    unsigned &Value(std::string_view name) { return SlotOf(Key(name, false), nullptr).value; }

    // Adds `name` (upper-cased when `upper`): false when it was there.
    bool Add(std::string_view name, bool upper) {
        bool added;
        SlotOf(Key(name, upper), &added);
        return added;
    }

private:
    struct Slot {
        uint64_t low = 0;   // the name's first eight bytes, zero after it
        uint32_t high = 0;  // its next four; the name is never empty, so 0 and 0 mark a free slot
        unsigned value = 0;
    };
    static_assert(sizeof(Slot) == 16, "a name and its number in 16 bytes");

    static Slot Key(std::string_view name, bool upper) {
        char bytes[kMaxName] = {};
        const size_t cch = std::min(name.size(), kMaxName);
        for (size_t i = 0; i < cch; ++i)
            bytes[i] = upper ? static_cast<char>(ToUpperAnsi(static_cast<unsigned char>(name[i]))) : name[i];
        Slot key;
        memcpy(&key.low, bytes, sizeof key.low);
        memcpy(&key.high, bytes + sizeof key.low, sizeof key.high);
        return key;
    }

    Slot &SlotOf(const Slot &key, bool *added) {
        uint64_t hash = key.low * 0x9E3779B97F4A7C15ull ^ key.high * 0xC2B2AE3D27D4EB4Full;
        hash ^= hash >> 29;
        const size_t mask = slots_.size() - 1;
        for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
            Slot &slot = slots_[i];
            if (slot.low == key.low && slot.high == key.high) {
                if (added != nullptr) *added = false;
                return slot;
            }
            if (slot.low == 0 && slot.high == 0) {
                slot = key;
                if (added != nullptr) *added = true;
                return slot;
            }
        }
    }

    std::vector<Slot> slots_;
};

}  // namespace

bool HasInvalidNameCharacters(const std::string &name) {
    for (unsigned char c : name)
        if (kInvalidNameChars.has[c]) return true;
    return false;
}

bool IsInvalidWindowsName(const std::string &name) {
    if (name.empty() || name == "." || name == "..") return false;
    return HasInvalidNameCharacters(name) || name.back() == '.' || name.back() == ' ';
}

std::vector<std::string> GenerateNamesInPlaceOf(const std::vector<std::string> &names, std::set<std::string> *taken) {
    std::vector<std::string> result;
    result.reserve(names.size());
    for (const std::string &name : names) {
        // A leading dot stays, so that a name beginning with one keeps meaning hidden.
        size_t first = name.find_first_not_of('.');
        std::string prefix = first != 0 ? "." : "";
        std::string_view stripped =
            first == std::string::npos ? std::string_view() : std::string_view(name).substr(first);
        while (!stripped.empty() && (stripped.back() == '.' || stripped.back() == ' ')) stripped.remove_suffix(1);
        size_t dot = stripped.rfind('.');
        std::string base = ShortNamePart(stripped.substr(0, dot), 3);
        std::string ext = dot == std::string::npos ? std::string() : ShortNamePart(stripped.substr(dot + 1), 3);
        if (base.empty()) base = "_";
        const unsigned hash = NameHash(name);
        std::string generated;
        for (unsigned step = 0; step <= 0xFFFF && generated.empty(); ++step) {
            char digits[8];
            snprintf(digits, sizeof digits, "~%04X", (hash + step) & 0xFFFF);
            std::string candidate = prefix + base + digits + (ext.empty() ? "" : "." + ext);
            if (taken->insert(candidate).second) generated = candidate;
        }
        result.push_back(generated);
    }
    return result;
}

std::string UpperAnsi(const std::string &text) {
    std::string out(text);
    for (char &c : out) c = static_cast<char>(ToUpperAnsi(static_cast<unsigned char>(c)));
    return out;
}

bool EqualNoCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ToUpperAnsi(static_cast<unsigned char>(a[i])) != ToUpperAnsi(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// One to eight characters, optionally a dot and one to three more, all of them short-name
// characters. Case does not matter: "readme.txt" needs no separate short name.
bool IsValidShortName(std::string_view name) {
    const size_t dot = name.find('.');
    const size_t baseSize = dot == std::string::npos ? name.size() : dot;
    const size_t extSize = dot == std::string::npos ? 0 : name.size() - dot - 1;
    if (baseSize == 0 || baseSize > 8 || extSize > 3) return false;
    if (dot != std::string::npos && extSize == 0) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (i != dot && !IsShortNameChar(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

std::vector<ShortName> GenerateShortNames(const std::vector<std::string_view> &names) {
    std::vector<ShortName> result(names.size());
    std::vector<bool> valid(names.size());
    bool anyLong = false;
    for (size_t i = 0; i < names.size(); ++i) anyLong |= !(valid[i] = IsValidShortName(names[i]));
    if (!anyLong) return result;  // nothing to generate, nothing to look up
    // Upper-case names already standing for an entry. A generated name always holds a '~', so
    // only the valid names with one can be taken from it.
    ShortNameTable taken(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        if (valid[i] && names[i].find('~') != std::string::npos) taken.Add(names[i], /*upper=*/true);

    ShortNameTable nextNumber(names.size());  // per basis: "BASE.EXT"
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string_view name = names[i];
        if (valid[i]) continue;
        // Leading dots do not start an extension: ".profile" becomes PROFIL~1.
        size_t first = name.find_first_not_of('.');
        std::string_view stripped = first == std::string::npos ? std::string_view() : name.substr(first);
        size_t dot = stripped.rfind('.');
        char base[6], ext[3];
        size_t cchBase = ShortNamePart(stripped.substr(0, dot), base, sizeof base);
        const size_t cchExt = dot == std::string::npos ? 0 : ShortNamePart(stripped.substr(dot + 1), ext, sizeof ext);
        if (cchBase == 0) base[cchBase++] = '_';

        char basis[sizeof base + 1 + sizeof ext];
        memcpy(basis, base, cchBase);
        basis[cchBase] = '.';
        memcpy(basis + cchBase + 1, ext, cchExt);
        unsigned &number = nextNumber.Value(std::string_view(basis, cchBase + 1 + cchExt));
        char *const candidate = result[i].chars;
        size_t cchCandidate;
        do {
            // "~N" after as much of the base as leaves the name eight characters at the most.
            char tail[12];
            size_t cchTail = sizeof tail;
            for (unsigned rest = ++number; cchTail == sizeof tail || rest != 0; rest /= 10)
                tail[--cchTail] = static_cast<char>('0' + rest % 10);
            tail[--cchTail] = '~';
            const size_t cchNumber = sizeof tail - cchTail;
            cchCandidate = std::min(cchBase, cchNumber < 8 ? 8 - cchNumber : 0);
            memcpy(candidate, base, cchCandidate);
            memcpy(candidate + cchCandidate, tail + cchTail, cchNumber);
            cchCandidate += cchNumber;
            if (cchExt != 0) {
                candidate[cchCandidate++] = '.';
                memcpy(candidate + cchCandidate, ext, cchExt);
                cchCandidate += cchExt;
            }
        } while (!taken.Add(std::string_view(candidate, cchCandidate), /*upper=*/false));
        result[i].size = static_cast<unsigned char>(cchCandidate);
    }
    return result;
}

}  // namespace host
