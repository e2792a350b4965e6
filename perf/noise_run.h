// False detections: noise-only audio, band-limited by the radio's pass band as the HF channel
// simulator makes it, fed to a receiver for a given time.  A receiver must not turn noise into
// frames; preamble starts that time out are counted too, to show how often the search was fooled
// part of the way.
#pragma once

#include <cstdint>

namespace kavra::perf {

struct NoiseRunSettings {
    int modem_type = 0;
    double seconds = 3600.0;   // of audio, split evenly between the threads
    double noise_rms = 1000.0; // in 3000 Hz, sample units
    std::uint64_t seed = 1;
    int threads = 2;
};

struct NoiseRunResult {
    double seconds = 0.0;       // audio fed
    int preamble_starts = 0;    // the search saw the common part of a segment
    int sync_losses = 0;        // ... and timed out
    int data_starts = 0;        // the receiver went into data mode
    int frames = 0;             // frames that delivered bits
    int blocks = 0;             // decoded blocks delivered
    long long bytes = 0;        // bytes delivered
    double cpu_seconds = 0.0;
};

NoiseRunResult RunNoiseOnly(const NoiseRunSettings& settings);

}  // namespace kavra::perf
