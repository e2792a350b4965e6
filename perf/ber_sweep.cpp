#include "perf/ber_sweep.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <span>
#include <thread>

#include "modem/common/data_scrambler.h"
#include "modem/common/mode_table.h"
#include "modem/common/receiver_output.h"
#include "modem/decoder/block_decoder.h"
#include "modem/rx/frame_collector.h"
#include "modem/rx/receiver_tables.h"
#include "modem/rx/serial_tone_receiver.h"
#include "modem/tx/serial_tone_transmitter.h"
#include "modem/tx/transmit_profile.h"
#include "perf/transmission_4800.h"
#include "sim/gaussian_source.h"
#include "sim/hf_channel.h"

namespace kavra::perf {

namespace {

constexpr int kCaptureRate = 48000;
// Signal level at the receiver's input (rms, sample units): far from clipping even when a
// fading peak meets the noise of a low SNR, far above the 16-bit quantisation.
constexpr double kSignalRms = 2000.0;
// Noise-only audio before the transmission: a random 0.3..1.0 s, so the preamble falls at any
// sample phase and the AGC has settled on the noise.
constexpr double kMinLeadSeconds = 0.3;
constexpr double kLeadSpreadSeconds = 0.7;
// Noise after it: at least enough for the last block to come out, then until the receiver has
// left the frame, at most this long.
constexpr double kMinTailSeconds = 0.3;
constexpr double kMaxTailSeconds = 6.0;
constexpr std::size_t kChunk = 4800;  // channel input per step (0.1 s)
// The message leaves the end-of-message word and this many bytes of zero fill in its last block.
constexpr int kFillBytes = 4;
constexpr int kEomBytes = 16;
constexpr double kPi = 3.14159265358979323846;
// Bytes at each end of a block counted apart: the decoder starts every block from no known
// state and ends it without a code tail, so its first and last bits are the weakest.
constexpr std::size_t kEdgeBytes = 2;

std::uint64_t Mix(std::uint64_t x) {
    // SplitMix64 finaliser: spreads every input bit over the output.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint64_t TransmissionSeed(std::uint64_t seed, int modem_type, int mode, std::int64_t index) {
    return Mix(Mix(Mix(seed) ^ static_cast<std::uint64_t>(modem_type * 16 + mode)) ^ static_cast<std::uint64_t>(index));
}

int BlockBytes(int mode) { return mode == kMode4800 ? kBytesPerBlock4800 : modem::DataBytesPerBlock(mode); }

bool LongInterleave(int mode) { return mode != kMode4800 && modem::ModeInfo(mode).long_interleave; }

int BlocksPerTransmission(const SweepSettings& s, int mode) {
    if (s.blocks_per_transmission > 0) return s.blocks_per_transmission;
    return LongInterleave(mode) ? 3 : 20;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Bit errors between the message and what a frame delivered; missing bytes are all wrong.
std::int64_t FrameErrors(std::span<const std::uint8_t> sent, const std::vector<std::uint8_t>& got) {
    std::int64_t errors = 0;
    const std::size_t n = std::min(sent.size(), got.size());
    for (std::size_t i = 0; i < n; ++i) errors += std::popcount(static_cast<unsigned>(sent[i] ^ got[i]));
    errors += 8 * static_cast<std::int64_t>(sent.size() - n);
    return errors;
}

}  // namespace

bool IsSweepMode(int modem_type, int mode) {
    if (!modem::IsValidModemType(modem_type)) return false;
    return modem::IsTransmittedMode(mode) || (mode == kMode4800 && modem_type == 0);
}

std::optional<std::string> CheckSettings(const SweepSettings& s) {
    if (!modem::IsValidModemType(s.modem_type)) return "modem type must be 0 or 1";
    if (s.modes.empty()) return "no modes to measure";
    for (int m : s.modes)
        if (!IsSweepMode(s.modem_type, m))
            return "mode " + std::to_string(m) + " cannot be sent under modem type " + std::to_string(s.modem_type) +
                   " (0..5" + (s.modem_type == 0 ? ", or 12 = 4800 bit/s receive-only test signal)" : ")");
    if (s.snr_db.empty()) return "no SNR points";
    for (std::size_t i = 0; i < s.snr_db.size(); ++i) {
        if (!std::isfinite(s.snr_db[i]) || s.snr_db[i] < -20.0 || s.snr_db[i] > 60.0) return "SNR must be -20..60 dB";
        if (i > 0 && s.snr_db[i] <= s.snr_db[i - 1]) return "SNR points must be in ascending order";
    }
    if (s.blocks_per_transmission < 0 || s.blocks_per_transmission > 100) return "blocks per transmission must be 1..100 (0: automatic)";
    if (s.max_bits < 1000 || s.max_bits > 10'000'000'000LL) return "bits per point must be 1000..1e10";
    if (s.target_error_blocks < 1) return "target error blocks must be at least 1";
    if (s.target_error_transmissions < 1) return "target error transmissions must be at least 1";
    if (s.fixed_transmissions < 0 || s.fixed_transmissions > 1'000'000) return "fixed transmissions must be 0..1000000";
    if (s.min_transmissions < 1 || s.min_transmissions > 1000) return "minimum transmissions must be 1..1000";
    if (s.threads < 1 || s.threads > 64) return "threads must be 1..64";
    if (s.ideal_receiver) {
        if (s.channel.fading || s.channel.freq_offset_hz != 0.0 || s.channel.clock_offset_ppm != 0.0)
            return "the ideal reference runs on AWGN only";
        for (int m : s.modes)
            if (m == kMode4800) return "the ideal reference covers the coded modes 0..5 only";
    }
    sim::HfChannelSettings channel;
    channel.snr_db = s.snr_db.front();
    channel.signal_power = 1.0;
    channel.fading = s.channel.fading;
    channel.freq_offset_hz = s.channel.freq_offset_hz;
    channel.clock_offset_ppm = s.channel.clock_offset_ppm;
    if (auto problem = sim::CheckSettings(channel)) return problem;
    return std::nullopt;
}

std::int64_t MessageBits(const SweepSettings& settings, int mode) {
    return 8LL * (BlocksPerTransmission(settings, mode) * BlockBytes(mode) - kEomBytes - kFillBytes);
}

double EsN0Db(int modem_type, double snr_db) {
    return snr_db + 10.0 * std::log10(3000.0 / modem::SymbolRate(modem_type));
}

namespace {

// The ideal soft pair, in the decoder's convention (positive = bit 0), of a data symbol whose
// mapped value (before scrambling) is k, for the modulation of `mode`.
std::complex<double> IdealSoft(int mode, int k) {
    const double a = k * (kPi / 4.0);
    switch (modem::ModeInfo(mode).modulation) {
        case modem::Modulation::Psk8: return {std::sin(a + kPi / 8.0), std::cos(a + kPi / 8.0)};
        case modem::Modulation::Qpsk: return {std::cos(a - kPi / 4.0), -std::sin(a - kPi / 4.0)};
        default: return {std::cos(a), 0.0};
    }
}

// Mapped values of the data symbols, block by block, from the channel symbols the transmitter
// sent (preamble first): the data scrambler value is taken off again.
std::vector<std::vector<std::uint8_t>> DataSymbolsByBlock(int mode, const std::vector<std::uint8_t>& sent) {
    const modem::DataModeInfo& info = modem::ModeInfo(mode);
    const int frame = modem::FrameSymbols(mode);
    const auto block_symbols = static_cast<std::size_t>(modem::BlockSymbols(mode));
    std::vector<std::vector<std::uint8_t>> blocks;
    modem::DataScrambler scrambler;
    for (std::size_t start = static_cast<std::size_t>(modem::PreambleSymbols(mode)); start + block_symbols <= sent.size();
         start += block_symbols) {
        std::vector<std::uint8_t> data;
        for (std::size_t i = 0; i < block_symbols; ++i) {
            if (i % modem::kSegmentSymbols == 0) scrambler.Reset();
            const int value = scrambler.Next();
            if (static_cast<int>(i % modem::kSegmentSymbols) % frame < info.data_symbols)
                data.push_back(static_cast<std::uint8_t>((sent[start + i] - value) & 7));
        }
        blocks.push_back(std::move(data));
    }
    return blocks;
}

void CollectSymbol(void* context, int symbol) {
    static_cast<std::vector<std::uint8_t>*>(context)->push_back(static_cast<std::uint8_t>(symbol));
}

// Sent message and the run that is compared against it.
struct Trial {
    std::vector<std::uint8_t> message;
    int blocks = 0;
    int block_bytes = 0;
    double lead_seconds = 0.0;
    std::uint64_t channel_seed = 0;
    std::uint64_t noise_seed = 0;
};

Trial MakeTrial(const SweepSettings& settings, int mode, std::int64_t index) {
    std::mt19937_64 rng(TransmissionSeed(settings.seed, settings.modem_type, mode, index));
    Trial t;
    t.block_bytes = BlockBytes(mode);
    t.blocks = BlocksPerTransmission(settings, mode);
    t.message.resize(static_cast<std::size_t>(t.blocks * t.block_bytes - kEomBytes - kFillBytes));
    for (auto& b : t.message) b = static_cast<std::uint8_t>(rng() >> 56);
    t.lead_seconds = kMinLeadSeconds + kLeadSpreadSeconds * static_cast<double>(rng() >> 11) * 0x1.0p-53;
    t.channel_seed = rng();
    t.noise_seed = rng();
    return t;
}

// Compares what the collector gathered with the message.
TransmissionResult Evaluate(const Trial& trial, int mode, const modem::FrameCollector& collector) {
    TransmissionResult r;
    const std::size_t length = trial.message.size();
    const auto block_bytes = static_cast<std::size_t>(trial.block_bytes);
    r.bits = 8 * static_cast<std::int64_t>(length);
    r.frames = static_cast<int>(collector.frames().size());
    r.sync_losses = collector.sync_losses();
    r.blocks = trial.blocks;

    // The frame that matches the message best is the one compared.
    const modem::ReceivedFrame* best = nullptr;
    std::int64_t best_errors = r.bits;
    for (const modem::ReceivedFrame& f : collector.frames()) {
        const std::int64_t e = FrameErrors(trial.message, f.bytes);
        if (best == nullptr || e < best_errors) {
            best = &f;
            best_errors = e;
        }
    }
    r.bit_errors = best_errors;
    const std::vector<std::uint8_t> none;
    const std::vector<std::uint8_t>& got = best != nullptr ? best->bytes : none;
    for (std::size_t first = 0; first < length; first += block_bytes) {
        const std::size_t last = std::min(length, first + block_bytes);
        bool errored = false;
        for (std::size_t i = first; i < last; ++i) {
            const unsigned diff = i < got.size() ? static_cast<unsigned>(trial.message[i] ^ got[i]) : 0xFFu;
            if (diff == 0) continue;
            errored = true;
            if (i + kEdgeBytes >= first + block_bytes) r.edge_errors += std::popcount(diff);
            else if (i < first + kEdgeBytes) r.head_errors += std::popcount(diff);
        }
        if (errored) ++r.errored_blocks;
    }
    if (best != nullptr) {
        r.detected = true;
        r.detected_mode = best->mode;
        r.mode_right = best->mode == mode;
        r.complete = r.mode_right && best->bytes.size() >= length;
        r.eom = r.mode_right && best->eom;
        r.snr_avg = best->snr_avg;
        r.snr_min = best->snr_min;
        r.snr_max = best->snr_max;
    }
    return r;
}

// Decision-point error of one block of soft symbols against the mapped values sent.
void AddDecisionError(int mode, const modem::ReceiverOutput& out, const std::vector<std::uint8_t>& sent,
                      DecisionError& r) {
    const auto n = std::min(sent.size(), static_cast<std::size_t>(std::max(0, out.soft_symbol_count)));
    // The receiver weights the soft values of each frame's run of unknown symbols by the noise
    // around it, so the scale is fitted run by run: the soft values are a * ideal + noise, with
    // a from their projection on the ideal points (not the other way round, which would shrink
    // the noise with the scale).
    const auto run = static_cast<std::size_t>(std::max(1, modem::ModeInfo(mode).data_symbols));
    for (std::size_t first = 0; first < n; first += run) {
        const std::size_t last = std::min(n, first + run);
        double cross = 0.0, power = 0.0, soft_power = 0.0;
        for (std::size_t i = first; i < last; ++i) {
            const std::complex<double> ideal = IdealSoft(mode, sent[i]);
            const std::complex<double> soft(out.soft_symbols[i].i, out.soft_symbols[i].q);
            cross += ideal.real() * soft.real() + ideal.imag() * soft.imag();
            power += std::norm(ideal);
            soft_power += std::norm(soft);
        }
        // A run that hardly correlates with the symbols sent (a deep fade) has no scale to fit.
        if (cross <= 0.2 * std::sqrt(power * soft_power)) continue;
        const double c = power / cross;
        double radial = 0.0, tangential = 0.0, signal = 0.0;
        for (std::size_t i = first; i < last; ++i) {
            const std::complex<double> ideal = IdealSoft(mode, sent[i]);
            const std::complex<double> soft(out.soft_symbols[i].i, out.soft_symbols[i].q);
            const std::complex<double> error = c * soft - ideal;
            // The error in the frame of the ideal point: real part along it, imaginary across.
            const std::complex<double> turned = error * std::conj(ideal) / std::abs(ideal);
            signal += std::norm(ideal);
            radial += turned.real() * turned.real();
            tangential += turned.imag() * turned.imag();
        }
        // The fitted scale took one degree of freedom of the error along the points.
        const auto count = static_cast<double>(last - first);
        if (count > 1.0) radial *= count / (count - 1.0);
        r.signal += signal;
        r.error += radial + tangential;
        r.radial += radial;
        r.tangential += tangential;
        r.symbols += static_cast<std::int64_t>(last - first);
    }
}

// The ideal coherent receiver: the symbols sent plus Gaussian noise at the channel's Es/N0,
// formed into soft values as the receiver does and decoded by the same decoder.
TransmissionResult RunIdeal(const SweepSettings& settings, int mode, double snr_db, const Trial& trial) {
    const int type = settings.modem_type;
    const auto profile = *modem::ProfileFor(type, kCaptureRate);
    auto tx = std::make_unique<modem::SerialToneTransmitter>(profile);
    std::vector<std::uint8_t> sent;
    tx->SetSymbolTap(&CollectSymbol, &sent);
    std::uint32_t count = 0;
    tx->Transmit(trial.message, modem::DefaultCarrierHz(type), kCaptureRate, mode, std::span<std::int16_t>(), count);
    const auto blocks = DataSymbolsByBlock(mode, sent);

    const double es_n0 = std::pow(10.0, EsN0Db(type, snr_db) / 10.0);
    const double sigma = std::sqrt(0.5 / es_n0);
    sim::GaussianSource noise(trial.noise_seed, 0);
    auto decoder = std::make_unique<modem::BlockDecoder>();
    auto out = std::make_unique<modem::ReceiverOutput>();
    modem::FrameCollector collector;
    DecisionError decision;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const auto& data = blocks[b];
        for (std::size_t i = 0; i < data.size(); ++i) {
            const std::complex<double> z = IdealSoft(mode, data[i]) + sigma * noise.NextComplex() * std::sqrt(2.0);
            // As the receiver: x1000 truncated, then limited.
            out->soft_symbols[i] = modem::LimitedSoftSymbol(std::trunc(static_cast<float>(1000.0 * z.real())),
                                                            std::trunc(static_cast<float>(1000.0 * z.imag())));
        }
        out->soft_symbol_count = static_cast<int>(data.size());
        out->mode = mode;
        out->eom_found = 0;
        AddDecisionError(mode, *out, data, decision);
        decoder->DecodeFrameBlock(*out, b == 0);
        out->flags = b == 0 ? modem::kRxFlagStart | modem::kRxFlagBits : modem::kRxFlagBits;
        collector.Poll(*out);
    }
    out->flags = decoder->FinishFrame(*out) ? modem::kRxFlagEnd | modem::kRxFlagBits : modem::kRxFlagEnd;
    collector.Poll(*out);
    collector.Finish(*out);
    TransmissionResult r = Evaluate(trial, mode, collector);
    r.decision = decision;
    r.air_seconds = static_cast<double>(sent.size()) / modem::SymbolRate(type);
    return r;
}

}  // namespace

TransmissionResult RunTransmission(const SweepSettings& settings, int mode, double snr_db, std::int64_t index) {
    const Trial trial = MakeTrial(settings, mode, index);
    if (settings.ideal_receiver) return RunIdeal(settings, mode, snr_db, trial);
    const int type = settings.modem_type;

    std::vector<std::int16_t> played;
    std::vector<std::vector<std::uint8_t>> data_symbols;
    if (mode == kMode4800) {
        played = Transmit4800(trial.message);
    } else {
        const auto profile = *modem::ProfileFor(type, kCaptureRate);
        auto tx = std::make_unique<modem::SerialToneTransmitter>(profile);
        std::vector<std::uint8_t> sent;
        tx->SetSymbolTap(&CollectSymbol, &sent);
        played.resize(modem::SerialToneTransmitter::SamplesNeeded(profile, mode, trial.message.size(), kCaptureRate));
        std::uint32_t count = 0;
        tx->Transmit(trial.message, modem::DefaultCarrierHz(type), kCaptureRate, mode, played, count);
        played.resize(count);
        data_symbols = DataSymbolsByBlock(mode, sent);
    }

    // Type 0 takes every 5th sample of the 48000 Hz capture.  Type 1 takes every 6th, which are
    // the samples of the same band-limited signal at 8000 Hz: the channel delivers those directly.
    sim::HfChannelSettings cs;
    cs.input_rate_hz = kCaptureRate;
    cs.output_rate_hz = type == 1 ? 8000 : kCaptureRate;
    const double power = sim::MeasureSignalPower(std::span<const std::int16_t>(played));
    cs.signal_power = power;
    cs.snr_db = snr_db;
    cs.fading = settings.channel.fading;
    cs.freq_offset_hz = settings.channel.freq_offset_hz;
    cs.clock_offset_ppm = settings.channel.clock_offset_ppm;
    cs.output_gain = kSignalRms / std::sqrt(power);
    cs.seed = trial.channel_seed;
    auto channel = std::make_unique<sim::HfChannel>(cs);
    const int keep_every = type == 1 ? 1 : 5;

    auto output = std::make_unique<modem::ReceiverOutput>();
    output->rx_carrier = modem::DefaultCarrierHz(type);
    output->card_rate = kCaptureRate;
    auto receiver = std::make_unique<modem::SerialToneReceiver>(type, *output);
    receiver->SelectKernels(true);
    modem::FrameCollector collector;

    const auto lead = static_cast<std::size_t>(trial.lead_seconds * kCaptureRate);
    const std::size_t signal_end = lead + played.size();
    const auto min_end = signal_end + static_cast<std::size_t>(kMinTailSeconds * kCaptureRate);
    const auto max_end = signal_end + static_cast<std::size_t>(kMaxTailSeconds * kCaptureRate);

    DecisionError decision;
    float doppler = -1.0f;
    int fewest_taps = -1;
    int frame_number = 0;         // frames started so far
    std::size_t block_number = 0; // blocks of the current frame
    std::vector<float> in(kChunk);
    std::vector<float> out(channel->MaxOutput(kChunk));
    std::vector<std::int16_t> pcm(out.size());
    std::int64_t out_index = 0;
    std::int64_t fed = 0;
    for (std::size_t pos = 0; pos < max_end; pos += kChunk) {
        if (pos >= min_end && !receiver->in_data_mode() && receiver->search_state() == modem::kSearching) break;
        for (std::size_t k = 0; k < kChunk; ++k) {
            const std::size_t i = pos + k;
            in[k] = i >= lead && i < signal_end ? static_cast<float>(played[i - lead]) : 0.0f;
        }
        const std::size_t n = channel->Process(std::span<const float>(in), std::span<float>(out));
        sim::ToPcm16(std::span<const float>(out.data(), n), std::span<std::int16_t>(pcm.data(), n));
        for (std::size_t k = 0; k < n; ++k, ++out_index) {
            if (out_index % keep_every != 0) continue;
            receiver->ProcessSample(pcm[k]);
            ++fed;
            const int flags = output->flags.load(std::memory_order_relaxed);
            // Bits that come with the end of the frame are the decoder's tail, not a block.
            if ((flags & modem::kRxFlagBits) != 0 && (flags & modem::kRxFlagEnd) == 0) {
                if ((flags & modem::kRxFlagStart) != 0 || frame_number == 0) {
                    ++frame_number;
                    block_number = 0;
                }
                // The soft symbols of the block just decoded are still in the record.
                if (frame_number == 1 && output->mode.load(std::memory_order_relaxed) == mode &&
                    block_number < data_symbols.size())
                    AddDecisionError(mode, *output, data_symbols[block_number], decision);
                if (frame_number == 1) {
                    doppler = receiver->doppler_spread_hz();
                    const int taps = receiver->feed_forward_taps_in_use();
                    if (fewest_taps < 0 || taps < fewest_taps) fewest_taps = taps;
                }
                ++block_number;
            }
            collector.Poll(*output);
        }
    }
    collector.Finish(*output);

    TransmissionResult r = Evaluate(trial, mode, collector);
    r.decision = decision;
    r.doppler_spread_hz = doppler;
    r.fewest_taps = fewest_taps;
    r.air_seconds = static_cast<double>(fed) / (type == 1 ? 8000.0 : 9600.0);
    return r;
}

double PointResult::ber_upper() const {
    if (bits <= 0) return 1.0;
    if (bit_errors == 0) return 3.0 / static_cast<double>(bits);
    return ber();
}

void PointResult::Add(const TransmissionResult& t) {
    ++transmissions;
    errored_transmissions += t.bit_errors > 0 ? 1 : 0;
    bits += t.bits;
    bit_errors += t.bit_errors;
    blocks += t.blocks;
    errored_blocks += t.errored_blocks;
    edge_errors += t.edge_errors;
    head_errors += t.head_errors;
    if (t.complete) {
        received_bits += t.bits;
        received_bit_errors += t.bit_errors;
    }
    detected += t.detected ? 1 : 0;
    mode_right += t.mode_right ? 1 : 0;
    complete += t.complete ? 1 : 0;
    eom += t.eom ? 1 : 0;
    extra_frames += std::max(0, t.frames - 1);
    sync_losses += t.sync_losses;
    if (t.detected_mode >= 0 && t.detected_mode < static_cast<int>(detected_modes.size()))
        ++detected_modes[static_cast<std::size_t>(t.detected_mode)];
    if (t.snr_avg != modem::kSnrNone && t.snr_min != modem::kSnrNone) {
        ++snr_frames;
        snr_avg_sum += t.snr_avg;
        snr_min_sum += t.snr_min;
        snr_max_sum += t.snr_max;
    }
    decision.Add(t.decision);
    if (t.doppler_spread_hz >= 0.0) {
        ++doppler_frames;
        doppler_sum_hz += t.doppler_spread_hz;
    }
    if (t.fewest_taps >= 0 && t.fewest_taps < modem::kFeedForwardTaps) ++sparse_frames;
    air_seconds += t.air_seconds;
}

void DecisionError::Add(const DecisionError& other) {
    signal += other.signal;
    error += other.error;
    radial += other.radial;
    tangential += other.tangential;
    symbols += other.symbols;
}

std::optional<double> DecisionError::phase_excess_db() const {
    if (symbols == 0 || radial <= 0.0 || tangential <= 0.0) return std::nullopt;
    return 10.0 * std::log10(tangential / radial);
}

std::optional<double> DecisionError::snr_db() const {
    if (symbols == 0 || error <= 0.0) return std::nullopt;
    return 10.0 * std::log10(signal / error);
}

bool PointDone(const SweepSettings& s, const PointResult& p) {
    if (s.fixed_transmissions > 0) return p.transmissions >= s.fixed_transmissions;
    if (p.bits >= s.max_bits) return true;
    return p.transmissions >= s.min_transmissions && p.errored_blocks >= s.target_error_blocks &&
           p.errored_transmissions >= s.target_error_transmissions;
}

PointResult RunPoint(const SweepSettings& settings, int mode, double snr_db) {
    PointResult merged;
    merged.mode = mode;
    merged.snr_db = snr_db;
    std::mutex lock;
    std::map<std::int64_t, TransmissionResult> finished;  // beyond the merged prefix
    std::int64_t next = 0;
    bool stop = false;
    double cpu = 0.0;

    auto work = [&] {
        for (;;) {
            std::int64_t index = 0;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (stop) return;
                index = next++;
            }
            const double start = ThreadCpuSeconds();
            const TransmissionResult r = RunTransmission(settings, mode, snr_db, index);
            const double spent = ThreadCpuSeconds() - start;
            std::lock_guard<std::mutex> guard(lock);
            cpu += spent;
            if (stop) return;
            finished.emplace(index, r);
            for (auto it = finished.find(merged.transmissions); it != finished.end();
                 it = finished.find(merged.transmissions)) {
                merged.Add(it->second);
                finished.erase(it);
                if (PointDone(settings, merged)) {
                    stop = true;
                    return;
                }
            }
        }
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < settings.threads; ++t) helpers.emplace_back(work);
    work();
    for (auto& h : helpers) h.join();
    merged.cpu_seconds = cpu;
    return merged;
}

SweepResult RunSweep(const SweepSettings& settings, const SweepProgress& progress) {
    const auto start = std::chrono::steady_clock::now();
    SweepResult result;
    result.settings = settings;
    for (int mode : settings.modes) {
        bool clean = false;
        for (double snr : settings.snr_db) {
            PointResult p;
            if (clean && settings.skip_after_clean) {
                p.mode = mode;
                p.snr_db = snr;
                p.skipped = true;
            } else {
                p = RunPoint(settings, mode, snr);
                clean = p.bit_errors == 0 && (settings.fixed_transmissions > 0 || p.bits >= settings.max_bits);
            }
            result.points.push_back(p);
            if (progress) progress(p);
        }
    }
    result.wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

Crossing FindCrossing(const std::vector<PointResult>& mode_points, double ber) {
    const double target = std::log10(ber);
    const PointResult* previous = nullptr;
    for (const PointResult& p : mode_points) {
        if (p.skipped || p.bits == 0) continue;
        if (p.ber() <= ber) {
            if (p.bit_errors == 0 && static_cast<double>(p.bits) < 3.0 / ber) return {Crossing::Kind::Unresolved, p.snr_db};
            if (previous == nullptr) return {Crossing::Kind::BelowRange, p.snr_db};
            const double x1 = previous->snr_db, x2 = p.snr_db;
            const double y1 = std::log10(previous->ber());
            const double y2 = std::log10(p.ber_upper());
            const Crossing::Kind kind = p.bit_errors == 0 ? Crossing::Kind::AtMost : Crossing::Kind::Between;
            if (!(y2 < y1)) return {kind, x2};
            const double x = x1 + (target - y1) * (x2 - x1) / (y2 - y1);
            return {kind, std::clamp(x, x1, x2)};
        }
        previous = &p;
    }
    return {Crossing::Kind::AboveRange, previous != nullptr ? previous->snr_db : 0.0};
}

std::string DescribeCrossing(const Crossing& c) {
    char text[64];
    switch (c.kind) {
        case Crossing::Kind::Between: std::snprintf(text, sizeof text, "%.1f dB", c.snr_db); break;
        case Crossing::Kind::AtMost: std::snprintf(text, sizeof text, "<= %.1f dB", c.snr_db); break;
        case Crossing::Kind::BelowRange: std::snprintf(text, sizeof text, "< %.1f dB", c.snr_db); break;
        case Crossing::Kind::AboveRange: std::snprintf(text, sizeof text, "> %.1f dB", c.snr_db); break;
        case Crossing::Kind::Unresolved: std::snprintf(text, sizeof text, "unresolved"); break;
    }
    return text;
}

std::optional<double> IdealBoundDb(int modem_type, int mode) {
    if (!modem::IsTransmittedMode(mode)) return std::nullopt;
    // 2400, 1200, 600 bit/s.  Type 1: the same energy per bit at 5/6 of the rate needs
    // 10 log10(6/5) = 0.8 dB less SNR in 3 kHz.
    static constexpr double kBound[2][3] = {{7.1, 3.2, 0.2}, {6.3, 2.4, -0.6}};
    return kBound[modem_type == 1 ? 1 : 0][mode / 2];
}

const std::vector<Requirement>& Requirements() {
    static const std::vector<Requirement> kRequirements{
        {"2400", "awgn", 10.0, 1e-5, {0, 1}},
        {"2400", "poor", 18.0, 1e-5, {1}},
        {"1200", "poor", 11.0, 1e-5, {3}},
        {"600", "poor", 7.0, 1e-5, {5}},
        {"4800", "awgn", 17.0, 1e-3, {kMode4800}},
    };
    return kRequirements;
}

}  // namespace kavra::perf
