// Receiver speed: seconds of 48000 Hz capture audio processed per second of CPU (the
// real-time factor, counter "x_realtime"), for both modem types and every kernel set, while
// searching (noise, the correlator runs) and while demodulating data (equaliser and decoder),
// on a clean signal and, for type 0, on two paths 2 ms apart with 5 Hz of Doppler spread at
// 30 dB (the equaliser then works on its sparse set of taps with the faster forgetting) and in
// Gaussian noise at 9 dB (each block equalised again with its interference taken away).
// Also checks that ProcessSample allocates nothing (counter "allocations" must be 0).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <span>
#include <random>
#include <vector>

#include "modem/common/mode_table.h"
#include "modem/rx/serial_tone_receiver.h"
#include "modem/tx/serial_tone_transmitter.h"
#include "sim/hf_channel.h"
#include "tests/support/allocation_counter.h"


namespace kavra::modem {
namespace {

// SampleRing samples (every 5th or 6th capture sample) of one long transmission.
struct Recording {
    std::vector<std::int16_t> ring;
    std::size_t data_start = 0;  // first sample after the preamble has been received
};

// How the transmission reaches the receiver: clean; two paths 2 ms apart with a 5 Hz Doppler
// spread at 30 dB (type 0); Gaussian noise at 9 dB (type 0), near the 8-PSK modes' threshold,
// where every block is equalised again on the decoder's references.
enum class Air { Clean, FastFading, Noisy };

const Recording& LongTransmission(int type, Air air = Air::Clean) {
    static Recording recordings[4];
    Recording& r = recordings[air == Air::Clean ? type : air == Air::FastFading ? 2 : 3];
    if (!r.ring.empty()) return r;
    const auto profile = type == 0 ? TransmitProfile::Profile2400At48k : TransmitProfile::Profile2000At48k;
    constexpr int kMode = 1;  // 2400 (2000) long: 8-PSK, the heaviest data mode
    std::vector<std::uint8_t> message(11440);
    std::mt19937 rng(1);
    for (auto& b : message) b = static_cast<std::uint8_t>(rng());
    auto tx = std::make_unique<SerialToneTransmitter>(profile);
    std::vector<std::int16_t> played(SerialToneTransmitter::SamplesNeeded(profile, kMode, message.size(), 48000));
    std::uint32_t count = 0;
    tx->Transmit(message, DefaultCarrierHz(type), 48000, kMode, played, count);
    const std::size_t factor = type == 0 ? 5 : 6;
    played.resize(count);
    if (air != Air::Clean) {
        sim::HfChannelSettings cs;
        cs.signal_power = sim::MeasureSignalPower(std::span<const std::int16_t>(played));
        cs.snr_db = air == Air::FastFading ? 30.0 : 9.0;
        if (air == Air::FastFading) cs.fading = sim::FadingSettings{2.0, 5.0};
        cs.output_gain = 2000.0 / std::sqrt(cs.signal_power);
        cs.seed = 1;
        sim::HfChannel channel(cs);
        std::vector<float> in(played.begin(), played.end());
        in.resize(in.size() + 4800, 0.0f);  // let the second path and the filters run out
        std::vector<float> out(channel.MaxOutput(in.size()));
        const std::size_t n = channel.Process(std::span<const float>(in), std::span<float>(out));
        played.resize(n);
        sim::ToPcm16(std::span<const float>(out.data(), n), std::span<std::int16_t>(played.data(), n));
        count = static_cast<std::uint32_t>(n);
    }
    for (std::size_t i = 0; i < count; i += factor) r.ring.push_back(played[i]);
    // Data demodulation starts about 50 symbols after the preamble's last sample.
    r.data_start = static_cast<std::size_t>((PreambleSymbols(kMode) + 100) * 4);
    return r;
}

struct Receiver {
    std::unique_ptr<ReceiverOutput> out = std::make_unique<ReceiverOutput>();
    std::unique_ptr<SerialToneReceiver> rx;
    Receiver(int type, KernelSet set) {
        out->rx_carrier = DefaultCarrierHz(type);
        rx = std::make_unique<SerialToneReceiver>(type, *out);
        rx->SelectKernels(set);
    }
    void Feed(const std::int16_t* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            rx->ProcessSample(s[i]);
            out->flags.store(0, std::memory_order_relaxed);
        }
    }
};

void Report(benchmark::State& state, int type, long long samples, long long allocations) {
    const double seconds = static_cast<double>(samples) / (4.0 * SymbolRate(type));
    state.SetItemsProcessed(samples);
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
    state.counters["allocations"] = static_cast<double>(allocations);
    if (allocations != 0) state.SkipWithError("ProcessSample allocated memory");
}

// Arguments: modem type, kernel set (0 portable, 1 SSE2, 2 AVX2).
bool SetUp(benchmark::State& state, KernelSet& set) {
    set = static_cast<KernelSet>(state.range(1));
    if (Kernels(set) != nullptr) return true;
    state.SkipWithError("kernel set not available on this processor");
    return false;
}

void BM_Searching(benchmark::State& state) {
    const int type = static_cast<int>(state.range(0));
    KernelSet set;
    if (!SetUp(state, set)) return;
    Receiver r(type, set);
    const auto second = static_cast<std::size_t>(4 * SymbolRate(type));
    std::vector<std::int16_t> noise(second * 4);
    std::mt19937 rng(2);
    std::normal_distribution<double> n(0.0, 3000.0);
    for (auto& s : noise) s = static_cast<std::int16_t>(n(rng));
    std::size_t pos = 0;
    long long samples = 0;
    const long long before = kavra::testing::AllocationCount();
    for (auto _ : state) {
        r.Feed(noise.data() + pos, second);
        pos = (pos + second) % noise.size();
        samples += static_cast<long long>(second);
    }
    Report(state, type, samples, kavra::testing::AllocationCount() - before);
}

void Demodulate(benchmark::State& state, Air air) {
    const bool fast_fading = air == Air::FastFading;
    const int type = static_cast<int>(state.range(0));
    KernelSet set;
    if (!SetUp(state, set)) return;
    const Recording& rec = LongTransmission(type, air);
    const auto second = static_cast<std::size_t>(4 * SymbolRate(type));
    auto r = std::make_unique<Receiver>(type, set);
    r->Feed(rec.ring.data(), rec.data_start);
    std::size_t pos = rec.data_start;
    long long samples = 0;
    long long allocations = 0;
    for (auto _ : state) {
        if (pos + second > rec.ring.size()) {
            state.PauseTiming();
            r = std::make_unique<Receiver>(type, set);
            r->Feed(rec.ring.data(), rec.data_start);
            pos = rec.data_start;
            state.ResumeTiming();
        }
        const long long before = kavra::testing::AllocationCount();
        r->Feed(rec.ring.data() + pos, second);
        allocations += kavra::testing::AllocationCount() - before;
        if (!r->rx->in_data_mode()) state.SkipWithError("receiver left data mode");
        if (fast_fading && r->rx->feed_forward_taps_in_use() == kFeedForwardTaps && pos > rec.data_start + 4 * second)
            state.SkipWithError("the equaliser did not go sparse on fast fading");
        pos += second;
        samples += static_cast<long long>(second);
    }
    Report(state, type, samples, allocations);
}

void BM_Demodulating(benchmark::State& state) { Demodulate(state, Air::Clean); }
void BM_DemodulatingFastFading(benchmark::State& state) { Demodulate(state, Air::FastFading); }
void BM_DemodulatingNoisy(benchmark::State& state) { Demodulate(state, Air::Noisy); }

void KernelArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"type", "kernels"});
    for (int type : {0, 1})
        for (int set : {0, 1, 2}) b->Args({type, set});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Searching)->Apply(KernelArgs);
BENCHMARK(BM_Demodulating)->Apply(KernelArgs);
BENCHMARK(BM_DemodulatingFastFading)->ArgNames({"type", "kernels"})->Args({0, 0})->Args({0, 1})->Args({0, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DemodulatingNoisy)->ArgNames({"type", "kernels"})->Args({0, 0})->Args({0, 1})->Args({0, 2})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kavra::modem

BENCHMARK_MAIN();
