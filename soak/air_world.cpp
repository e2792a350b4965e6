#include "soak/air_world.h"

#include <fstream>

namespace kavra::soak {

namespace fs = std::filesystem;

namespace {
constexpr const auto& kCallsigns = kSoakCallsigns;
}

AirWorld::AirWorld(std::uint64_t seed, int modem_type, const fs::path& folder) : folder_(folder), air_(seed, false) {
    std::error_code ec;
    fs::remove_all(folder_, ec);
    fs::create_directories(folder_, ec);
    if (ec) throw std::runtime_error(folder_.string() + ": cannot create (" + ec.message() + ")");
    for (int i = 0; i < 3; ++i) {
        air::AirStationConfig c;
        c.callsign = kCallsigns[static_cast<std::size_t>(i)];
        c.modem_type = modem_type;
        c.folder = folder_ / c.callsign;
        c.keep_transcript = false;
        c.capture_phase_ms = i * 3;
        // A asks before it accepts a call, B before it accepts a file: both ways are exercised.
        c.autoconnect = i == kStationA ? 0 : 2;
        c.autoreceive = i == kStationB ? 0 : 2;
        c.answer = i == kIntruder ? station::AnswerPolicy::No : station::AnswerPolicy::Ask;
        air_.Add(c);
        fs::create_directories(c.folder / "outbox", ec);
    }
    air::AirPath good;
    good.snr_db = 20.0;
    air_.SetAllPaths(good);
    // The third station is heard by both, through fading, and hears nothing itself.  Its paths
    // carry no noise of their own: the noise a station hears comes with its link's path.
    air::AirPath intruder;
    intruder.snr_db = std::nullopt;
    intruder.fading = sim::FindFadingPreset("moderate");
    intruder.freq_offset_hz = 17.0;
    air_.Air().SetPath(kIntruder, kStationA, intruder);
    air_.Air().SetPath(kIntruder, kStationB, intruder);
    air_.Air().SetDeaf(kIntruder, true);
}

void AirWorld::SetLogSink(std::function<void(int, const std::string&)> sink) {
    air_.SetLineSink([sink = std::move(sink)](int i, const station::TranscriptLine& line) {
        if (line.kind == station::LineKind::System || line.kind == station::LineKind::Error) sink(i, line.text);
    });
}

bool AirWorld::OnAir(int i) {
    const auto k = static_cast<std::size_t>(i);
    const std::uint64_t played = air_.Air().PlayedMs(i);
    const bool on = played != played_[k];
    played_[k] = played;
    return on;
}

bool AirWorld::SendFile(int i, const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const fs::path disk = air_.Files(i).Resolve(path);
    std::ofstream f(disk, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f) throw std::runtime_error("cannot write the file to send: " + disk.string());
    air_.View(i).SetNextFile(path);
    return air_.At(i).SendFile();
}

void AirWorld::SetPath(int from, int to, const PathEpisode& e) {
    air::AirPath p;
    p.snr_db = e.snr_db;
    p.fading = e.fading == "none" ? std::nullopt : sim::FindFadingPreset(e.fading);
    p.freq_offset_hz = e.offset_hz;
    p.clock_offset_ppm = e.clock_ppm;
    air_.Air().SetPath(from, to, p);
}

std::vector<std::uint8_t> AirWorld::ReadFile(int i, const std::string& path) {
    std::ifstream in(air_.Files(i).Resolve(path), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Only the station folders at the top; in each, "outbox" and "RECEIVED" with plain files, and
// "abonents.txt".
std::vector<std::string> AirWorld::StrayFiles() {
    std::vector<std::string> stray;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name != kCallsigns[0] && name != kCallsigns[1] && name != kCallsigns[2]) stray.push_back(entry.path().string());
    }
    for (const char* callsign : kCallsigns) {
        const fs::path station = folder_ / callsign;
        for (auto it = fs::recursive_directory_iterator(station, ec); it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            const fs::path rel = it->path().lexically_relative(station);
            const std::string top = rel.begin()->string();
            const auto depth = std::distance(rel.begin(), rel.end());
            const bool known = top == "outbox" || top == "RECEIVED";
            const bool folder = it->is_directory() && !it->is_symlink() && depth == 1 && known;
            const bool file = it->is_regular_file() && !it->is_symlink() && depth == 2 && known;
            if (!folder && !file && !(depth == 1 && top == "abonents.txt")) stray.push_back(it->path().string());
        }
    }
    return stray;
}

}  // namespace kavra::soak
