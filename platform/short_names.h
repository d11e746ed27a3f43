// 8.3 short names, the names generated in place of names Windows cannot hold, and case-insensitive
// name comparison (short_names.cpp).
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace host {

bool IsValidShortName(std::string_view name);
bool EqualNoCase(const std::string &a, const std::string &b);
std::string UpperAnsi(const std::string &text);
// A generated short name, held without a string of its own: at most "~4294967295.EXT".
struct ShortName {
    char chars[15];
    unsigned char size = 0;  // 0: none
    std::string_view View() const { return std::string_view(chars, size); }
};
// Short names of a directory's entries, given their long names in the listing's (sorted) order:
// none for a name that is itself a valid short name.
std::vector<ShortName> GenerateShortNames(const std::vector<std::string_view> &names);

// A name Windows cannot hold: one with \ / : * ? " < > | or a control character, or ending with a
// dot or a space ("." and ".." aside).
bool IsInvalidWindowsName(const std::string &name);
// Whether the name holds a character no Windows name can (trailing dots and spaces aside).
bool HasInvalidNameCharacters(const std::string &name);

// The names shown in place of names Windows cannot hold (given in the listing's sorted order),
// each an 8.3 name (after a leading dot the name had) not in *taken, the upper-case names already
// standing for an entry of the directory; each is added to it. "" when none is free.
std::vector<std::string> GenerateNamesInPlaceOf(const std::vector<std::string> &names, std::set<std::string> *taken);

}  // namespace host
