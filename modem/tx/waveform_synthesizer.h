// The transmit signal chain: channel symbol numbers in, 16-bit samples at the card rate out.
//   hold -> shaping filter (I and Q) -> carrier mixing -> clock-correcting resampler
//   -> x20000 -> output interpolator -> output low-pass -> 16 bits
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "modem/common/delay_line.h"
#include "modem/common/lagrange_table.h"
#include "modem/tx/transmit_profile.h"

namespace kavra::modem {

class WaveformSynthesizer {
public:
    explicit WaveformSynthesizer(TransmitProfile profile);
    WaveformSynthesizer(const WaveformSynthesizer&) = delete;
    WaveformSynthesizer& operator=(const WaveformSynthesizer&) = delete;

    // Start of a transmission: carrier and card rate, clear the filter histories, output to
    // `output` (its size is the capacity).  Carrier phase and resampler position carry over
    // from the previous transmission.  A card rate outside the acceptable range is clamped to
    // it, so the resampler always moves forward.
    void SetUp(int carrier_hz, int card_rate_hz, std::span<std::int16_t> output) noexcept;

    // One channel symbol (0..7) through the chain: samples_per_symbol inner samples.
    void SendSymbol(int symbol) noexcept;

    // Samples written since SetUp; never more than the capacity.
    std::size_t sample_count() const noexcept { return count_; }
    // Samples the chain produced, written or not.
    std::size_t samples_produced() const noexcept { return produced_; }

    const TransmitProfileInfo& profile() const noexcept { return info_; }

private:
    static constexpr std::size_t kMaxShapingTaps = 188;
    static constexpr std::size_t kLowpassTaps = 32;

    void Resample(float s) noexcept;
    void EmitPoint(float y) noexcept;
    void Store(float v) noexcept;

    const TransmitProfileInfo& info_;
    LagrangeTable lagrange_;

    // Shaping filter.
    DelayLine<kMaxShapingTaps> history_i_;
    DelayLine<kMaxShapingTaps> history_q_;

    // Carrier oscillator: Hz and radians.
    float carrier_hz_;
    float phase_ = 0.0f;
    double phase_step_ = 0.0;

    // Clock-correcting resampler: 7 newest inputs (oldest first), position, step, toggle.
    std::array<float, 7> resampler_history_{};
    float position_ = 0.0f;
    float step_;
    bool toggle_ = false;

    // Output interpolator: 9 newest values (h[8] newest) and its weights per fractional point.
    std::array<float, 9> interp_history_{};
    std::array<std::array<float, 9>, 4> interp_weights_{};

    DelayLine<kLowpassTaps> lowpass_;

    std::span<std::int16_t> output_;
    std::size_t count_ = 0;
    std::size_t produced_ = 0;
};

}  // namespace kavra::modem
