// The machine the user's options describe: this host, a Wine-style prefix, explicit drives, with
// the platform and the Windows and System directories overridden as asked.
#pragma once

#include "command_context.h"
#include "machine_config.h"

#include <string>
#include <vector>

namespace drivemap {

// Builds the machine from the options. False with `error` set for a bad drive option, a letter
// given twice or a prefix that is not one. `warnings` gets a line for each two drives whose host
// directories overlap (the files below both are mapped twice).
bool BuildMachineConfig(const Options &options, MachineConfig &config, std::string &error,
                        std::vector<std::string> &warnings);

// A semicolon-separated PATH with every directory after its first occurrence dropped (compared
// case-insensitively, a trailing backslash ignored).
std::string WithoutDuplicateDirectories(const std::string &path);

// The options that chose the machine and the state directory, as shell words, for hints that
// tell the user which command to run next: "drivemap --state '/x' build".
std::string CommandLineFor(const Options &options, const std::string &command);

}  // namespace drivemap
