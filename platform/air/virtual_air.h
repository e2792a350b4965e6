// Virtual air: several stations' sound cards in one process.  What one station plays reaches every
// other station's capture at 48000 Hz through its own HF channel (fading, carrier and clock
// offset, noise at a set S/N in 3 kHz; 8000 Hz playback is brought to 48000 Hz by the channel).
// A station never hears itself; its own keying mutes its capture as on a real radio.
//
// Time moves only by AdvanceOneMs: on virtual time the runner calls it, on real time AirClock
// does.  Every call into the air takes one mutex: the air is a simulation, not a real-time
// callback, and the station core's workers reach it from three threads.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/sound_ports.h"
#include "sim/hf_channel.h"

namespace kavra::air {

// What one station hears of another.
struct AirPath {
    std::optional<double> snr_db = 15.0;                // in 3 kHz; none: no noise
    std::optional<sim::FadingSettings> fading;           // none: one steady path
    double freq_offset_hz = 0.0;
    double clock_offset_ppm = 0.0;                       // the sending card against the receiving one
    double gain = 0.5;                                   // linear, on the received audio
};

class VirtualAir {
public:
    explicit VirtualAir(std::uint64_t seed = 1);
    ~VirtualAir();
    VirtualAir(const VirtualAir&) = delete;
    VirtualAir& operator=(const VirtualAir&) = delete;

    // A new station's sound card ("Virtual air: NAME" for both directions); its index is the
    // number of stations added before it.
    audio::SoundSystem& AddStation(const std::string& name);
    int StationCount() const;
    // What station `to` hears of station `from` (default: AirPath{}).
    void SetPath(int from, int to, const AirPath& path);
    // A station that hears nothing (radio off, or out of range).
    void SetDeaf(int station, bool deaf);
    // A station's card is gone: nothing it plays goes out, nothing comes in (it vanished).
    void SetOffAir(int station, bool off);

    // Moves every sound by one millisecond.  Always true (virtual air never ends by itself).
    bool AdvanceOneMs();

    // For tests and measurements: milliseconds each station has been playing, and when (steady
    // clock) its last burst's last sample went out.
    std::uint64_t PlayedMs(int station) const;
    std::chrono::steady_clock::time_point LastBurstEnd(int station) const;

private:
    struct Endpoint;
    struct PathState;
    friend class VirtualSound;
    friend class VirtualCaptureBuffer;
    friend class VirtualPlayback;
    friend class VirtualPlaybackBuffer;

    PathState& Path(int from, int to);
    void RebuildChannel(PathState& p, int input_rate);

    mutable std::mutex mutex_;
    std::uint64_t seed_;
    std::vector<std::unique_ptr<Endpoint>> stations_;
    std::vector<std::unique_ptr<PathState>> paths_;  // from * kMaxStations + to
    std::vector<float> scratch_in_, scratch_out_, mix_;
    std::vector<std::int16_t> pcm_;
};

// Drives a VirtualAir in real time from its own thread: one AdvanceOneMs per elapsed millisecond
// of the steady clock (catching up at most 100 ms at once).
class AirClock {
public:
    explicit AirClock(VirtualAir& air);
    ~AirClock();
    AirClock(const AirClock&) = delete;
    AirClock& operator=(const AirClock&) = delete;

private:
    VirtualAir& air_;
    std::atomic<bool> run_{true};
    std::thread thread_;
};

}  // namespace kavra::air
