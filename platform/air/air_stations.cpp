#include "platform/air/air_stations.h"

#include "link/text_1251.h"

namespace kavra::air {

AirStations::Node::Node(const std::uint64_t& now, AirStationConfig c, std::uint32_t start_tick)
    : config(std::move(c)), clock(now, start_tick), files(config.folder) {}

#include <thread>

AirStations::AirStations(std::uint64_t seed, bool real_time) : real_time_(real_time), air_(seed) {
    runner_.SetAir([this] { return air_.AdvanceOneMs(); });
    runner_.SetAfterStep([this] { AfterStep(); });
    if (real_time_) air_clock_ = std::make_unique<AirClock>(air_);
}

AirStations::~AirStations() {
    for (auto& n : nodes_)
        if (n->station) n->station->Stop();
    air_clock_.reset();
}

std::uint64_t AirStations::NowMs() const {
    if (!real_time_) return runner_.Now();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - real_start_).count());
}

bool AirStations::RunUntil(const std::function<bool()>& done, std::uint64_t max_ms) {
    if (!real_time_) return runner_.RunUntil(done, max_ms);
    const std::uint64_t end = NowMs() + max_ms;
    while (!done()) {
        if (NowMs() >= end) return false;
        Tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void AirStations::Tick() {
    for (auto& n : nodes_) {
        if (!n->station || !n->station->Started()) continue;
        n->station->UiStep();
        if (n->station->BlocksHandled() != n->blocks_seen) {
            n->blocks_seen = n->station->BlocksHandled();
            n->last_block = std::chrono::steady_clock::now();
        }
    }
    AfterStep();
}

int AirStations::Add(const AirStationConfig& config, bool start) {
    const int i = static_cast<int>(nodes_.size());
    // Each station's tick count starts at another place, one of them close to the wrap.
    const std::uint32_t start_tick = 0xFFFF0000u + static_cast<std::uint32_t>(i) * 0x01230000u;
    nodes_.push_back(std::make_unique<Node>(runner_.Now(), config, start_tick));
    Node& n = node(i);
    n.sound = &air_.AddStation(config.callsign);
    std::filesystem::create_directories(config.folder);
    StartStation(i, start);
    return i;
}

void AirStations::StartStation(int i, bool start) {
    Node& n = node(i);
    n.view = std::make_unique<station::TranscriptView>([this] { return NowMs(); });
    n.view->SetKeepLines(n.config.keep_transcript);
    n.view->SetLineSink([this, i](const station::TranscriptLine& line) {
        if (sink_) sink_(i, line);
    });
    n.store = station::MemorySettingsStore{};
    n.store.strings["CALLSIGN"] = n.config.callsign;
    n.store.numbers["MODEM_TYPE"] = static_cast<std::uint32_t>(n.config.modem_type);
    n.store.numbers["MODEM_TYPE2"] = n.config.play_8k ? 1 : 0;
    n.store.numbers["AUTOCONNECT"] = n.config.autoconnect;
    n.store.numbers["AUTORECEIVE"] = n.config.autoreceive;
    link::Clock& clock = real_time_ ? static_cast<link::Clock&>(n.steady) : n.clock;
    station::StationView& view = n.config.view ? *n.config.view : static_cast<station::StationView&>(*n.view);
    n.station = std::make_unique<station::Station>(station::StationPorts{clock, view, *n.sound, n.keying, n.store, n.files});
    if (start) Launch(i);
}

void AirStations::Launch(int i) {
    Node& n = node(i);
    if (n.station->Started()) return;
    if (real_time_) {
        n.threads = std::make_unique<station::ThreadRunner>(*n.station);
        n.station->Start(*n.threads);
    } else {
        n.station->Start(runner_.Add(*n.station, n.clock, n.config.capture_phase_ms));
    }
}

void AirStations::Vanish(int i) {
    Node& n = node(i);
    if (!n.station) return;
    n.station->Stop();
    runner_.Remove(*n.station);
    n.threads.reset();
    n.station.reset();
    air_.SetOffAir(i, true);
}

void AirStations::Restart(int i) {
    Vanish(i);
    air_.SetOffAir(i, false);
    StartStation(i, true);
}

void AirStations::SetAllPaths(const AirPath& path) {
    for (int a = 0; a < static_cast<int>(nodes_.size()); ++a)
        for (int b = 0; b < static_cast<int>(nodes_.size()); ++b)
            if (a != b) air_.SetPath(a, b, path);
}

void AirStations::AfterStep() {
    for (auto& n : nodes_) {
        if (!n->station) continue;
        // A station shown in a window asks its user, the confirmation of a file to send included.
        if (!(n->config.view && n->config.answer == station::AnswerPolicy::Ask))
            station::AnswerByPolicy(*n->station, n->config.answer);
        if (n->config.answers_chat) AnswerChat(*n);
    }
}

// The demonstration peer's operator: every chat line heard gets a short answer.
void AirStations::AnswerChat(Node& n) {
    // Only the lines made since the last look: the peer's operator runs every millisecond.
    const std::vector<station::TranscriptLine> lines = n.view->Lines(n.chat_answered);
    n.chat_answered += lines.size();
    for (const station::TranscriptLine& l : lines) {
        if (l.kind != station::LineKind::Abonent) continue;
        const std::size_t colon = l.text.find(": ");
        std::string heard = colon == std::string::npos ? l.text : l.text.substr(colon + 2);
        if (heard.size() > 60) heard = heard.substr(0, 60) + "...";
        const auto reply = link::Utf8ToCp1251("copied \"" + heard + "\", 73");
        if (reply) n.station->Say(*reply);
    }
}

}  // namespace kavra::air
