// The file-system port on the real disk, under a working folder.  Paths arrive as Windows-1251
// text and are turned into UTF-8 names; relative paths are taken from the working folder.
#pragma once

#include <filesystem>

#include "link/ports.h"

namespace kavra::link {

class DiskFileSystem : public FileSystem {
public:
    explicit DiskFileSystem(std::filesystem::path working_folder);

    bool ReadHead(const std::string& path, std::size_t max_bytes, std::vector<std::uint8_t>& head,
                  std::uint64_t& size) override;
    // An existing symbolic link of that name is replaced by the new file, never followed.
    bool CreateEmpty(const std::string& path) override;
    // Refuses a path that is (now) a symbolic link.
    bool WriteAt(const std::string& path, std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    bool ReadText(const std::string& path, std::string& text) override;
    bool WriteText(const std::string& path, std::string_view text) override;
    bool CreateFolder(const std::string& path) override;

    std::filesystem::path Resolve(const std::string& path) const;

private:
    std::filesystem::path root_;
};

}  // namespace kavra::link
