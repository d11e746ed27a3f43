// The settings data file PURGWELL.DAT read as the library reads it, for what drivemap tells of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace drivemap {

// The whole file at `hostPath` (up to 1 MiB); empty when it cannot be read.
std::string ReadSettingsText(const std::string &hostPath);

// The entries of the first group named `name` (ignoring case) of settings text: OEM text; a group
// begins at a '[' in a line's first byte; blanks at a line's start are skipped; ';' begins a
// comment line. Converted to ANSI, in file order. Like the library, never reads the text's last byte.
std::vector<std::string> SettingsSectionEntries(std::string_view text, std::string_view name);

// The text without its groups named `name`, every other byte kept.
std::string WithoutSettingsSection(std::string_view text, std::string_view name);

}  // namespace drivemap
