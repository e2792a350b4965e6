// HF channel simulator speed, as a real-time factor (seconds of audio per second of computing),
// for the usual set-ups: fading and noise at 48000 Hz (the target: at least 100), each effect
// alone, and the rate changes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "sim/hf_channel.h"

namespace kavra::sim {
namespace {

enum Effects : int { kNone = 0, kNoise = 1, kFading = 2, kOffsets = 4 };

void BM_Channel(benchmark::State& state, int in_rate, int out_rate, int effects) {
    HfChannelSettings s;
    s.input_rate_hz = in_rate;
    s.output_rate_hz = out_rate;
    if (effects & kNoise) {
        s.snr_db = 10.0;
        s.signal_power = 1e8;
    }
    if (effects & kFading) s.fading = FindFadingPreset("poor");
    if (effects & kOffsets) {
        s.freq_offset_hz = 3.5;
        s.clock_offset_ppm = 40;
    }
    // Ten seconds of a two-tone signal, fed in 4000-sample chunks as a capture loop would.
    std::vector<float> input(static_cast<std::size_t>(10 * in_rate));
    for (std::size_t n = 0; n < input.size(); ++n)
        input[n] = static_cast<float>(8000 * std::cos(0.2 * static_cast<double>(n)) + 5000 * std::sin(0.37 * static_cast<double>(n)));
    HfChannel channel(s);
    constexpr std::size_t kChunk = 4000;
    std::vector<float> out(channel.MaxOutput(kChunk));
    for (auto _ : state) {
        for (std::size_t at = 0; at < input.size(); at += kChunk) {
            const std::size_t n = channel.Process(std::span<const float>(input).subspan(at, kChunk), std::span<float>(out));
            benchmark::DoNotOptimize(out.data());
            benchmark::DoNotOptimize(n);
        }
        benchmark::ClobberMemory();
    }
    const double audio_seconds = 10.0;
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(input.size()));
    state.counters["realtime_x"] =
        benchmark::Counter(audio_seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_Channel, poor_fading_noise_offsets_48k, 48000, 48000, kNoise | kFading | kOffsets)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Channel, poor_fading_noise_48k, 48000, 48000, kNoise | kFading)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Channel, noise_only_48k, 48000, 48000, kNoise)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Channel, band_only_48k, 48000, 48000, kNone)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Channel, everything_8k_to_48k, 8000, 48000, kNoise | kFading | kOffsets)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Channel, everything_48k_to_8k, 48000, 8000, kNoise | kFading | kOffsets)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Channel, everything_8k, 8000, 8000, kNoise | kFading | kOffsets)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kavra::sim

BENCHMARK_MAIN();
