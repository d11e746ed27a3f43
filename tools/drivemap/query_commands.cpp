#include "command_context.h"

namespace drivemap {

void AddQueryCommands(CLI::App &, Options &, CommandTable &) {}

}  // namespace drivemap
