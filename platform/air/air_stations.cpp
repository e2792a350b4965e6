#include "platform/air/air_stations.h"

namespace kavra::air {

AirStations::Node::Node(const std::uint64_t& now, AirStationConfig c, std::uint32_t start_tick)
    : config(std::move(c)), clock(now, start_tick), files(config.folder) {}

AirStations::AirStations(std::uint64_t seed) : air_(seed) {
    runner_.SetAir([this] { return air_.AdvanceOneMs(); });
    runner_.SetAfterStep([this] { AfterStep(); });
}

AirStations::~AirStations() {
    for (auto& n : nodes_)
        if (n->station) n->station->Stop();
}

int AirStations::Add(const AirStationConfig& config) {
    const int i = static_cast<int>(nodes_.size());
    // Each station's tick count starts at another place, one of them close to the wrap.
    const std::uint32_t start_tick = 0xFFFF0000u + static_cast<std::uint32_t>(i) * 0x01230000u;
    nodes_.push_back(std::make_unique<Node>(runner_.Now(), config, start_tick));
    Node& n = node(i);
    n.sound = &air_.AddStation(config.callsign);
    std::filesystem::create_directories(config.folder);
    StartStation(i);
    return i;
}

void AirStations::StartStation(int i) {
    Node& n = node(i);
    n.view = std::make_unique<station::TranscriptView>([this] { return runner_.Now(); });
    n.view->SetLineSink([this, i](const station::TranscriptLine& line) {
        if (sink_) sink_(i, line);
    });
    n.store = station::MemorySettingsStore{};
    n.store.strings["CALLSIGN"] = n.config.callsign;
    n.store.numbers["MODEM_TYPE"] = static_cast<std::uint32_t>(n.config.modem_type);
    n.store.numbers["MODEM_TYPE2"] = n.config.play_8k ? 1 : 0;
    n.store.numbers["AUTOCONNECT"] = n.config.autoconnect;
    n.store.numbers["AUTORECEIVE"] = n.config.autoreceive;
    n.station = std::make_unique<station::Station>(
        station::StationPorts{n.clock, *n.view, *n.sound, n.keying, n.store, n.files});
    station::WorkerRunner& workers = runner_.Add(*n.station, n.clock, n.config.capture_phase_ms);
    n.station->Start(workers);
}

void AirStations::Vanish(int i) {
    Node& n = node(i);
    if (!n.station) return;
    n.station->Stop();
    runner_.Remove(*n.station);
    n.station.reset();
    air_.SetOffAir(i, true);
}

void AirStations::Restart(int i) {
    Vanish(i);
    air_.SetOffAir(i, false);
    StartStation(i);
}

void AirStations::SetAllPaths(const AirPath& path) {
    for (int a = 0; a < static_cast<int>(nodes_.size()); ++a)
        for (int b = 0; b < static_cast<int>(nodes_.size()); ++b)
            if (a != b) air_.SetPath(a, b, path);
}

void AirStations::AfterStep() {
    for (auto& n : nodes_)
        if (n->station) station::AnswerByPolicy(*n->station, n->config.answer);
}

}  // namespace kavra::air
