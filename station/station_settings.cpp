#include "station/station_settings.h"

#include <algorithm>

namespace kavra::station {

namespace {

class Reader {
public:
    explicit Reader(SettingsStore& store) : store_(store) {}

    std::string Text(std::string_view name, std::string_view fallback, std::size_t room) {
        const auto value = store_.ReadString(name);
        if (value && value->size() <= room) return *value;
        store_.WriteString(name, fallback);
        return std::string(fallback);
    }
    std::uint32_t Number(std::string_view name, std::uint32_t fallback) {
        const auto value = store_.ReadNumber(name);
        if (value) return *value;
        store_.WriteNumber(name, fallback);
        return fallback;
    }
    std::uint32_t Flag(std::string_view name, std::uint32_t fallback) { return std::min<std::uint32_t>(Number(name, fallback), 1); }

private:
    SettingsStore& store_;
};

void SelectDevice(audio::SoundDeviceList& list, const std::string& description) {
    if (list.Empty()) return;
    const int found = list.Find(description);
    list.selected = found >= 0 ? found : 0;
}

}  // namespace

StationSettings ReadSettings(SettingsStore& store, std::uint32_t processor_feature, audio::SoundDeviceList& capture,
                             audio::SoundDeviceList& playback) {
    store.Open();
    Reader r(store);
    StationSettings s;
    s.callsign = r.Text("CALLSIGN", "", kCallsignChars);
    s.modem_type2 = r.Flag("MODEM_TYPE2", 0);
    s.modem_type = r.Flag("MODEM_TYPE", 1);
    s.corr_freqc = r.Number("CORR_FREQC", 48000);
    s.corr_freqp = r.Number("CORR_FREQP", 48000);
    s.corr_freqp1 = r.Number("CORR_FREQP1", 8000);
    s.use_com_port = r.Flag("USE_COM_PORT", 0);
    s.com_port_number = r.Number("COM_PORT_NUMBER", 1);
    s.dtr_or_rts = r.Flag("DTR_OR_RTS", 0);
    s.use_sse2 = r.Number("USE_SSE2", processor_feature);
    s.autoconnect = r.Number("AUTOCONNECT", 2);
    s.autoreceive = r.Number("AUTORECEIVE", 2);
    s.color_sys = r.Number("COLOR_SYS", kBlack);
    s.color_err = r.Number("COLOR_ERR", kRed);
    s.color_own = r.Number("COLOR_OWN", kNavy);
    s.color_abon = r.Number("COLOR_ABON", kGreen);
    s.capture_device = r.Text("CaptureDevice", kNoSelectedDevice, kDeviceChars);
    SelectDevice(capture, s.capture_device);
    s.playback_device = r.Text("PlaybackDevice", kNoSelectedDevice, kDeviceChars);
    SelectDevice(playback, s.playback_device);
    s.com_port_device = r.Text("COM_PORT_DEVICE", "", kDeviceChars);
    store.Close();
    return s;
}

std::optional<std::string> MemorySettingsStore::ReadString(std::string_view name) {
    const auto it = strings.find(name);
    if (it == strings.end()) return std::nullopt;
    return it->second;
}

std::optional<std::uint32_t> MemorySettingsStore::ReadNumber(std::string_view name) {
    const auto it = numbers.find(name);
    if (it == numbers.end()) return std::nullopt;
    return it->second;
}

void MemorySettingsStore::WriteString(std::string_view name, std::string_view value) {
    numbers.erase(std::string(name));
    strings[std::string(name)] = value;
    ++writes[std::string(name)];
}

void MemorySettingsStore::WriteNumber(std::string_view name, std::uint32_t value) {
    strings.erase(std::string(name));
    numbers[std::string(name)] = value;
    ++writes[std::string(name)];
}

}  // namespace kavra::station
