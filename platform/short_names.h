// 8.3 short names and case-insensitive name comparison (short_names.cpp).
#pragma once

#include <string>
#include <vector>

namespace host {

bool IsValidShortName(const std::string &name);
bool EqualNoCase(const std::string &a, const std::string &b);
std::string UpperAnsi(const std::string &text);
// Short names of a directory's entries, given their long names in the listing's (sorted) order:
// "" for a name that is itself a valid short name.
std::vector<std::string> GenerateShortNames(const std::vector<std::string> &names);

}  // namespace host
