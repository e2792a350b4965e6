// kavra-modem ber: the performance sweep (transmitter -> HF channel -> receiver, in process),
// written as CSV, JSON and an SVG plot; and the false-detection run on noise-only audio.
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "modem/common/mode_table.h"
#include "perf/ber_plot.h"
#include "perf/ber_sweep.h"
#include "perf/noise_run.h"
#include "sim/hf_channel.h"
#include "tools/kavra_modem/command.h"

namespace kavra::tools {

namespace {

struct BerOptions {
    int type = -1;
    std::string modes = "0,1,2,3,4,5";
    std::string channel = "awgn";
    std::optional<double> delay_ms;
    std::optional<double> spread_hz;
    std::string snr = "0:12:1";
    double freq_offset_hz = 0.0;
    double clock_ppm = 0.0;
    double max_bits = 1e6;
    int error_blocks = 20;
    int error_transmissions = 10;
    int transmissions = 0;
    int blocks = 0;
    std::uint64_t seed = 1;
    int threads = 2;
    bool no_skip = false;
    bool ideal = false;
    std::string csv = "-";
    std::optional<std::string> json;
    std::optional<std::string> svg;
    std::optional<std::string> title;
    std::optional<double> noise_only_seconds;
    double noise_rms = 1000.0;
};

bool InRange(double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; }

double ParseNumber(const std::string& text, const std::string& what) {
    std::size_t used = 0;
    double v = 0.0;
    try {
        v = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(v))
        throw ToolError(what + ": \"" + text + "\" is not a number");
    return v;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

std::vector<int> ParseModes(const std::string& text, int type) {
    std::vector<int> modes;
    for (const std::string& part : Split(text, ',')) {
        const double v = ParseNumber(part, "--modes");
        const int m = static_cast<int>(v);
        if (v != m || !perf::IsSweepMode(type, m))
            throw ToolError("--modes: " + part + " is not a mode that can be sent under type " + std::to_string(type) +
                            (type == 0 ? " (0..5, or 12 for the 4800 bit/s test signal)" : " (0..5)"));
        for (int seen : modes)
            if (seen == m) throw ToolError("--modes: mode " + part + " is listed twice");
        modes.push_back(m);
    }
    return modes;
}

// "FROM:TO:STEP" or a comma-separated ascending list.
std::vector<double> ParseSnr(const std::string& text) {
    std::vector<double> snr;
    const auto range = Split(text, ':');
    if (range.size() == 3) {
        const double from = ParseNumber(range[0], "--snr");
        const double to = ParseNumber(range[1], "--snr");
        const double step = ParseNumber(range[2], "--snr");
        if (!(step > 0.0) || to < from) throw ToolError("--snr FROM:TO:STEP needs FROM <= TO and STEP > 0");
        const double count = std::floor((to - from) / step + 1e-9) + 1;
        if (count > 200) throw ToolError("--snr gives more than 200 points");
        for (int i = 0; i < static_cast<int>(count); ++i) snr.push_back(std::round((from + i * step) * 1e6) / 1e6);
    } else if (range.size() == 1) {
        for (const std::string& part : Split(text, ',')) snr.push_back(ParseNumber(part, "--snr"));
        if (snr.size() > 200) throw ToolError("--snr gives more than 200 points");
    } else {
        throw ToolError("--snr must be FROM:TO:STEP or a list such as 3,5,7");
    }
    for (std::size_t i = 0; i < snr.size(); ++i) {
        if (!InRange(snr[i], -20.0, 60.0)) throw ToolError("--snr points must be -20..60 dB");
        if (i > 0 && snr[i] <= snr[i - 1]) throw ToolError("--snr points must be in ascending order");
    }
    return snr;
}

perf::SweepChannel ChooseChannel(const BerOptions& o) {
    perf::SweepChannel c;
    c.name = o.channel;
    if (o.channel != "awgn") {
        c.fading = sim::FindFadingPreset(o.channel);
        if (!c.fading)
            throw ToolError("--channel must be awgn, good, moderate, poor or flutter (not \"" + o.channel + "\")");
    } else if (o.delay_ms || o.spread_hz) {
        if (!o.delay_ms || !o.spread_hz) throw ToolError("--delay and --spread go together (or start from a --channel preset)");
        c.fading = sim::FadingSettings{};
    }
    if (c.fading) {
        if (o.delay_ms) c.fading->delay_ms = *o.delay_ms;
        if (o.spread_hz) c.fading->spread_hz = *o.spread_hz;
        if (o.delay_ms || o.spread_hz) c.name = "custom";
        if (!InRange(c.fading->delay_ms, 0.0, 10.0)) throw ToolError("--delay must be 0..10 ms");
        if (!InRange(c.fading->spread_hz, 0.01, 50.0)) throw ToolError("--spread must be 0.01..50 Hz");
    }
    if (!InRange(o.freq_offset_hz, -100.0, 100.0)) throw ToolError("--freq-offset must be -100..100 Hz");
    if (!InRange(o.clock_ppm, -1000.0, 1000.0)) throw ToolError("--clock-ppm must be -1000..1000 ppm");
    c.freq_offset_hz = o.freq_offset_hz;
    c.clock_offset_ppm = o.clock_ppm;
    return c;
}

std::string ModeName(int type, int mode) {
    return mode == perf::kMode4800 ? std::string("4800") : std::string(modem::ModeName(mode, type));
}

std::string ChannelText(const perf::SweepChannel& c) {
    char text[128];
    if (c.fading)
        std::snprintf(text, sizeof text, "%s (%g ms, %g Hz)", c.name.c_str(), c.fading->delay_ms, c.fading->spread_hz);
    else
        std::snprintf(text, sizeof text, "awgn");
    std::string s = text;
    if (c.freq_offset_hz != 0.0 || c.clock_offset_ppm != 0.0) {
        std::snprintf(text, sizeof text, ", offset %g Hz, clock %g ppm", c.freq_offset_hz, c.clock_offset_ppm);
        s += text;
    }
    return s;
}

std::vector<std::uint8_t> Bytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

std::string Csv(const perf::SweepResult& r) {
    const auto& s = r.settings;
    std::string out =
        "type,channel,mode,mode_name,snr_db,skipped,transmissions,bits,bit_errors,ber,ber_upper95,blocks,errored_blocks,"
        "edge_errors,head_errors,detected,mode_right,complete,eom,detection_rate,mode_rate,frame_loss_rate,extra_frames,"
        "sync_losses,snr_frames,snr_avg,snr_min,snr_max,decision_snr_db,es_n0_db,received_bits,received_bit_errors,air_seconds,cpu_seconds\n";
    char line[640];
    for (const perf::PointResult& p : r.points) {
        const double n = p.snr_frames > 0 ? p.snr_frames : 1;
        char decision[32] = "";
        if (auto d = p.decision.snr_db()) std::snprintf(decision, sizeof decision, "%.2f", *d);
        std::snprintf(line, sizeof line,
                      "%d,%s,%d,%s,%g,%d,%d,%lld,%lld,%.4g,%.4g,%lld,%lld,%lld,%lld,%d,%d,%d,%d,%.4f,%.4f,%.4f,%d,%d,%d,%.2f,%.2f,"
                      "%.2f,%s,%.2f,%lld,%lld,%.1f,%.1f\n",
                      s.modem_type, s.channel.name.c_str(), p.mode, ModeName(s.modem_type, p.mode).c_str(), p.snr_db,
                      p.skipped ? 1 : 0, p.transmissions, static_cast<long long>(p.bits),
                      static_cast<long long>(p.bit_errors), p.ber(), p.ber_upper(), static_cast<long long>(p.blocks),
                      static_cast<long long>(p.errored_blocks), static_cast<long long>(p.edge_errors),
                      static_cast<long long>(p.head_errors), p.detected,
                      p.mode_right, p.complete, p.eom, p.detection_rate(), p.mode_rate(), p.frame_loss_rate(),
                      p.extra_frames, p.sync_losses, p.snr_frames, p.snr_avg_sum / n, p.snr_min_sum / n,
                      p.snr_max_sum / n, decision, perf::EsN0Db(s.modem_type, p.snr_db),
                      static_cast<long long>(p.received_bits), static_cast<long long>(p.received_bit_errors), p.air_seconds,
                      p.cpu_seconds);
        out += line;
    }
    return out;
}

nlohmann::json CrossingJson(const perf::Crossing& c, double ber) {
    static const char* kKinds[] = {"between", "at_most", "below_range", "above_range", "unresolved"};
    return {{"ber", ber},
            {"kind", kKinds[static_cast<int>(c.kind)]},
            {"snr_db", c.snr_db},
            {"text", perf::DescribeCrossing(c)}};
}

std::vector<perf::PointResult> PointsOf(const perf::SweepResult& r, int mode) {
    std::vector<perf::PointResult> points;
    for (const auto& p : r.points)
        if (p.mode == mode) points.push_back(p);
    return points;
}

nlohmann::json Json(const perf::SweepResult& r) {
    const auto& s = r.settings;
    nlohmann::json settings{
        {"modem_type", s.modem_type},
        {"modes", s.modes},
        {"channel", s.channel.name},
        {"snr_db", s.snr_db},
        {"freq_offset_hz", s.channel.freq_offset_hz},
        {"clock_offset_ppm", s.channel.clock_offset_ppm},
        {"max_bits", s.max_bits},
        {"target_error_blocks", s.target_error_blocks},
        {"target_error_transmissions", s.target_error_transmissions},
        {"fixed_transmissions", s.fixed_transmissions},
        {"blocks_per_transmission", s.blocks_per_transmission},
        {"skip_after_clean", s.skip_after_clean},
        {"ideal_receiver", s.ideal_receiver},
        {"seed", s.seed},
        {"threads", s.threads},
    };
    if (s.channel.fading)
        settings["fading"] = {{"delay_ms", s.channel.fading->delay_ms}, {"spread_hz", s.channel.fading->spread_hz}};
    nlohmann::json points = nlohmann::json::array();
    double cpu = 0.0;
    for (const auto& p : r.points) {
        cpu += p.cpu_seconds;
        nlohmann::json modes = nlohmann::json::object();
        for (std::size_t m = 0; m < p.detected_modes.size(); ++m)
            if (p.detected_modes[m] > 0) modes[std::to_string(m)] = p.detected_modes[m];
        nlohmann::json point{
            {"mode", p.mode},
            {"mode_name", ModeName(s.modem_type, p.mode)},
            {"snr_db", p.snr_db},
            {"skipped", p.skipped},
            {"transmissions", p.transmissions},
            {"errored_transmissions", p.errored_transmissions},
            {"bits", p.bits},
            {"bit_errors", p.bit_errors},
            {"ber", p.ber()},
            {"ber_upper95", p.ber_upper()},
            {"blocks", p.blocks},
            {"errored_blocks", p.errored_blocks},
            {"edge_errors", p.edge_errors},
            {"head_errors", p.head_errors},
            {"detected", p.detected},
            {"mode_right", p.mode_right},
            {"complete", p.complete},
            {"eom", p.eom},
            {"detection_rate", p.detection_rate()},
            {"mode_rate", p.mode_rate()},
            {"frame_loss_rate", p.frame_loss_rate()},
            {"detected_modes", modes},
            {"extra_frames", p.extra_frames},
            {"sync_losses", p.sync_losses},
            {"es_n0_db", perf::EsN0Db(s.modem_type, p.snr_db)},
            {"received_bits", p.received_bits},
            {"received_bit_errors", p.received_bit_errors},
            {"received_ber", p.received_ber()},
            {"air_seconds", p.air_seconds},
            {"cpu_seconds", p.cpu_seconds},
        };
        if (auto d = p.decision.snr_db()) point["decision_snr_db"] = *d;
        if (p.doppler_frames > 0) point["receiver_doppler_hz"] = p.doppler_sum_hz / p.doppler_frames;
        point["sparse_equalizer_frames"] = p.sparse_frames;
        if (auto d = p.decision.phase_excess_db()) point["decision_phase_excess_db"] = *d;
        if (p.snr_frames > 0)
            point["receiver_snr_db"] = {{"frames", p.snr_frames},
                                        {"avg", p.snr_avg_sum / p.snr_frames},
                                        {"min", p.snr_min_sum / p.snr_frames},
                                        {"max", p.snr_max_sum / p.snr_frames}};
        points.push_back(point);
    }
    nlohmann::json summary = nlohmann::json::array();
    for (int mode : s.modes) {
        const auto mine = PointsOf(r, mode);
        nlohmann::json entry{{"mode", mode},
                             {"mode_name", ModeName(s.modem_type, mode)},
                             {"crossings", {CrossingJson(perf::FindCrossing(mine, 1e-5), 1e-5),
                                            CrossingJson(perf::FindCrossing(mine, 1e-3), 1e-3)}}};
        if (!s.channel.fading) {
            if (auto bound = perf::IdealBoundDb(s.modem_type, mode)) entry["ideal_bound_db_at_1e-5"] = *bound;
        }
        nlohmann::json reqs = nlohmann::json::array();
        for (const perf::Requirement& q : perf::Requirements()) {
            const bool channel_fits = q.channel == (s.channel.fading ? s.channel.name : std::string("awgn"));
            if (!channel_fits || s.modem_type != 0) continue;
            bool applies = false;
            for (int m : q.modes) applies |= m == mode;
            if (!applies) continue;
            const perf::Crossing c = perf::FindCrossing(mine, q.ber);
            nlohmann::json met = nullptr;
            if (c.kind == perf::Crossing::Kind::AboveRange) met = false;
            else if (c.kind != perf::Crossing::Kind::Unresolved) met = c.snr_db <= q.snr_db;
            reqs.push_back({{"rate", q.rate}, {"snr_db", q.snr_db}, {"ber", q.ber}, {"crossing", CrossingJson(c, q.ber)}, {"met", met}});
        }
        if (!reqs.empty()) entry["requirements"] = reqs;
        summary.push_back(entry);
    }
    return {{"settings", settings},
            {"summary", summary},
            {"points", points},
            {"timing", {{"wall_seconds", r.wall_seconds}, {"cpu_seconds", cpu}}}};
}

void RunNoise(const BerOptions& o) {
    if (!InRange(*o.noise_only_seconds, 1.0, 36000.0)) throw ToolError("--noise-only must be 1..36000 seconds");
    if (!InRange(o.noise_rms, 10.0, 8000.0)) throw ToolError("--noise-rms must be 10..8000");
    if (o.threads < 1 || o.threads > 64) throw ToolError("--threads must be 1..64");
    perf::NoiseRunSettings s;
    s.modem_type = o.type;
    s.seconds = *o.noise_only_seconds;
    s.noise_rms = o.noise_rms;
    s.seed = o.seed;
    s.threads = o.threads;
    const perf::NoiseRunResult r = perf::RunNoiseOnly(s);
    const nlohmann::json report{{"modem_type", o.type},
                                {"seconds", r.seconds},
                                {"noise_rms", o.noise_rms},
                                {"seed", o.seed},
                                {"preamble_starts", r.preamble_starts},
                                {"sync_losses", r.sync_losses},
                                {"data_starts", r.data_starts},
                                {"frames", r.frames},
                                {"blocks", r.blocks},
                                {"bytes", r.bytes},
                                {"cpu_seconds", r.cpu_seconds}};
    if (o.json) WriteAllBytes(*o.json, Bytes(report.dump(2) + "\n"));
    std::fprintf(stderr,
                 "kavra-modem ber: type %d, %.0f s of noise: %d preamble start%s (%d timed out), %d switch%s to data, "
                 "%d decoded frame%s (%d blocks, %lld bytes); %.1f s cpu\n",
                 o.type, r.seconds, r.preamble_starts, r.preamble_starts == 1 ? "" : "s", r.sync_losses, r.data_starts,
                 r.data_starts == 1 ? "" : "es", r.frames, r.frames == 1 ? "" : "s", r.blocks, r.bytes, r.cpu_seconds);
}

void RunBer(const BerOptions& o) {
    if (!modem::IsValidModemType(o.type)) throw ToolError("--type must be 0 (2400 Bd) or 1 (2000 Bd)");
    if (o.noise_only_seconds) {
        RunNoise(o);
        return;
    }
    if (o.json && *o.json == "-" && o.csv == "-")
        throw ToolError("--json - and the CSV table cannot both go to standard output (give --csv FILE)");
    perf::SweepSettings s;
    s.modem_type = o.type;
    s.modes = ParseModes(o.modes, o.type);
    s.channel = ChooseChannel(o);
    s.snr_db = ParseSnr(o.snr);
    if (!InRange(o.max_bits, 1000.0, 1e10)) throw ToolError("--max-bits must be 1000..1e10");
    if (o.error_blocks < 1 || o.error_blocks > 1000000) throw ToolError("--error-blocks must be at least 1");
    if (o.error_transmissions < 1 || o.error_transmissions > 1000000) throw ToolError("--error-transmissions must be at least 1");
    if (o.transmissions < 0 || o.transmissions > 1000000) throw ToolError("--transmissions must be 0..1000000");
    if (o.blocks < 0 || o.blocks > 100) throw ToolError("--blocks must be 1..100 (0: automatic)");
    if (o.threads < 1 || o.threads > 64) throw ToolError("--threads must be 1..64");
    s.max_bits = static_cast<std::int64_t>(o.max_bits);
    s.target_error_blocks = o.error_blocks;
    s.target_error_transmissions = o.error_transmissions;
    s.fixed_transmissions = o.transmissions;
    s.blocks_per_transmission = o.blocks;
    s.seed = o.seed;
    s.threads = o.threads;
    s.skip_after_clean = !o.no_skip;
    s.ideal_receiver = o.ideal;
    if (auto problem = perf::CheckSettings(s)) throw ToolError(*problem);

    const std::string channel_text = ChannelText(s.channel);
    const perf::SweepResult result = perf::RunSweep(s, [&](const perf::PointResult& p) {
        if (p.skipped) {
            std::fprintf(stderr, "type %d %s mode %d (%s) %5.1f dB: skipped (a lower SNR was error-free)\n", s.modem_type,
                         s.channel.name.c_str(), p.mode, ModeName(s.modem_type, p.mode).c_str(), p.snr_db);
            return;
        }
        std::fprintf(stderr,
                     "type %d %s mode %d (%s) %5.1f dB: BER %.3g (%lld/%lld bits, %d tx), found %d, mode right %d, "
                     "complete %d; %.1f s cpu\n",
                     s.modem_type, s.channel.name.c_str(), p.mode, ModeName(s.modem_type, p.mode).c_str(), p.snr_db,
                     p.ber(), static_cast<long long>(p.bit_errors), static_cast<long long>(p.bits), p.transmissions,
                     p.detected, p.mode_right, p.complete, p.cpu_seconds);
    });

    // Everything is formatted before anything is written.
    const std::string csv = Csv(result);
    const std::string json = o.json ? Json(result).dump(2) + "\n" : std::string();
    char title[160];
    std::snprintf(title, sizeof title, "Modem type %d, %s%s, seed %llu", s.modem_type, channel_text.c_str(),
                  s.ideal_receiver ? ", ideal coherent reference" : "", static_cast<unsigned long long>(s.seed));
    const std::string svg = o.svg ? perf::BerPlotSvg(result, o.title.value_or(title)) : std::string();
    if (o.json) WriteAllBytes(*o.json, Bytes(json));
    if (o.svg) WriteAllBytes(*o.svg, Bytes(svg));
    WriteAllBytes(o.csv, Bytes(csv));

    for (int mode : s.modes) {
        const auto mine = PointsOf(result, mode);
        std::fprintf(stderr, "type %d %s mode %d (%s): BER 1e-5 at %s, 1e-3 at %s\n", s.modem_type, channel_text.c_str(),
                     mode, ModeName(s.modem_type, mode).c_str(),
                     perf::DescribeCrossing(perf::FindCrossing(mine, 1e-5)).c_str(),
                     perf::DescribeCrossing(perf::FindCrossing(mine, 1e-3)).c_str());
    }
    std::fprintf(stderr, "kavra-modem ber: %zu points in %.1f s\n", result.points.size(), result.wall_seconds);
}

}  // namespace

void AddBerCommand(CLI::App& app) {
    auto options = std::make_shared<BerOptions>();
    CLI::App* ber = app.add_subcommand(
        "ber",
        "Measure the bit error rate against SNR: seeded random messages go through the transmitter, the simulated HF "
        "channel and the receiver in process (on --threads workers), and the errors are counted over all message bits "
        "sent. Bits of a frame that was never received (not detected, wrong mode read, ended early) count as errors, "
        "so the BER includes synchronisation losses. SNR is the mean signal power over the noise power in a 3000 Hz "
        "bandwidth. Each point runs until --max-bits bits, or until --error-blocks interleaver blocks with errors in at "
        "least --error-transmissions transmissions; once a point is error-free over --max-bits, the higher SNRs of "
        "that mode are skipped. The same seed gives the same "
        "figures on any number of threads. Writes CSV (and optionally JSON and an SVG plot with the required minimum "
        "performance drawn on it). With --noise-only, feeds that many seconds of noise-only audio to the receiver "
        "instead and counts false detections.");
    ber->add_option("--type", options->type, "Modem type: 0 = 2400 symbols/s, 1 = 2000 symbols/s")->required();
    ber->add_option("--modes", options->modes,
                    "Comma-separated data modes 0..5 (type 0 also 12: the receive-only 4800 bit/s mode, sent by a "
                    "test signal generator)")
        ->capture_default_str();
    ber->add_option("--channel", options->channel,
                    "awgn, or a two-path fading preset: good (0.5 ms, 0.1 Hz), moderate (1 ms, 0.5 Hz), poor (2 ms, "
                    "1 Hz), flutter (0.5 ms, 10 Hz)")
        ->capture_default_str();
    ber->add_option("--delay", options->delay_ms, "Differential delay of the second path, 0..10 ms (custom fading)");
    ber->add_option("--spread", options->spread_hz, "Doppler spread of each path (two-sigma), 0.01..50 Hz (custom fading)");
    ber->add_option("--snr", options->snr,
                    "SNR points in 3000 Hz, dB: FROM:TO:STEP or an ascending list such as 3,5,7 (-20..60)")
        ->capture_default_str();
    ber->add_option("--freq-offset", options->freq_offset_hz, "Carrier frequency offset, -100..100 Hz")->capture_default_str();
    ber->add_option("--clock-ppm", options->clock_ppm, "Sending card's clock offset, -1000..1000 ppm")->capture_default_str();
    ber->add_option("--max-bits", options->max_bits, "Most message bits per point (1e6 resolves BER 1e-5 roughly)")
        ->capture_default_str();
    ber->add_option("--error-blocks", options->error_blocks,
                    "A point ends after this many interleaver blocks with errors (with --error-transmissions)")
        ->capture_default_str();
    ber->add_option("--error-transmissions", options->error_transmissions,
                    "... spread over at least this many transmissions with errors")
        ->capture_default_str();
    ber->add_option("--transmissions", options->transmissions,
                    "Exactly this many transmissions per point instead (0: the rules above)")
        ->capture_default_str();
    ber->add_option("--blocks", options->blocks,
                    "Interleaver blocks per transmission (0: 20 short or 3 long blocks, about 12 s of data)")
        ->capture_default_str();
    ber->add_option("--seed", options->seed, "Seed of messages, noise and fading")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    ber->add_option("--threads", options->threads, "Worker threads, 1..64")->capture_default_str();
    ber->add_flag("--no-skip", options->no_skip, "Run every SNR point even after an error-free one");
    ber->add_flag("--ideal", options->ideal,
                  "Reference instead of the receiver: the symbols sent plus white Gaussian noise at the same Es/N0, "
                  "formed into soft values as the receiver does and decoded by the same decoder (AWGN, modes 0..5)");
    ber->add_option("--csv", options->csv, "File for the CSV table, - for standard output")->capture_default_str();
    ber->add_option("--json", options->json, "File for the JSON report (points, crossings, requirements), - for standard output");
    ber->add_option("--svg", options->svg, "File for the SVG plot of BER against SNR");
    ber->add_option("--title", options->title, "Title of the plot");
    ber->add_option("--noise-only", options->noise_only_seconds,
                    "Instead of a sweep: feed this many seconds of noise-only audio (1..36000) and count preamble "
                    "starts, switches to data and decoded frames (JSON to --json)");
    ber->add_option("--noise-rms", options->noise_rms, "Noise level in 3000 Hz for --noise-only, sample units")
        ->capture_default_str();
    ber->callback([options] { RunBer(*options); });
}

}  // namespace kavra::tools
