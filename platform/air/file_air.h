// One station's sound card on files, on virtual time: capture from a sample source at 48000 Hz,
// playback into a sample sink at the playback rate, in lockstep blocks of 10 ms.  Each block the
// station has played (silence while it does not transmit) is written and flushed before the next
// 10 ms of capture are read, so two stations coupled through pipes never wait for each other.
//
// WAV air: the source is a recording followed by silence, the sink a growing recording; the same
// input and commands give the same output.  Stream air: raw 16-bit samples on files or FIFOs; the
// end of the input ends the run.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/sound_ports.h"

namespace kavra::air {

// Fills `out` with the next samples; answers how many it could (fewer only at the end).
using SampleSource = std::function<std::size_t(std::span<std::int16_t> out)>;
// Takes the samples (and flushes them); false when they cannot be written.
using SampleSink = std::function<bool(std::span<const std::int16_t> samples)>;

class FileAir : public audio::SoundSystem {
public:
    static constexpr int kBlockMs = 10;

    // `capture_name` and `playback_name` describe the two devices ("WAV file: in.wav").
    FileAir(std::string capture_name, SampleSource source, std::string playback_name, SampleSink sink);
    ~FileAir() override;

    std::vector<audio::SoundDeviceInfo> CaptureDevices() override;
    std::vector<audio::SoundDeviceInfo> PlaybackDevices() override;
    std::unique_ptr<audio::SoundCapture> CreateCapture(const audio::SoundDeviceInfo& device) override;
    std::unique_ptr<audio::SoundPlayback> CreatePlayback(const audio::SoundDeviceInfo& device) override;

    // The rate the sink receives (the station's playback rate); 48000 until set.
    void SetPlaybackRate(int rate_hz) { playback_rate_ = rate_hz; }
    // One millisecond; false once the source has ended or the sink failed.
    bool AdvanceOneMs();
    // Writes what has been played of the current block (the end of a run).
    bool Flush();
    bool Ended() const noexcept { return ended_; }

    struct Playing;
    struct Capture;

private:
    bool EndBlock();

    std::string capture_name_, playback_name_;
    SampleSource source_;
    SampleSink sink_;
    int playback_rate_ = 48000;
    std::uint64_t now_ms_ = 0;
    bool ended_ = false;
    std::vector<std::int16_t> block_in_;   // the 10 ms being heard
    std::vector<std::int16_t> block_out_;  // the 10 ms being played
    std::unique_ptr<Capture> capture_;
    std::unique_ptr<Playing> playing_;
};

}  // namespace kavra::air
