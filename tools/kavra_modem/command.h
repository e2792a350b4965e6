// Shared pieces of the kavra-modem sub-commands.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/common/tool_io.h"

namespace kavra::tools {


// Each sub-command adds itself to the program; its callback throws ToolError on bad input.
void AddTxCommand(CLI::App& app);
void AddChannelCommand(CLI::App& app);
void AddRxCommand(CLI::App& app);
void AddBerCommand(CLI::App& app);


}  // namespace kavra::tools
