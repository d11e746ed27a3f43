#include "scanning_mode.h"

#include "settings_text.h"

#include <algorithm>
#include <strings.h>

namespace drivemap {
namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool Equals(std::string_view a, const char *b) {
    return a.size() == std::char_traits<char>::length(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

bool IsOn(std::string_view value) {
    return Equals(value, "1") || Equals(value, "yes") || Equals(value, "on") || Equals(value, "true");
}

// "3,5,7": the numbers below 32 of the value, in order.
std::vector<unsigned> Subsystems(std::string_view value) {
    std::vector<unsigned> numbers;
    unsigned number = 0;
    bool digits = false;
    for (size_t i = 0; i <= value.size(); ++i) {
        const char c = i < value.size() ? value[i] : '\0';
        if (c >= '0' && c <= '9') {
            if (number < 100) number = number * 10 + static_cast<unsigned>(c - '0');
            digits = true;
            continue;
        }
        if (digits && number < 32 && std::find(numbers.begin(), numbers.end(), number) == numbers.end())
            numbers.push_back(number);
        number = 0, digits = false;
    }
    return numbers;
}

}  // namespace

ScanningMode ScanningModeOfSettings(std::string_view text) {
    ScanningMode mode;
    for (const std::string &entry : SettingsSectionEntries(text, "Scanning")) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) continue;
        const std::string_view name = Trimmed(std::string_view(entry).substr(0, equals));
        const std::string_view value = Trimmed(std::string_view(entry).substr(equals + 1));
        if (Equals(name, "Pe32Plus"))
            mode.pe32Plus = IsOn(value);
        else if (Equals(name, "ImportsInAnySection"))
            mode.importsInAnySection = IsOn(value);
        else if (Equals(name, "DelayLoadImports"))
            mode.delayLoadImports = IsOn(value);
        else if (Equals(name, "Subsystems"))
            mode.subsystems = Subsystems(value);
    }
    return mode;
}

std::string ScanningMode::Text() const {
    if (!Modern()) return "classic";
    std::string parts;
    const auto add = [&](const std::string &part) { parts += (parts.empty() ? "" : ", ") + part; };
    if (pe32Plus) add("PE32+");
    if (importsInAnySection) add("imports in any section");
    if (delayLoadImports) add("delay-load imports");
    if (!subsystems.empty()) {
        std::string list;
        for (unsigned s : subsystems) list += (list.empty() ? "" : ", ") + std::to_string(s);
        add("subsystems " + list);
    }
    return "modern (" + parts + ")";
}

nlohmann::json ScanningMode::Json() const {
    return {{"mode", Modern() ? "modern" : "classic"},
            {"pe32Plus", pe32Plus},
            {"importsInAnySection", importsInAnySection},
            {"delayLoadImports", delayLoadImports},
            {"subsystems", subsystems}};
}

}  // namespace drivemap
