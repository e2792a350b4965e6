#include "link/abonents.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kavra::link {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

// The privilege as the "%i" conversion reads it (decimal, 0x hexadecimal, 0 octal, signed);
// answers 0 and leaves `pos` where it was when there is no number.
std::int32_t ReadInteger(const std::string& line, std::size_t& pos) {
    const std::string rest = line.substr(pos);
    const char* begin = rest.c_str();
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(begin, &end, 0);
    if (end == begin) return 0;
    pos += static_cast<std::size_t>(end - begin);
    return static_cast<std::int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

bool AbonentsList::LoadAbonents(FileSystem& files, const std::string& path) {
    std::string text;
    if (!files.ReadText(path, text)) return false;
    count_ = 0;
    grid_.clear();
    std::size_t start = 0;
    while (start < text.size() && count_ < kMaxAbonents) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();  // a last line without a line feed is whole
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();

        std::size_t pos = 0;
        while (pos < line.size() && IsSpace(line[pos])) ++pos;
        const std::size_t word = pos;
        while (pos < line.size() && !IsSpace(line[pos])) ++pos;
        std::string callsign = line.substr(word, std::min(pos - word, kMaxAbonentCallsign));
        if (callsign.empty()) continue;
        const std::int32_t privilege = ReadInteger(line, pos);
        while (pos < line.size() && line[pos] == ' ') ++pos;
        grid_.push_back({callsign, line.substr(pos)});
        names_[count_] = callsign;
        privileges_[count_] = privilege;
        ++count_;
    }
    return true;
}

bool AbonentsList::SaveAbonents(FileSystem& files, const std::string& path) const {
    std::string text;
    for (std::size_t i = 0; i < grid_.size(); ++i) {
        const AbonentRow& row = grid_[i];
        if (row.callsign.empty()) continue;
        std::string notes = row.notes;
        std::replace_if(notes.begin(), notes.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
        const std::int32_t privilege = i < count_ ? privileges_[i] : 0;
        text += row.callsign + ' ' + std::to_string(privilege) + ' ' + notes + '\n';
    }
    return files.WriteText(path, text);
}

int AbonentsList::FindAbonent(std::string_view callsign) const noexcept {
    for (std::size_t i = 0; i < count_; ++i)
        if (names_[i].size() == callsign.size() && names_[i] == callsign) return static_cast<int>(i);
    return -1;
}

void AbonentsList::SyncPrivileges() {
    check_list_.clear();
    for (const AbonentRow& row : grid_) check_list_.push_back({row.callsign, false});
    for (CheckItem& item : check_list_) {
        const int i = FindAbonent(item.text);
        item.checked = i >= 0 && privileges_[static_cast<std::size_t>(i)] == 1;
    }
    // The store holds the first 1024 items; an item beyond cannot be stored (nor privileged).
    count_ = std::min(check_list_.size(), kMaxAbonents);
    for (std::size_t i = 0; i < count_; ++i) {
        names_[i] = check_list_[i].text;
        privileges_[i] = check_list_[i].checked ? 1 : 0;
    }
}

void AbonentsList::ApplyCheckList() noexcept {
    for (std::size_t i = 0; i < count_ && i < check_list_.size(); ++i) privileges_[i] = check_list_[i].checked ? 1 : 0;
}

void AbonentsList::WindowOpened(FileSystem& files, AbonentsPage page) {
    LoadAbonents(files);
    if (page == AbonentsPage::Privileged) SyncPrivileges();
}

void AbonentsList::WindowClosed(FileSystem& files, AbonentsPage page) {
    if (page == AbonentsPage::Data) SyncPrivileges();
    SaveAbonents(files);
}

bool AbonentsList::IsPrivileged(std::string_view callsign) const noexcept {
    const int i = FindAbonent(callsign);
    return i >= 0 && privileges_[static_cast<std::size_t>(i)] == 1;
}

std::vector<std::string> AbonentsList::Callsigns() const {
    std::vector<std::string> list;
    for (const AbonentRow& row : grid_)
        if (!row.callsign.empty()) list.push_back(row.callsign);
    return list;
}

}  // namespace kavra::link
