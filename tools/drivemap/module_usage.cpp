#include "module_usage.h"

#include "map_usage.h"

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

}  // namespace

std::vector<std::string> ParseExtensionList(std::string_view list) {
    std::vector<std::string> extensions;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        while (!item.empty() && (item.front() == '.' || item.front() == ' ')) item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (!item.empty()) extensions.push_back(LowerAnsi(item));
    }
    return extensions;
}

std::string LowerAnsi(std::string_view text) {
    std::string lower(text);
    CharLowerBuffA(lower.data(), static_cast<DWORD>(lower.size()));
    return lower;
}

std::string ModuleBaseName(std::string_view fileName) { return LowerAnsi(fileName.substr(0, fileName.rfind('.'))); }

NameSet SystemFilesOfSettings(std::string_view text) {
    NameSet names;
    if (!text.empty()) text.remove_suffix(1);
    bool inGroup = false;
    while (!text.empty()) {
        const auto end = std::find_if(text.begin(), text.end(), IsLineEnd);
        std::string_view line = text.substr(0, static_cast<size_t>(end - text.begin()));
        text.remove_prefix(std::min(text.size(), line.size() + 1));
        if (!line.empty() && line.front() == '[') {
            if (inGroup) break;  // only the first group of the name counts
            const std::string_view name = GroupName(line);
            inGroup = name.size() == 11 && strncasecmp(name.data(), "SystemFiles", 11) == 0;
            continue;
        }
        if (!inGroup) continue;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.empty() || line.front() == ';') continue;
        std::string entry(line);
        OemToCharBuffA(entry.data(), entry.data(), static_cast<DWORD>(entry.size()));
        names.insert(LowerAnsi(entry));
    }
    return names;
}

NameSet ReadSystemFiles(const std::string &hostPath) {
    std::ifstream file(hostPath, std::ios::binary);
    if (!file) return {};
    std::string text(kSettingsReadLimit, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    return SystemFilesOfSettings(text);
}

ModuleSurvey SurveyModules(GetEntryFunction getEntry, const std::vector<std::string> &extensions) {
    ModuleSurvey survey;
    RecordView view;
    ForEachDrive(getEntry, [&](char letter, const BYTE *rootBlock) {
        WalkBlocks(
            rootBlock, std::string{letter, ':', '\\'}, /*withPaths=*/true, [](const BYTE *) {},
            [&](const BYTE *record, WORD cbRecord, const std::string &directory) {
                if (!ReadRecord(record, cbRecord, view) || !view.isFile) return;
                for (const std::string_view name : view.references) survey.referenceNames.insert(LowerAnsi(name));
                const size_t dot = view.name.rfind('.');
                if (dot == std::string_view::npos) return;
                const std::string extension = LowerAnsi(view.name.substr(dot + 1));
                if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end())
                    survey.modules.push_back(
                        {JoinWindowsPath(directory, view.name), ModuleBaseName(view.name), view.dwSize});
            });
    });
    return survey;
}

}  // namespace drivemap
