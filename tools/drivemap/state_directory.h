// drivemap's state directory: the emulated program directory, which holds the map file
// PWDRVMAP.DAT and the settings data file PURGWELL.DAT.
#pragma once

#include <optional>
#include <string>

namespace drivemap {

// $XDG_DATA_HOME/drivemap, or ~/.local/share/drivemap when XDG_DATA_HOME is unset or empty.
std::string DefaultStateDirectory();

// Creates `dir` with its parents and, when it has no PURGWELL.DAT, writes the default one there;
// `classic`: without its [Scanning] section, so that the library keeps its classic rules.
// Returns the directory's absolute, normalised path, or nothing with `error` set.
std::optional<std::string> PrepareStateDirectory(const std::string &dir, bool classic, std::string &error);

// The absolute, normalised path of `dir` when it is an existing directory; nothing (and nothing
// created) otherwise. For commands that only read.
std::optional<std::string> ExistingStateDirectory(const std::string &dir);

}  // namespace drivemap
