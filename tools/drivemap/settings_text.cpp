#include "settings_text.h"

#include "win32.h"

#include <algorithm>
#include <fstream>
#include <strings.h>

namespace drivemap {
namespace {

constexpr size_t kSettingsReadLimit = 1 << 20;  // far more than any settings file

bool IsLineEnd(char c) { return c == '\r' || c == '\n' || c == '\0'; }

// The group name of a header line: after its first '[' up to the next ']' or the line's end.
std::string_view GroupName(std::string_view header) {
    header.remove_prefix(1);
    return header.substr(0, header.find(']'));
}

bool NamesGroup(std::string_view line, std::string_view name) {
    if (line.empty() || line.front() != '[') return false;
    const std::string_view group = GroupName(line);
    return group.size() == name.size() && strncasecmp(group.data(), name.data(), name.size()) == 0;
}

// Calls `each(line, lineWithEnd)` for every line of `text`.
template <typename Each>
void ForEachLine(std::string_view text, Each each) {
    while (!text.empty()) {
        const auto end = std::find_if(text.begin(), text.end(), IsLineEnd);
        const std::string_view line = text.substr(0, static_cast<size_t>(end - text.begin()));
        const size_t cbWithEnd = std::min(text.size(), line.size() + 1);
        if (!each(line, text.substr(0, cbWithEnd))) return;
        text.remove_prefix(cbWithEnd);
    }
}

}  // namespace

std::string ReadSettingsText(const std::string &hostPath) {
    std::ifstream file(hostPath, std::ios::binary);
    if (!file) return {};
    // Read a piece at a time: a buffer of the whole limit would cost a page fault for every 4 KB.
    std::string text;
    char piece[4096];
    while (text.size() < kSettingsReadLimit) {
        file.read(piece, static_cast<std::streamsize>(std::min(sizeof piece, kSettingsReadLimit - text.size())));
        if (file.gcount() <= 0) break;
        text.append(piece, static_cast<size_t>(file.gcount()));
    }
    return text;
}

std::vector<std::string> SettingsSectionEntries(std::string_view text, std::string_view name) {
    std::vector<std::string> entries;
    if (!text.empty()) text.remove_suffix(1);
    bool inGroup = false;
    ForEachLine(text, [&](std::string_view line, std::string_view) {
        if (!line.empty() && line.front() == '[') {
            if (inGroup) return false;  // only the first group of the name counts
            inGroup = NamesGroup(line, name);
            return true;
        }
        if (!inGroup) return true;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.empty() || line.front() == ';') return true;
        std::string entry(line);
        OemToCharBuffA(entry.data(), entry.data(), static_cast<DWORD>(entry.size()));
        entries.push_back(entry);
        return true;
    });
    return entries;
}

std::string WithoutSettingsSection(std::string_view text, std::string_view name) {
    std::string kept;
    bool inGroup = false;
    ForEachLine(text, [&](std::string_view line, std::string_view withEnd) {
        if (!line.empty() && line.front() == '[') inGroup = NamesGroup(line, name);
        if (!inGroup) kept += withEnd;
        return true;
    });
    return kept;
}

}  // namespace drivemap
