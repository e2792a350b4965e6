#include "tests/modem/rx/rx_test_support.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "modem/common/mode_table.h"
#include "modem/rx/serial_tone_receiver.h"
#include "modem/tx/serial_tone_transmitter.h"
#include "modem/tx/transmit_profile.h"

namespace kavra::modem::test {

namespace {

double BesselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

std::int16_t ToInt16(double v) {
    const double r = std::round(v);
    return static_cast<std::int16_t>(std::clamp(r, -32768.0, 32767.0));
}

}  // namespace

std::vector<std::int16_t> Transmit(const AirSpec& air, std::span<const std::uint8_t> message) {
    const auto profile = ProfileFor(air.modem_type, air.play_8k ? 8000 : 48000);
    const int nominal = air.play_8k ? 8000 : 48000;
    const int card = static_cast<int>(std::lround(nominal * (1.0 + air.tx_card_error_ppm * 1e-6)));
    auto tx = std::make_unique<SerialToneTransmitter>(*profile);
    std::vector<std::int16_t> samples(SerialToneTransmitter::SamplesNeeded(*profile, air.mode, message.size(), card));
    std::uint32_t count = 0;
    tx->Transmit(message, DefaultCarrierHz(air.modem_type) + air.carrier_offset_hz, card, air.mode, samples, count);
    samples.resize(count);
    return samples;
}

std::vector<float> Resample(std::span<const float> in, double in_rate, double out_rate) {
    constexpr int kHalfWidth = 24;     // taps each side, at the input rate when upsampling
    constexpr int kPhases = 1024;
    constexpr double kBeta = 9.0;
    const double cutoff = 0.45 * std::min(in_rate, out_rate) / in_rate;  // of the input rate
    const double span = kHalfWidth * std::max(1.0, in_rate / out_rate);  // input samples each side
    const int taps = 2 * static_cast<int>(std::ceil(span)) + 2;
    // Kernel sampled at kPhases points per input sample.
    const int table_len = taps * kPhases + 1;
    std::vector<float> kernel(static_cast<std::size_t>(table_len));
    const double i0b = BesselI0(kBeta);
    for (int k = 0; k < table_len; ++k) {
        const double t = static_cast<double>(k) / kPhases - taps / 2.0;
        const double r = t / span;
        double w = 0.0;
        if (std::abs(r) < 1.0) w = BesselI0(kBeta * std::sqrt(1.0 - r * r)) / i0b;
        const double x = 2.0 * cutoff * t;
        const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
        kernel[static_cast<std::size_t>(k)] = static_cast<float>(2.0 * cutoff * sinc * w);
    }
    const auto n_out = static_cast<std::size_t>(std::floor(static_cast<double>(in.size()) * out_rate / in_rate));
    std::vector<float> out(n_out);
    const double step = in_rate / out_rate;
    for (std::size_t m = 0; m < n_out; ++m) {
        const double t = static_cast<double>(m) * step;
        const auto base = static_cast<long long>(std::floor(t)) - taps / 2 + 1;
        double acc = 0.0;
        for (int j = 0; j < taps; ++j) {
            const long long k = base + j;
            if (k < 0 || k >= static_cast<long long>(in.size())) continue;
            const double pos = (static_cast<double>(k) - t + taps / 2.0) * kPhases;
            if (pos < 0 || pos >= table_len - 1) continue;
            const auto p = static_cast<std::size_t>(pos);
            const double frac = pos - static_cast<double>(p);
            acc += in[static_cast<std::size_t>(k)] * (kernel[p] + frac * (kernel[p + 1] - kernel[p]));
        }
        out[m] = static_cast<float>(acc);
    }
    return out;
}

std::vector<float> OverTheAir(const AirSpec& air, std::span<const std::int16_t> played) {
    const double nominal = air.play_8k ? 8000.0 : 48000.0;
    const double tx_real = nominal * (1.0 + air.tx_card_error_ppm * 1e-6);
    const double rx_real = 48000.0 * (1.0 + air.rx_card_error_ppm * 1e-6);
    std::vector<float> in(played.begin(), played.end());
    if (tx_real == rx_real) return in;
    return Resample(in, tx_real, rx_real);
}

std::vector<std::int16_t> ToSampleRing(int modem_type, std::span<const float> capture, float gain) {
    const std::size_t factor = modem_type == 1 ? 6 : 5;
    std::vector<std::int16_t> ring;
    ring.reserve(capture.size() / factor + 1);
    for (std::size_t i = 0; i < capture.size(); i += factor) ring.push_back(ToInt16(capture[i] * gain));
    return ring;
}

void AddNoise(std::vector<std::int16_t>& samples, double rms, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, rms);
    for (auto& s : samples) s = ToInt16(s + noise(rng));
}

double Rms(std::span<const std::int16_t> samples) {
    double sum = 0.0;
    for (auto s : samples) sum += static_cast<double>(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

std::vector<std::int16_t> MakeRingSamples(const AirSpec& air, std::span<const std::uint8_t> message) {
    const auto played = Transmit(air, message);
    return ToSampleRing(air.modem_type, OverTheAir(air, played));
}

RxResult Receive(int modem_type, std::span<const std::int16_t> ring, const RxSettings& settings) {
    auto output = std::make_unique<ReceiverOutput>();
    output->rx_carrier = DefaultCarrierHz(modem_type);
    output->card_rate = static_cast<int>(std::lround(48000.0 * (1.0 + settings.rx_card_error_ppm * 1e-6)));
    auto rx = std::make_unique<SerialToneReceiver>(modem_type, *output);
    rx->SelectKernels(settings.simd);
    FrameCollector collector;
    for (std::int16_t s : ring) {
        rx->ProcessSample(s);
        collector.Poll(*output);
    }
    const auto tail = static_cast<long long>(settings.tail_seconds * 4 * SymbolRate(modem_type));
    for (long long i = 0; i < tail; ++i) {
        rx->ProcessSample(0);
        collector.Poll(*output);
    }
    collector.Finish(*output);
    RxResult result;
    result.frames = collector.frames();
    result.sync_losses = collector.sync_losses();
    result.last_search_state = rx->search_state();
    result.back_to_search = !rx->in_data_mode() && output->receiving == 0;
    return result;
}

std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng() & 0xFF);
    return bytes;
}

}  // namespace kavra::modem::test
