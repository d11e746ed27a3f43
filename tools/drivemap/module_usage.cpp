#include "module_usage.h"

#include "map_usage.h"

#include "settings_text.h"

#include <algorithm>

namespace drivemap {

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
    for (const std::string &entry : SettingsSectionEntries(text, "SystemFiles")) names.insert(LowerAnsi(entry));
    return names;
}

NameSet ReadSystemFiles(const std::string &hostPath) { return SystemFilesOfSettings(ReadSettingsText(hostPath)); }

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
