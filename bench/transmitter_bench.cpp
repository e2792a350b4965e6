// Transmitter speed: the longest burst (176 link blocks in mode 1) and one link block per mode,
// reported as samples per second and as a real-time factor.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "modem/tx/serial_tone_transmitter.h"

namespace kavra::modem {
namespace {

void BM_Transmit(benchmark::State& state, TransmitProfile profile, int mode, std::size_t bytes) {
    const auto& info = ProfileInfo(profile);
    auto tx = std::make_unique<SerialToneTransmitter>(profile);
    std::vector<std::uint8_t> message(bytes);
    for (std::size_t i = 0; i < bytes; ++i) message[i] = static_cast<std::uint8_t>(i * 131 + 7);
    std::vector<std::int16_t> out(SerialToneTransmitter::kSchedulerCapacity);
    std::uint32_t count = 0;
    for (auto _ : state) {
        tx->Transmit(message, info.carrier_hz, info.nominal_rate_hz, mode, out, count);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const double audio_seconds = static_cast<double>(count) / info.nominal_rate_hz;
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * count);
    state.counters["audio_s"] = audio_seconds;
    // Seconds of audio made per second of computing.
    state.counters["realtime_x"] =
        benchmark::Counter(audio_seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_Transmit, longest_burst_type0_mode1, TransmitProfile::Profile2400At48k, 1, 176 * 65)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transmit, longest_burst_type1_48k, TransmitProfile::Profile2000At48k, 1, 176 * 65)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transmit, longest_burst_type1_8k, TransmitProfile::Profile2000At8k, 1, 176 * 65)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transmit, link_block_type0_mode0, TransmitProfile::Profile2400At48k, 0, 65)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transmit, link_block_type0_mode4, TransmitProfile::Profile2400At48k, 4, 65)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kavra::modem

BENCHMARK_MAIN();
