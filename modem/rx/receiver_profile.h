// The constants that differ between the receivers of the two modem types.  Everything counted
// in symbols is the same for both; only rates, the carrier and the front-end filter differ.
#pragma once

#include <array>

namespace kavra::modem {

inline constexpr int kBasebandFilterTaps = 39;

struct ReceiverProfile {
    int modem_type;
    float symbol_rate;            // symbols/s: 2400 or 2000
    int capture_decimation;       // SampleRing keeps every 5th (type 0) or 6th (type 1) capture sample
    int nominal_card_rate_hz;     // 48000
    float initial_carrier_hz;     // 1800 or 1500
    int bank_rotation_step;       // reference bank rotation per symbol, 1/4000 cycle (+-60 Hz)
    std::array<float, kBasebandFilterTaps> baseband_filter;  // c0 applies to the oldest sample

    // Baseband (and SampleRing) rate: four samples per symbol.
    constexpr float baseband_rate() const { return 4.0f * symbol_rate; }
    // Hz that correspond to one 1/4000-cycle-per-symbol step of the carrier phase.
    constexpr float hz_per_phase_step() const { return symbol_rate * 0.00025f; }
};

// 22 non-zero taps; the 17 zeros at the end only delay the signal (DC gain about 0.996).
inline constexpr ReceiverProfile kReceiverProfileType0{
    0, 2400.0f, 5, 48000, 1800.0f, 100,
    {0.000513f, -0.005811f, -0.008454f, 0.005783f, 0.0254f, 0.013464f, -0.038838f, -0.067676f,
     0.013299f, 0.199332f, 0.361013f, 0.361013f, 0.199332f, 0.013299f, -0.067676f, -0.038838f,
     0.013464f, 0.0254f, 0.005783f, -0.008454f, -0.005811f, 0.000513f, 0.0f, 0.0f, 0.0f, 0.0f,
     0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f}};

// Symmetric 39-tap low-pass for 8000 samples/s (DC gain about 0.949).
inline constexpr ReceiverProfile kReceiverProfileType1{
    1, 2000.0f, 6, 48000, 1500.0f, 120,
    {0.001292f, 0.000156f, -0.00523f, -0.012851f, -0.014765f, -0.005013f, 0.010388f, 0.015202f,
     0.000338f, -0.020664f, -0.020905f, 0.008319f, 0.038199f, 0.02645f, -0.030639f, -0.074953f,
     -0.030468f, 0.117687f, 0.289267f, 0.365261f, 0.289267f, 0.117687f, -0.030468f, -0.074953f,
     -0.030639f, 0.02645f, 0.038199f, 0.008319f, -0.020905f, -0.020664f, 0.000338f, 0.015202f,
     0.010388f, -0.005013f, -0.014765f, -0.012851f, -0.00523f, 0.000156f, 0.001292f}};

// Type 1 for modem type 1, type 0 for anything else.
constexpr const ReceiverProfile& ReceiverProfileFor(int modem_type) {
    return modem_type == 1 ? kReceiverProfileType1 : kReceiverProfileType0;
}

}  // namespace kavra::modem
