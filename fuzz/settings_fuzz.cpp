// What the station reads from disk at start-up: `abonents.txt` and the stored settings values.
// The abonents file is any bytes; the settings store holds, for each value, nothing, a number of
// any size, or a string of any bytes and length (also where a number belongs).  The results
// must stay within their documented ranges, and reading must heal the store: what start-up wrote
// back reads the same again without another write.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/settings_names.h"
#include "link/abonents.h"
#include "link/link_session.h"
#include "link/simulation.h"
#include "station/station_settings.h"

namespace kavra::fuzz {
namespace {

using link::AbonentsList;

bool IsWordSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n'; }

void CheckAbonents(const AbonentsList& list) {
    KAVRA_CHECK(list.StoreCount() <= link::kMaxAbonents);
    KAVRA_CHECK(list.Grid().size() == list.StoreCount());
    for (std::size_t i = 0; i < list.Grid().size(); ++i) {
        const link::AbonentRow& row = list.Grid()[i];
        KAVRA_CHECK(!row.callsign.empty() && row.callsign.size() <= link::kMaxAbonentCallsign);
        for (const char c : row.callsign) KAVRA_CHECK(!IsWordSpace(c));
        KAVRA_CHECK(row.notes.find('\n') == std::string::npos);
        KAVRA_CHECK(list.StoredName(i) == row.callsign);
    }
}

void Abonents(const std::string& text) {
    link::MemoryFileSystem files;
    files.files[link::kAbonentsFile].assign(text.begin(), text.end());
    AbonentsList list;
    KAVRA_CHECK(list.LoadAbonents(files));
    CheckAbonents(list);
    // The first entry of a callsign decides its privilege.
    for (std::size_t i = 0; i < list.StoreCount(); ++i) {
        const int first = list.FindAbonent(list.StoredName(i));
        KAVRA_CHECK(first >= 0 && static_cast<std::size_t>(first) <= i);
        KAVRA_CHECK(list.IsPrivileged(list.StoredName(i)) == (list.StoredPrivilege(static_cast<std::size_t>(first)) == 1));
    }
    // Saved and read again, every row comes back in order: callsign and privilege exactly, the
    // notes with line breaks as blanks and without leading blanks (the reading skips them).
    KAVRA_CHECK(list.SaveAbonents(files));
    AbonentsList again;
    KAVRA_CHECK(again.LoadAbonents(files));
    KAVRA_CHECK(again.StoreCount() == list.StoreCount());
    for (std::size_t i = 0; i < list.StoreCount(); ++i) {
        KAVRA_CHECK(again.StoredName(i) == list.StoredName(i));
        KAVRA_CHECK(again.StoredPrivilege(i) == list.StoredPrivilege(i));
        std::string notes = list.Grid()[i].notes;
        for (char& c : notes)
            if (c == '\r' || c == '\n') c = ' ';
        notes.erase(0, notes.find_first_not_of(' ') == std::string::npos ? notes.size() : notes.find_first_not_of(' '));
        KAVRA_CHECK_MSG(again.Grid()[i].notes == notes, "notes '" + again.Grid()[i].notes + "', saved '" + notes + "'");
    }
    // The privileged page: rebuilt from the grid, every stored privilege is 0 or 1.
    again.SyncPrivileges();
    CheckAbonents(again);
    for (std::size_t i = 0; i < again.StoreCount(); ++i)
        KAVRA_CHECK(again.StoredPrivilege(i) == 0 || again.StoredPrivilege(i) == 1);
}


void StoreValue(station::MemorySettingsStore& store, const char* name, Input& in) {
    const std::uint8_t kind = in.U8();
    switch (kind % 4) {
        case 0: break;  // missing
        case 1: store.numbers[name] = (kind & 0x80) != 0 ? in.U32() : in.U8(); break;
        case 2: store.strings[name] = in.Text((kind & 0x80) != 0 ? 1100 : 12); break;
        case 3: store.strings[name] = std::string(998 + in.U8() % 4, static_cast<char>(in.U8())); break;
    }
}

std::vector<audio::SoundDeviceInfo> Devices(Input& in) {
    std::vector<audio::SoundDeviceInfo> devices;
    for (int n = in.U8() % 4; n > 0; --n) {
        audio::SoundDeviceInfo d;
        d.description = in.Text(20);
        devices.push_back(d);
    }
    return devices;
}

void CheckSettings(const station::StationSettings& s, const audio::SoundDeviceList& capture,
                   const audio::SoundDeviceList& playback) {
    KAVRA_CHECK(s.callsign.size() <= station::kCallsignChars);
    KAVRA_CHECK(s.modem_type <= 1 && s.modem_type2 <= 1 && s.use_com_port <= 1 && s.dtr_or_rts <= 1);
    KAVRA_CHECK(s.capture_device.size() <= station::kDeviceChars);
    KAVRA_CHECK(s.playback_device.size() <= station::kDeviceChars);
    KAVRA_CHECK(s.com_port_device.size() <= station::kDeviceChars);
    KAVRA_CHECK(s.PlaybackRate() == 8000 || s.PlaybackRate() == 48000);
    for (const audio::SoundDeviceList* list : {&capture, &playback}) {
        KAVRA_CHECK(list->Empty() ? list->selected == -1 : list->Selected() != nullptr);
    }
    // The link layer's share of the settings is always usable.
    link::LinkSettings ls;
    ls.own_callsign = s.callsign;
    ls.modem_type = static_cast<int>(s.modem_type);
    ls.auto_connect = link::AutoAcceptFromSetting(s.autoconnect);
    ls.auto_receive = link::AutoAcceptFromSetting(s.autoreceive);
    KAVRA_CHECK(static_cast<int>(ls.auto_connect) <= 2 && static_cast<int>(ls.auto_receive) <= 2);
}

void Settings(Input& in) {
    station::MemorySettingsStore store;
    for (const char* name : kNumberNames) StoreValue(store, name, in);
    for (const char* name : kStringNames) StoreValue(store, name, in);
    audio::SoundDeviceList capture, playback;
    capture.Assign(Devices(in));
    playback.Assign(Devices(in));
    const std::uint32_t feature = in.U8() % 3;
    const station::StationSettings first = station::ReadSettings(store, feature, capture, playback);
    CheckSettings(first, capture, playback);
    // Every value is now stored with its type; reading again writes nothing and reads the same.
    for (const char* name : kNumberNames) KAVRA_CHECK(store.numbers.count(name) == 1 && store.strings.count(name) == 0);
    for (const char* name : kStringNames) KAVRA_CHECK(store.strings.count(name) == 1 && store.numbers.count(name) == 0);
    const auto writes = store.writes;
    const station::StationSettings second = station::ReadSettings(store, feature, capture, playback);
    KAVRA_CHECK(store.writes == writes);
    KAVRA_CHECK(second.callsign == first.callsign && second.modem_type == first.modem_type &&
                second.modem_type2 == first.modem_type2 && second.corr_freqc == first.corr_freqc &&
                second.corr_freqp == first.corr_freqp && second.corr_freqp1 == first.corr_freqp1 &&
                second.use_com_port == first.use_com_port && second.com_port_number == first.com_port_number &&
                second.dtr_or_rts == first.dtr_or_rts && second.use_sse2 == first.use_sse2 &&
                second.autoconnect == first.autoconnect && second.autoreceive == first.autoreceive &&
                second.capture_device == first.capture_device && second.playback_device == first.playback_device &&
                second.com_port_device == first.com_port_device);
}

}  // namespace
}  // namespace kavra::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kavra::fuzz::Input in(data, size);
    // First byte: which reader; the rest is its input.
    if (in.U8() % 2 == 0) {
        const std::span<const std::uint8_t> rest = in.Rest();
        kavra::fuzz::Abonents(std::string(rest.begin(), rest.end()));
    } else {
        kavra::fuzz::Settings(in);
    }
    return 0;
}
