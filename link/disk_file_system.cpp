#include "link/disk_file_system.h"

#include <fstream>
#include <system_error>

#include "link/text_1251.h"

namespace kavra::link {

namespace fs = std::filesystem;

DiskFileSystem::DiskFileSystem(fs::path working_folder) : root_(std::move(working_folder)) {}

fs::path DiskFileSystem::Resolve(const std::string& path) const {
    const std::string utf8 = Cp1251ToUtf8(path);
    const fs::path p(std::u8string(utf8.begin(), utf8.end()));
    return p.is_absolute() ? p : root_ / p;
}

bool DiskFileSystem::ReadHead(const std::string& path, std::size_t max_bytes, std::vector<std::uint8_t>& head,
                              std::uint64_t& size) {
    const fs::path p = Resolve(path);
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) return false;
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    const auto length = fs::file_size(p, ec);
    if (ec) return false;
    size = length;
    head.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length, max_bytes)));
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    return static_cast<std::size_t>(in.gcount()) == head.size();
}

bool DiskFileSystem::CreateEmpty(const std::string& path) {
    const fs::path p = Resolve(path);
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(p, ec);
    if (fs::is_symlink(st) && !fs::remove(p, ec)) return false;
    if (fs::exists(fs::symlink_status(p, ec)) && !fs::is_regular_file(fs::symlink_status(p, ec))) return false;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out);
}

bool DiskFileSystem::WriteAt(const std::string& path, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    const fs::path p = Resolve(path);
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(p, ec))) return false;
    std::fstream f(p, std::ios::binary | std::ios::in | std::ios::out);
    if (!f) return false;
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.close();
    return !f.fail();
}

bool DiskFileSystem::ReadText(const std::string& path, std::string& text) {
    std::ifstream in(Resolve(path), std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool DiskFileSystem::WriteText(const std::string& path, std::string_view text) {
    std::ofstream out(Resolve(path), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return !out.fail();
}

bool DiskFileSystem::CreateFolder(const std::string& path) {
    const fs::path p = Resolve(path);
    std::error_code ec;
    fs::create_directories(p, ec);
    return fs::is_directory(p, ec);
}

}  // namespace kavra::link
