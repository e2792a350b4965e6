// kavra-modem channel: a recording through the simulated HF channel.
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/hf_channel.h"
#include "tools/kavra_modem/command.h"
#include "tools/common/wav_io.h"

namespace kavra::tools {

namespace {

using sim::FadingSettings;
using sim::HfChannelSettings;

struct ChannelOptions {
    std::string fading = "none";
    std::optional<double> delay_ms;
    std::optional<double> spread_hz;
    std::optional<double> snr_db;
    std::optional<double> signal_rms;
    double freq_offset_hz = 0.0;
    double clock_ppm = 0.0;
    std::optional<int> rate;
    double gain_db = 0.0;
    std::uint64_t seed = 1;
    std::string input = "-";
    std::string output = "-";
};

bool InRange(double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; }

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// The fading the options ask for, or none.
std::optional<FadingSettings> ChooseFading(const ChannelOptions& o) {
    std::optional<FadingSettings> fading;
    if (o.fading != "none") {
        fading = sim::FindFadingPreset(o.fading);
        if (!fading) throw ToolError("--fading must be none, good, moderate, poor or flutter (not \"" + o.fading + "\")");
    } else if (o.delay_ms || o.spread_hz) {
        if (!o.delay_ms || !o.spread_hz)
            throw ToolError("--delay and --spread go together (or start from a --fading preset)");
        fading = FadingSettings{};
    }
    if (!fading) return fading;
    if (o.delay_ms) fading->delay_ms = *o.delay_ms;
    if (o.spread_hz) fading->spread_hz = *o.spread_hz;
    if (!InRange(fading->delay_ms, 0.0, 10.0)) throw ToolError("--delay must be 0..10 ms");
    if (!InRange(fading->spread_hz, 0.01, 50.0)) throw ToolError("--spread must be 0.01..50 Hz");
    return fading;
}

void RunChannel(const ChannelOptions& o) {
    HfChannelSettings s;
    s.fading = ChooseFading(o);
    if (o.snr_db && !InRange(*o.snr_db, -50.0, 100.0)) throw ToolError("--snr must be -50..100 dB");
    if (o.signal_rms && !InRange(*o.signal_rms, 0.001, 1e6)) throw ToolError("--signal-rms must be above 0 (at most 1e6)");
    if (!InRange(o.freq_offset_hz, -500.0, 500.0)) throw ToolError("--freq-offset must be -500..500 Hz");
    if (!InRange(o.clock_ppm, -50000.0, 50000.0)) throw ToolError("--clock-ppm must be -50000..50000 ppm");
    if (o.rate && *o.rate != 8000 && *o.rate != 48000) throw ToolError("--rate must be 8000 or 48000");
    if (!InRange(o.gain_db, -60.0, 60.0)) throw ToolError("--gain must be -60..60 dB");

    const WavAudio in = DecodeWav(ReadAllBytes(o.input), o.input == "-" ? "standard input" : o.input);
    if (in.sample_rate != 8000 && in.sample_rate != 48000)
        throw ToolError((o.input == "-" ? std::string("standard input") : o.input) + ": sample rate " +
                        std::to_string(in.sample_rate) + " Hz, expected 8000 or 48000");
    s.input_rate_hz = in.sample_rate;
    s.output_rate_hz = o.rate.value_or(in.sample_rate);
    s.freq_offset_hz = o.freq_offset_hz;
    s.clock_offset_ppm = o.clock_ppm;
    s.output_gain = std::pow(10.0, o.gain_db / 20.0);
    s.seed = o.seed;
    const double measured_power = sim::MeasureSignalPower(std::span<const std::int16_t>(in.samples));
    s.signal_power = o.signal_rms ? *o.signal_rms * *o.signal_rms : measured_power;
    if (o.snr_db) {
        if (s.signal_power <= 0.0) throw ToolError("the input is silent: give --signal-rms to set the noise level");
        s.snr_db = o.snr_db;
    }
    if (auto problem = sim::CheckSettings(s)) throw ToolError(*problem);

    const std::vector<float> samples(in.samples.begin(), in.samples.end());
    const std::vector<float> out = sim::ApplyChannel(s, samples);
    std::vector<std::int16_t> pcm(out.size());
    const std::size_t clipped = sim::ToPcm16(out, pcm);
    WriteAllBytes(o.output, EncodeWav(pcm, s.output_rate_hz));

    std::string fading = "no fading";
    if (s.fading)
        fading = "fading " + (o.fading == "none" ? std::string("two paths") : o.fading) + " (" +
                 Number(s.fading->delay_ms) + " ms, " + Number(s.fading->spread_hz) + " Hz)";
    std::string noise = "no noise";
    if (s.snr_db)
        noise = "SNR " + Number(*s.snr_db) + " dB in 3 kHz (signal rms " + Number(std::sqrt(s.signal_power)) +
                (o.signal_rms ? ", given" : ", measured") + ")";
    std::fprintf(stderr,
                 "kavra-modem channel: %zu samples at %d Hz -> %zu at %d Hz; %s; %s; offset %s Hz; clock %s ppm; "
                 "seed %llu; %zu sample%s clipped%s\n",
                 in.samples.size(), s.input_rate_hz, pcm.size(), s.output_rate_hz, fading.c_str(), noise.c_str(),
                 Number(s.freq_offset_hz).c_str(), Number(s.clock_offset_ppm).c_str(),
                 static_cast<unsigned long long>(s.seed), clipped, clipped == 1 ? "" : "s",
                 clipped > 0 ? " (lower --gain to avoid it)" : "");
}

}  // namespace

void AddChannelCommand(CLI::App& app) {
    auto options = std::make_shared<ChannelOptions>();
    CLI::App* channel = app.add_subcommand(
        "channel",
        "Pass a recording (16-bit mono WAV at 8000 or 48000 Hz) through a simulated HF channel: the radio's pass "
        "band (250..3750 Hz; nothing outside it comes through), two-path fading, carrier and sample-clock offsets, "
        "and white Gaussian noise. SNR is the mean signal power over the noise power in a 3000 Hz bandwidth; the "
        "signal power is measured on the input from the first to the last sample reaching 1 % of its peak (so "
        "leading and trailing silence do not count), or given by --signal-rms. The noise is white over the pass "
        "band. Output sample k is the input at instant k / rate (path one). The same seed gives the same output.");
    channel->add_option("--fading", options->fading,
                        "Fading preset: none, good (0.5 ms, 0.1 Hz), moderate (1 ms, 0.5 Hz), poor (2 ms, 1 Hz), "
                        "flutter (0.5 ms, 10 Hz): two independent Rayleigh paths of equal mean power with Gaussian "
                        "Doppler spectra")
        ->capture_default_str();
    channel->add_option("--delay", options->delay_ms,
                        "Differential delay of the second path, 0..10 ms (overrides the preset's; without a preset "
                        "give --spread too)");
    channel->add_option("--spread", options->spread_hz,
                        "Doppler spread of each path (two-sigma width), 0.01..50 Hz (overrides the preset's)");
    channel->add_option("--snr", options->snr_db, "Signal-to-noise ratio in 3000 Hz, -50..100 dB (default: no noise)");
    channel->add_option("--signal-rms", options->signal_rms,
                        "Signal level (rms, in sample units) the SNR refers to, instead of the measured one");
    channel->add_option("--freq-offset", options->freq_offset_hz, "Carrier frequency offset, -500..500 Hz")
        ->capture_default_str();
    channel->add_option("--clock-ppm", options->clock_ppm,
                        "Sample-clock offset of the sending card against the receiving one, -50000..50000 ppm: at "
                        "+100 the audio comes out 100 ppm shorter and higher; a tone at f leaves at "
                        "f * (1 + ppm / 1e6) + offset")
        ->capture_default_str();
    channel->add_option("--rate", options->rate, "Output sample rate, 8000 or 48000 (default: the input's)");
    channel->add_option("--gain", options->gain_db,
                        "Output gain, -60..60 dB; the output is clipped to 16 bits and the clipped samples counted")
        ->capture_default_str();
    channel->add_option("--seed", options->seed, "Seed of the noise and fading, 0..18446744073709551615")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    channel->add_option("-i,--input", options->input, "WAV file to read, - for standard input")->capture_default_str();
    channel->add_option("-o,--output", options->output, "WAV file to write, - for standard output")
        ->capture_default_str();
    channel->callback([options] { RunChannel(*options); });
}

}  // namespace kavra::tools
