// The three variants of the transmitter: symbol rate, inner rate and output stage.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kavra::modem {

enum class TransmitProfile : std::uint8_t {
    Profile2400At48k,  // modem type 0
    Profile2000At48k,  // modem type 1, 48000 Hz playback
    Profile2000At8k,   // modem type 1, 8000 Hz playback
};

struct TransmitProfileInfo {
    std::string_view name;
    int symbol_rate;             // symbols/s
    int samples_per_symbol;      // hold length S at the inner rate
    int inner_rate_hz;           // S x symbol rate
    std::span<const float> shaping_taps;
    int carrier_hz;              // carrier at construction
    double step_constant;        // resampler step = step_constant / card rate
    float initial_step;          // resampler step at construction
    bool emit_every_second;      // resampler keeps every second point
    int interpolation;           // output interpolator factor (1 = none)
    bool has_output_lowpass;
    int nominal_rate_hz;         // playback rate
    int output_samples_per_symbol;  // at the nominal card rate
};

const TransmitProfileInfo& ProfileInfo(TransmitProfile profile);

// The profile a station uses for a modem type and playback rate; none for type 0 at 8000 Hz
// or any other combination.
std::optional<TransmitProfile> ProfileFor(int modem_type, int playback_rate_hz);

// Card rates the transmitter accepts: within 5 % of the nominal playback rate.  Real sound
// cards are off by well under 1 %; anything further is a mistyped setting.
inline constexpr double kCardRateTolerance = 0.05;
bool IsAcceptableCardRate(TransmitProfile profile, long long card_rate_hz);

}  // namespace kavra::modem
