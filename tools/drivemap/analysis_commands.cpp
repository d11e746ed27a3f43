#include "command_context.h"

namespace drivemap {

void AddAnalysisCommands(CLI::App &, Options &, CommandTable &) {}

}  // namespace drivemap
