// Shared pieces of the kavra-modem sub-commands.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kavra::tools {

// A problem with the arguments or the input: reported as one line, exit code 2.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Each sub-command adds itself to the program; its callback throws ToolError on bad input.
void AddTxCommand(CLI::App& app);
void AddChannelCommand(CLI::App& app);
void AddRxCommand(CLI::App& app);
void AddBerCommand(CLI::App& app);

// Whole contents of a file, or of standard input for "-".
std::vector<std::uint8_t> ReadAllBytes(const std::string& path);

// Writes bytes to a file through a temporary name and a rename, so that a failure leaves no
// partial file; "-" writes to standard output.
void WriteAllBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace kavra::tools
