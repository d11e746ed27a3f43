#include "command_context.h"

namespace drivemap {

void AddChangeCommands(CLI::App &, Options &, CommandTable &) {}

}  // namespace drivemap
