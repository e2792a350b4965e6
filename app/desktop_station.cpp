#include "app/desktop_station.h"

#include <filesystem>
#include <stdexcept>

#include "link/disk_file_system.h"
#include "link/text_1251.h"
#include "platform/air/air_stations.h"
#include "platform/portaudio_sound.h"
#include "platform/qt_settings_store.h"
#include "platform/serial_keying.h"
#include "station/steady_clock.h"
#include "station/thread_runner.h"

namespace kavra::app {

// The station on the real machine.
struct DesktopStation::Real {
    Real(const DesktopOptions& o, station::StationView& view, station::StationOverrides overrides)
        : store(o.settings.empty() ? std::make_unique<platform::QtSettingsStore>()
                                   : std::make_unique<platform::QtSettingsStore>(o.settings)),
          files("."),
          station({clock, view, sound, keying, *store, files}, std::move(overrides)),
          threads(station) {}
    station::SteadyClock clock;
    platform::PortAudioSound sound;
    platform::SerialKeyingPorts keying;
    std::unique_ptr<platform::QtSettingsStore> store;
    link::DiskFileSystem files;
    station::Station station;
    station::ThreadRunner threads;
};

namespace {

station::StationOverrides Overrides(const DesktopOptions& o) {
    station::StationOverrides ov;
    if (!o.callsign.empty()) {
        const auto cs = link::Utf8ToCp1251(o.callsign);
        if (!cs || cs->empty() || cs->size() > station::kCallsignChars)
            throw std::runtime_error("--callsign: 1 to 8 characters of the Windows-1251 set");
        ov.callsign = *cs;
    }
    if (o.modem_type >= 0) ov.modem_type = o.modem_type;
    return ov;
}

}  // namespace

DesktopStation::DesktopStation(const DesktopOptions& options, station::StationView& view)
    : options_(options), view_(view) {
    const station::StationOverrides overrides = Overrides(options);
    if (!options.demo) {
        real_ = std::make_unique<Real>(options, view, overrides);
        return;
    }
    std::optional<sim::FadingSettings> fading;
    if (options.demo_fading != "none") {
        fading = sim::FindFadingPreset(options.demo_fading);
        if (!fading) throw std::runtime_error("--fading: one of none, good, moderate, poor, flutter");
    }
    demo_ = std::make_unique<air::AirStations>(1, /*real_time=*/true);
    const std::filesystem::path root = options.demo_folder;
    const int type = options.modem_type >= 0 ? options.modem_type : 0;
    air::AirStationConfig own{overrides.callsign.value_or("KAVRA1"), type, false, 2, 2, root / "KAVRA1"};
    own.view = &view;
    own.answer = station::AnswerPolicy::Ask;
    air::AirStationConfig peer{"KAVRA2", type, false, 2, 2, root / "KAVRA2"};
    peer.answers_chat = true;
    peer.capture_phase_ms = 5;
    demo_->Add(own, /*start=*/false);
    demo_->Add(peer, /*start=*/false);
    air::AirPath path;
    path.snr_db = options.demo_snr;
    path.fading = fading;
    path.freq_offset_hz = 3.0;
    demo_->Air().SetPath(0, 1, path);
    path.freq_offset_hz = -3.0;
    demo_->Air().SetPath(1, 0, path);
}

DesktopStation::~DesktopStation() { Stop(); }

station::Station& DesktopStation::Get() { return real_ ? real_->station : demo_->At(0); }

station::Station* DesktopStation::Peer() { return demo_ && demo_->StationCount() > 1 ? &demo_->At(1) : nullptr; }

void DesktopStation::Start() {
    if (real_) {
        real_->station.Start(real_->threads);
        return;
    }
    demo_->Launch(1);  // the peer first: it listens before we can call
    demo_->Launch(0);
}

void DesktopStation::Stop() {
    if (real_) real_->station.Stop();
    if (demo_)
        for (int i = 0; i < demo_->StationCount(); ++i) demo_->At(i).Stop();
}

void DesktopStation::Tick() {
    if (real_) {
        real_->station.UiStep();
        return;
    }
    demo_->Tick();
}

}  // namespace kavra::app
