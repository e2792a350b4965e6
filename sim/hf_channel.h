// The HF channel simulator: real audio in, real audio out, through what lies between two
// stations' sound cards.
//
//   input (8000 or 48000 Hz, the transmitting card's clock)
//     -> analytic baseband around 2000 Hz at 8000 complex samples/s (the radio's pass band:
//        250..3750 Hz flat within 0.01 dB, at least 70 dB down from 4250 Hz up)
//     -> two-path Watterson fading (optional)
//     -> carrier frequency offset
//     -> additive white Gaussian noise, white over the pass band
//     -> band-limited resampling to the output rate (8000 or 48000 Hz, the receiving card's
//        clock), which also carries the sample-clock offset
//     -> back to real audio.
//
// Time, delay and Doppler are real (receiving-card) time.  The clock offset says how fast the
// transmitting card runs against the receiving one: at +100 ppm the audio comes out 100 ppm
// shorter and every frequency in it 100 ppm higher; the carrier offset is added after that, so
// a tone at f Hz comes out at f * (1 + ppm / 1e6) + offset Hz.  Output sample k is the input
// read at input sample k * (1 + ppm / 1e6) * input_rate / output_rate (for path one, no filter
// delay); the second path comes later by the differential delay.
//
// SNR is the mean signal power over the noise power in a 3000 Hz bandwidth.  The signal power
// is a setting (see MeasureSignalPower): the simulator works in a stream and cannot see ahead.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/history.h"
#include "sim/oscillator.h"
#include "sim/sinc_interpolator.h"
#include "sim/watterson_fader.h"

namespace kavra::sim {

struct HfChannelSettings {
    int input_rate_hz = 48000;            // 8000 or 48000
    int output_rate_hz = 48000;           // 8000 or 48000
    std::optional<double> snr_db;         // none: no noise; -50..100 dB in 3000 Hz
    double signal_power = 0.0;            // mean square of the input signal (input units^2); > 0 with snr_db
    std::optional<FadingSettings> fading; // none: one fixed path of gain 1
    double freq_offset_hz = 0.0;          // carrier frequency offset, -500..500 Hz
    double clock_offset_ppm = 0.0;        // transmitting card fast by this much, -50000..50000 ppm
    double output_gain = 1.0;             // linear factor on the output, > 0
    std::uint64_t seed = 1;               // same seed, same samples
};

// Why the settings cannot be used, or none.
std::optional<std::string> CheckSettings(const HfChannelSettings& settings);

// The named fading channels: good (0.5 ms, 0.1 Hz), moderate (1 ms, 0.5 Hz), poor (2 ms, 1 Hz),
// flutter (0.5 ms, 10 Hz).
struct FadingPreset {
    std::string_view name;
    FadingSettings fading;
};
inline constexpr FadingPreset kFadingPresets[] = {
    {"good", {0.5, 0.1}},
    {"moderate", {1.0, 0.5}},
    {"poor", {2.0, 1.0}},
    {"flutter", {0.5, 10.0}},
};
std::optional<FadingSettings> FindFadingPreset(std::string_view name);

// Mean square of a recording while the signal is on: from the first to the last sample whose
// magnitude reaches 1 % of the peak, so leading and trailing silence do not count.  0 for silence.
double MeasureSignalPower(std::span<const float> samples) noexcept;
double MeasureSignalPower(std::span<const std::int16_t> samples) noexcept;

// Output samples to 16-bit PCM: truncated toward zero and clipped to -32768..32767.  Returns
// how many samples had to be clipped.  `out` must be as long as `in`.
std::size_t ToPcm16(std::span<const float> in, std::span<std::int16_t> out) noexcept;

class HfChannel {
public:
    // The baseband: complex samples at this rate (transmitting-card time), centred on kCentreHz.
    static constexpr int kBasebandRate = 8000;
    static constexpr double kCentreHz = 2000.0;

    // Throws std::invalid_argument with CheckSettings' text on bad settings.
    explicit HfChannel(const HfChannelSettings& settings);
    ~HfChannel();
    HfChannel(const HfChannel&) = delete;
    HfChannel& operator=(const HfChannel&) = delete;

    // Most samples Process can write for `input_count` further input samples.
    std::size_t MaxOutput(std::size_t input_count) const noexcept;
    // Most samples Flush can write.
    std::size_t MaxFlushOutput() const noexcept;

    // Feeds input samples and writes the output samples that became ready to `out` (which
    // must hold MaxOutput(in.size())); returns how many.  The output does not depend on how
    // the input is cut into calls.
    std::size_t Process(std::span<const float> in, std::span<float> out) noexcept;
    // The same, appending to `out`.
    void Process(std::span<const float> in, std::vector<float>& out);

    // Ends the stream: writes the rest of the output, up to the last output instant that falls
    // within the input (the input rate times the clock factor decides how many there are), so
    // that in total round-up(inputs * output_rate / (input_rate * (1 + ppm / 1e6))) come out.
    // After Flush only Reset continues.
    std::size_t Flush(std::span<float> out) noexcept;
    void Flush(std::vector<float>& out);

    // Back to the state just after construction (the same seed gives the same samples again).
    void Reset();

    const HfChannelSettings& settings() const noexcept { return settings_; }
    // Output samples written so far.
    std::int64_t outputs_written() const noexcept { return next_output_; }
    // Output samples that found no room because the caller's span was shorter than promised.
    std::size_t dropped() const noexcept { return dropped_; }
    // Standard deviation of each component of the complex baseband noise (0 without noise).
    double noise_sigma() const noexcept { return noise_sigma_; }

private:
    struct Parts;

    void Build();
    void PushInput(float x, float*& out, const float* end) noexcept;
    void ProduceBaseband(float*& out, const float* end) noexcept;
    void EmitOutputs(float*& out, const float* end) noexcept;

    HfChannelSettings settings_;
    std::unique_ptr<Parts> parts_;

    // Fixed at construction.
    int decimation_ = 1;                    // input samples per baseband sample
    double clock_factor_ = 1.0;             // 1 + ppm / 1e6
    double input_per_output_ = 1.0;         // input samples per output sample
    double baseband_per_output_ = 1.0;      // baseband samples per output sample
    double first_position_ = 0.0;           // baseband position of output sample 0
    double noise_sigma_ = 0.0;
    float gain_ = 1.0f;

    // Stream state.
    std::int64_t inputs_ = 0;               // real input samples fed
    int phase_ = 0;                         // input samples since the last baseband sample
    std::int64_t baseband_count_ = 0;       // baseband samples made
    std::int64_t next_output_ = 0;          // index of the next output sample
    std::int64_t output_limit_ = -1;        // while flushing: outputs that exist; -1 = open
    std::size_t dropped_ = 0;               // outputs that found no room (caller's error)
};

// Whole recording through a fresh channel: Process then Flush.
std::vector<float> ApplyChannel(const HfChannelSettings& settings, std::span<const float> input);

}  // namespace kavra::sim
