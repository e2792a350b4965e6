// The headless station as `kavra-station --headless --script FILE` runs it, on fakes: the stored
// settings (any values, as in settings_fuzz) go through the whole start-up, then the script's
// lines go through the operator (OperatorScript) into the Station, with the user-interface step,
// the request dialog's countdown and scheduler passes (bursts through the transmitter into a fake
// player) on virtual time.  The station must stay within its settings' ranges, write only where a
// station writes, and the link record must stay in range whatever the commands.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/settings_names.h"
#include "link/file_names.h"
#include "link/simulation.h"
#include "station/station.h"
#include "station/transcript_view.h"
#include "station/virtual_time.h"
#include "tests/station/station_fakes.h"
#include "tools/kavra_station/operator_script.h"

namespace kavra::fuzz {
namespace {

// The working folder: only RECEIVED (the folder and plain names in it) and abonents.txt are
// ever written.
class CheckedFiles : public link::MemoryFileSystem {
public:
    static bool InReceived(const std::string& path) {
        const std::string prefix = std::string(link::kReceivedFolder) + "/";
        if (path.rfind(prefix, 0) != 0) return false;
        const std::string name = path.substr(prefix.size());
        return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
    }
    bool CreateEmpty(const std::string& path) override {
        KAVRA_CHECK_MSG(InReceived(path), path);
        return MemoryFileSystem::CreateEmpty(path);
    }
    bool WriteAt(const std::string& path, std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        KAVRA_CHECK_MSG(InReceived(path), path);
        return MemoryFileSystem::WriteAt(path, offset, bytes);
    }
    bool WriteText(const std::string& path, std::string_view text) override {
        KAVRA_CHECK_MSG(path == link::kAbonentsFile, path);
        return MemoryFileSystem::WriteText(path, text);
    }
    bool CreateFolder(const std::string& path) override {
        KAVRA_CHECK_MSG(path == link::kReceivedFolder, path);
        return MemoryFileSystem::CreateFolder(path);
    }
};


// A value per name: kept from the defaults below, a number (nominal-ish or any), or a string.
void StoreValue(station::MemorySettingsStore& store, const char* name, Input& in) {
    const std::uint8_t kind = in.U8();
    switch (kind % 4) {
        case 0: break;
        case 1: store.numbers[name] = (kind & 0x80) != 0 ? in.U32() : in.U8(); break;
        case 2: store.strings[name] = in.Text(12); break;
        case 3: store.numbers[name] = 48000 + static_cast<std::int8_t>(in.U8()) * 40u; break;
    }
}

void CheckStation(station::Station& s, const testing::FakeSound& sound) {
    const station::StationSettings& set = s.Settings();
    KAVRA_CHECK(set.callsign.size() <= station::kCallsignChars);
    KAVRA_CHECK(set.modem_type <= 1 && set.modem_type2 <= 1 && set.use_com_port <= 1 && set.dtr_or_rts <= 1);
    KAVRA_CHECK(s.ModemType() == 0 || s.ModemType() == 1);
    KAVRA_CHECK(s.PlaybackRate() == 8000 || s.PlaybackRate() == 48000);
    KAVRA_CHECK(s.TxCarrier() >= 0 && s.TxCarrier() <= 3999);
    const int rx = s.Output().rx_carrier.load();
    KAVRA_CHECK(rx >= 0 && rx <= 3999);
    const auto state = static_cast<int>(s.Session().State());
    KAVRA_CHECK(state >= 0 && state <= 12);
    KAVRA_CHECK(s.Session().RemoteCallsign().size() <= link::kCallsignBytes);
    KAVRA_CHECK(s.Session().OwnCallsign().size() <= link::kCallsignBytes);
    // A burst handed to the player is whole samples of one transmission, never beyond the buffer.
    KAVRA_CHECK(sound.playback.last_bytes <= 2 * station::kMaxBurstSamples);
    if (sound.playback.buffers_made > 0) KAVRA_CHECK(sound.playback.last_rate == s.PlaybackRate());
}

void Run(Input& in) {
    std::uint64_t now = 0;
    station::VirtualClock clock{now};
    station::TranscriptView view{[&now] { return now; }};
    if (std::getenv("KAVRA_FUZZ_VERBOSE") != nullptr)
        view.SetLineSink([](const station::TranscriptLine& l) {
            std::fprintf(stderr, "[%llu] %d: %s\n", static_cast<unsigned long long>(l.time_ms), static_cast<int>(l.kind),
                         l.text.c_str());
        });
    testing::FakeSound sound;
    testing::RecordingPorts ports;
    station::MemorySettingsStore store;
    store.strings["CALLSIGN"] = "KAVRA1";
    store.numbers["MODEM_TYPE"] = 0;
    store.strings["CaptureDevice"] = "Card A";
    store.strings["PlaybackDevice"] = "Card A";
    for (const char* name : kNumberNames) StoreValue(store, name, in);
    for (const char* name : kStringNames) StoreValue(store, name, in);
    const std::uint8_t options = in.U8();
    const auto policy = static_cast<station::AnswerPolicy>(options % 3);
    CheckedFiles files;
    files.files["abonents.txt"] = in.Bytes(100);
    files.files["/data/one.txt"] = in.Bytes(300);
    auto st = std::make_unique<station::Station>(station::StationPorts{clock, view, sound, ports, store, files},
                                                 station::StationOverrides{std::nullopt, std::nullopt, (options >> 2) & 1u});
    testing::RecordingRunner runner;
    st->Start(runner);
    CheckStation(*st, sound);

    // The script: the rest of the input, cut into lines as std::getline does.
    const std::span<const std::uint8_t> rest = in.Rest();
    const std::string script(rest.begin(), rest.end());
    std::size_t at = 0;
    tools::OperatorScript operator_script(
        *st, view,
        [&](std::string& line) {
            if (at >= script.size()) return tools::LineStatus::End;
            const std::size_t end = script.find('\n', at);
            line = script.substr(at, end == std::string::npos ? std::string::npos : end - at);
            at = end == std::string::npos ? script.size() : end + 1;
            return tools::LineStatus::Line;
        },
        policy);

    // Virtual time in 50 ms steps (the 200 ms refresh and the 1 s countdown still run), at most
    // 300 s; a scheduler pass every second, the player done by the next one.
    for (int step = 0; step < 6000; ++step) {
        now += 50;
        st->UiStep();
        if (!operator_script.Step(now)) break;
        if (step % 20 == 0) {
            sound.playback.playing = false;
            st->SchedulerPass();
        }
        CheckStation(*st, sound);
        if (operator_script.InputEnded() && step > 200) break;
    }
    st->Stop();
    KAVRA_CHECK(!st->Keyed());
    // One printed line per event, whatever the script typed.
    for (const station::TranscriptLine& l : view.Lines())
        for (const char c : l.text) KAVRA_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
}

}  // namespace
}  // namespace kavra::fuzz

KAVRA_FUZZ_ENTRY(kavra::fuzz::Run)
