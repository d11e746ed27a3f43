// What `unused` needs to know of the map before it asks the library: every module name any record
// references, the files that are modules by their extension, and the system modules of the
// settings data file, whose references the library never records.
#pragma once

#include "map_records.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace drivemap {

// The module extensions `unused` looks at unless told otherwise.
inline constexpr const char *kDefaultModuleExtensions = "dll,drv,ocx,vbx,cpl,vxd,386,acm,ax,ime";

// A comma-separated list of extensions ("dll,.OCX") lower-cased, without dots; empty items dropped.
std::vector<std::string> ParseExtensionList(std::string_view list);

// ANSI text lower-cased as the library lower-cases it (code page 1252, CharLowerBuffA).
std::string LowerAnsi(std::string_view text);

// The name a reference to the file would carry: its name before the last dot, lower-cased.
std::string ModuleBaseName(std::string_view fileName);

using NameSet = std::unordered_set<std::string>;

// The entries of the first [SystemFiles] group of settings data file text (OEM text; a group
// begins at a '[' in a line's first byte; blanks at a line's start are skipped, ';' begins a
// comment line), converted to ANSI and lower-cased, as the library reads them. Like the library,
// never reads the text's last byte.
NameSet SystemFilesOfSettings(std::string_view text);
// The same of the settings data file at `hostPath`; none when it cannot be read.
NameSet ReadSystemFiles(const std::string &hostPath);

struct ModuleFile {
    std::string path;      // Windows path
    std::string baseName;  // ModuleBaseName of its name
    uint64_t size;
};

struct ModuleSurvey {
    NameSet referenceNames;           // every name in any record's reference list, lower-cased
    std::vector<ModuleFile> modules;  // the files with one of the extensions, in walk order
};

// Walks every drive of the loaded map once.
ModuleSurvey SurveyModules(GetEntryFunction getEntry, const std::vector<std::string> &extensions);

}  // namespace drivemap
