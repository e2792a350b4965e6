// Whole files in and out for the command-line programs.
#include "tools/common/tool_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace kavra::tools {

std::vector<std::uint8_t> ReadAllBytes(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (path == "-") {
        std::freopen(nullptr, "rb", stdin);
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        if (std::ferror(stdin)) throw ToolError("cannot read standard input");
        return bytes;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw ToolError(path + ": is a folder, not a file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError(path + ": cannot open (" + std::strerror(errno) + ")");
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) throw ToolError(path + ": read error");
    return bytes;
}

void WriteAllBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (path == "-") {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)
            throw ToolError("cannot write standard output");
        return;
    }
    const std::filesystem::path target(path);
    std::error_code status_error;
    const auto status = std::filesystem::status(target, status_error);
    if (std::filesystem::is_directory(status)) throw ToolError(path + ": is a folder, not a file");
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        // A device or pipe is written in place: renaming over it would replace the node.
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) throw ToolError(path + ": cannot open (" + std::strerror(errno) + ")");
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (std::fclose(f) != 0 || !ok) throw ToolError(path + ": write failed");
        return;
    }
    std::filesystem::path temp = target;
    temp += ".partial-" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) throw ToolError(path + ": cannot create (" + std::strerror(errno) + ")");
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
            throw ToolError(path + ": write failed");
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        throw ToolError(path + ": cannot write (" + ec.message() + ")");
    }
}

}  // namespace kavra::tools
