// Test helpers for the receivers: a transmission made by the real transmitter, carried over a
// simulated "air" (card-rate errors, level, noise, silence) to the SampleRing rate, and fed
// through a receiver while the flags are read as the demodulation thread reads them.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "modem/rx/frame_collector.h"

namespace kavra::modem::test {

struct AirSpec {
    int modem_type = 0;
    int mode = 0;
    int carrier_offset_hz = 0;      // transmit carrier minus receive carrier
    bool play_8k = false;           // type 1 only: the 8000 Hz playback profile
    double tx_card_error_ppm = 0;   // real playback rate off nominal; the transmitter is told it
    double rx_card_error_ppm = 0;   // real capture rate off 48000; the receiver is told it
};

// The transmission's samples at the playback card's nominal rate (48000 or 8000).
std::vector<std::int16_t> Transmit(const AirSpec& air, std::span<const std::uint8_t> message);

// Band-limited resampling (windowed sinc, 0.45 of the lower rate) from in_rate to out_rate.
std::vector<float> Resample(std::span<const float> in, double in_rate, double out_rate);

// What the receiving card captures at its real rate, as floats at 48000 Hz nominal.
std::vector<float> OverTheAir(const AirSpec& air, std::span<const std::int16_t> played);

// Every 5th (type 0) or 6th (type 1) capture sample, as the capture thread fills the SampleRing,
// scaled by `gain`, rounded and clipped to 16 bits.
std::vector<std::int16_t> ToSampleRing(int modem_type, std::span<const float> capture, float gain = 1.0f);

// White Gaussian noise of RMS `rms` added in place (clipped to 16 bits); seeded.
void AddNoise(std::vector<std::int16_t>& samples, double rms, std::uint32_t seed);
double Rms(std::span<const std::int16_t> samples);

// SampleRing samples for one message end to end.
std::vector<std::int16_t> MakeRingSamples(const AirSpec& air, std::span<const std::uint8_t> message);

struct RxResult {
    std::vector<ReceivedFrame> frames;
    int sync_losses = 0;
    bool back_to_search = false;  // after the input and the closing silence
    int last_search_state = 0;
};

struct RxSettings {
    bool simd = true;
    double rx_card_error_ppm = 0;
    double tail_seconds = 2.0;    // silence appended so the last frame can end
};

RxResult Receive(int modem_type, std::span<const std::int16_t> ring, const RxSettings& settings = {});

std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint32_t seed);

}  // namespace kavra::modem::test
