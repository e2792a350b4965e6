// kavra-demo: two stations, KAVRA1 and KAVRA2, in one process over a simulated HF channel.
// KAVRA1 calls, KAVRA2 accepts by itself, they chat both ways, KAVRA1 sends a file, KAVRA2's copy
// under its "RECEIVED" is compared, KAVRA1 disconnects.  Exit code 0 only when the file arrived
// intact.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <thread>

#include "platform/air/air_stations.h"
#include "tools/common/tool_io.h"

namespace kavra::tools {
namespace {

namespace fs = std::filesystem;
using station::LineKind;

struct DemoOptions {
    int type = 0;
    bool play_8k = false;
    double snr = 15.0;
    std::string fading = "moderate";
    double offset_hz = 3.0;
    std::uint32_t size = 30000;
    std::uint64_t seed = 1;
    bool realtime = false;
    std::string folder = "out/demo";
};

std::uint64_t Fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 14695981039346656037ull;
    for (const std::uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

std::vector<std::uint8_t> ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What KAVRA1's operator does, step by step, each step once its condition holds.
class DemoScript {
public:
    DemoScript(air::AirStations& air, std::string file) : air_(air), file_(std::move(file)) {}

    // Answers whether the script has finished.
    bool Step() {
        station::Station& one = air_.At(0);
        station::Station& two = air_.At(1);
        const auto now = air_.NowMs();
        switch (step_) {
            case 0:
                if (now >= 1000 && one.Connect("KAVRA2")) Next();
                break;
            case 1:
                if (one.Session().State() == link::LinkState::Connected) {
                    one.Say("Good afternoon, this is KAVRA1 on the simulated HF channel. How do you copy?");
                    Next();
                }
                break;
            case 2:
                if (air_.View(1).Has("How do you copy", LineKind::Abonent)) {
                    two.Say("KAVRA2 here: copy you fine. Send the file when ready.");
                    Next();
                }
                break;
            case 3:
                if (air_.View(0).Has("Send the file", LineKind::Abonent)) {
                    air_.View(0).SetNextFile(file_);
                    if (!one.SendFile() || air_.View(0).Has("Can't open file")) {
                        failed_ = true;
                        return true;
                    }
                    Next();
                }
                break;
            case 4:
                if (one.Session().State() == link::LinkState::SendingFile) {
                    two.Say("Receiving your file, the chat still works during the transfer.");
                    Next();
                }
                break;
            case 5:
                if (air_.View(0).Has("succesfully") && air_.View(1).Has("received succesfully") &&
                    one.Session().State() == link::LinkState::Connected) {
                    transfer_end_ms_ = now;
                    one.Say("File done. 73, closing.");
                    Next();
                } else if (air_.View(0).Has("NOT completed") || air_.View(1).Has("NOT completed") ||
                           one.Session().State() == link::LinkState::Idle) {
                    failed_ = true;
                    return true;
                }
                break;
            case 6:
                if (air_.View(1).Has("closing", LineKind::Abonent) && one.Disconnect()) Next();
                break;
            case 7:
                if (one.Session().State() == link::LinkState::Idle && two.Session().State() == link::LinkState::Idle &&
                    !one.Keyed() && !two.Keyed())
                    return true;
                break;
        }
        return false;
    }
    bool Failed() const { return failed_; }
    std::uint64_t transfer_start_ms = 0;
    std::uint64_t TransferEndMs() const { return transfer_end_ms_; }

private:
    void Next() {
        ++step_;
        if (step_ == 4) transfer_start_ms = air_.NowMs();
    }
    air::AirStations& air_;
    std::string file_;
    int step_ = 0;
    bool failed_ = false;
    std::uint64_t transfer_end_ms_ = 0;
};

int CountLines(const station::TranscriptView& v, std::string_view text) { return v.Count(text, LineKind::Status); }

int RunDemo(const DemoOptions& o) {
    std::optional<sim::FadingSettings> fading;
    if (o.fading != "none") {
        fading = sim::FindFadingPreset(o.fading);
        if (!fading) throw ToolError("--fading: one of none, good, moderate, poor, flutter");
    }
    if (o.play_8k && o.type != 1) throw ToolError("--play-8k needs --type 1");
    const fs::path root = o.folder;
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(root / "KAVRA1", ec);
    if (ec) throw ToolError(o.folder + ": cannot create (" + ec.message() + ")");

    // The file to send.
    std::vector<std::uint8_t> sent(o.size);
    std::mt19937_64 rng(o.seed);
    for (auto& b : sent) b = static_cast<std::uint8_t>(rng());
    const std::string name = "demo-file.bin";
    WriteAllBytes((root / "KAVRA1" / name).string(), sent);

    air::AirStations air(o.seed, o.realtime);
    const auto start = std::chrono::steady_clock::now();
    std::printf("Kavra-2400 demo: modem type %d%s, %s fading, %.1f dB S/N in 3 kHz, %+.1f / %+.1f Hz carrier offset, "
                "file of %u bytes, seed %llu\n",
                o.type, o.play_8k ? " (8000 Hz playback)" : "", o.fading.c_str(), o.snr, o.offset_hz, -o.offset_hz, o.size,
                static_cast<unsigned long long>(o.seed));
    air.SetLineSink([&](int i, const station::TranscriptLine& l) {
        if (l.kind == LineKind::Status) return;
        std::printf("[%8.3f] %s %-7s %s\n", static_cast<double>(l.time_ms) / 1000.0, i == 0 ? "KAVRA1" : "KAVRA2",
                    std::string(station::LineKindName(l.kind)).c_str(), l.text.c_str());
        std::fflush(stdout);
    });
    const int one = air.Add({"KAVRA1", o.type, o.play_8k, 2, 2, root / "KAVRA1"});
    const int two = air.Add({"KAVRA2", o.type, o.play_8k, 2, 2, root / "KAVRA2", station::AnswerPolicy::Yes, 5});
    air::AirPath path;
    path.snr_db = o.snr;
    path.fading = fading;
    path.freq_offset_hz = o.offset_hz;
    air.Air().SetPath(one, two, path);
    path.freq_offset_hz = -o.offset_hz;
    air.Air().SetPath(two, one, path);

    DemoScript script(air, name);  // relative to KAVRA1's working folder
    const std::uint64_t limit_ms = 3600 * 1000;
    if (o.realtime) std::puts("(real time: the stations' threads on the real clock; Ctrl-C to stop)");
    const bool done = air.RunUntil([&] { return script.Step(); }, limit_ms);
    const double cpu_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const fs::path received = root / "KAVRA2" / "RECEIVED" / name;
    const std::vector<std::uint8_t> got = ReadFile(received);
    const bool intact = done && !script.Failed() && got == sent;
    const double transfer_s = static_cast<double>(script.TransferEndMs() - script.transfer_start_ms) / 1000.0;
    std::printf("\n== Summary\n");
    std::printf("air time            %.1f s of station time (%.1f s of computing, %.0fx real time)\n",
                static_cast<double>(air.NowMs()) / 1000.0, cpu_s, static_cast<double>(air.NowMs()) / 1000.0 / cpu_s);
    std::printf("bursts sent         KAVRA1 %d, KAVRA2 %d\n", CountLines(air.View(0), "transmit: Transfer"),
                CountLines(air.View(1), "transmit: Transfer"));
    std::printf("S/N measured        KAVRA1 -> KAVRA2 %d dB, KAVRA2 -> KAVRA1 %d dB (mean of the last frame)\n",
                air.At(1).Output().snr_avg.load(), air.At(0).Output().snr_avg.load());
    if (script.TransferEndMs() > 0)
        std::printf("file throughput     %u bytes in %.1f s: %.0f bit/s (from the request to the last acknowledgement)\n",
                    o.size, transfer_s, o.size * 8.0 / transfer_s);
    std::printf("sent                %s  FNV-1a %016llx\n", (root / "KAVRA1" / name).c_str(),
                static_cast<unsigned long long>(Fnv1a(sent)));
    std::printf("received            %s  FNV-1a %016llx (%zu bytes)\n", received.c_str(),
                static_cast<unsigned long long>(Fnv1a(got)), got.size());
    std::printf("result              %s\n", intact ? "the file arrived intact" : "FAILED: the file did not arrive intact");
    return intact ? 0 : 1;
}

}  // namespace
}  // namespace kavra::tools

int main(int argc, char** argv) {
    kavra::tools::DemoOptions o;
    CLI::App app{"kavra-demo: two Kavra-2400 stations, KAVRA1 and KAVRA2, over a simulated HF channel.\n"
                 "KAVRA1 calls, KAVRA2 accepts, they chat, KAVRA1 sends a file, KAVRA1 disconnects.\n"
                 "Exit code 0 only when the file arrived intact."};
    app.add_option("--type", o.type, "Modem type: 0 = 2400 symbols/s, 1 = 2000 symbols/s")->check(CLI::Range(0, 1));
    app.add_flag("--play-8k", o.play_8k, "Type 1 played at 8000 Hz");
    app.add_option("--snr", o.snr, "S/N in 3 kHz, dB, both ways")->check(CLI::Range(-10.0, 60.0));
    app.add_option("--fading", o.fading, "none, good, moderate, poor or flutter");
    app.add_option("--offset", o.offset_hz, "Carrier offset, Hz (the other way round on the way back)")->check(CLI::Range(-100.0, 100.0));
    app.add_option("--size", o.size, "Bytes in the file (at most 241664 are sent)")->check(CLI::Range(0, 241664));
    app.add_option("--seed", o.seed, "Seed of the channel and the file");
    app.add_flag("--realtime", o.realtime, "Real threads and the real clock, to watch it live");
    app.add_option("--folder", o.folder, "Working folders of the two stations are made under this one");
    try {
        app.parse(argc, argv);
        return kavra::tools::RunDemo(o);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        std::cerr << "kavra-demo: " << e.what() << " (see --help)\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "kavra-demo: " << e.what() << "\n";
        return 2;
    }
}
