#include "perf/noise_run.h"

#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "modem/common/mode_table.h"
#include "modem/rx/frame_collector.h"
#include "modem/rx/serial_tone_receiver.h"
#include "sim/hf_channel.h"

namespace kavra::perf {

namespace {

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One stretch of noise through a fresh channel and receiver.
NoiseRunResult RunStretch(int modem_type, double seconds, double noise_rms, std::uint64_t seed) {
    const double start = ThreadCpuSeconds();
    // Silence in at 8000 Hz (the cheapest input), noise out at the capture rate the receiver
    // sees: 48000 Hz decimated by 5 for type 0, 8000 Hz (= every 6th of 48000) for type 1.
    sim::HfChannelSettings cs;
    cs.input_rate_hz = 8000;
    cs.output_rate_hz = modem_type == 1 ? 8000 : 48000;
    cs.signal_power = noise_rms * noise_rms;
    cs.snr_db = 0.0;
    cs.seed = seed;
    auto channel = std::make_unique<sim::HfChannel>(cs);
    const int keep_every = modem_type == 1 ? 1 : 5;

    auto output = std::make_unique<modem::ReceiverOutput>();
    output->rx_carrier = modem::DefaultCarrierHz(modem_type);
    output->card_rate = 48000;
    auto receiver = std::make_unique<modem::SerialToneReceiver>(modem_type, *output);
    receiver->SelectKernels(true);
    modem::FrameCollector collector;

    NoiseRunResult r;
    constexpr std::size_t kChunk = 800;
    const std::vector<float> in(kChunk, 0.0f);
    std::vector<float> out(channel->MaxOutput(kChunk));
    std::vector<std::int16_t> pcm(out.size());
    const auto chunks = static_cast<long long>(seconds * 8000.0 / kChunk);
    long long out_index = 0;
    long long fed = 0;
    int last_state = modem::kSearching;
    bool last_data = false;
    for (long long c = 0; c < chunks; ++c) {
        const std::size_t n = channel->Process(std::span<const float>(in), std::span<float>(out));
        sim::ToPcm16(std::span<const float>(out.data(), n), std::span<std::int16_t>(pcm.data(), n));
        for (std::size_t k = 0; k < n; ++k, ++out_index) {
            if (out_index % keep_every != 0) continue;
            receiver->ProcessSample(pcm[k]);
            collector.Poll(*output);
            ++fed;
            const int state = receiver->search_state();
            if (last_state == modem::kSearching && state != modem::kSearching) ++r.preamble_starts;
            last_state = state;
            const bool data = receiver->in_data_mode();
            if (data && !last_data) ++r.data_starts;
            last_data = data;
        }
    }
    collector.Finish(*output);
    r.seconds = static_cast<double>(fed) / (modem_type == 1 ? 8000.0 : 9600.0);
    r.sync_losses = collector.sync_losses();
    r.frames = static_cast<int>(collector.frames().size());
    for (const auto& f : collector.frames()) {
        r.blocks += f.blocks;
        r.bytes += static_cast<long long>(f.bytes.size());
    }
    r.cpu_seconds = ThreadCpuSeconds() - start;
    return r;
}

}  // namespace

NoiseRunResult RunNoiseOnly(const NoiseRunSettings& s) {
    const int threads = s.threads < 1 ? 1 : s.threads;
    std::vector<NoiseRunResult> parts(static_cast<std::size_t>(threads));
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            parts[static_cast<std::size_t>(t)] =
                RunStretch(s.modem_type, s.seconds / threads, s.noise_rms, s.seed * 1000003u + static_cast<std::uint64_t>(t));
        });
    for (auto& w : workers) w.join();
    NoiseRunResult total;
    for (const auto& p : parts) {
        total.seconds += p.seconds;
        total.preamble_starts += p.preamble_starts;
        total.sync_losses += p.sync_losses;
        total.data_starts += p.data_starts;
        total.frames += p.frames;
        total.blocks += p.blocks;
        total.bytes += p.bytes;
        total.cpu_seconds += p.cpu_seconds;
    }
    return total;
}

}  // namespace kavra::perf
