// The query commands (lookup refs imports find where ls ext) and what they share: PATH and NAME
// arguments, lookups that report their own errors, full paths of positions, global memory the
// library hands over.
#pragma once

#include "command_context.h"

#include <optional>
#include <string>
#include <vector>

namespace drivemap {

int RunLookup(CommandContext &context, const std::vector<std::string> &arguments);
int RunImports(CommandContext &context, const std::string &argument);
int RunFind(CommandContext &context, const std::string &name, const std::string &directoryArgument);
int RunRefs(CommandContext &context, const std::string &argument);
int RunWhere(CommandContext &context, const std::vector<std::string> &names);
int RunLs(CommandContext &context, const std::string &argument, bool recursive);
int RunExt(CommandContext &context, const std::string &extension);

// The argument as a Windows path; nothing after the usage error is reported.
std::optional<std::string> PathArgument(const CommandContext &context, const std::string &argument);
// False after "drivemap: NAME is a file name, not a path" for a name with a separator or a colon.
bool CheckNameArgument(const std::string &name);

// DriveMap_GetEntry of `path`; false after "drivemap: ARGUMENT: error N: text".
bool LookUpArgument(const CommandContext &context, const std::string &argument, const std::string &path,
                    EntryPosition &position);
// The record's path as the map spells it ("X:\DIR\" for a position without a record); "" when it
// would not fit the library's 300-byte buffer.
std::string FullPathOf(const LibraryExports &library, const EntryPosition &position);
// `path` as the map spells it (the case of its names as stored), or as it stands when the map does
// not hold it.
std::string MapSpelling(const LibraryExports &library, const std::string &path);
// "C:\DIR" for "C:\DIR\FILE", "C:\" for "C:\FILE".
std::string ParentDirectory(const std::string &path);
// Unlocks and frees global memory the library allocated and locked.
void FreeLockedGlobal(const void *memory);

}  // namespace drivemap
