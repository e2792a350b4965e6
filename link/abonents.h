// The abonents list: the grid of callsigns and notes, the privileged check list, the privilege
// store that the auto-accept rule consults, and the file "abonents.txt".  User-interface thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/ports.h"

namespace kavra::link {

inline constexpr std::size_t kMaxAbonents = 1024;
inline constexpr std::size_t kMaxAbonentCallsign = 1023;
inline constexpr char kAbonentsFile[] = "abonents.txt";

struct AbonentRow {
    std::string callsign;
    std::string notes;
};

struct CheckItem {
    std::string text;
    bool checked = false;
};

enum class AbonentsPage : std::uint8_t { Data, Privileged };

class AbonentsList {
public:
    // The two pages' models; the window edits them directly.
    std::vector<AbonentRow>& Grid() noexcept { return grid_; }
    const std::vector<AbonentRow>& Grid() const noexcept { return grid_; }
    std::vector<CheckItem>& CheckList() noexcept { return check_list_; }

    // Reads the file into the grid and the store; a file that cannot be read changes nothing.
    // Each line is "CALLSIGN PRIVILEGE NOTES"; at most 1024 abonents are read.
    bool LoadAbonents(FileSystem& files, const std::string& path = kAbonentsFile);
    // Writes every grid row with a callsign as "%s %i %s\n".
    bool SaveAbonents(FileSystem& files, const std::string& path = kAbonentsFile) const;
    // Index in the store of the entry named exactly `callsign`, or -1.
    int FindAbonent(std::string_view callsign) const noexcept;
    // Rebuilds the check list from the grid and the store from the check list.
    void SyncPrivileges();
    // A check box of the privileged list was clicked: the store takes the check states.
    void ApplyCheckList() noexcept;

    // The window: opened (after LoadAbonents) on `page`, closed on `page`.
    void WindowOpened(FileSystem& files, AbonentsPage page);
    void WindowClosed(FileSystem& files, AbonentsPage page);
    // The page change to "Privileged list".
    void PrivilegedPageShown() { SyncPrivileges(); }

    bool IsPrivileged(std::string_view callsign) const noexcept;
    std::vector<std::string> Callsigns() const;  // grid order, for the Connection dialog

    std::size_t StoreCount() const noexcept { return count_; }
    const std::string& StoredName(std::size_t i) const { return names_[i]; }
    std::int32_t StoredPrivilege(std::size_t i) const { return privileges_[i]; }

private:
    std::vector<AbonentRow> grid_;
    std::vector<CheckItem> check_list_;
    std::array<std::string, kMaxAbonents> names_{};
    std::array<std::int32_t, kMaxAbonents> privileges_{};
    std::size_t count_ = 0;
};

}  // namespace kavra::link
