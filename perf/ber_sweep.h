// Bit-error-rate measurement in process: seeded random messages through the real transmitter,
// the HF channel simulator and the real receiver, as a station would send and receive them.
//
//   message -> SerialToneTransmitter (48000 Hz) -> HfChannel (noise in 3000 Hz, fading, offsets)
//     -> capture at 48000 Hz, every 5th (type 0) or 6th (type 1) sample -> SerialToneReceiver
//     -> FrameCollector (bits packed LSB first, cut at the end-of-message word) -> compare.
//
// Errors are counted over the message bits that were sent.  A bit the receiver never delivered
// (frame not detected, wrong mode, frame ended early) counts as an error, so the BER includes
// synchronisation losses.  Every transmission is independent: fresh transmitter, channel and
// receiver, its message, noise and fading drawn from a seed made of the sweep seed, the mode and
// the transmission's index (not the SNR, so the points of a curve share their realisations).
// Results therefore do not depend on the number of worker threads.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/watterson_fader.h"

namespace kavra::perf {

// The receive-only 4800 bit/s mode, built by perf/transmission_4800.h (type 0 only).
inline constexpr int kMode4800 = 12;

// True for the modes a sweep can send under `modem_type`: 0..5, and 12 under type 0.
bool IsSweepMode(int modem_type, int mode);

struct SweepChannel {
    std::string name = "awgn";                  // awgn, good, moderate, poor, flutter or custom
    std::optional<sim::FadingSettings> fading;  // none: one fixed path
    double freq_offset_hz = 0.0;                // carrier frequency offset
    double clock_offset_ppm = 0.0;              // sending card fast by this much
};

struct SweepSettings {
    int modem_type = 0;
    std::vector<int> modes;           // each IsSweepMode
    SweepChannel channel;
    std::vector<double> snr_db;       // SNR in 3000 Hz, ascending
    // Interleaver blocks per transmission; 0 chooses about 12 s of data (20 short blocks, 3 long
    // ones).  The message fills them but for the end-of-message word and 4 bytes of zero fill.
    int blocks_per_transmission = 0;
    // A point ends when its bits reach max_bits, or when it has seen target_error_blocks blocks
    // with errors spread over at least target_error_transmissions transmissions (one lost frame
    // alone must not end a point) and at least min_transmissions transmissions.
    std::int64_t max_bits = 1'000'000;
    int target_error_blocks = 20;
    int target_error_transmissions = 10;
    int min_transmissions = 2;
    // Exactly this many transmissions per point instead (0: the rule above).
    int fixed_transmissions = 0;
    // Once a point of a mode is error-free over max_bits, its higher SNRs are skipped.
    bool skip_after_clean = true;
    // Reference instead of the receiver: the transmitted symbols with white Gaussian noise at the
    // same Es/N0, turned into soft values as the receiver forms them (x1000, limited to 1500) and
    // decoded by the same BlockDecoder.  The ideal coherent receiver with this system's decoder;
    // AWGN only, coded modes only.
    bool ideal_receiver = false;
    std::uint64_t seed = 1;
    int threads = 2;
};

// Why the settings cannot be used, or none.
std::optional<std::string> CheckSettings(const SweepSettings& settings);

// The receiver's soft symbols against the symbols sent (their scale fitted per run of unknown
// symbols, the receiver weighting each run by its noise): sums of |ideal|^2 and
// |scaled soft - ideal|^2, and the error split along the ideal point (amplitude) and across it
// (phase): white noise puts equal power into both, carrier-phase jitter only into the second.
struct DecisionError {
    double signal = 0.0;
    double error = 0.0;
    double radial = 0.0;
    double tangential = 0.0;
    std::int64_t symbols = 0;

