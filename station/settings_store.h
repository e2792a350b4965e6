// The per-user settings store: one key (SOFTWARE\Kavra_Modem) holding strings and 32-bit numbers.
// Implemented with QSettings (platform/) and in memory for tests.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kavra::station {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Opens the key, creating it when absent.  Errors of the store are not reported.
    virtual void Open() = 0;
    // None when the value is missing or of the other type.
    virtual std::optional<std::string> ReadString(std::string_view name) = 0;
    virtual std::optional<std::uint32_t> ReadNumber(std::string_view name) = 0;
    virtual void WriteString(std::string_view name, std::string_view value) = 0;
    virtual void WriteNumber(std::string_view name, std::uint32_t value) = 0;
    // Closes the key; what was written is on disk afterwards.
    virtual void Close() = 0;
};

class MemorySettingsStore : public SettingsStore {
public:
    void Open() override { ++opens; }
    std::optional<std::string> ReadString(std::string_view name) override;
    std::optional<std::uint32_t> ReadNumber(std::string_view name) override;
    void WriteString(std::string_view name, std::string_view value) override;
    void WriteNumber(std::string_view name, std::uint32_t value) override;
    void Close() override {}

    std::map<std::string, std::string, std::less<>> strings;
    std::map<std::string, std::uint32_t, std::less<>> numbers;
    std::map<std::string, int, std::less<>> writes;  // per value, for tests
    int opens = 0;
};

}  // namespace kavra::station
