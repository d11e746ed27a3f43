// The rules by which the library reads executables, as the "Scanning" section of a settings data
// file chooses them: classic without the section, modern with any switch on.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace drivemap {

struct ScanningMode {
    bool pe32Plus = false;
    bool importsInAnySection = false;
    bool delayLoadImports = false;
    std::vector<unsigned> subsystems;  // scanned although the classic rules refuse them

    bool Modern() const { return pe32Plus || importsInAnySection || delayLoadImports || !subsystems.empty(); }
    // "classic", or "modern (PE32+, imports in any section, delay-load imports, subsystems 3, 5, 7)".
    std::string Text() const;
    nlohmann::json Json() const;
};

// The mode of settings text, read by the library's rules (scanning_rules.h of the library).
ScanningMode ScanningModeOfSettings(std::string_view text);

}  // namespace drivemap