    void Add(const DecisionError& other);
    // SNR at the decision point (Es/N0 of the soft symbols), dB; none without symbols.
    std::optional<double> snr_db() const;
    // Phase error over amplitude error, dB (0 for white noise); none without symbols.
    std::optional<double> phase_excess_db() const;
};

// What one transmission gave.
struct TransmissionResult {
    std::int64_t bits = 0;            // message bits sent
    std::int64_t bit_errors = 0;      // wrong or never delivered
    int blocks = 0;                   // interleaver blocks carrying message bits
    int errored_blocks = 0;           // of those, blocks with at least one error
    std::int64_t edge_errors = 0;     // errors in the last 16 bits of a block
    std::int64_t head_errors = 0;     // errors in the first 16 bits of a block
    bool detected = false;            // some frame delivered bits
    bool mode_right = false;          // the frame compared announced the mode sent
    bool complete = false;            // ... and delivered every message bit
    bool eom = false;                 // ... and found the end-of-message word
    int detected_mode = -1;           // mode of the frame compared, -1 without one
    int frames = 0;                   // frames the receiver delivered
    int sync_losses = 0;              // preamble time-outs
    int snr_avg = -100, snr_min = -100, snr_max = -100;  // the frame's figures, dB (-100: none)
    DecisionError decision;           // over the data symbols of the frame compared
    double doppler_spread_hz = -1.0;  // the receiver's Doppler reading at the frame's last block (-1: none)
    int fewest_taps = -1;             // fewest feed-forward taps in use at a block of that frame (-1: none)
    double air_seconds = 0.0;         // audio fed to the receiver
};

// Message bits of one transmission of `mode` under these settings.
std::int64_t MessageBits(const SweepSettings& settings, int mode);

// Es/N0 of the channel symbols for an SNR in 3000 Hz: every symbol carries the same energy.
double EsN0Db(int modem_type, double snr_db);

// One transmission of `mode` at `snr_db` (index `index` of its point).
TransmissionResult RunTransmission(const SweepSettings& settings, int mode, double snr_db, std::int64_t index);

// Figures of one (mode, SNR) point.
struct PointResult {
    int mode = 0;
    double snr_db = 0.0;
    bool skipped = false;             // not run: a lower SNR was already error-free
    int transmissions = 0;
    int errored_transmissions = 0;    // transmissions with at least one bit error
    std::int64_t bits = 0;
    std::int64_t bit_errors = 0;
    std::int64_t blocks = 0;
    std::int64_t errored_blocks = 0;
    std::int64_t edge_errors = 0;
    std::int64_t head_errors = 0;
    // The same over the transmissions whose frame came through whole with the right mode: the
    // demodulation and decoding alone, without the frames synchronisation lost.
    std::int64_t received_bits = 0;
    std::int64_t received_bit_errors = 0;
    int detected = 0;                 // transmissions whose frame was found
    int mode_right = 0;               // ... with the right mode
    int complete = 0;                 // ... delivered in full
    int eom = 0;
    int extra_frames = 0;             // frames beyond one per transmission (false starts)
    int sync_losses = 0;
    std::array<int, 13> detected_modes{};  // modes of the frames compared
    int snr_frames = 0;               // frames that reported S/N figures
    double snr_avg_sum = 0.0, snr_min_sum = 0.0, snr_max_sum = 0.0;
    DecisionError decision;
    int doppler_frames = 0;           // frames with a Doppler reading
    double doppler_sum_hz = 0.0;
    int sparse_frames = 0;            // frames in which the equaliser worked on fewer than all its taps
    double air_seconds = 0.0;
    double cpu_seconds = 0.0;         // worker time spent, including discarded transmissions

    double ber() const { return bits > 0 ? static_cast<double>(bit_errors) / static_cast<double>(bits) : 0.0; }
    double received_ber() const {
        return received_bits > 0 ? static_cast<double>(received_bit_errors) / static_cast<double>(received_bits) : 0.0;
    }
    // 95 % upper confidence bound of a BER with no errors (three over the bits), else the BER.
    double ber_upper() const;
    double detection_rate() const { return transmissions > 0 ? double(detected) / transmissions : 0.0; }
    double mode_rate() const { return transmissions > 0 ? double(mode_right) / transmissions : 0.0; }
    double frame_loss_rate() const { return transmissions > 0 ? 1.0 - double(complete) / transmissions : 0.0; }
    void Add(const TransmissionResult& t);
};

// True when the point has enough transmissions under the stopping rule.
bool PointDone(const SweepSettings& settings, const PointResult& point);

// Runs one point on settings.threads workers.  Transmissions are numbered from 0 and merged in
// that order; the point ends at the first prefix that satisfies PointDone (transmissions
// another worker finished beyond it are dropped), so the figures depend only on the settings.
PointResult RunPoint(const SweepSettings& settings, int mode, double snr_db);

struct SweepResult {
    SweepSettings settings;
    std::vector<PointResult> points;  // by mode (in settings order), then SNR
    double wall_seconds = 0.0;
};

// Called after every point with the point just finished (or skipped).
using SweepProgress = std::function<void(const PointResult&)>;

SweepResult RunSweep(const SweepSettings& settings, const SweepProgress& progress = {});

// Where a mode's curve crosses a BER, by log-linear interpolation between the last point above
// it and the next point at or below it.  A point without errors stands for its 95 % bound, so
// the crossing is then an upper limit.
struct Crossing {
    enum class Kind {
        Between,      // crossed between two measured points
        AtMost,       // crossed, the lower point had no errors: the SNR is an upper limit
        BelowRange,   // the first point is already below the BER
        AboveRange,   // no point reaches it
        Unresolved,   // the points below it have too few bits to show it (fewer than 3 / BER)
    };
    Kind kind = Kind::AboveRange;
    double snr_db = 0.0;
};
Crossing FindCrossing(const std::vector<PointResult>& mode_points, double ber);

// The crossing as text: "7.3 dB", "<= 7.3 dB", "< 2.0 dB", "> 12.0 dB" or "unresolved".
std::string DescribeCrossing(const Crossing& crossing);

// Ideal coherent bound for BER 1e-5 on AWGN for this code and frame layout, SNR in 3000 Hz (dB),
// or none for the modes it is not given for.
std::optional<double> IdealBoundDb(int modem_type, int mode);

// A line of the required minimum performance (coded BER at an SNR in 3000 Hz).
struct Requirement {
    std::string rate;      // "2400", "1200", "600", "4800"
    std::string channel;   // "awgn" or "poor"
    double snr_db;
    double ber;
    std::vector<int> modes;  // type-0 modes it applies to
};
const std::vector<Requirement>& Requirements();

}  // namespace kavra::perf
