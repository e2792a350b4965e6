// kavra-link-report: the effective file throughput of the link layer on a clean simulated channel,
// for each ModeClass and modem type.  Two stations connect on virtual time, one sends a file,
// and the report gives the virtual air time from the start of the first FileOffer burst to the
// sender's "sended succesfully", the average bit rate of the file over that time, and the raw
// rate of the DataMode the data turns used.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "link/simulation.h"
#include "modem/common/mode_table.h"

namespace {

using kavra::link::LinkSettings;
using kavra::link::LinkState;
using kavra::link::TwoStationSim;

struct Options {
    std::size_t size = 100000;
    std::uint64_t seed = 1;
    double loss = 0.0;
};

struct Row {
    int modem_type;
    int mode_class;
    bool ok;
    double seconds;
    double bits_per_second;
    std::uint32_t station_speed;
};

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: kavra-link-report [--size BYTES] [--loss FRACTION] [--seed N]\n"
                 "  Simulates a file transfer between two stations for each ModeClass (1, 3, 5) and\n"
                 "  modem type (0, 1) and prints the air time from offer to \"sended succesfully\".\n"
                 "  --size   file size in bytes (default 100000; at most 241664 travel)\n"
                 "  --loss   fraction of link blocks lost at random, 0..0.9 (default 0)\n"
                 "  --seed   seed of the simulated losses (default 1)\n");
}

bool ParseNumber(std::string_view text, double& value) {
    const std::string s(text);
    char* end = nullptr;
    value = std::strtod(s.c_str(), &end);
    return !s.empty() && end == s.c_str() + s.size();
}

Row Measure(int modem_type, int mode_class, const Options& options) {
    LinkSettings a;
    a.own_callsign = "AB1CD";
    a.modem_type = modem_type;
    LinkSettings b = a;
    b.own_callsign = "EF2GH";
    TwoStationSim sim(a, b, options.seed);
    // The far station's report of this signal chooses the class: a steady channel at these
    // signal-to-noise ratios gives ModeClass 1, 3 and 5.
    const int snr = mode_class == 1 ? 20 : mode_class == 3 ? 5 : 0;
    for (int s = 0; s < 2; ++s) {
        sim.channel_to(s).snr = {snr, snr, snr};
        sim.channel_to(s).block_loss = options.loss;
    }
    auto& tx = sim.station(0);
    auto& rx = sim.station(1);
    Row row{modem_type, mode_class, false, 0, 0, 0};
    tx.Connect("EF2GH");
    if (!sim.RunUntil([&] { return tx.session().State() == LinkState::Connected && rx.session().State() == LinkState::Connected; },
                      10 * 60000))
        return row;
    sim.Run(60000);  // a SignalReport from the far station sets the class
    if (tx.session().ModeClass() != mode_class) return row;

    std::vector<std::uint8_t> data(options.size);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    tx.files.files["report.bin"] = data;
    tx.SendFile("report.bin");
    if (!sim.RunUntil([&] { return tx.ui.HasLog("sended succesfully"); }, 24ull * 3600 * 1000)) return row;

    std::uint64_t offer_start = 0;
    for (const auto& burst : sim.bursts()) {
        if (burst.from == 0 && !burst.codes.empty() && burst.codes[0] == static_cast<int>(kavra::link::ControlCode::FileOffer)) {
            offer_start = burst.start_ms;
            break;
        }
    }
    const std::uint64_t done = *tx.ui.FirstLogTime("sended succesfully");
    const std::size_t moved = std::min<std::size_t>(data.size(), kavra::link::kMaxTransferBytes);
    sim.RunUntil([&] { return rx.ui.HasLog("received succesfully"); }, 10 * 60000);
    const auto& got = rx.files.files["RECEIVED/report.bin"];
    row.ok = got.size() == moved && std::equal(got.begin(), got.end(), data.begin());
    row.seconds = static_cast<double>(done - offer_start) / 1000.0;
    row.bits_per_second = row.seconds > 0 ? static_cast<double>(moved) * 8.0 / row.seconds : 0.0;
    row.station_speed = tx.session().AverageSpeed();
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        double value = 0;
        const bool option = arg == "--size" || arg == "--loss" || arg == "--seed";
        if (option && (i + 1 >= argc || !ParseNumber(argv[i + 1], value))) {
            std::fprintf(stderr, "kavra-link-report: %s needs a number (see --help)\n", argv[i]);
            return 2;
        }
        if (option) {
            ++i;
            if (arg == "--size" && value >= 0 && value <= 1e9 && value == static_cast<double>(static_cast<std::size_t>(value))) {
                options.size = static_cast<std::size_t>(value);
                continue;
            }
            if (arg == "--loss" && value >= 0 && value <= 0.9) {
                options.loss = value;
                continue;
            }
            if (arg == "--seed" && value >= 0 && value == static_cast<double>(static_cast<std::uint64_t>(value))) {
                options.seed = static_cast<std::uint64_t>(value);
                continue;
            }
        }
        std::fprintf(stderr, "kavra-link-report: bad argument '%s' (see --help)\n", argv[option ? i - 1 : i]);
        return 2;
    }

    std::printf("File of %zu bytes, %.0f %% of blocks lost; air time from the first FileOffer burst to\n"
                "\"sended succesfully\" on virtual time.\n\n",
                options.size, options.loss * 100);
    std::printf("%-5s %-9s %-12s %10s %12s %11s %10s %15s\n", "type", "ModeClass", "data mode", "raw bit/s", "air time s",
                "file bit/s", "of raw", "station bit/s");
    bool all_ok = true;
    for (int type = 0; type <= 1; ++type) {
        for (int mode_class : {1, 3, 5}) {
            const Row r = Measure(type, mode_class, options);
            const int raw = kavra::modem::DataRateBps(type, mode_class);
            const std::string name(kavra::modem::ModeName(mode_class, type));
            if (!r.ok) {
                std::printf("%-5d %-9d %-12s %10d %12s\n", type, mode_class, name.c_str(), raw, "failed");
                all_ok = false;
                continue;
            }
            std::printf("%-5d %-9d %-12s %10d %12.1f %11.0f %9.0f%% %15u\n", type, mode_class, name.c_str(), raw, r.seconds,
                        r.bits_per_second, 100.0 * r.bits_per_second / raw, r.station_speed);
        }
    }
    std::printf("\n\"station bit/s\" is the speed the sender logs (from the accepting FileReply to the last\n"
                "acknowledgement).\n");
    return all_ok ? 0 : 1;
}
