#include "soak/block_world.h"

#include <algorithm>
#include <cmath>

#include "link/file_names.h"

namespace kavra::soak {

namespace {

link::LinkSettings SettingsOf(int i, int modem_type) {
    link::LinkSettings s;
    s.own_callsign = kSoakCallsigns[static_cast<std::size_t>(i)];
    s.modem_type = modem_type;
    // A asks before it accepts a call, B before it accepts a file, as on the air.
    s.auto_connect = i == kStationA ? link::AutoAccept::Never : link::AutoAccept::All;
    s.auto_receive = i == kStationB ? link::AutoAccept::Never : link::AutoAccept::All;
    return s;
}

// S/N at which half the blocks are lost, by fading: a rough picture of the modem's waterfall at
// the rates the link chooses, steep on a steady channel and shallower under fading.
double HalfLossSnr(const std::string& fading) {
    if (fading == "good") return 5.0;
    if (fading == "moderate") return 6.5;
    if (fading == "poor") return 8.0;
    if (fading == "flutter") return 12.0;
    return 3.5;
}

}  // namespace

BlockWorld::BlockWorld(std::uint64_t seed, int modem_type)
    : sim_(std::make_unique<link::TwoStationSim>(SettingsOf(0, modem_type), SettingsOf(1, modem_type), seed)) {
    for (int i = 0; i < 2; ++i) {
        link::SimStation& s = sim_->station(i);
        // The soak's operators answer; the simulation's scripted user only confirms own sends.
        s.call_answer = {link::Answer::Never, 0};
        s.offer_answer = {link::Answer::Never, 0};
        sim_->channel_to(i).snr = {20, 20, 20};
    }
}

void BlockWorld::PassLogLines() {
    for (int i = 0; i < 2; ++i) {
        link::RecordingUi& ui = sim_->station(i).ui;
        // Lines are handed on and dropped: a day of chat and logs need not be kept.
        std::vector<link::RecordingUi::Line> lines;
        lines.swap(ui.log);
        if (sink_)
            for (const auto& line : lines) sink_(i, line.text);
        ui.chat.clear();
    }
}

void BlockWorld::RunUntil(const std::function<bool()>& done, std::uint64_t max_ms) {
    const std::uint64_t end = sim_->now_ms() + max_ms;
    while (sim_->now_ms() < end) {
        sim_->Step();
        PassLogLines();
        if (done()) return;
    }
}

bool BlockWorld::Connect(int i, const std::string& callsign) {
    if (!Session(i).CommandEnabled(link::Command::Connect)) return false;
    sim_->station(i).Connect(callsign);
    return Session(i).State() == link::LinkState::Calling;
}

bool BlockWorld::SendFile(int i, const std::string& path, const std::vector<std::uint8_t>& bytes) {
    link::SimStation& s = sim_->station(i);
    s.files.files[path] = bytes;
    s.SendFile(path);
    return s.session().OpenQuestion() == link::Question::SendFile;
}

void BlockWorld::SetPath(int from, int to, const PathEpisode& e) {
    if (from > 1 || to > 1) return;  // no third station here
    link::ChannelConditions& c = sim_->channel_to(to);
    const int snr = static_cast<int>(std::lround(e.snr_db));
    const int swing = e.fading == "none" ? 1 : e.fading == "good" ? 3 : 6;
    c.snr = {snr, snr - swing, snr + swing};
    c.block_loss = 1.0 / (1.0 + std::exp((e.snr_db - HalfLossSnr(e.fading)) / 1.5));
}

std::vector<std::uint8_t> BlockWorld::ReadFile(int i, const std::string& path) {
    const auto& files = sim_->station(i).files.files;
    const auto f = files.find(path);
    return f == files.end() ? std::vector<std::uint8_t>{} : f->second;
}

std::string BlockWorld::Where(int i, const std::string& path) {
    return std::string(kSoakCallsigns[static_cast<std::size_t>(i)]) + ":" + path;
}

std::vector<std::string> BlockWorld::StrayFiles() {
    std::vector<std::string> stray;
    const std::string received = std::string(link::kReceivedFolder) + "/";
    for (int i = 0; i < 2; ++i) {
        const link::MemoryFileSystem& fs = sim_->station(i).files;
        for (const auto& [path, bytes] : fs.files) {
            const bool outbox = path.rfind("outbox/", 0) == 0 && path.find('/', 7) == std::string::npos;
            const bool in_received = path.rfind(received, 0) == 0 && path.find('/', received.size()) == std::string::npos &&
                                     path.find('\\', received.size()) == std::string::npos;
            if (!outbox && !in_received) stray.push_back(Where(i, path));
        }
        for (const std::string& folder : fs.folders)
            if (folder != link::kReceivedFolder) stray.push_back(Where(i, folder + "/"));
    }
    return stray;
}

}  // namespace kavra::soak
