// Loading the saved map through the library, and telling the user when the map file held more
// than the load kept.
#pragma once

#include "command_context.h"
#include "map_statistics.h"
#include "map_file_head.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace drivemap {

// A map as loaded: the statistics of what it holds and, when the file declared more blocks than
// the load kept (or its head does not add up), what was lost.
struct LoadedMap {
    std::vector<drivemap::DriveCounts> drives;
    std::vector<drivemap::DroppedBlocks> dropped;
    std::string headProblem;  // the file's head could not be read back: damaged too
    bool Damaged() const { return !dropped.empty() || !headProblem.empty(); }
};

// A message line to stderr and the exit code to end with.
int Fail(const std::string &message, int exitCode = kExitLibraryError);
// "error <code>: <text>" and, when given, a hint line; the exit code for a library error.
int ReportLibraryError(DWORD code, const std::string &hint = std::string());

// Fails when something other than a regular file lies where the map file belongs.
bool MapFilePlaceIsFree(const StatePlace &state, int &exitCode);

// Loads the saved map; false after reporting why not. `buildCommand` is the command line that
// would build the map, for the hint when there is none.
bool LoadMap(const LibraryExports &library, const StatePlace &state, const std::string &buildCommand, LoadedMap &map,
             int &exitCode);

// The damage warning on stderr, and the same as JSON (null for a whole map).
void WarnDamage(const StatePlace &state, const LoadedMap &map);
nlohmann::json DamageJson(const StatePlace &state, const LoadedMap &map);

}  // namespace drivemap
