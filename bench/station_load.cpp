// station_load: stations on their real threads over virtual air in real time, measured.
//   1. One station alone, searching on noise: CPU of its three workers.
//   2. Two stations in a link, one receiving a long file burst: the receiver's worker CPU over the
//      data part of that burst.
//   3. Chat bursts: the delay from a burst's last sample to the last of its blocks reaching the
//      receiver's protocol handler.
// CPU is the threads' own CPU clocks over wall time, in % of one core.  Usage:
//   station_load [seconds-per-measurement (default 20)] [modem type (default 0)]
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/air/air_stations.h"

using namespace kavra;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double WorkerCpu(air::AirStations& air, int i) {
    const station::ThreadRunner* t = air.Threads(i);
    double s = 0;
    for (int w = 0; w < station::kWorkerCount; ++w) s += t->CpuSeconds(static_cast<station::Worker>(w));
    return s;
}

double Percent(air::AirStations& air, int i, double seconds) {
    const double c0 = WorkerCpu(air, i);
    const auto t0 = Clock::now();
    air.Run(static_cast<std::uint64_t>(seconds * 1000));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    return 100.0 * (WorkerCpu(air, i) - c0) / wall;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    const int type = argc > 2 ? std::atoi(argv[2]) : 0;
    const fs::path root = fs::temp_directory_path() / ("kavra-station-load-" + std::to_string(::getpid()));
    fs::remove_all(root);
    air::AirPath path;
    path.snr_db = 20.0;
    path.fading = sim::FindFadingPreset("moderate");

    {
        air::AirStations air(1, true);
        const int a = air.Add({"KAVRA1", type, false, 2, 2, root / "idle"});
        air.Run(2000);
        std::array<double, station::kWorkerCount> before{};
        for (int w = 0; w < station::kWorkerCount; ++w) before[static_cast<std::size_t>(w)] = air.Threads(a)->CpuSeconds(static_cast<station::Worker>(w));
        std::printf("idle station searching on noise (%.0f s): %.2f %% of one core", seconds, Percent(air, a, seconds));
        static constexpr const char* kNames[] = {"capture", "demodulation", "transmit"};
        for (int w = 0; w < station::kWorkerCount; ++w)
            std::printf("%s %s %.2f s", w ? "," : " (", kNames[w],
                        air.Threads(a)->CpuSeconds(static_cast<station::Worker>(w)) - before[static_cast<std::size_t>(w)]);
        std::puts(")");
    }

    air::AirStations air(2, true);
    const int a = air.Add({"KAVRA1", type, false, 2, 2, root / "a"});
    const int b = air.Add({"KAVRA2", type, false, 2, 2, root / "b"});
    air.SetAllPaths(path);
    auto both = [&](link::LinkState s) { return air.At(a).Session().State() == s && air.At(b).Session().State() == s; };
    air.At(a).Connect("KAVRA2");
    if (!air.RunUntil([&] { return both(link::LinkState::Connected); }, 120000)) {
        std::puts("no link");
        return 1;
    }

    // Chat bursts: the end of each of KAVRA1's bursts against KAVRA2's last block handled after it.
    std::vector<double> delays;
    for (int i = 0; i < 5; ++i) {
        const auto before = air.Air().LastBurstEnd(a);
        air.At(a).Say("latency probe " + std::to_string(i));
        if (!air.RunUntil([&] { return air.Air().LastBurstEnd(a) != before; }, 60000)) break;
        air.Run(1000);
        const auto end = air.Air().LastBurstEnd(a);
        const auto handled = air.LastBlockHandled(b);
        if (handled > end) delays.push_back(std::chrono::duration<double, std::milli>(handled - end).count());
    }
    std::printf("burst end to last block at the handler: median %.0f ms over %zu bursts (", Median(delays), delays.size());
    for (double d : delays) std::printf(" %.0f", d);
    std::puts(" )");

    // A long data burst.
    {
        std::ofstream out(root / "a" / "load.bin", std::ios::binary);
        std::vector<char> bytes(100000);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + 7);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    air.View(a).SetNextFile("load.bin");
    air.At(a).SendFile();
    if (!air.RunUntil([&] { return air.At(a).Session().State() == link::LinkState::SendingFile &&
                                   air.At(b).Output().receiving.load() != 0; },
                      120000)) {
        std::puts("no data burst");
        return 1;
    }
    const double window = std::min(seconds, 30.0);
    std::printf("station receiving a long data burst (%.0f s): %.2f %% of one core\n", window, Percent(air, b, window));
    fs::remove_all(root);
    return 0;
}
