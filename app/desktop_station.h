// The station the desktop shows: on the sound card, the serial port and the user's settings, or,
// for --demo, on virtual air in real time with a demonstration peer (KAVRA2) in the same process
// that accepts calls and files and answers chat lines.  The windows reach the station through it;
// the user-interface thread calls Tick every millisecond (the received-block pump and timers).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/air/air_stations.h"
#include "station/station.h"

namespace kavra::app {

struct DesktopOptions {
    std::string settings;            // an INI file instead of the user's store
    std::string callsign;            // this run's callsign (UTF-8), not stored
    int modem_type = -1;             // this run's modem type, not stored
    bool demo = false;               // virtual air with a peer station
    double demo_snr = 15.0;          // S/N in 3 kHz of the demo channel, both ways
    std::string demo_fading = "moderate";  // none, good, moderate, poor, flutter
    std::string demo_folder = "kavra-demo";  // working folders of the two demo stations
};

class DesktopStation {
public:
    // Builds the station; throws std::runtime_error with a one-line reason on bad options.
    DesktopStation(const DesktopOptions& options, station::StationView& view);
    ~DesktopStation();
    DesktopStation(const DesktopStation&) = delete;
    DesktopStation& operator=(const DesktopStation&) = delete;

    station::Station& Get();
    // Start-up (the main window's first show) and shutdown (its close).
    void Start();
    void Stop();
    // Every millisecond in the user-interface thread.
    void Tick();
    bool Demo() const noexcept { return demo_ != nullptr; }
    // The demonstration peer's station, for tests (none outside the demo).
    station::Station* Peer();
    air::AirStations* DemoAir() { return demo_.get(); }

private:
    struct Real;
    std::unique_ptr<Real> real_;
    std::unique_ptr<air::AirStations> demo_;
    DesktopOptions options_;
    station::StationView& view_;
};

}  // namespace kavra::app
