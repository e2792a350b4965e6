#include "link/file_names.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kavra::link {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsReservedDeviceName(std::string_view name) {
    // The part before the first dot, compared without letter case.
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(c < 0x80 ? std::toupper(c) : c); });
    static constexpr std::array<std::string_view, 4> kPlain{"CON", "PRN", "AUX", "NUL"};
    if (std::find(kPlain.begin(), kPlain.end(), stem) != kPlain.end()) return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '0' &&
           stem[3] <= '9';
}

}  // namespace

std::string FileNameWithoutFolder(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string VisibleName(std::string_view offered) {
    std::string out(offered);
    for (char& c : out)
        if (IsControl(static_cast<unsigned char>(c))) c = '_';
    return out;
}

std::string SafeReceiveName(std::string_view offered) {
    std::string name = FileNameWithoutFolder(offered);
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])) &&
        static_cast<unsigned char>(name[0]) < 0x80)
        name.erase(0, 2);
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (IsControl(u) || u == 0x98 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) c = '_';
    }
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    if (name.empty()) return "noname";
    if (IsReservedDeviceName(name)) name.insert(0, 1, '_');
    return name;
}

}  // namespace kavra::link
