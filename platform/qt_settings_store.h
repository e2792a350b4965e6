// The settings store on QSettings (Qt Core only; no QCoreApplication needed).
//
// Where the values live:
//   - default constructor, Windows: the registry key HKEY_CURRENT_USER\SOFTWARE\Kavra_Modem,
//     strings as REG_SZ, numbers as REG_DWORD.
//   - default constructor, Linux: the per-user file $XDG_CONFIG_HOME/Kavra_Modem.conf
//     (~/.config/Kavra_Modem.conf when XDG_CONFIG_HOME is not set), INI syntax.
//   - QtSettingsStore(path): that INI file (the --settings option).
//
// In the files every value sits in the [General] section under its own name:
//   - a number is plain decimal text, 0..4294967295:          COLOR_OWN=8388608
//   - a string is written as a byte array, so that any byte (the callsign may hold Windows-1251
//     text) survives and a string of digits stays a string: CALLSIGN=@ByteArray(KAVRA1)
//     (bytes 0x80..0xFF appear as \xNN escapes).
//   - plain text written by hand is also read as a string unless it is a plain decimal number;
//     its characters up to U+00FF become one byte each, a value with a character above that
//     reads as missing.  So a hand-written file may say  CaptureDevice=ALSA: pulse.
// A value of the other type (a number asked for as a string or the reverse, a number out of
// range, a negative number) reads as missing.
#pragma once

#include <memory>
#include <string>

#include "station/settings_store.h"

class QSettings;

namespace kavra::platform {

class QtSettingsStore : public station::SettingsStore {
public:
    QtSettingsStore();                                // the user's store (see above)
    explicit QtSettingsStore(std::string ini_path);  // an INI file, created when missing
    ~QtSettingsStore() override;

    QtSettingsStore(const QtSettingsStore&) = delete;
    QtSettingsStore& operator=(const QtSettingsStore&) = delete;

    void Open() override;
    std::optional<std::string> ReadString(std::string_view name) override;
    std::optional<std::uint32_t> ReadNumber(std::string_view name) override;
    void WriteString(std::string_view name, std::string_view value) override;
    void WriteNumber(std::string_view name, std::uint32_t value) override;
    void Close() override;

    // The file or registry path of the store, for messages ("" before the first Open).
    std::string Location() const { return location_; }

private:
    QSettings& Settings();  // opens on first use

    std::string ini_path_;  // empty: the user's store
    std::string location_;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace kavra::platform
