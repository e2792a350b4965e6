// Pieces shared by the command-line programs: the error that ends a run with one line and exit
// code 2, and whole files in and out.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kavra::tools {

// A problem with the arguments or the input: reported as one line, exit code 2.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Whole contents of a file, or of standard input for "-".
std::vector<std::uint8_t> ReadAllBytes(const std::string& path);

// Writes bytes to a file through a temporary name and a rename, so that a failure leaves no
// partial file; "-" writes to standard output.
void WriteAllBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace kavra::tools
